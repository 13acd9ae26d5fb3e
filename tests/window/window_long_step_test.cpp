// Through the tarv binary on a virtual display: the page buttons while a
// step takes long, and what screen.image draws of files it must refuse or
// sample down.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/window/harness_display.h"

namespace {

using tarvtest::Count;
using tarvtest::SleepMs;

// Pixels of the output pane (within its border) that differ.
int PaneDiffers(const tarvtest::Screenshot& a, const tarvtest::Screenshot& b) {
  int n = 0;
  for (int y = 515; y < 700; y++)
    for (int x = 5; x < 620; x++) n += a.At(x + 10, y + 10) != b.At(x + 10, y + 10);
  return n;
}

// A page asked for while the runner is held in a step shows within 100 ms,
// with what the steps before had set.
TEST(WindowPages, APageIsShownAtOnceWhileTheRunnerWaitsInAStep) {
  for (const char* step : {"run.sleep {3600} seconds", "sys.command {/bin/sleep 60}"}) {
    SCOPED_TRACE(step);
    tarvtest::VirtualDisplay display;
    ASSERT_TRUE(display.Ready());
    tarvtest::TempDir dir;
    const std::string script = dir.Write(
        "s.nms", "var {shown} value {yes}\ntext.add {the text}\n" + std::string(step) + "\n");
    tarvtest::WindowRun run(tarvtest::TarvBinary(), "nolog", script, dir.path().string());
    ASSERT_TRUE(run.WaitShown());
    run.Click(tarvtest::kGoX, tarvtest::kGlyphY);
    ASSERT_TRUE(tarvtest::WaitFor([&] { return Count(run.PaneText(), "Line No.[3]") == 1; }));
    SleepMs(300);  // the step's own lines are shown; the runner is in the step

    // What the pane shows 100 ms after the click stays (a second later),
    // and it is the page.
    auto click = [&run](int x, int y) {
      const tarvtest::Screenshot before = tarvtest::TakeScreenshot();
      run.Click(x, y);
      SleepMs(100);
      const tarvtest::Screenshot soon = tarvtest::TakeScreenshot();
      SleepMs(1000);
      EXPECT_GT(PaneDiffers(before, soon), 500);
      EXPECT_EQ(PaneDiffers(soon, tarvtest::TakeScreenshot()), 0);
      return run.PaneText();
    };
    const std::string vars = click(tarvtest::kVarX, tarvtest::kVarY);
    EXPECT_EQ(vars.rfind("Display Var: Type = 92, Page = 0 .\n", 0), 0u) << vars;
    EXPECT_NE(vars.find(" shown=[yes]"), std::string::npos) << vars;
    const std::string text = click(tarvtest::kTextX, tarvtest::kTextY);
    EXPECT_EQ(text.rfind("Display Text: Type = 91, Page = 0 .\nText : Total 8 bytes.", 0), 0u) << text;
    EXPECT_NE(text.find("the text"), std::string::npos) << text;

    ASSERT_TRUE(run.Close());
    EXPECT_EQ(run.WaitExit(), 0);
  }
}

// However large the run's text, the pages during a long step show the run as
// the step before it left it: a variable set just before, and the text as
// the steps before edited it.
TEST(WindowPages, ALargeRunsPagesDuringALongStepShowTheStepBefore) {
  tarvtest::VirtualDisplay display;
  ASSERT_TRUE(display.Ready());
  tarvtest::TempDir dir;
  std::string big(70000, 'a');
  big.replace(0, 4, "MARK");
  const std::string file = dir.Write("big.txt", big);
  const std::string script = dir.Write(
      "s.nms", "text.add from file {" + file + "}\ntext.headpointer move to head\n"
               "text.tailpointer move to tail\ntext.replace {MARK} with {DONE}\n"
               "text.delete from {69000} byte\nvar {marker} value {SEEN}\nrun.sleep {60} seconds\n");
  tarvtest::WindowRun run(tarvtest::TarvBinary(), "nolog", script, dir.path().string());
  ASSERT_TRUE(run.WaitShown());
  run.Click(tarvtest::kRunX, tarvtest::kRunY);
  ASSERT_TRUE(tarvtest::WaitFor([&] { return Count(run.PaneText(), "Line No.[7]") == 1; }));
  SleepMs(300);  // the runner is in the sleep

  // A stale page would stay so for the whole sleep: two seconds tell.
  const std::chrono::seconds soon(tarvtest::MachineScaled(2));
  run.Click(tarvtest::kVarX, tarvtest::kVarY);
  std::string vars;
  EXPECT_TRUE(tarvtest::WaitFor(
      [&] { return (vars = run.PaneText()).find(" marker=[SEEN]") != std::string::npos; }, soon))
      << vars;
  run.Click(tarvtest::kTextX, tarvtest::kTextY);
  std::string text;
  EXPECT_TRUE(tarvtest::WaitFor([&] {
    text = run.PaneText();
    return text.rfind("Display Text: Type = 91, Page = 0 .\nText : Total 69000 bytes.", 0) == 0;
  }, soon)) << text.substr(0, 200);
  EXPECT_NE(text.find("DONEaaaa"), std::string::npos) << text.substr(0, 200);
  EXPECT_EQ(text.find("MARK"), std::string::npos);

  ASSERT_TRUE(run.Close());
  EXPECT_EQ(run.WaitExit(), 0);
}

// An SVG whose filter takes a long time to draw.
std::string SlowSvg() {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4000\" height=\"4000\">"
         "<filter id=\"f\"><feMorphology operator=\"dilate\" radius=\"300\"/></filter>"
         "<g filter=\"url(#f)\"><rect x=\"100\" y=\"100\" width=\"3800\" height=\"3800\" fill=\"#ff0000\"/>"
         "</g></svg>\n";
}

TEST(WindowImages, SvgsAreRefusedAtOnceAndMillionPixelStripsDrawn) {
  tarvtest::VirtualDisplay display;
  ASSERT_TRUE(display.Ready());
  tarvtest::TempDir dir;
  const std::string red = dir.Write("red.svg",
                                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\">"
                                    "<rect width=\"16\" height=\"16\" fill=\"#ff0000\"/></svg>\n");
  const std::string slow = dir.Write("slow.svg", SlowSvg());
  const std::string wide = dir.File("wide.png"), tall = dir.File("tall.png"), done = dir.File("done");
  ASSERT_TRUE(tarvtest::WritePngOfOneColour(wide, 1000000, 1, 0x0000FF));
  ASSERT_TRUE(tarvtest::WritePngOfOneColour(tall, 1, 1000000, 0x00FF00));
  const std::string script = dir.Write(
      "images.nms", "screen.image url {" + red + "} from point {10} {10} to point {90} {90}\n"
                    "screen.image url {" + slow + "} from point {100} {10} to point {300} {90}\n"
                    "screen.image url {" + wide + "} from point {10} {200} to point {600} {220}\n"
                    "screen.image url {" + tall + "} from point {300} {250} to point {310} {470}\n"
                    "sys.command {touch " + done + "}\n");
  tarvtest::WindowRun run(tarvtest::TarvBinary(), "nolog", script, dir.path().string());
  ASSERT_TRUE(run.WaitShown());
  run.Click(tarvtest::kRunX, tarvtest::kRunY);
  const auto clicked = std::chrono::steady_clock::now();
  ASSERT_TRUE(tarvtest::WaitFor([&] { return std::filesystem::exists(done); }));
  // Refused before any decoding: the run does not wait on the filter.
  EXPECT_LT(std::chrono::steady_clock::now() - clicked, std::chrono::seconds(10));
  SleepMs(500);
  const tarvtest::Screenshot shot = tarvtest::TakeScreenshot();
  auto at = [&shot](int x, int y) { return shot.At(x + 10, y + 10); };
  int inked = 0;
  for (int y = 5; y < 100; y++)
    for (int x = 5; x < 310; x++) inked += at(x, y) != 0xFFFFFFu;
  EXPECT_EQ(inked, 0);
  for (auto [x, y] : {std::pair{10, 200}, {300, 210}, {599, 219}}) EXPECT_EQ(at(x, y), 0x0000FFu) << x << "," << y;
  EXPECT_EQ(at(300, 222), 0xFFFFFFu);
  for (auto [x, y] : {std::pair{300, 250}, {305, 360}, {309, 469}}) EXPECT_EQ(at(x, y), 0x00FF00u) << x << "," << y;
  ASSERT_TRUE(run.Close());
  EXPECT_EQ(run.WaitExit(), 0);
}

}  // namespace
