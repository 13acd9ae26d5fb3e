// The window as a user sees it: the tarv binary on a virtual display, driven
// by clicks, read back from screenshots and the output pane's text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/window/harness_display.h"

namespace {

using tarvtest::SleepMs;
using tarvtest::TempDir;
using tarvtest::WaitFor;
using tarvtest::WindowRun;

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kBoxBlue = 0x6495ED;
constexpr uint32_t kGreen = 0x00FF00;
constexpr uint32_t kLightGrey = 0xDCDCDC;
constexpr uint32_t kDarkGrey = 0xB4B4B4;

using namespace tarvtest;  // the window's coordinates

using tarvtest::Count;

std::string BinaryWithLog(const TempDir& dir) { return tarvtest::BinaryWithLog(dir.path().string()); }

class WindowBinary : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(display_.Ready()); }
  tarvtest::VirtualDisplay display_;
  TempDir dir_;
};

TEST_F(WindowBinary, LaysOutStepsByClickRunsToTheEndAndShowsPages) {
  const std::string saved = dir_.File("saved.txt");
  const std::string done = dir_.File("done.txt");
  const std::string script = dir_.Write(
      "steps.nms", "text.add {xy}\n"
                   "text.headpointer move to head\n"
                   "text.tailpointer move to tail\n"
                   "text.save append to file {" + saved + "}\n"
                   "text.save append to file {" + saved + "}\n"
                   "var {finished} value {yes}\n"
                   "text.save to file {" + done + "}\n");
  WindowRun run(BinaryWithLog(dir_), "debug", script, dir_.path().string());
  ASSERT_TRUE(run.WaitShown());
  SleepMs(500);

  const tarvtest::Screenshot first = tarvtest::TakeScreenshot();
  auto at = [&first](int x, int y) { return first.At(x + 10, y + 10); };
  // The screen's frame around a white screen, the banner bar with its text.
  for (auto [x, y] : {std::pair{0, 240}, {640, 240}, {320, 0}, {320, 480}}) EXPECT_EQ(at(x, y), kBlack);
  EXPECT_EQ(at(320, 240), kWhite);
  EXPECT_EQ(at(800, 500), kBoxBlue);
  EXPECT_EQ(at(840, 483), kBoxBlue);
  EXPECT_EQ(at(845, 495), kWhite);
  int textPixels = 0;
  for (int y = 487; y < 504; y++)
    for (int x = 2; x < 500; x++) textPixels += at(x, y) == kWhite;
  EXPECT_GT(textPixels, 100);
  // Push buttons at their places, white gaps between them.
  for (auto [x, y] : {std::pair{650, 510}, {750, 510}, {750, 540}, {750, 570}, {750, 600}, {750, 630}}) {
    EXPECT_NE(at(x + 44, y + 12), kWhite) << x << "," << y;
    EXPECT_EQ(at(x + 44, y + 27), kWhite) << x << "," << y;
  }
  EXPECT_EQ(at(743, 522), kWhite);
  EXPECT_NE(at(0, 600), kWhite);   // the pane's border
  EXPECT_EQ(at(645, 600), kWhite);
  // The panel in step mode before any step: the indicator on row 90, the
  // dark Go pill and the light step disc.
  EXPECT_EQ(at(645, 60), kBoxBlue);
  EXPECT_EQ(at(715, 90), kGreen);
  EXPECT_EQ(at(700, 470), kDarkGrey);
  EXPECT_EQ(at(800, 420), kLightGrey);

  // Nothing runs before a click; Enter does not press "run", Escape does
  // not close the window.
  run.PaneText();  // the window has the focus
  run.Key("Return");
  run.Key("Escape");
  SleepMs(300);
  EXPECT_TRUE(run.Running());
  EXPECT_EQ(Count(run.PaneText(), "Run Next Step"), 0);
  EXPECT_FALSE(std::filesystem::exists(saved));

  // One step per click of "run by step": the panel's indicator moves one
  // row down once the step has run and the runner waits again.
  for (int k = 1; k <= 4; k++) {
    if (k == 3) run.Click(kStepGlyphX, kGlyphY);  // the panel's step glyph does the same
    else run.Click(kStepX, kStepY);
    ASSERT_TRUE(WaitFor([&] { return run.Pixel(715, 90 + k) == kGreen; })) << k;
    SleepMs(200);
    EXPECT_EQ(Count(run.PaneText(), "Run Next Step"), k);
  }
  EXPECT_EQ(tarvtest::ReadFile(saved), "xy");

  // "run" runs the rest; the window stays open.
  run.Click(kRunX, kRunY);
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(done); }));
  SleepMs(500);
  EXPECT_EQ(tarvtest::ReadFile(saved), "xyxy");
  EXPECT_TRUE(run.Running());

  const tarvtest::Screenshot last = tarvtest::TakeScreenshot();
  // Each line ran once: a 2-pixel bar of grey 159 on its map row; the
  // indicator below the last line; the Go pill light in a continuous run.
  for (int line = 1; line <= 6; line++) EXPECT_EQ(last.At(10 + 656, 10 + 90 + line), 0x9F9F9Fu) << line;
  EXPECT_EQ(last.At(10 + 715, 10 + 97), kGreen);
  EXPECT_EQ(last.At(10 + 700, 10 + 470), kLightGrey);
  EXPECT_EQ(last.At(10 + 800, 10 + 420), kDarkGrey);

  // The variable page lists the script's variable; "clear" empties the pane.
  run.Click(kVarX, kVarY);
  SleepMs(200);
  const std::string vars = run.PaneText();
  EXPECT_EQ(vars.rfind("Display Var: Type = 92, Page = 0 .\n", 0), 0u) << vars;
  EXPECT_NE(vars.find(" finished=[yes]"), std::string::npos) << vars;
  run.Click(kClearX, kClearY);
  SleepMs(300);
  const tarvtest::Screenshot cleared = tarvtest::TakeScreenshot();
  int inked = 0;
  for (int y = 515; y < 690; y++)
    for (int x = 10; x < 600; x++) inked += cleared.At(x + 10, y + 10) != kWhite;
  EXPECT_EQ(inked, 0);

  ASSERT_TRUE(run.Close());
  EXPECT_EQ(run.WaitExit(), 0);
  // The closing message lies inside the log, just before its end.
  const std::string log = tarvtest::LogsIn(dir_);
  const std::string tail = "\ntarv windows is closed.\n</td></tr></table></body></html>";
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(WindowBinary, ClosingWhileAStepRunsEndsTheProcessAndLogsIt) {
  const std::string script = dir_.Write("sleep.nms", "run.sleep {60} seconds\ntext.add {never}\n");
  WindowRun run(BinaryWithLog(dir_), "debug", script, dir_.path().string());
  ASSERT_TRUE(run.WaitShown());
  run.Click(kGoX, kGlyphY);
  ASSERT_TRUE(WaitFor([&] { return Count(run.PaneText(), "Run Next Step") == 1; }));
  ASSERT_TRUE(run.Close());
  EXPECT_EQ(run.WaitExit(), 0);
  EXPECT_NE(tarvtest::LogsIn(dir_).find("tarv windows is closed."), std::string::npos);
}

TEST_F(WindowBinary, PausingAContinuousRunShowsTheStepColoursAtOnce) {
  const std::string script = dir_.Write(
      "loop.nms", "var {i} value {0}\nloop.begin\nvar {i} add number {1}\n"
                  "if.var {i} >= {100000000}\nloop.exit\nif.end\nloop.next\nloop.end\n");
  WindowRun run(tarvtest::TarvBinary(), "nolog", script, dir_.path().string());
  ASSERT_TRUE(run.WaitShown());
  run.Click(kRunX, kRunY);
  ASSERT_TRUE(WaitFor([&] { return run.Pixel(700, 470) == kLightGrey; }));
  run.Click(kStepX, kStepY);
  ASSERT_TRUE(WaitFor([&] { return run.Pixel(700, 470) == kDarkGrey && run.Pixel(800, 420) == kLightGrey; }));
  ASSERT_TRUE(run.Close());
  EXPECT_EQ(run.WaitExit(), 0);
}

TEST(WindowNoDisplay, WindowModesWithoutADisplayFailWithAMessage) {
  TempDir dir;
  const std::string script = dir.Write("s.nms", "text.add {x}\n");
  unsetenv("DISPLAY");
  const auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"debug", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("the mode hide runs without a window"), std::string::npos) << r.output;
  EXPECT_EQ(tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script}, dir.path().string()).exitCode, 0);
}

// Drawing on the runner thread while the window paints reaches the screen,
// and the PNG and GIF are written outside the hide mode.
TEST_F(WindowBinary, DrawingReachesTheScreenThePngAndTheGif) {
  const std::string png = dir_.File("s.png"), gif = dir_.File("s.gif"), done = dir_.File("done");
  const std::string huge = dir_.Write("huge.png", tarvtest::PngClaiming(60000, 60000));
  const std::string real = dir_.File("real.png");
  ASSERT_TRUE(tarvtest::WritePngOfOneColour(real, 30000, 30000, 0x0000FF));
  const std::string script = dir_.Write(
      "draw.nms", "screen.set color red {255} green {0} blue {0}\nscreen.set mode {fill}\n"
                  "screen.rect from point {100} {100} to point {200} {150}\n"
                  "gif.create from {0} {0} to {300} {200}\ngif.add frame delay {0.5} seconds\n"
                  "screen.save to file {" + png + "} from point {0} {0} to point {300} {200}\n"
                  "gif.save to file {" + gif + "}\n"
                  // A copy far beyond the buffer and an image whose header
                  // lies about its size stay quick.
                  "screen.copy from point {0} {0} to point {16000} {16000}\n"
                  "screen.paste from point {400} {300} to point {420} {320} rotate {0}\n"
                  "screen.image url {" + huge + "} from point {0} {0} to point {640} {480}\n"
                  // A real one as large is drawn, read at the rectangle's size.
                  "screen.image url {" + real + "} from point {500} {100} to point {600} {200}\n"
                  "sys.command {touch " + done + "}\n");
  WindowRun run(tarvtest::TarvBinary(), "nolog", script, dir_.path().string());
  ASSERT_TRUE(run.WaitShown());
  run.Click(kRunX, kRunY);
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(done); }));
  SleepMs(500);
  EXPECT_EQ(run.Pixel(150, 125), 0xFF0000u);
  EXPECT_EQ(run.Pixel(250, 175), kWhite);
  // The copy pasted back small: mostly the black beyond the buffer.
  EXPECT_EQ(run.Pixel(410, 310), kBlack);
  EXPECT_EQ(run.Pixel(421, 321), kWhite);
  EXPECT_EQ(run.Pixel(500, 100), 0x0000FFu);
  EXPECT_EQ(run.Pixel(599, 199), 0x0000FFu);
  EXPECT_EQ(run.Pixel(600, 200), kWhite);
  // What the files hold is the drawing tests' business; here they must
  // exist, the GIF with the PNG's permissions.
  EXPECT_TRUE(std::filesystem::exists(png));
  EXPECT_TRUE(std::filesystem::exists(gif));
  EXPECT_EQ(std::filesystem::status(gif).permissions(), std::filesystem::status(png).permissions());
}

}  // namespace
