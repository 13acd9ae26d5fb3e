// The status panel right of the screen: the script map, the counters and
// last variables, the text buffer's pointers, and the Go and step glyphs
// that double as buttons.
#pragma once
#include <cstdint>

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

// Redraws the whole panel into the back buffer, then flushes; nothing in the
// hide mode.
void DrawStatusPanel();
