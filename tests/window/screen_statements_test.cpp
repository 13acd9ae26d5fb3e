// The screen and gif statements run from real scripts: their checks and
// codes in the hide mode, and their drawing, PNG and GIF files on a back
// buffer made by the test.
#include <cairo.h>
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <filesystem>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "engine/core/run_state.h"
#include "tests/engine/harness.h"
#include "tests/services/statement_checks.h"
#include "window/draw/back_buffer.h"
#include "window/draw/screen_state.h"
#include "window/gif/gif_recorder.h"

namespace {

using tarvtest::RunErrors;
using tarvtest::TempDir;
using Errors = std::vector<std::string>;

class ScreenScript : public ::testing::Test {
 protected:
  TempDir dir;
  void TearDown() override { BackBufferDestroy(); }
  tarvtest::Outcome Run(const std::string& script, const std::string& mode = "hide") {
    return tarvtest::RunCase(dir, script, {}, mode);
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir.File(name)); }
};

TEST(ScreenChecks, CodesAndOnlySomeCount) { tarvtest::RunChecks("window/checks.txt"); }

// Colour, fill mode, font and size after each run; each run starts from the
// defaults.
TEST_F(ScreenScript, ColourModeAndFontStateFollowTheStatements) {
  const std::pair<const char*, const char*> runs[] = {
      {"screen.set color red {300} green {-5} blue {x}\nscreen.set mode {fillx}\n", "255,0,0 1 Arial 12"},
      {"screen.set mode {Fill}\n", "0,0,0 0 Arial 12"},
      {"screen.set mode {fill}\nscreen.set mode stroke\n", "0,0,0 0 Arial 12"},
      {"screen.set font {Liberation} size {0}\n", "0,0,0 0 Liberation 12"},
      {"screen.set font {Ari} size {20}\n", "0,0,0 0 Arial 20"},
      {"screen.set font {NoSuchFamilyAnywhere} size {20}\n", "0,0,0 0 Arial 20"},
  };
  for (const auto& [script, state] : runs) {
    Run(script);
    EXPECT_EQ(std::to_string(sgScreen.red) + "," + std::to_string(sgScreen.green) + "," +
                  std::to_string(sgScreen.blue) + " " + std::to_string(sgScreen.fillMode) + " " +
                  sgScreen.fontName.data() + " " + std::to_string(sgScreen.fontSize),
              state)
        << script;
  }
}

TEST_F(ScreenScript, ColourWarningsAreLoggedForWordsThatAreNoIntegers) {
  std::filesystem::create_directory(dir.path() / "log");
  Run("screen.set color red {300} green {-5} blue {x}\n", "debug");
  const std::string log = tarvtest::LogsIn(dir);
  for (const char* entry : {"Arg:6 is not integer !", "Arg:8 is not integer !",
                            "screen_set_color_red_a4_green_a6_blue_a8 return."})
    EXPECT_NE(log.find(entry), std::string::npos) << entry;
  EXPECT_EQ(log.find("Arg:4 is not integer !"), std::string::npos);
  EXPECT_EQ(RunErrors(), Errors{});
}

std::string DrawingScript(const TempDir& dir) {
  return "screen.set color red {255} green {0} blue {0}\n"
         "screen.set mode {fill}\n"
         "screen.rect from point {10} {10} to point {30} {30}\n"
         "screen.save to file {" + dir.File("s.png") + "} from point {0} {0} to point {40} {40}\n"
         "gif.create from {0} {0} to {40} {40}\n"
         "gif.add frame delay {0.5} seconds\n"
         "screen.set color red {0} green {0} blue {255}\n"
         "screen.rect from point {10} {10} to point {30} {30}\n"
         "gif.add frame delay {1.25} seconds\n"
         "gif.save to file {" + dir.File("a.gif") + "}\n"
         "gif.save to file {" + dir.File("b.gif") + "}\n";
}

uint32_t PngPixel(cairo_surface_t* s, int x, int y) {
  uint32_t px;
  std::memcpy(&px, cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s) + x * 4, 4);
  return px & 0xFFFFFF;
}

uint32_t GifPixel(const GifFileType* gif, int frame, int x, int y) {
  const SavedImage& im = gif->SavedImages[frame];
  const ColorMapObject* map = im.ImageDesc.ColorMap != nullptr ? im.ImageDesc.ColorMap : gif->SColorMap;
  const GifColorType c = map->Colors[im.RasterBits[y * im.ImageDesc.Width + x]];
  return (uint32_t{c.Red} << 16) | (uint32_t{c.Green} << 8) | c.Blue;
}

int GifDelay(const GifFileType* gif, int frame) {
  GraphicsControlBlock gcb;
  if (DGifSavedExtensionToGCB(const_cast<GifFileType*>(gif), frame, &gcb) != GIF_OK) return -1;
  return gcb.DelayTime;
}

// The loop count of the NETSCAPE2.0 extension, or -1 without one.
int GifLoops(const GifFileType* gif) {
  const SavedImage& first = gif->SavedImages[0];
  for (int i = 0; i + 1 < first.ExtensionBlockCount; ++i) {
    const ExtensionBlock& b = first.ExtensionBlocks[i];
    if (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11 &&
        std::memcmp(b.Bytes, "NETSCAPE2.0", 11) == 0) {
      const ExtensionBlock& sub = first.ExtensionBlocks[i + 1];
      return sub.Bytes[1] | (sub.Bytes[2] << 8);
    }
  }
  return -1;
}

// The umask while the drawing script runs: group and others may read.
constexpr mode_t kUmask = 022;
constexpr auto kUmaskPerms = std::filesystem::perms::group_write | std::filesystem::perms::others_write |
                             std::filesystem::perms::owner_exec | std::filesystem::perms::group_exec |
                             std::filesystem::perms::others_exec;

TEST_F(ScreenScript, DrawingReachesThePngAndTheGifFramesButNotInTheHideMode) {
  ASSERT_TRUE(BackBufferCreate());
  const mode_t before = umask(kUmask);
  EXPECT_EQ(Run(DrawingScript(dir)).errors, Errors{});
  for (const char* name : {"s.png", "a.gif", "b.gif"}) EXPECT_FALSE(Exists(name)) << name;
  EXPECT_EQ(BackBufferPixel(15, 15), 0xFFFFFFu);  // nor drawn
  Run(DrawingScript(dir), "nolog");
  umask(before);

  cairo_surface_t* png = cairo_image_surface_create_from_png(dir.File("s.png").c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(png), 40);
  EXPECT_EQ(PngPixel(png, 10, 10), 0xFF0000u);
  EXPECT_EQ(PngPixel(png, 29, 29), 0xFF0000u);
  EXPECT_EQ(PngPixel(png, 30, 30), 0xFFFFFFu);
  EXPECT_EQ(PngPixel(png, 5, 5), 0xFFFFFFu);
  cairo_surface_destroy(png);

  int err = 0;
  GifFileType* gif = DGifOpenFileName(dir.File("a.gif").c_str(), &err);
  ASSERT_NE(gif, nullptr);
  ASSERT_EQ(DGifSlurp(gif), GIF_OK);
  ASSERT_EQ(gif->ImageCount, 2);
  EXPECT_EQ(GifDelay(gif, 0), 50);
  EXPECT_EQ(GifDelay(gif, 1), 120);  // whole tenths: 1.25 s is 12
  EXPECT_EQ(GifLoops(gif), 0);
  EXPECT_EQ(GifPixel(gif, 0, 15, 15), 0xFF0000u);
  EXPECT_EQ(GifPixel(gif, 1, 15, 15), 0x0000FFu);
  EXPECT_EQ(GifPixel(gif, 1, 5, 5), 0xFFFFFFu);
  DGifCloseFile(gif, &err);
  // Both files take the permissions the umask leaves, not private ones.
  const auto mode = [&](const char* name) {
    return std::filesystem::status(dir.File(name)).permissions() & std::filesystem::perms::all;
  };
  EXPECT_EQ(mode("a.gif"), mode("s.png"));
  EXPECT_EQ(mode("a.gif"), std::filesystem::perms::all & ~kUmaskPerms);
  // The second save had no frame left.
  EXPECT_FALSE(Exists("b.gif"));
  EXPECT_EQ(RunErrors(), Errors{"gif_save_to_file_a4: no frame to save !"});
}

// A BigTIFF of 8 by 8 pixels of one colour: uncompressed RGB in one strip,
// in the byte order `order` names ('I' least significant byte first, 'M'
// most).  Values of an entry are kept in its 8-byte field from its start.
std::string BigTiff(char order, uint32_t rgb) {
  constexpr int kSide = 8;
  std::string f;
  const auto put = [&f, order](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
      f.push_back(static_cast<char>((v >> (8 * (order == 'I' ? i : bytes - 1 - i))) & 0xFF));
  };
  constexpr uint16_t kShort = 3, kLong8 = 16;
  struct Entry {
    uint16_t tag, type;
    std::vector<uint64_t> values;
  };
  const Entry entries[] = {
      {256, kShort, {kSide}},      {257, kShort, {kSide}},  {258, kShort, {8, 8, 8}}, {259, kShort, {1}},
      {262, kShort, {2}},          {273, kLong8, {0}},      {277, kShort, {3}},       {278, kShort, {kSide}},
      {279, kLong8, {kSide * kSide * 3}}, {284, kShort, {1}},
  };
  constexpr uint64_t kFirstDirectory = 16;
  const uint64_t pixels = kFirstDirectory + 8 + std::size(entries) * 20 + 8;
  f += order;
  f += order;
  put(43, 2);  // the BigTIFF version
  put(8, 2);   // the size of an offset
  put(0, 2);
  put(kFirstDirectory, 8);
  put(std::size(entries), 8);
  for (const Entry& e : entries) {
    put(e.tag, 2);
    put(e.type, 2);
    put(e.values.size(), 8);
    const int size = e.type == kShort ? 2 : 8;
    for (uint64_t v : e.values) put(e.tag == 273 ? pixels : v, size);
    put(0, 8 - size * static_cast<int>(e.values.size()));
  }
  put(0, 8);  // no next directory
  for (int i = 0; i < kSide * kSide; ++i)
    for (int shift : {16, 8, 0}) f.push_back(static_cast<char>((rgb >> shift) & 0xFF));
  return f;
}

// BigTIFFs of both byte orders are drawn by screen.image, each stretched
// into its rectangle, as the saved screen shows.
TEST_F(ScreenScript, BigTiffsOfBothByteOrdersAreDrawn) {
  ASSERT_TRUE(BackBufferCreate());
  const std::string little = dir.Write("little.tif", BigTiff('I', 0x0000FF));
  const std::string big = dir.Write("big.tif", BigTiff('M', 0x00C800));
  EXPECT_EQ(Run("screen.image url {" + little + "} from point {10} {10} to point {50} {50}\n"
                "screen.image url {" + big + "} from point {60} {10} to point {100} {50}\n"
                "screen.save to file {" + dir.File("s.png") + "} from point {0} {0} to point {110} {60}\n",
                "nolog")
                .errors,
            Errors{});
  cairo_surface_t* png = cairo_image_surface_create_from_png(dir.File("s.png").c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  for (auto [x, y, rgb] : {std::tuple{10, 10, 0x0000FFu}, {30, 30, 0x0000FFu}, {49, 49, 0x0000FFu},
                           {60, 10, 0x00C800u}, {80, 30, 0x00C800u}, {99, 49, 0x00C800u},
                           {9, 9, 0xFFFFFFu}, {55, 30, 0xFFFFFFu}, {100, 50, 0xFFFFFFu}})
    EXPECT_EQ(PngPixel(png, x, y), rgb) << x << "," << y;
  cairo_surface_destroy(png);
}

TEST_F(ScreenScript, RecordingHoldsAtMost999FramesAndQuantisesRichFrames) {
  ASSERT_TRUE(BackBufferCreate(400, 300));
  tarvtest::Start(dir, "# frames\n", "nolog");
  {
    // 400 colours in one frame: more than a GIF map holds.
    BackBufferLock lock;
    cairo_t* cr = cairo_create(lock.Surface());
    for (int i = 0; i < 400; ++i) {
      cairo_set_source_rgb(cr, (i % 20) / 19.0, (i / 20) / 19.0, 0.5);
      cairo_rectangle(cr, i % 20, i / 20, 1, 1);
      cairo_fill(cr);
    }
    cairo_destroy(cr);
  }
  GifSetCaptureRect(0, 0, 20, 20);
  for (int i = 0; i < 999; ++i) ASSERT_EQ(GifAddFrame(-3), 0);
  EXPECT_EQ(GifAddFrame(1), -1);
  ASSERT_EQ(GifSaveToFile(dir.File("many.gif").c_str()), 0);
  EXPECT_EQ(sgGif.frameCount, 0);
  int err = 0;
  GifFileType* gif = DGifOpenFileName(dir.File("many.gif").c_str(), &err);
  ASSERT_NE(gif, nullptr);
  ASSERT_EQ(DGifSlurp(gif), GIF_OK);
  EXPECT_EQ(gif->ImageCount, 999);
  EXPECT_EQ(GifDelay(gif, 998), 0);  // a negative delay is no delay
  // Quantised colours stay near the originals.
  const uint32_t corner = GifPixel(gif, 0, 19, 19);
  EXPECT_GT(corner >> 16, 0xE0u);
  EXPECT_GT((corner >> 8) & 0xFF, 0xE0u);
  DGifCloseFile(gif, &err);
  // An empty rectangle records nothing.
  GifSetCaptureRect(30, 30, 20, 40);
  EXPECT_EQ(GifAddFrame(1), -2);
  EXPECT_EQ(sgGif.frameCount, 0);
}

TEST_F(ScreenScript, TunesAndSpeechPlayInTheHideMode) {
  setenv("TARV_MIDI_WAV", dir.File("t.wav").c_str(), 1);
  setenv("TARV_SPEECH_WAV", dir.File("s.wav").c_str(), 1);
  const auto o = Run("screen.speak {say \"hello\" now}\nscreen.play midi {cdefgab}\n");
  unsetenv("TARV_MIDI_WAV");
  unsetenv("TARV_SPEECH_WAV");
  EXPECT_EQ(o.Code(1), 0);
  EXPECT_EQ(o.Code(2), 0);
  EXPECT_EQ(o.errors, Errors{});
  EXPECT_EQ(sgScreen.lastCommand, 53);
  // 44 header bytes, then 3.08 s of 16-bit stereo at 44100 Hz.
  EXPECT_NEAR(static_cast<double>(std::filesystem::file_size(dir.File("t.wav")) - 44) / (44100 * 4), 3.08, 0.01);
  EXPECT_GT(std::filesystem::file_size(dir.File("s.wav")), 44u * 100);
}

}  // namespace
