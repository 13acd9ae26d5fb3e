// The status panel right of the screen: the script map, the counters and
// last variables, the text buffer's pointers, and the Go and step glyphs
// that double as buttons.
#pragma once
#include <array>
#include <cstdint>

#include "engine/core/var_store.h"

inline constexpr int PANEL_MAP_LINES = 300;   // script lines the map shows below its top
inline constexpr int PANEL_MAP_Y = 90;        // row of the map's top line

// The first script line the map shows for the current line.
int32_t PanelMapTop(int32_t currentLine, int32_t lines);

// A line's run bar: its length from x 655 and its grey level.
struct PanelRunBar {
  int32_t length;
  int32_t grey;
};
PanelRunBar PanelRunBarOf(int32_t runCount);
// The length of the red error part of a run bar (0 when nothing to draw).
int32_t PanelErrorBarOf(int32_t errorSteps, int32_t runCount);
// The x of a text pointer on the pointer bar.
int32_t PanelPointerX(int32_t pointer, int32_t textLen);
// The run mode a click at (x, y) asks for: RUNMODE_RUN on the Go glyph,
// RUNMODE_STEP on the step glyph, -1 elsewhere.
int32_t PanelClickMode(int32_t x, int32_t y);

// What the panel shows, read from the run's state by the thread that runs
// it, so that another thread can draw it while the run goes on.
struct PanelMapLine {
  int32_t id;
  int32_t runs;
  int32_t errors;
};
struct PanelVarLine {
  char text[VAR_NAME + 24];
  int32_t len;  // -1: no line
  int32_t y;
};
struct PanelBytes {
  char bytes[16];
  int32_t len;
};
struct PanelState {
  int32_t lines, scriptLen, current, mapTop, mapCount;
  std::array<PanelMapLine, PANEL_MAP_LINES + 1> map;  // lines mapTop .. mapTop + mapCount - 1
  int32_t nmsLines, nmsErrors, runErrors, runSeconds, stepErrors, varCount, varFill, textBytes;
  std::array<PanelVarLine, 3> vars;  // the last three variables
  int32_t textLen, head, tail;
  bool headShown, tailShown;
  PanelBytes headBytes, tailBytes;
  int32_t runMode, runSteps;
};
void PanelCapture(PanelState& state);
// Draws the whole panel into the back buffer (no flush); with textsOnly,
// leaves out the map's lines and the pointer bar, which hold no text.
void PanelDraw(const PanelState& state, bool textsOnly = false);

// Redraws the whole panel from the run's state into the back buffer, then
// flushes; nothing in the hide mode.
void DrawStatusPanel();
