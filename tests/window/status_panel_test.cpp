// The status panel's figures and click zones.
#include <gtest/gtest.h>

#include "engine/core/run_state.h"
#include "engine/core/text_buffer.h"
#include "tests/engine/harness.h"
#include "window/draw/back_buffer.h"
#include "window/status_panel.h"

namespace {

TEST(StatusPanel, MapWindowFollowsTheCurrentLine) {
  const struct {
    int current, lines, top;
  } cases[] = {{1, 10, 0}, {300, 1000, 0}, {301, 1000, 200}, {450, 1000, 300},
               {990, 1000, 700}, {1023, 1023, 723}, {350, 120, 0}};
  for (const auto& c : cases) EXPECT_EQ(PanelMapTop(c.current, c.lines), c.top) << c.current;
}

TEST(StatusPanel, RunBarsDarkenAndCarryTheirErrors) {
  const struct {
    int runs, length, grey;
  } bars[] = {{0, 0, 160}, {1, 2, 159}, {40, 65, 120}, {200, 65, 10}, {-3, 0, 160}};
  for (const auto& b : bars) {
    const PanelRunBar bar = PanelRunBarOf(b.runs);
    EXPECT_EQ(bar.length, b.length) << b.runs;
    EXPECT_EQ(bar.grey, b.grey) << b.runs;
  }
  EXPECT_EQ(PanelErrorBarOf(10, 40), 10);
  EXPECT_EQ(PanelErrorBarOf(40, 40), 40);
  EXPECT_EQ(PanelErrorBarOf(200, 200), 65);
  EXPECT_EQ(PanelErrorBarOf(0, 40), 0);
  EXPECT_EQ(PanelErrorBarOf(3, 0), 0);
}

TEST(StatusPanel, PointerPositionsOnTheBar) {
  EXPECT_EQ(PanelPointerX(0, 0), 735);
  EXPECT_EQ(PanelPointerX(50, 100), 782);
  EXPECT_EQ(PanelPointerX(TEXT_SIZE, TEXT_SIZE), 830);  // no overflow at the largest text
}

TEST(StatusPanel, ClickZones) {
  const struct {
    int x, y, mode;
  } clicks[] = {{677, 414, RUNMODE_RUN},  {740, 463, RUNMODE_RUN},  {741, 440, -1},
                {676, 440, -1},           {780, 414, RUNMODE_STEP}, {829, 463, RUNMODE_STEP},
                {830, 440, -1},           {700, 413, -1},           {800, 464, -1}};
  for (const auto& c : clicks) EXPECT_EQ(PanelClickMode(c.x, c.y), c.mode) << c.x << "," << c.y;
}

}  // namespace

namespace {

class PanelPixels : public ::testing::Test {
 protected:
  void SetUp() override {
    tarvtest::Start(dir_, "# 1\n# 2\n# 3\n", "debug");
    ASSERT_TRUE(BackBufferCreate());
  }
  void TearDown() override { BackBufferDestroy(); }
  tarvtest::TempDir dir_;
};

TEST_F(PanelPixels, IndicatorGlyphsAndPointerBytes) {
  // (The panel before the first step is read from the screen by WindowBinary.)
  sgRun.CurLine = 3;
  sgRun.StepErrors = 1;
  sgRun.RunMode = RUNMODE_RUN;
  const struct {
    int steps;
    uint32_t go;
  } pulses[] = {{4, 0x00E600u}, {5, 0x00FA00u}};
  for (const auto& p : pulses) {
    sgRun.RunSteps = p.steps;
    DrawStatusPanel();
    EXPECT_EQ(BackBufferPixel(715, 92), 0xFF0000u);  // the line before line 3, with errors
    EXPECT_EQ(BackBufferPixel(720, 446), p.go) << p.steps;  // inside the Go arrow
    EXPECT_EQ(BackBufferPixel(700, 470), 0xDCDCDCu);
  }

  // Zero bytes at the head pointer are not drawn: the box stays blue inside.
  const char zeros[16] = {};
  ASSERT_EQ(TextAdd(zeros, 16), 16);
  DrawStatusPanel();
  int inked = 0;
  for (int y = 311; y < 325; y++)
    for (int x = 737; x < 829; x++) inked += BackBufferPixel(x, y) != 0x6495EDu;
  EXPECT_EQ(inked, 0);
}

}  // namespace
