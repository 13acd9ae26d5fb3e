// The runner thread without a display: closing the window while it waits,
// and what a watched run leaves shown.
#include <cairo.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/family.h"
#include "engine/core/run_state.h"
#include "engine/log/log.h"
#include "tests/engine/harness.h"
#include "window/draw/draw.h"
#include "tests/window/harness_display.h"
#include "window/draw/back_buffer.h"
#include "window/frame.h"
#include "window/output_pane.h"
#include "window/script_thread.h"
#include "window/status_panel.h"
#include "window/window_state.h"

TEST(RunnerThread, ClosingTheWindowEndsAWaitingRunner) {
  tarvtest::TempDir dir;
  tarvtest::Start(dir, "# 1\n# 2\n", "debug");
  WindowStateReset();
  StepEventInit();
  std::thread runner(ScriptThread);
  ASSERT_TRUE(tarvtest::WaitFor(StepEventWaiting));
  StepEventClose();
  runner.join();
  EXPECT_EQ(sgRun.RunSteps, 0);
  EXPECT_EQ(sgWin.threadEnded.load(), 0);  // the run did not end: no end-of-run report
}

// A watched run: the runner publishes, the test stands for the window's
// thread and draws frames when it likes.  What the window shows after a
// pause and at the end must be what drawing every step would leave.
namespace {

struct Edit {
  std::string text;
  int clears = 0;
};
Edit gShown;  // what the frames handed to the edit
Edit gSent;   // every pane call as the runner made it
std::string gBanner;

void ShownClear() {
  gShown.text.clear();
  gShown.clears++;
}
void ShownAppend(const char* text, int len) { gShown.text.append(text, len); }
constexpr EditTarget kShown = {ShownClear, ShownAppend};
void SentClear() {
  gSent.text.clear();
  gSent.clears++;
  FramePaneTarget()->Clear();
}
void SentAppend(const char* text, int len) {
  gSent.text.append(text, len);
  FramePaneTarget()->Append(text, len);
}
constexpr EditTarget kSent = {SentClear, SentAppend};
void Banner(const char* text, int len) {
  gBanner.assign(text, len);
  FrameBanner(text, len);
}
bool Showing() { return true; }
constexpr EngineObserver kObserver = {Showing, EditAppend, EditLog, Banner, nullptr, nullptr};

std::string Loop(int passes) {
  return "var {i} value {0}\nloop.begin\nvar {i} add number {1}\nif.var {i} >= {" +
         std::to_string(passes) + "}\nloop.exit\nif.end\nloop.next\nloop.end\ntext.add {done}\n";
}

int32_t Steps() { return std::atomic_ref<int32_t>(sgRun.RunSteps).load(); }

constexpr uint32_t kLightGrey = 0xDCDCDC, kDarkGrey = 0xB4B4B4;

class WatchedRun : public ::testing::Test {
 protected:
  void Begin(const std::string& script) {
    tarvtest::Start(dir_, script, "debug");
    ASSERT_TRUE(BackBufferCreate());
    gShown = {};
    gSent = {};
    gBanner.clear();
    WindowStateReset();
    StepEventInit();
    FrameReset();
    EditSetTarget(&kSent);
    TarvSetObserver(&kObserver);
    DrawStatusPanel();
    runner_ = std::thread(ScriptThread);
    ASSERT_TRUE(tarvtest::WaitFor(StepEventWaiting));
  }
  void TearDown() override {
    // A runner still running step after step stops at its next wait.
    RunModeCommand(RUNMODE_STEP);
    StepEventClose();
    if (runner_.joinable()) runner_.join();
    FrameReset();
    BackBufferSetBeforeDraw(nullptr);
    TarvSetObserver(nullptr);
    EditSetTarget(nullptr);
    BackBufferDestroy();
    WindowStateReset();
  }
  static void Frame() {
    FrameDraw();
    FrameTakePane(kShown);
  }
  // The screen, panel and banner bar as the window shows them, but the
  // columns right of the panel, where long texts run over.
  static std::vector<uint32_t> Shown() {
    std::vector<uint32_t> px;
    BackBufferReadRegion(0, 0, 841, 511, px);
    return px;
  }
  // The same after the last banner and the panel are drawn from the run's
  // state as it is, as the window once drew after every step.
  static std::vector<uint32_t> DrawnEveryStep() {
    DrawBannerBar(gBanner.data(), static_cast<int>(gBanner.size()));
    DrawStatusPanel();
    return Shown();
  }
  static int Differing(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size()) return -1;
    int n = 0;
    for (size_t i = 0; i < a.size(); i++) n += a[i] != b[i];
    return n;
  }
  tarvtest::TempDir dir_;
  std::thread runner_;
};

TEST_F(WatchedRun, AContinuousRunEndsShowingWhatEveryStepWouldHave) {
  Begin(Loop(300));
  RunModeCommand(RUNMODE_RUN);
  ASSERT_TRUE(tarvtest::WaitFor([] {
    Frame();
    return sgWin.threadEnded.load() != 0;
  }));
  runner_.join();
  EXPECT_GT(Steps(), 1500);
  Frame();
  // The pane's text went through several automatic clears; the frames
  // show the same text as every append would.
  EXPECT_GE(gSent.clears, 2);
  EXPECT_GE(gShown.clears, 1);
  EXPECT_NE(gShown.text.find("text.add length=[4]"), std::string::npos);
  EXPECT_EQ(gShown.text, gSent.text);
  const std::vector<uint32_t> shown = Shown();
  EXPECT_EQ(Differing(shown, DrawnEveryStep()), 0);
  EXPECT_NE(gBanner.find("text.add"), std::string::npos) << gBanner;

  // Once the runner has gone, a page is shown at once.
  sgWin.editChars = 0;
  PageRequest(ID_SHOW_TEXT);
  Frame();
  EXPECT_EQ(gShown.text.rfind("Display Text: Type = 91, Page = 0 .\nText : Total 4 bytes.", 0), 0u)
      << gShown.text;
}

TEST_F(WatchedRun, APausedRunShowsItsLastStepInTheStepColoursAtOnce) {
  Begin(Loop(100000000));
  RunModeCommand(RUNMODE_RUN);
  // Frames drawn while it runs show the continuous run's light Go pill.
  ASSERT_TRUE(tarvtest::WaitFor([] {
    Frame();
    return Steps() > 300 && BackBufferPixel(700, 470) == kLightGrey;
  }));
  RunModeCommand(RUNMODE_STEP);
  ASSERT_TRUE(tarvtest::WaitFor([] { return StepEventWaiting() && sgRun.RunMode == RUNMODE_STEP; }));
  // No frame drawn by the window's side yet: the pause drew itself.
  EXPECT_EQ(BackBufferPixel(700, 470), kDarkGrey);
  EXPECT_EQ(BackBufferPixel(800, 420), kLightGrey);
  const int32_t paused = Steps();
  EXPECT_EQ(Differing(Shown(), DrawnEveryStep()), 0);
  Frame();
  EXPECT_EQ(gShown.text, gSent.text);

  // One more step by click: the same holds after it.  From an empty count:
  // the pane's automatic clear must not cut the step's first line.
  sgWin.editChars = 0;
  RunModeCommand(RUNMODE_STEP);
  ASSERT_TRUE(tarvtest::WaitFor([paused] { return Steps() == paused + 1 && StepEventWaiting(); }));
  EXPECT_EQ(Differing(Shown(), DrawnEveryStep()), 0);
  Frame();
  EXPECT_EQ(gShown.text, gSent.text);
  // The step's line names the steps run before it.
  EXPECT_NE(gShown.text.find("run.steps: [" + std::to_string(paused) + "]"), std::string::npos);

  // A page asked for while the runner waits is shown by it (from an empty
  // count, so that no automatic clear cuts the page).
  sgWin.editChars = 0;
  PageRequest(ID_SHOW_VAR);
  ASSERT_TRUE(tarvtest::WaitFor([] {
    Frame();
    return gShown.text.rfind("Display Var: Type = 92, Page = 0 .\n", 0) == 0;
  }));
  EXPECT_NE(gShown.text.find(" i=["), std::string::npos) << gShown.text;
}

// A continuous run shows its progress at the display's frame rate: frames
// drawn for three seconds of the run find a new panel many times over.
TEST_F(WatchedRun, AContinuousRunShowsItsProgressAtTheFrameRate) {
  Begin(Loop(100000000));
  RunModeCommand(RUNMODE_RUN);
  std::vector<uint32_t> shown, panel;
  int changes = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < end) {
    Frame();
    BackBufferReadRegion(643, 1, 198, 479, panel);
    if (panel != shown) changes++, shown.swap(panel);
    tarvtest::SleepMs(5);
  }
  EXPECT_GE(changes, 10);
}

// Texts that run out of the panel's boxes and the banner bar: a long
// variable line, values and text bytes holding line breaks, a script line
// wider than the bar; some change each pass, some stay.  At the end,
// drawing over where they ran out.
std::string Overflowing(int passes) {
  return "var {i} value {0}\n"
         "screen.set color red {0} green {128} blue {0}\nscreen.set mode {fill}\n"
         "text.add {|%0a|%0a|%0a|%0a|%0a|%0a|%0a|%0a|%0a|}\n"
         "text.headpointer move to head\n"
         "loop.begin\n"
         "var {i} add number {1}\n"
         "var {reply} value {HTTP/1.1%0d%0aN:~i~}\n"
         "var {a_long_variable_name_that_runs_far_out_of_its_box} value {WWWWWWWWWWWWWWW}\n"
         "if.var {i} >= {" + std::to_string(passes) + "}\n"
         "loop.exit\n"
         "if.end\n"
         "text.headpointer move right {1} bytes # and a comment long enough to run the step's line "
         "out of the banner bar's right end, WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW\n"
         "loop.next\n"
         "loop.end\n"
         "screen.rect from point {838} {150} to point {850} {200}\n"
         "text.headpointer move to head\n";
}

void NoClear() {}
void NoAppend(const char*, int) {}
constexpr EditTarget kNoPane = {NoClear, NoAppend};
void BannerAtOnce(const char* text, int len) { DrawBannerBar(text, len); }
constexpr EngineObserver kAtOnce = {Showing, EditAppend, EditLog, BannerAtOnce, nullptr, nullptr};

std::vector<uint32_t> WholeBuffer() {
  std::vector<uint32_t> px;
  BackBufferReadRegion(0, 0, BackBufferWidth(), BackBufferHeight(), px);
  return px;
}

// The same script drawn the way the window once drew it: the banner bar at
// each step's start, the whole panel after each step and after the end.
// With `steps`, the run pauses after so many, its panel in the step colours.
// The last panel shows `seconds` run, as the run compared with showed.
std::vector<uint32_t> DrawnStepByStep(const tarvtest::TempDir& dir, const std::string& script,
                                      int32_t seconds, int32_t steps = -1) {
  tarvtest::Start(dir, script, "debug");
  if (!BackBufferCreate()) return {};
  WindowStateReset();
  EditSetTarget(&kNoPane);
  TarvSetObserver(&kAtOnce);
  DrawStatusPanel();
  while (sgRun.StepRunState != RUNEND && sgRun.RunSteps != steps) {
    sgRun.RunMode = RUNMODE_RUN;
    EsRunNextStep();
    if (sgRun.RunSteps == steps) {
      sgRun.RunMode = RUNMODE_STEP;
      sgRun.RunSeconds = seconds;
    }
    DrawStatusPanel();
  }
  if (steps < 0) {
    TarvFamiliesEndOfRun();
    EsRunEnd(false);
    TarvCloseLog();
    sgRun.RunSeconds = seconds;
    DrawStatusPanel();
  }
  std::vector<uint32_t> px = WholeBuffer();
  TarvSetObserver(nullptr);
  EditSetTarget(nullptr);
  BackBufferDestroy();
  return px;
}

// Ink (not white) within the columns and rows given.
int InkIn(const std::vector<uint32_t>& px, int x1, int y1, int x2, int y2) {
  int n = 0;
  for (int y = y1; y < y2; y++)
    for (int x = x1; x < x2; x++) n += px[static_cast<size_t>(y) * BACK_WIDTH + x] != 0xFFFFFF;
  return n;
}

TEST_F(WatchedRun, TextsRunningOutOfTheirBoxesLeaveWhatDrawingEveryStepLeft) {
  for (int passes : {3, 40}) {
    const std::string script = Overflowing(passes);
    Begin(script);
    RunModeCommand(RUNMODE_RUN);
    ASSERT_TRUE(tarvtest::WaitFor([] {
      Frame();
      return sgWin.threadEnded.load() != 0;
    }));
    runner_.join();
    Frame();
    const std::vector<uint32_t> shown = WholeBuffer();
    const int32_t seconds = sgRun.RunSeconds;
    TearDown();

    const std::vector<uint32_t> want = DrawnStepByStep(dir_, script, seconds);
    ASSERT_EQ(want.size(), static_cast<size_t>(BACK_WIDTH) * BACK_HEIGHT);
    // The run leaves ink right of the panel and bar, between the boxes,
    // and below the panel.
    EXPECT_GT(InkIn(want, 841, 0, BACK_WIDTH, 212), 0) << passes;
    EXPECT_GT(InkIn(want, 841, 482, BACK_WIDTH, 510), 0) << passes;
    EXPECT_GT(InkIn(want, 725, 213, 841, 215), 0) << passes;
    EXPECT_GT(InkIn(want, 725, 410, 841, 412), 0) << passes;
    EXPECT_EQ(Differing(shown, want), 0) << passes;
  }
}

TEST_F(WatchedRun, APausedRunShowsTheInkOutOfItsBoxesOfEveryStep) {
  const std::string script = Overflowing(100000000);
  Begin(script);
  RunModeCommand(RUNMODE_RUN);
  ASSERT_TRUE(tarvtest::WaitFor([] {
    Frame();
    return Steps() > 200;
  }));
  RunModeCommand(RUNMODE_STEP);
  ASSERT_TRUE(tarvtest::WaitFor([] { return StepEventWaiting() && sgRun.RunMode == RUNMODE_STEP; }));
  Frame();
  const int32_t paused = Steps(), seconds = sgRun.RunSeconds;
  const std::vector<uint32_t> shown = WholeBuffer();
  TearDown();
  const std::vector<uint32_t> want = DrawnStepByStep(dir_, script, seconds, paused);
  EXPECT_GT(InkIn(want, 841, 0, BACK_WIDTH, 212), 0);
  EXPECT_EQ(Differing(shown, want), 0) << paused;
}

std::vector<uint32_t> PngPixels(const std::string& path) {
  std::vector<uint32_t> out;
  cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(png) == CAIRO_STATUS_SUCCESS) {
    const int stride = cairo_image_surface_get_stride(png);
    const unsigned char* data = cairo_image_surface_get_data(png);
    for (int y = 0; y < cairo_image_surface_get_height(png); y++)
      for (int x = 0; x < cairo_image_surface_get_width(png); x++)
        out.push_back(reinterpret_cast<const uint32_t*>(data + y * stride)[x] & 0xFFFFFF);
  }
  cairo_surface_destroy(png);
  return out;
}

// What a step saves of the panel is the panel after the step before, as
// when every step drew it, however long ago the last frame was drawn.
TEST_F(WatchedRun, AStepSavingThePanelMeetsItAsTheStepBeforeLeftIt) {
  const std::string saved = dir_.File("panel.png"), watched = dir_.File("watched.png");
  const std::string script = Loop(40) + "text.headpointer move to head\n"
                             "screen.save to file {" + saved + "} from point {643} {215} to point {841} {410}\n";
  Begin(script);
  RunModeCommand(RUNMODE_RUN);
  ASSERT_TRUE(tarvtest::WaitFor([] { return sgWin.threadEnded.load() != 0; }));
  runner_.join();
  TearDown();
  std::filesystem::rename(saved, watched);
  ASSERT_FALSE(DrawnStepByStep(dir_, script, 0).empty());
  const std::vector<uint32_t> want = PngPixels(saved);
  ASSERT_EQ(want.size(), 198u * 195u);
  EXPECT_EQ(Differing(PngPixels(watched), want), 0);
}

}  // namespace
