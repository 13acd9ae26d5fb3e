// The status panel's figures and click zones.
#include <gtest/gtest.h>

#include "engine/core/run_state.h"
#include "engine/core/text_buffer.h"
#include "tests/engine/harness.h"
#include "tests/services/case_rows.h"
#include "window/draw/back_buffer.h"
#include "window/status_panel.h"

namespace {

// panel.tsv: the map's window on the lines, the run bars and the click zones.
TEST(StatusPanel, FiguresAndClickZones) {
  for (const auto& row : tarvtest::LoadRows("window/panel.tsv")) {
    const int a = std::stoi(row[1]), b = std::stoi(row[2]), c = std::stoi(row[3]);
    SCOPED_TRACE(row[0] + " " + row[1] + " " + row[2]);
    if (row[0] == "bar") {
      EXPECT_EQ(PanelRunBarOf(a).length, b);
      EXPECT_EQ(PanelRunBarOf(a).grey, c);
    } else {
      EXPECT_EQ(row[0] == "map" ? PanelMapTop(a, b) : PanelClickMode(a, b), c);
    }
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
