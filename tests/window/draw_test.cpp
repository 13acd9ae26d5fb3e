// The drawing primitives on a back buffer made by the test, read back pixel
// by pixel.
#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <png.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/core/run_state.h"
#include "tests/engine/harness.h"
#include "tests/window/harness_display.h"
#include "window/draw/back_buffer.h"
#include "window/draw/draw.h"
#include "window/draw/png_scaled.h"
#include "window/draw/screen_state.h"

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kRed = 0xFF0000;

class Draw : public ::testing::Test {
 protected:
  void SetUp() override {
    sgRun.RunMode = RUNMODE_STEP;
    ASSERT_TRUE(BackBufferCreate(200, 150));
    ScreenCopyRelease();
    ScreenStateReset();
  }
  void TearDown() override {
    ScreenCopyRelease();
    BackBufferDestroy();
  }
  // Pixels not white within the box.
  static int Inked(int x1, int y1, int x2, int y2) {
    int n = 0;
    for (int y = y1; y < y2; ++y)
      for (int x = x1; x < x2; ++x) n += BackBufferPixel(x, y) != kWhite;
    return n;
  }
  static void ExpectPixels(std::initializer_list<std::tuple<int, int, uint32_t>> want) {
    for (auto [x, y, c] : want) EXPECT_EQ(BackBufferPixel(x, y), c) << x << "," << y;
  }
  tarvtest::TempDir dir;
};

TEST_F(Draw, ShapesCoverTheirEndsAndNothingBeside) {
  DrawRect(10, 10, 20, 20, 255, 0, 0, 0);
  ExpectPixels({{10, 10, kRed}, {20, 10, kRed}, {10, 20, kRed}, {20, 20, kRed}, {15, 10, kRed},
                {20, 15, kRed}, {15, 15, kWhite}, {21, 15, kWhite}, {9, 15, kWhite}, {15, 21, kWhite}});
  DrawRect(40, 40, 50, 50, 0, 0, 255, 1);
  ExpectPixels({{40, 40, 0x0000FF}, {49, 49, 0x0000FF}, {50, 45, kWhite}, {45, 50, kWhite},
                {39, 45, kWhite}, {45, 39, kWhite}});
  EXPECT_EQ(Inked(40, 40, 50, 50), 100);
  // A line holds both ends and nothing beside.
  DrawLine(5, 125, 15, 125, 255, 0, 0);
  DrawLine(30, 30, 40, 40, 0, 255, 0);
  ExpectPixels({{5, 125, kRed}, {15, 125, kRed}, {4, 125, kWhite}, {16, 125, kWhite}, {10, 124, kWhite},
                {10, 126, kWhite}, {30, 30, 0x00FF00}, {35, 35, 0x00FF00}, {40, 40, 0x00FF00}});
  EXPECT_EQ(Inked(0, 115, 20, 135), 11);
  const DrawPoint tri[] = {{60, 60}, {110, 60}, {60, 110}};
  DrawPolygon(tri, 3, 255, 0, 0, 1);
  ExpectPixels({{70, 70, kRed}, {105, 105, kWhite}});
  const DrawPoint box[] = {{150, 10}, {190, 10}, {190, 50}, {150, 50}};
  DrawPolygon(box, 4, 0, 0, 0, 0);
  ExpectPixels({{150, 10, 0}, {190, 50, 0}, {170, 30, kWhite}});
}

TEST_F(Draw, PieTurnsClockwiseAndNegativeSweepCounterClockwise) {
  DrawArc(50, 50, 30, 0, 90, 255, 0, 0, 1);  // three to six o'clock
  ExpectPixels({{65, 65, kRed}, {65, 35, kWhite}, {35, 65, kWhite}, {35, 35, kWhite}});
  DrawArc(150, 50, 30, 0, -90, 255, 0, 0, 1);  // three to twelve o'clock
  ExpectPixels({{165, 35, kRed}, {165, 65, kWhite}, {135, 35, kWhite}});
  DrawArc(50, 110, 20, 0, 360, 0, 0, 0, 0);  // a ring: its inside stays white
  EXPECT_EQ(BackBufferPixel(50, 110), kWhite);
  EXPECT_LT(BackBufferPixel(70, 110), 0x202020u);
  EXPECT_LT(BackBufferPixel(30, 110), 0x202020u);
}

TEST_F(Draw, GaugeShowsItsPercentAroundTheDisc) {
  DrawPercentGauge(50, 50, 40, 100);
  DrawPercentGauge(150, 50, 40, 0);
  // The blue band lies between the grey disc and the ring.
  EXPECT_EQ(BackBufferPixel(50, 50 - 35), 0x0000FFu);
  EXPECT_EQ(BackBufferPixel(150, 50 - 35), kWhite);
  EXPECT_EQ(BackBufferPixel(150 + 20, 50 + 20), 0xDCDCDCu);
  // Both labels are drawn in black over the grey disc.
  auto dark = [](int x1, int y1, int x2, int y2) {
    int n = 0;
    for (int y = y1; y < y2; ++y)
      for (int x = x1; x < x2; ++x) {
        const uint32_t p = BackBufferPixel(x, y);
        n += (p >> 16) < 0x80 && ((p >> 8) & 0xFF) < 0x80 && (p & 0xFF) < 0x80;
      }
    return n;
  };
  EXPECT_GT(dark(38, 44, 70, 60), 5);
  EXPECT_GT(dark(138, 44, 170, 60), 5);
  EXPECT_EQ(dark(60, 20, 80, 40), 0);  // nothing dark away from the label
}

TEST_F(Draw, TextDrawsInKnownFamiliesOnly) {
  DrawTextAt(10, 10, "Hello", 5, 0, 0, 0, "No Such Family Here", 20);
  EXPECT_EQ(Inked(0, 0, 200, 150), 0);
  DrawTextAt(10, 10, "Hello", 5, 0, 0, 0, "Arial", 20);
  EXPECT_GT(Inked(10, 10, 80, 35), 20);
  EXPECT_EQ(Inked(0, 0, 200, 9), 0);  // the origin is the text's top-left
  // A family name longer than sixteen characters draws too.
  DrawTextAt(10, 60, "Hello", 5, 0, 0, 0, "Liberation Sans Narrow", 20);
  EXPECT_GT(Inked(10, 60, 80, 85), 20);
  // Text of more than 1024 UTF-16 units draws nothing.
  const std::string longText(1025, 'x');
  DrawTextAt(10, 100, longText.data(), static_cast<int32_t>(longText.size()), 0, 0, 0, "Arial", 12);
  EXPECT_EQ(Inked(0, 95, 200, 150), 0);
}

TEST_F(Draw, FontLookUpIsACaseSensitivePrefixTestOnWholeNames) {
  char result[91];
  FindInstalledFont("Ari", result);
  EXPECT_EQ(std::string(result), "Arial");
  FindInstalledFont("Liberation Sans N", result);
  EXPECT_EQ(std::string(result), "Liberation Sans Narrow");
  FindInstalledFont("liberation", result);
  EXPECT_EQ(std::string(result), "Arial");
  sgRun.RunMode = RUNMODE_HIDE;  // works in the hide mode too
  FindInstalledFont("Liberation Ser", result);
  EXPECT_EQ(std::string(result), "Liberation Serif");
}

TEST_F(Draw, PasteTurnsTheSnapshotClockwiseAboutItsCorner) {
  ScreenPaste(100, 100, 120, 110, 0);  // no snapshot yet
  EXPECT_EQ(Inked(0, 0, 200, 150), 0);
  DrawRect(0, 0, 1, 1, 255, 0, 0, 1);    // snapshot pixel (0,0)
  DrawRect(19, 0, 20, 1, 0, 255, 0, 1);  // snapshot pixel (19,0)
  DrawRect(0, 9, 1, 10, 0, 0, 255, 1);   // snapshot pixel (0,9)
  ScreenCopy(0, 0, 20, 10);
  ScreenPaste(100, 100, 120, 110, 90);
  // Pixel (i, j) lands on (100 - 1 - j, 100 + i).
  ExpectPixels({{99, 100, kRed}, {99, 119, 0x00FF00}, {90, 100, 0x0000FF}, {100, 100, kWhite}});
  // Scaled to twice the size without turning.
  ScreenPaste(150, 100, 190, 120, 0);
  ExpectPixels({{150, 100, kRed}, {189, 100, 0x00FF00}, {150, 119, 0x0000FF}, {149, 100, kWhite}});
}

TEST_F(Draw, SavedPngHoldsTheRegionWithBlackBeyondTheBuffer) {
  DrawRect(0, 0, 200, 150, 10, 20, 30, 1);
  DrawLine(180, 140, 199, 140, 255, 0, 0);
  const std::string png = dir.File("r.png");
  WinSaveScreen(png.c_str(), 170, 130, 230, 160);  // 30 columns and 10 rows outside
  cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
  ASSERT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
  ASSERT_EQ(cairo_image_surface_get_width(s), 60);
  ASSERT_EQ(cairo_image_surface_get_height(s), 30);
  const unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  int wrong = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 60; ++x) {
      uint32_t px;
      std::memcpy(&px, data + y * stride + x * 4, 4);
      const bool inside = 170 + x < 200 && 130 + y < 150;
      const uint32_t want = inside ? BackBufferPixel(170 + x, 130 + y) : 0;
      wrong += (px & 0xFFFFFF) != want || (px >> 24) != 255;
    }
  cairo_surface_destroy(s);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(BackBufferPixel(185, 140), kRed);
  // An empty or inverted region writes nothing.
  WinSaveScreen(dir.File("w0.png").c_str(), 10, 10, 10, 20);
  WinSaveScreen(dir.File("h0.png").c_str(), 10, 20, 30, 5);
  EXPECT_FALSE(std::filesystem::exists(dir.File("w0.png")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("h0.png")));
}

TEST_F(Draw, ImageFileIsStretchedIntoTheRectangle) {
  cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 2, 2);
  cairo_t* cr = cairo_create(img);
  cairo_set_source_rgb(cr, 1, 0, 0);
  cairo_rectangle(cr, 0, 0, 1, 1);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0, 0, 1);
  cairo_rectangle(cr, 1, 1, 1, 1);
  cairo_fill(cr);
  cairo_destroy(cr);
  const std::string png = dir.File("in.png");
  ASSERT_EQ(cairo_surface_write_to_png(img, png.c_str()), CAIRO_STATUS_SUCCESS);
  cairo_surface_destroy(img);
  DrawImageFile(png.c_str(), 50, 50, 90, 90);
  ExpectPixels({{52, 52, kRed}, {87, 87, 0x0000FF}, {49, 49, kWhite}, {91, 91, kWhite}});
  DrawImageFile(dir.File("missing.png").c_str(), 0, 0, 40, 40);
  EXPECT_EQ(Inked(0, 0, 40, 40), 0);
}

TEST(ImageDecode, ReadsWholeScaledOrNotAtAll) {
  using K = ImageDecode::Kind;
  const struct {
    int64_t w, h, bytes, tw, th;
    K kind;
    int64_t ow, oh;
  } cases[] = {
      {60000, 60000, 69, 640, 480, K::kRefuse, 0, 0},        // the header lies
      {30000, 30000, 69, 640, 480, K::kRefuse, 0, 0},
      // A side longer than is drawn from whole: sampled down, at most to
      // that side, whatever the rectangle.
      {32768, 10, 1 << 30, 10, 10, K::kScaled, 10, 10},
      {1000000, 1, 1000, 640, 480, K::kScaled, 640, 1},
      {1, 1000000, 1000, -640, -480, K::kScaled, 1, 480},
      {32740, 1, 100, 32740, 1, K::kScaled, 24576, 1},
      {1, 1000000, 1000, 5, 1000000, K::kScaled, 1, 24576},
      {24576, 1, 100, 10, 10, K::kWhole, 24576, 1},
      {24577, 1, 100, 24577, 1, K::kScaled, 24576, 1},
      {0, 10, 100, 10, 10, K::kRefuse, 0, 0},
      {100, 100, 0, 10, 10, K::kRefuse, 0, 0},
      {100, 100, 60, 40, 40, K::kWhole, 100, 100},            // small: read as today
      {4096, 4096, 2000, 10, 10, K::kWhole, 4096, 4096},
      {30000, 30000, 10 << 20, 640, 480, K::kScaled, 640, 480},
      {20000, 20000, 10 << 20, -50, 100000, K::kScaled, 50, 20000},
      // A rectangle as large as the image: no more pixels than one read whole.
      {30000, 30000, 10 << 20, 30000, 30000, K::kScaled, 4096, 4096},
      {30000, 20000, 10 << 20, -30000, 20000, K::kScaled, 5016, 3344},
  };
  for (const auto& c : cases) {
    const ImageDecode d = ImageDecodeFor(c.w, c.h, c.bytes, c.tw, c.th);
    EXPECT_EQ(d.kind, c.kind) << c.w << "x" << c.h << " " << c.bytes;
    EXPECT_EQ(d.width, c.ow) << c.w << "x" << c.h;
    EXPECT_EQ(d.height, c.oh) << c.w << "x" << c.h;
  }
}

// A small PNG of the colour type and depth whose samples follow a pattern
// (every value the depth allows appears), with a transparent entry or
// colour when asked.
bool WritePatternPng(const std::string& path, int type, int depth, bool transparent, int w, int h,
                     bool interlaced = false) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const int channels = type == PNG_COLOR_TYPE_RGB ? 3 : type == PNG_COLOR_TYPE_RGBA ? 4
                       : type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2 : 1;
  const uint32_t top = (1u << depth) - 1;
  bool ok = false;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, depth, type, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    if (type == PNG_COLOR_TYPE_PALETTE) {
      for (uint32_t i = 0; i <= top; ++i)
        palette.push_back({static_cast<png_byte>(i * 37), static_cast<png_byte>(255 - i * 11), static_cast<png_byte>(i * 5)});
      png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    }
    png_byte alphas[2] = {0, 128};
    png_color_16 clear{};
    clear.gray = static_cast<png_uint_16>(top);
    clear.red = static_cast<png_uint_16>(top), clear.green = 0, clear.blue = static_cast<png_uint_16>(top / 3);
    if (transparent) png_set_tRNS(png, info, alphas, 2, type == PNG_COLOR_TYPE_PALETTE ? nullptr : &clear);
    png_write_info(png, info);
    const int passes = interlaced ? png_set_interlace_handling(png) : 1;
    std::vector<png_byte> row(png_get_rowbytes(png, info));
    for (int y = 0; y < h * passes; ++y) {
      std::fill(row.begin(), row.end(), 0);
      for (int x = 0; x < w; ++x)
        for (int k = 0; k < channels; ++k) {
          uint32_t v = static_cast<uint32_t>(x * 7 + (y % h) * 13 + k * 29) % (top + 1);
          if (transparent && type == PNG_COLOR_TYPE_RGB && x == 1) v = k == 0 ? top : k == 1 ? 0 : top / 3;
          if (transparent && type == PNG_COLOR_TYPE_GRAY && x == 1) v = top;
          const size_t i = static_cast<size_t>(x * channels + k);
          if (depth == 16) {
            row[i * 2] = static_cast<png_byte>(v >> 8), row[i * 2 + 1] = static_cast<png_byte>(v);
          } else if (depth == 8) {
            row[i] = static_cast<png_byte>(v);
          } else {
            const size_t bit = i * depth;
            row[bit / 8] |= static_cast<png_byte>(v << (8 - depth - bit % 8));
          }
        }
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0 && ok;
}

// The file read whole by the image library, premultiplied as drawing does.
std::vector<uint32_t> ReadWhole(const std::string& path) {
  std::vector<uint32_t> out;
  GdkPixbuf* pb = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
  if (pb == nullptr) return out;
  const int n = gdk_pixbuf_get_n_channels(pb), stride = gdk_pixbuf_get_rowstride(pb);
  const guchar* px = gdk_pixbuf_read_pixels(pb);
  for (int y = 0; y < gdk_pixbuf_get_height(pb); ++y)
    for (int x = 0; x < gdk_pixbuf_get_width(pb); ++x) {
      const guchar* p = px + y * stride + x * n;
      const uint32_t a = n == 4 ? p[3] : 255;
      out.push_back(a << 24 | (p[0] * a / 255) << 16 | (p[1] * a / 255) << 8 | p[2] * a / 255);
    }
  g_object_unref(pb);
  return out;
}

std::vector<uint32_t> Pixels(cairo_surface_t* image) {
  std::vector<uint32_t> out;
  const int stride = cairo_image_surface_get_stride(image);
  const unsigned char* data = cairo_image_surface_get_data(image);
  for (int y = 0; y < cairo_image_surface_get_height(image); ++y)
    for (int x = 0; x < cairo_image_surface_get_width(image); ++x)
      out.push_back(reinterpret_cast<const uint32_t*>(data + y * stride)[x]);
  return out;
}

// Read a row at a time at its own size, every kind of PNG gives the pixels
// the image library gives; smaller, the pixels at the parts' centres.
TEST(PngReadScaled, ReadsEveryKindOfPixelAsTheWholeRead) {
  tarvtest::TempDir dir;
  const struct {
    int type, depth;
    bool transparent;
  } cases[] = {
      {PNG_COLOR_TYPE_GRAY, 1, false},      {PNG_COLOR_TYPE_GRAY, 2, false},
      {PNG_COLOR_TYPE_GRAY, 4, true},       {PNG_COLOR_TYPE_GRAY, 8, true},
      {PNG_COLOR_TYPE_GRAY, 16, true},      {PNG_COLOR_TYPE_PALETTE, 1, true},
      {PNG_COLOR_TYPE_PALETTE, 2, false},   {PNG_COLOR_TYPE_PALETTE, 4, true},
      {PNG_COLOR_TYPE_PALETTE, 8, false},   {PNG_COLOR_TYPE_RGB, 8, true},
      {PNG_COLOR_TYPE_RGB, 16, true},       {PNG_COLOR_TYPE_GRAY_ALPHA, 8, false},
      {PNG_COLOR_TYPE_GRAY_ALPHA, 16, false}, {PNG_COLOR_TYPE_RGBA, 8, false},
      {PNG_COLOR_TYPE_RGBA, 16, false},
  };
  for (const auto& c : cases) {
    const std::string name = "t" + std::to_string(c.type) + "d" + std::to_string(c.depth);
    const std::string path = dir.File(name + ".png");
    ASSERT_TRUE(WritePatternPng(path, c.type, c.depth, c.transparent, 13, 6)) << name;
    const std::vector<uint32_t> whole = ReadWhole(path);
    ASSERT_EQ(whole.size(), 13u * 6u) << name;
    cairo_surface_t* same = PngReadScaled(path.c_str(), 13, 6);
    ASSERT_NE(same, nullptr) << name;
    EXPECT_EQ(Pixels(same), whole) << name;
    cairo_surface_destroy(same);
    // 13 x 6 into 4 x 3: columns 1, 4, 8, 11 of rows 1, 3, 5.
    cairo_surface_t* small = PngReadScaled(path.c_str(), 4, 3);
    ASSERT_NE(small, nullptr) << name;
    std::vector<uint32_t> want;
    for (int y : {1, 3, 5})
      for (int x : {1, 4, 8, 11}) want.push_back(whole[static_cast<size_t>(y * 13 + x)]);
    EXPECT_EQ(Pixels(small), want) << name;
    cairo_surface_destroy(small);
  }
  // More bytes of rows than may be read (13 x 6 one-bit pixels: 2 bytes a
  // row), rows missing before the last one sampled, or no PNG: nothing.
  const std::string bits = dir.File("t3d1.png");
  EXPECT_EQ(PngReadScaled(bits.c_str(), 4, 3, 11), nullptr);
  cairo_surface_t* within = PngReadScaled(bits.c_str(), 4, 3, 12);
  EXPECT_NE(within, nullptr);
  cairo_surface_destroy(within);
  const std::string lying = dir.File("lying.png"), text = dir.Write("text.png", "not an image");
  std::ofstream(lying, std::ios::binary) << tarvtest::PngClaiming(100, 100);
  EXPECT_EQ(PngReadScaled(lying.c_str(), 10, 10), nullptr);
  EXPECT_EQ(PngReadScaled(text.c_str(), 10, 10), nullptr);
}

// An interlaced file comes as seven passes, each a smaller image of some
// rows and columns: read at its own size or smaller, every kind of pixel is
// the one the image library reads whole, taken from the pass that holds it.
TEST(PngReadScaled, ReadsInterlacedFilesPassByPass) {
  tarvtest::TempDir dir;
  const struct {
    int type, depth;
    bool transparent;
  } cases[] = {
      {PNG_COLOR_TYPE_GRAY, 1, false}, {PNG_COLOR_TYPE_GRAY, 16, true}, {PNG_COLOR_TYPE_PALETTE, 2, false},
      {PNG_COLOR_TYPE_PALETTE, 4, true}, {PNG_COLOR_TYPE_RGB, 8, true}, {PNG_COLOR_TYPE_RGBA, 16, false},
  };
  // Sizes with empty passes, and passes of one row or column.
  for (auto [w, h] : {std::pair{13, 6}, {1, 1}, {3, 17}, {21, 2}})
    for (const auto& c : cases) {
      const std::string name = "i" + std::to_string(c.type) + "d" + std::to_string(c.depth) + "_" +
                               std::to_string(w) + "x" + std::to_string(h);
      const std::string path = dir.File(name + ".png");
      ASSERT_TRUE(WritePatternPng(path, c.type, c.depth, c.transparent, w, h, true)) << name;
      const std::vector<uint32_t> whole = ReadWhole(path);
      ASSERT_EQ(whole.size(), static_cast<size_t>(w * h)) << name;
      cairo_surface_t* same = PngReadScaled(path.c_str(), w, h);
      ASSERT_NE(same, nullptr) << name;
      EXPECT_EQ(Pixels(same), whole) << name;
      cairo_surface_destroy(same);
      // At most 4 x 3: the pixels at the parts' centres.
      const int sw = std::min(w, 4), sh = std::min(h, 3);
      cairo_surface_t* small = PngReadScaled(path.c_str(), sw, sh);
      ASSERT_NE(small, nullptr) << name;
      std::vector<uint32_t> want;
      for (int ty = 0; ty < sh; ++ty)
        for (int tx = 0; tx < sw; ++tx)
          want.push_back(whole[static_cast<size_t>((2 * ty + 1) * h / (2 * sh) * w + (2 * tx + 1) * w / (2 * sw))]);
      EXPECT_EQ(Pixels(small), want) << name;
      cairo_surface_destroy(small);
    }
}

// A checkerboard of 4 x 4 squares, red and blue, as an interlaced PNG of a
// palette of two colours.
bool WriteInterlacedChecker(const std::string& path, uint32_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  bool ok = false;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_set_IHDR(png, info, size, size, 1, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_ADAM7,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color colours[2] = {{255, 0, 0}, {0, 0, 255}};
    png_set_PLTE(png, info, colours, 2);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    const uint32_t square = size / 4;
    std::vector<png_byte> even((size + 7) / 8), odd((size + 7) / 8);
    for (uint32_t x = 0; x < size; ++x) {
      const bool blue = (x / square) % 2 == 1;
      if (blue) even[x / 8] |= static_cast<png_byte>(0x80 >> (x % 8));
      else odd[x / 8] |= static_cast<png_byte>(0x80 >> (x % 8));
    }
    for (int pass = 0; pass < passes; ++pass)
      for (uint32_t y = 0; y < size; ++y) png_write_row(png, (y / square) % 2 == 0 ? even.data() : odd.data());
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0 && ok;
}

// Over the size read whole, an interlaced PNG is sampled pass by pass into
// the rectangle: each square where it belongs.
TEST_F(Draw, AnInterlacedPngTooLargeToReadWholeIsDrawnRight) {
  const std::string path = dir.File("interlaced.png");
  ASSERT_TRUE(WriteInterlacedChecker(path, 4200));
  ASSERT_GT(int64_t{4200} * 4200, kImageWholePixels);
  DrawImageFile(path.c_str(), 20, 10, 180, 130);
  for (int row = 0; row < 4; ++row)
    for (int col = 0; col < 4; ++col) {
      const int x = 20 + col * 40 + 20, y = 10 + row * 30 + 15;
      EXPECT_EQ(BackBufferPixel(x, y), (row + col) % 2 == 0 ? kRed : 0x0000FFu) << row << "," << col;
    }
  EXPECT_EQ(Inked(20, 10, 180, 130), 160 * 120);
  EXPECT_EQ(BackBufferPixel(19, 9), kWhite);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

// The process's address space now, in bytes.
int64_t AddressSpace() {
  std::ifstream status("/proc/self/status");
  std::string key;
  int64_t kb = 0;
  while (status >> key)
    if (key == "VmSize:" && status >> kb) break;
  return kb * 1024;
}

TEST_F(Draw, ImageWithAHugeHeaderDrawsNothingWithinAMemoryLimit) {
  if (kAddressSanitizer) GTEST_SKIP() << "the sanitizer's shadow memory needs more address space";
  const std::string lying = dir.File("lying.png"), real = dir.File("real.png");
  std::ofstream(lying, std::ios::binary) << tarvtest::PngClaiming(60000, 60000);
  // 30000 x 30000 real pixels: 3.6 GB once read whole, 110 KB on disk.
  ASSERT_TRUE(tarvtest::WritePngOfOneColour(real, 30000, 30000, kRed));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // 256 MB beyond what the process holds: far below either image.
    const rlim_t limit = static_cast<rlim_t>(AddressSpace() + (256 << 20));
    const rlimit r{limit, limit};
    if (setrlimit(RLIMIT_AS, &r) != 0) _exit(2);
    for (int i = 0; i < 3; ++i) DrawImageFile(lying.c_str(), 0, 0, 150, 100);
    if (Inked(0, 0, 200, 150) != 0) _exit(3);
    // The real one is drawn, read at the rectangle's size.
    DrawImageFile(real.c_str(), 10, 10, 160, 110);
    if (Inked(0, 0, 200, 150) != 150 * 100) _exit(4);
    _exit(BackBufferPixel(10, 10) == kRed && BackBufferPixel(159, 109) == kRed ? 0 : 5);
  }
  int status = 0;
  ASSERT_TRUE(tarvtest::WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }));
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Draw, CopyKeepsOnlyWhatOverlapsTheBufferAndPastesBlackBeyond) {
  DrawRect(180, 130, 200, 150, 255, 0, 0, 1);
  // 2000 x 2000 pixels asked, 10 x 10 of them over the buffer.
  ScreenCopy(190, 140, 2190, 2140);
  EXPECT_GT(ScreenCopyBytes(), 0);
  EXPECT_LE(ScreenCopyBytes(), 4 * 16 * 16);
  ScreenCopy(190, 140, 230, 180);
  EXPECT_LE(ScreenCopyBytes(), 4 * 16 * 16);
  ScreenPaste(20, 20, 60, 60, 0);
  ExpectPixels({{20, 20, kRed}, {29, 29, kRed}, {30, 29, 0}, {29, 30, 0}, {59, 59, 0}, {60, 60, kWhite}});
  DrawRect(180, 130, 200, 150, 255, 255, 255, 1);
  // Scaled and turned, it draws what a copy of the same pixels lying wholly
  // in the buffer draws, edges included.
  auto pastes = [] {
    ScreenPaste(0, 70, 70, 140, 20);
    ScreenPaste(120, 100, 136, 116, 0);  // smaller
    std::vector<uint32_t> px;
    BackBufferReadRegion(0, 60, 200, 90, px);
    return px;
  };
  const std::vector<uint32_t> fromPartial = pastes();
  DrawRect(100, 0, 140, 40, 0, 0, 0, 1);
  DrawRect(100, 0, 110, 10, 255, 0, 0, 1);
  ScreenCopy(100, 0, 140, 40);
  const std::vector<uint32_t> fromWhole = pastes();
  EXPECT_EQ(fromPartial, fromWhole);
  EXPECT_EQ(BackBufferPixel(5, 75), kRed);
  // Wholly beyond the buffer: a black rectangle.
  ScreenCopy(300, 300, 340, 340);
  EXPECT_LE(ScreenCopyBytes(), 4 * 2 * 2);
  ScreenPaste(20, 20, 60, 60, 0);
  ExpectPixels({{20, 20, 0}, {59, 59, 0}, {60, 59, kWhite}});
  ScreenCopyRelease();
  EXPECT_EQ(ScreenCopyBytes(), 0);
}

// The box around the pixels not white, empty for none.
DrawBox InkedBox(int x1, int y1, int x2, int y2) {
  DrawBox box{x2, y2, x1, y1};
  for (int y = y1; y < y2; ++y)
    for (int x = x1; x < x2; ++x)
      if (BackBufferPixel(x, y) != kWhite)
        box = {std::min(box.x1, x), std::min(box.y1, y), std::max(box.x2, x + 1), std::max(box.y2, y + 1)};
  return box;
}

TEST_F(Draw, InkBoxesHoldEveryPixelATextInks) {
  const struct {
    int x, y;
    const char* text;
    const char* family;
    int size;
    bool ascii;
  } cases[] = {
      {727, 166, "a_long_variable_name = WWWWWWWWWWW@@", "Arial", 12, true},
      {10, 10, "@@@@WWWWjjjQ|||", "Arial", 20, true},
      {680, 200, "  12", "Arial Narrow", 12, true},
      {2, 487, "Line No. 012 : var {i} add number {1} # fj", "Arial", 14, true},
      {736, 310, "|\n|\n|\r\n|", "Arial", 12, false},
      {50, 50, "\xe4\xb8\xad\xe6\x96\x87 text", "Arial", 14, false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(BackBufferCreate());
    const int len = static_cast<int>(std::strlen(c.text));
    DrawTextAt(c.x, c.y, c.text, len, 0, 0, 0, c.family, c.size);
    const DrawBox inked = InkedBox(0, 0, BACK_WIDTH, BACK_HEIGHT);
    ASSERT_LT(inked.x1, inked.x2) << c.text;
    const DrawBox ink = DrawTextInk(c.x, c.y, c.text, len, c.family, c.size);
    EXPECT_TRUE(DrawBoxWithin(inked, ink)) << c.text << ": " << ink.x1 << "," << ink.y1 << " " << ink.x2
                                           << "," << ink.y2 << " holds not " << inked.x1 << ","
                                           << inked.y1 << " " << inked.x2 << "," << inked.y2;
    DrawBox bound{};
    EXPECT_EQ(DrawTextInkBound(c.x, c.y, c.text, len, c.family, c.size, bound), c.ascii) << c.text;
    if (c.ascii) {
      EXPECT_TRUE(DrawBoxWithin(ink, bound)) << c.text;
    }
  }
  const DrawBox none = DrawTextInk(5, 5, "   ", 3, "Arial", 12);
  EXPECT_FALSE(none.x1 < none.x2 && none.y1 < none.y2);
}

void Collect(const DrawnText& t, void* context) {
  static_cast<std::string*>(context)->append(t.text, t.len).append(t.family).push_back(';');
}

TEST_F(Draw, ClipsKeepDrawingInsideOrOutsideTheBoxesAndCapturesDrawNothing) {
  const DrawBox boxes[] = {{10, 10, 20, 20}, {30, 10, 40, 20}};
  {
    DrawClip clip(boxes, 2, true);
    DrawRect(0, 0, 50, 30, 255, 0, 0, 1);
  }
  ExpectPixels({{10, 10, kRed}, {19, 19, kRed}, {35, 15, kRed}, {9, 15, kWhite}, {20, 15, kWhite},
                {25, 15, kWhite}, {15, 20, kWhite}});
  EXPECT_EQ(Inked(0, 0, 50, 30), 200);
  ASSERT_TRUE(BackBufferCreate());
  {
    DrawClip clip(boxes, 2, false);
    DrawRect(0, 0, 50, 30, 255, 0, 0, 1);
  }
  ExpectPixels({{10, 10, kWhite}, {19, 19, kWhite}, {35, 15, kWhite}, {9, 15, kRed}, {20, 15, kRed},
                {25, 15, kRed}, {15, 20, kRed}, {0, 0, kRed}});
  EXPECT_EQ(Inked(0, 0, 60, 40), 50 * 30 - 200);
  // A text clipped to a box inks there what it inks unclipped.
  const char text[] = "WWWW jjj";
  auto drawText = [&] { DrawTextAt(5, 5, text, 8, 0, 0, 0, "Arial", 20); };
  ASSERT_TRUE(BackBufferCreate());
  drawText();
  std::vector<uint32_t> whole, clipped;
  BackBufferReadRegion(10, 10, 10, 10, whole);
  ASSERT_TRUE(BackBufferCreate());
  {
    DrawClip clip(boxes, 1, true);
    drawText();
  }
  BackBufferReadRegion(10, 10, 10, 10, clipped);
  EXPECT_EQ(clipped, whole);
  EXPECT_GT(Inked(10, 10, 20, 20), 0);
  EXPECT_EQ(Inked(0, 0, 100, 60), Inked(10, 10, 20, 20));
  // Captured: texts handed over in order, nothing drawn.
  ASSERT_TRUE(BackBufferCreate());
  std::string seen;
  {
    DrawTextCapture capture(Collect, &seen);
    DrawRect(0, 0, 50, 30, 255, 0, 0, 1);
    DrawTextAt(5, 5, "ab", 2, 0, 0, 0, "Arial", 12);
    DrawLine(0, 0, 40, 40, 0, 0, 0);
    DrawPercentGauge(50, 50, 30, 40);
  }
  EXPECT_EQ(seen, "abArial;40%Arial;");
  EXPECT_EQ(Inked(0, 0, BACK_WIDTH, BACK_HEIGHT), 0);
  DrawTextAt(5, 5, "ab", 2, 0, 0, 0, "Arial", 12);
  EXPECT_GT(Inked(0, 0, 50, 30), 0);
}

TEST_F(Draw, HugeCoordinatesAreClippedNotWrapped) {
  DrawLine(0, 0, INT32_MAX, INT32_MAX, 255, 0, 0);
  ExpectPixels({{10, 10, kRed}, {100, 100, kRed}, {10, 11, kWhite}});
  DrawRect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0, 0, 0, 0);  // outline far outside
  EXPECT_EQ(BackBufferPixel(50, 70), kWhite);
  DrawArc(INT32_MAX, INT32_MAX, INT32_MAX, 0, 360, 0, 0, 0, 1);
  EXPECT_EQ(BackBufferPixel(50, 70), kWhite);
  EXPECT_EQ(BackBufferPixel(-1, 5), 0u);  // outside reads black
}

TEST_F(Draw, CommandsDrawWithTheCurrentColour) {
  sgScreen.red = 255;
  const std::string rect = "o|x|10|10|20|20";
  ScreenCommand(rect.data(), static_cast<int32_t>(rect.size()));
  EXPECT_EQ(sgScreen.fillMode, 1);
  ExpectPixels({{10, 10, kRed}, {19, 19, kRed}, {20, 20, kWhite}});
  const std::string line = "L|x|50|5|60|5";
  ScreenCommand(line.data(), static_cast<int32_t>(line.size()));
  EXPECT_EQ(sgScreen.fillMode, 0);
  ExpectPixels({{50, 5, kRed}, {60, 5, kRed}});
  EXPECT_EQ(CommandFieldInt("e|x|12|-7", 4), -7);
  EXPECT_EQ(CommandFieldInt("e|x", 9), 0);
  // A meter whose value is beyond its band lights the lamp red.
  DrawMeter(80, 120, 0, 100, 20, 80, 95);
  EXPECT_EQ(BackBufferPixel(130, 115), kRed);
}

}  // namespace
