#include "window/status_panel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/var_store.h"
#include "window/draw/back_buffer.h"
#include "window/draw/draw.h"
#include "window/screen_flush.h"

namespace {

struct Rgb {
  uint8_t r, g, b;
};
constexpr Rgb kBoxBlue{100, 149, 237};
constexpr Rgb kLabel{255, 250, 205};
constexpr Rgb kMapGrey{240, 240, 240};
constexpr Rgb kLightGrey{220, 220, 220};
constexpr Rgb kDarkGrey{180, 180, 180};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kMidGreen{0, 200, 0};
constexpr Rgb kHeadGreen{0, 250, 0};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};

void Fill(int32_t x, int32_t y, int32_t w, int32_t h, Rgb c) {
  DrawRect(x, y, x + w, y + h, c.r, c.g, c.b, 1);
}
void Outline(int32_t x, int32_t y, int32_t w, int32_t h, Rgb c) {
  DrawRect(x, y, x + w, y + h, c.r, c.g, c.b, 0);
}
void Line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, Rgb c) {
  DrawLine(x1, y1, x2, y2, c.r, c.g, c.b);
}
void Text(int32_t x, int32_t y, const char* text, int32_t len, Rgb c, const char* family,
          int32_t size) {
  DrawTextAt(x, y, text, len, c.r, c.g, c.b, family, size);
}
void Textf(int32_t x, int32_t y, Rgb c, const char* fmt, int32_t value) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, fmt, value);
  Text(x, y, text, std::clamp(n, 0, static_cast<int>(sizeof text) - 1), c, "Arial", 12);
}
void Triangle(DrawPoint a, DrawPoint b, DrawPoint c, Rgb colour) {
  const DrawPoint points[3] = {a, b, c};
  DrawPolygon(points, 3, colour.r, colour.g, colour.b, 1);
}
void Disc(int32_t cx, int32_t cy, int32_t r, Rgb c) { DrawArc(cx, cy, r, 0, 360, c.r, c.g, c.b, 1); }

int32_t Percent(int64_t used, int64_t room) { return static_cast<int32_t>(used * 100 / room); }

// Text bytes at 1-based positions [from, from + n), within the buffer, with
// zero bytes left out (they hold no text to show).
PanelBytes TextBytes(int64_t from, int64_t n) {
  PanelBytes out{};
  for (int64_t p = from; p < from + n && out.len < 16; p++) {
    if (p < 0 || p > TEXT_SIZE) continue;
    if (sgRun.Text[p] != 0) out.bytes[out.len++] = sgRun.Text[p];
  }
  return out;
}

void DrawBytes(int32_t x, int32_t y, const PanelBytes& b, Rgb c) {
  if (b.len > 0) Text(x, y, b.bytes, b.len, c, "Arial", 12);
}

void ScriptBox(const PanelState& s, bool textsOnly) {
  Fill(643, 1, 80, 409, kBoxBlue);
  DrawPercentGauge(680, 35, 30, std::max(Percent(s.lines, 1024), Percent(s.scriptLen, 65536)));
  const int32_t top = s.mapTop;
  const int32_t shown = std::clamp(s.lines - top, 0, PANEL_MAP_LINES);
  Fill(647, 91, 7, shown, kGreen);
  Fill(655, 91, 65, 309, kMapGrey);
  for (int32_t k = 0; k < (textsOnly ? 0 : s.mapCount); k++) {
    const int32_t y = PANEL_MAP_Y + k;
    const PanelMapLine& line = s.map[k];
    if (line.id == 0) {
      Line(648, y, 653, y, kWhite);
    } else if (line.id < 0) {
      Line(648, y, 653, y, kRed);
    } else {
      const PanelRunBar bar = PanelRunBarOf(line.runs);
      const uint8_t g = static_cast<uint8_t>(bar.grey);
      Line(655, y, 655 + bar.length, y, Rgb{g, g, g});
      const int32_t errorBar = PanelErrorBarOf(line.errors, line.runs);
      if (line.errors > 0 && line.runs > 0) Line(655, y, 655 + errorBar, y, kRed);
    }
  }
  // The indicator marks the line before the current one: after a step, the
  // line that has just run.  Kept within the map.
  const int32_t m = std::clamp(s.current - top - 1, -1, PANEL_MAP_LINES + 1);
  const int32_t y = PANEL_MAP_Y + m;
  Line(655, y, 720, y, s.stepErrors > 0 ? kRed : kGreen);
  Fill(683, y + 1, 22, 12, kMapGrey);
  char label[16];
  std::snprintf(label, sizeof label, "%4d", m);
  Text(680, y, label, 4, kBlue, "Arial Narrow", 12);
}

void VarBox(const PanelState& s) {
  Fill(725, 1, 116, 212, kBoxBlue);
  DrawPercentGauge(807, 35, 30, std::max(Percent(s.varCount, 16384), Percent(s.varFill, 1048576)));
  Textf(727, 70, kLabel, "nms.lines = %d", s.nmsLines);
  Textf(727, 82, kLabel, "nms.errors = %d", s.nmsErrors);
  Textf(727, 94, kLabel, "run.errors = %d", s.runErrors);
  Textf(727, 106, kLabel, "run.seconds = %d", s.runSeconds);
  Textf(727, 118, kLabel, "step.errors = %d", s.stepErrors);
  Textf(727, 130, kLabel, "var.count = %d", s.varCount);
  Textf(727, 142, kLabel, "text.bytes = %d", s.textBytes);
  const char colons[] = "::::::::::::::::::::::::::";
  Text(727, 154, colons, sizeof colons - 1, kLabel, "Arial", 12);
  for (const PanelVarLine& v : s.vars)
    if (v.len >= 0) Text(727, v.y, v.text, v.len, kLabel, "Arial", 12);
}

void TextBox(const PanelState& s) {
  Fill(725, 215, 116, 195, kBoxBlue);
  DrawPercentGauge(807, 247, 30, Percent(s.textLen, 4194304));
  const char headName[] = "text.headpointer";
  Text(736, 280, headName, sizeof headName - 1, kGreen, "Arial", 12);
  Textf(736, 292, kGreen, "      = %d", s.head);
  Line(735, 280, 735, 318, kGreen);
  Triangle({735, 286}, {729, 280}, {729, 292}, kGreen);
  if (s.headShown) {
    DrawBytes(736, 310, s.headBytes, kHeadGreen);
    Outline(735, 309, 95, 17, kLightGrey);
  }
  if (s.tailShown) {
    DrawBytes(736, 362, s.tailBytes, kBlack);
    Outline(735, 360, 95, 18, kLightGrey);
  }
  const char tailName[] = "text.tailpointer";
  Text(748, 379, tailName, sizeof tailName - 1, kBlack, "Arial", 12);
  Textf(748, 391, kBlack, "      = %d", s.tail);
  Line(830, 361, 830, 402, kBlack);
  Triangle({830, 370}, {836, 364}, {836, 376}, kBlack);
}

void Titles(int32_t textLen) {
  Text(650, 70, "0.script", 8, kLabel, "Arial Narrow", 12);
  Text(726, 6, "1.var", 5, kLabel, "Arial Narrow", 12);
  Text(726, 217, "2.text", 6, kLabel, "Arial Narrow", 12);
  Text(726, 256, "text.bytes", 10, kLabel, "Arial", 12);
  Textf(726, 268, kLabel, " = %d", textLen);
}

void PointerBar(int32_t textLen, int32_t head, int32_t tail) {
  Fill(735, 340, 95, 12, kLightGrey);
  const int32_t headX = PanelPointerX(head, textLen);
  const int32_t tailX = PanelPointerX(tail, textLen);
  Line(headX, 328, headX, 360, kGreen);
  Triangle({headX, 334}, {headX - 6, 328}, {headX - 6, 340}, kGreen);
  Line(tailX, 328, tailX, 360, kBlack);
  Triangle({tailX, 334}, {tailX + 6, 328}, {tailX + 6, 340}, kBlack);
  if (tailX > headX) Fill(headX, 341, tailX - headX, 10, kGreen);
}

void Glyphs(int32_t runMode, int32_t steps) {
  Fill(643, 412, 198, 68, kBoxBlue);
  const bool running = runMode == RUNMODE_RUN;
  const Rgb pulse{0, static_cast<uint8_t>(steps % 2 == 0 ? 230 : 250), 0};
  const Rgb pill = running ? kLightGrey : kDarkGrey;
  const Rgb goText = running ? pulse : kBlack;
  const Rgb goArrow = running ? pulse : kMidGreen;
  const Rgb stepDisc = running ? kDarkGrey : kLightGrey;
  const Rgb stepMark = running ? kMidGreen : kGreen;
  Disc(677, 446, 30, pill);
  Disc(720, 446, 30, pill);
  DrawRect(677, 417, 720, 476, pill.r, pill.g, pill.b, 1);
  Text(670, 435, "Go", 2, goText, "Arial", 20);
  Triangle({710, 430}, {740, 446}, {710, 462}, goArrow);
  Disc(800, 446, 30, stepDisc);
  Triangle({785, 430}, {815, 446}, {785, 462}, stepMark);
  DrawRect(810, 430, 816, 462, stepMark.r, stepMark.g, stepMark.b, 1);
}

}  // namespace

int32_t PanelMapTop(int32_t currentLine, int32_t lines) {
  int32_t top = 0;
  if (currentLine > PANEL_MAP_LINES) {
    top = ((currentLine - 100) / 100) * 100;
    if (lines - top < PANEL_MAP_LINES) top = lines - PANEL_MAP_LINES;
  }
  return std::max(top, 0);
}

PanelRunBar PanelRunBarOf(int32_t runCount) {
  const int64_t runs = std::max(runCount, 0);
  return {static_cast<int32_t>(std::min<int64_t>(65, 2 * runs)),
          static_cast<int32_t>(std::max<int64_t>(10, 160 - runs))};
}

int32_t PanelErrorBarOf(int32_t errorSteps, int32_t runCount) {
  if (errorSteps <= 0 || runCount <= 0) return 0;
  return static_cast<int32_t>(static_cast<int64_t>(errorSteps) * std::min(65, runCount) / runCount);
}

int32_t PanelPointerX(int32_t pointer, int32_t textLen) {
  const int64_t len = std::max(textLen, 1);
  return static_cast<int32_t>(735 + static_cast<int64_t>(pointer) * 95 / len);
}

int32_t PanelClickMode(int32_t x, int32_t y) {
  if (y < 414 || y >= 464) return -1;
  if (x >= 677 && x < 741) return RUNMODE_RUN;
  if (x >= 780 && x < 830) return RUNMODE_STEP;
  return -1;
}

void PanelCapture(PanelState& s) {
  s.lines = std::clamp(sgNms.LineCount, 0, MAX_LINES);
  s.scriptLen = std::max(sgNms.ScriptLen, 0);
  s.current = sgRun.CurLine;
  s.mapTop = PanelMapTop(s.current, s.lines);
  const int32_t end = std::min({s.mapTop + PANEL_MAP_LINES, s.lines, MAX_LINES});
  s.mapCount = std::max(end - s.mapTop + 1, 0);
  for (int32_t k = 0; k < s.mapCount; k++) {
    const int32_t i = s.mapTop + k;
    s.map[k] = {sgNms.FunID[i], sgNms.RunCount[i], sgNms.ErrorSteps[i]};
  }
  s.nmsLines = sgNms.LineCount;
  s.nmsErrors = sgNms.ErrCount;
  s.runErrors = sgRun.RunErrors;
  s.runSeconds = sgRun.RunSeconds;
  s.stepErrors = sgRun.StepErrors;
  s.varCount = std::clamp(sgVar.Count, 0, VAR_SLOTS - 1);
  s.varFill = std::max(sgVar.Fill, 0);
  s.textBytes = sgRun.TextLen;
  for (int32_t j = 0; j < 3; j++) {
    PanelVarLine& v = s.vars[j];
    const int32_t k = s.varCount - 2 + j;
    v.len = -1;
    if (k < 1) continue;
    const int32_t nameLen = std::clamp(sgVar.NameLen[k], 0, VAR_NAME);
    const int32_t valueLen = std::clamp(sgVar.ValLen[k], 0, 20);
    if (sgVar.NameOff[k] < 0 || sgVar.ValOff[k] < 0 ||
        static_cast<int64_t>(sgVar.NameOff[k]) + nameLen > VAR_POOL_SIZE ||
        static_cast<int64_t>(sgVar.ValOff[k]) + valueLen > VAR_POOL_SIZE)
      continue;
    const int n = std::snprintf(v.text, sizeof v.text, "%.*s = %.*s", static_cast<int>(nameLen),
                                VarName(k), static_cast<int>(valueLen), VarValue(k));
    v.len = std::clamp(n, 0, static_cast<int>(sizeof v.text) - 1);
    v.y = 190 + 12 * (k - s.varCount);
  }
  s.textLen = std::clamp(sgRun.TextLen, 0, TEXT_SIZE);
  s.head = std::clamp(sgRun.headPointer, 0, TEXT_SIZE);
  s.tail = std::clamp(sgRun.tailPointer, 0, TEXT_SIZE);
  const int64_t headBytes = std::min<int64_t>(16, static_cast<int64_t>(s.textLen) - s.head);
  s.headShown = headBytes > 0;
  s.headBytes = s.headShown ? TextBytes(s.head, headBytes) : PanelBytes{};
  const int64_t tailBytes = std::min<int64_t>(16, s.tail);
  s.tailShown = tailBytes > 0;
  s.tailBytes = s.tailShown ? TextBytes(static_cast<int64_t>(s.tail) - tailBytes, tailBytes) : PanelBytes{};
  s.runMode = sgRun.RunMode;
  s.runSteps = sgRun.RunSteps;
}

void PanelDraw(const PanelState& s, bool textsOnly) {
  ScriptBox(s, textsOnly);
  VarBox(s);
  TextBox(s);
  Titles(s.textLen);
  if (!textsOnly) PointerBar(s.textLen, s.head, s.tail);
  Glyphs(s.runMode, s.runSteps);
}

void DrawStatusPanel() {
  if (!DrawingEnabled()) return;
  PanelState s;
  PanelCapture(s);
  PanelDraw(s);
  ScreenFlush();
}
