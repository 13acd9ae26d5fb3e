// The status panel's figures and click zones.
#include <gtest/gtest.h>

#include "engine/core/run_state.h"
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
