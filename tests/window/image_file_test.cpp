// screen.image's files: the raster formats drawn, every other format the
// image library knows refused before any of its loaders reads it, and
// images with a very long side sampled down.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <string>

#include "engine/core/run_state.h"
#include "tests/engine/harness.h"
#include "tests/window/harness_display.h"
#include "window/draw/back_buffer.h"
#include "window/draw/draw.h"
#include "window/draw/image_file.h"

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;

// A red square of 16 pixels saved by the image library in `type`.
bool SaveRed(const std::string& path, const char* type) {
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 16, 16);
  if (pb == nullptr) return false;
  gdk_pixbuf_fill(pb, 0xFF0000FFu);
  const bool ok = gdk_pixbuf_save(pb, path.c_str(), type, nullptr, nullptr) != FALSE;
  g_object_unref(pb);
  return ok;
}

// One red pixel (palette of red and black, LZW data of that one index).
const std::string kRedGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
                          ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
                          35);
const std::string kRedSvg =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\">"
    "<rect width=\"16\" height=\"16\" fill=\"#ff0000\"/></svg>\n";

bool Reddish(uint32_t rgb) { return (rgb >> 16) > 200 && ((rgb >> 8) & 0xFF) < 60 && (rgb & 0xFF) < 60; }

class ImageFile : public ::testing::Test {
 protected:
  void SetUp() override {
    sgRun.RunMode = RUNMODE_STEP;
    ASSERT_TRUE(BackBufferCreate(200, 150));
  }
  void TearDown() override { BackBufferDestroy(); }
  static int Inked() {
    int n = 0;
    for (int y = 0; y < 150; ++y)
      for (int x = 0; x < 200; ++x) n += BackBufferPixel(x, y) != kWhite;
    return n;
  }
  tarvtest::TempDir dir;
};

TEST_F(ImageFile, RasterFormatsAreDrawnAndOthersRefused) {
  struct Case {
    const char* name;
    const char* kind;  // the format it is read as; nullptr: refused
  };
  for (const char* type : {"png", "jpeg", "bmp", "tiff", "ico"})
    ASSERT_TRUE(SaveRed(dir.File(std::string("red.") + type), type)) << type;
  dir.Write("red.gif", kRedGif);
  dir.Write("red.svg", kRedSvg);
  dir.Write("red_xml.svg", "<?xml version=\"1.0\"?>\n" + kRedSvg);
  // A bitmap's first bytes before a drawing's text: read as a bitmap (and
  // found broken), never handed to the drawing's loader.
  dir.Write("red_bm.svg", "BM" + kRedSvg);
  dir.Write("red.xpm", "/* XPM */\nstatic char * red[] = {\"2 2 1 1\", \"a c #FF0000\", \"aa\", \"aa\"};\n");
  dir.Write("red.ppm", std::string("P6\n2 2\n255\n") + std::string("\xff\x00\x00\xff\x00\x00\xff\x00\x00\xff\x00\x00", 12));
  // An icon whose one image is stored as PNG: read as an icon, drawn as nothing.
  const std::string png = tarvtest::ReadFile(dir.File("red.png"));
  const auto le32 = [](size_t v) {
    return std::string{static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff),
                       static_cast<char>((v >> 16) & 0xff), static_cast<char>((v >> 24) & 0xff)};
  };
  dir.Write("red_png.ico", std::string("\0\0\1\0\1\0", 6) + std::string("\x10\x10\0\0\1\0\x20\0", 8) +
                               le32(png.size()) + le32(22) + png);
  const Case cases[] = {
      {"red.png", "png"}, {"red.jpeg", "jpeg"}, {"red.bmp", "bmp"}, {"red.tiff", "tiff"},
      {"red.ico", "ico"}, {"red.gif", "gif"},   {"red.svg", nullptr}, {"red_xml.svg", nullptr},
      {"red_bm.svg", "bmp"}, {"red.xpm", nullptr}, {"red.ppm", nullptr}, {"red_png.ico", "ico"},
  };
  for (const Case& c : cases) {
    const std::string path = dir.File(c.name);
    const char* kind = ImageRasterKind(path.c_str());
    EXPECT_STREQ(kind, c.kind) << c.name;
    DrawRect(0, 0, 200, 150, 255, 255, 255, 1);
    DrawImageFile(path.c_str(), 40, 30, 120, 110);
    const bool drawn = c.kind != nullptr && std::string(c.name) != "red_bm.svg" && std::string(c.name) != "red_png.ico";
    if (drawn) {
      EXPECT_TRUE(Reddish(BackBufferPixel(80, 70))) << c.name << " " << std::hex << BackBufferPixel(80, 70);
      EXPECT_TRUE(Reddish(BackBufferPixel(41, 31))) << c.name;
      EXPECT_EQ(BackBufferPixel(39, 29), kWhite) << c.name;
      EXPECT_EQ(BackBufferPixel(121, 111), kWhite) << c.name;
    } else {
      EXPECT_EQ(Inked(), 0) << c.name;
    }
  }
}

// A strip of a million pixels, either way, and sides just below cairo's
// largest image: drawn stretched into the rectangle, from a PNG sampled a
// row at a time and from a bitmap read whole and scaled.
TEST_F(ImageFile, ImagesWithAVeryLongSideAreSampledDown) {
  const std::string wide = dir.File("wide.png"), tall = dir.File("tall.png"), near = dir.File("near.png");
  ASSERT_TRUE(tarvtest::WritePngOfOneColour(wide, 1000000, 1, 0x0000FF));
  ASSERT_TRUE(tarvtest::WritePngOfOneColour(tall, 1, 1000000, 0x00FF00));
  ASSERT_TRUE(tarvtest::WritePngOfOneColour(near, 32740, 3, 0xFF0000));
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 40000, 2);
  ASSERT_NE(pb, nullptr);
  gdk_pixbuf_fill(pb, 0x0000FFFFu);
  const std::string bmp = dir.File("wide.bmp");
  ASSERT_TRUE(gdk_pixbuf_save(pb, bmp.c_str(), "bmp", nullptr, nullptr));
  g_object_unref(pb);
  const struct {
    std::string path;
    uint32_t rgb;
  } cases[] = {{wide, 0x0000FF}, {tall, 0x00FF00}, {near, 0xFF0000}, {bmp, 0x0000FF}};
  for (const auto& c : cases) {
    DrawRect(0, 0, 200, 150, 255, 255, 255, 1);
    DrawImageFile(c.path.c_str(), 10, 20, 190, 140);
    EXPECT_EQ(Inked(), 180 * 120) << c.path;
    for (auto [x, y] : {std::pair{10, 20}, {100, 80}, {189, 139}})
      EXPECT_EQ(BackBufferPixel(x, y), c.rgb) << c.path << " " << x << "," << y;
  }
}

}  // namespace
