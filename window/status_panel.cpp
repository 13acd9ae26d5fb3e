#include "window/status_panel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

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
void TextBytes(int32_t x, int32_t y, int64_t from, int64_t n, Rgb c) {
  char bytes[17];
  int len = 0;
  for (int64_t p = from; p < from + n && len < 16; p++) {
    if (p < 0 || p > TEXT_SIZE) continue;
    if (sgRun.Text[p] != 0) bytes[len++] = sgRun.Text[p];
  }
  if (len > 0) Text(x, y, bytes, len, c, "Arial", 12);
}

void ScriptBox(int32_t lines, int32_t current) {
  Fill(643, 1, 80, 409, kBoxBlue);
  DrawPercentGauge(680, 35, 30,
                   std::max(Percent(lines, 1024), Percent(std::max(sgNms.ScriptLen, 0), 65536)));
  const int32_t top = PanelMapTop(current, lines);
  const int32_t shown = std::clamp(lines - top, 0, PANEL_MAP_LINES);
  Fill(647, 91, 7, shown, kGreen);
  Fill(655, 91, 65, 309, kMapGrey);
  const int32_t end = std::min({top + PANEL_MAP_LINES, lines, MAX_LINES});
  for (int32_t i = top; i <= end; i++) {
    const int32_t y = PANEL_MAP_Y + (i - top);
    const int32_t id = sgNms.FunID[i];
    if (id == 0) {
      Line(648, y, 653, y, kWhite);
    } else if (id < 0) {
      Line(648, y, 653, y, kRed);
    } else {
      const int32_t runs = sgNms.RunCount[i];
      const PanelRunBar bar = PanelRunBarOf(runs);
      const uint8_t g = static_cast<uint8_t>(bar.grey);
      Line(655, y, 655 + bar.length, y, Rgb{g, g, g});
      const int32_t errorBar = PanelErrorBarOf(sgNms.ErrorSteps[i], runs);
      if (sgNms.ErrorSteps[i] > 0 && runs > 0) Line(655, y, 655 + errorBar, y, kRed);
    }
  }
  // The indicator marks the line before the current one: after a step, the
  // line that has just run.  Kept within the map.
  const int32_t m = std::clamp(current - top - 1, -1, PANEL_MAP_LINES + 1);
  const int32_t y = PANEL_MAP_Y + m;
  Line(655, y, 720, y, sgRun.StepErrors > 0 ? kRed : kGreen);
  Fill(683, y + 1, 22, 12, kMapGrey);
  char label[16];
  std::snprintf(label, sizeof label, "%4d", m);
  Text(680, y, label, 4, kBlue, "Arial Narrow", 12);
}

void VarBox() {
  Fill(725, 1, 116, 212, kBoxBlue);
  const int32_t count = std::clamp(sgVar.Count, 0, VAR_SLOTS - 1);
  DrawPercentGauge(807, 35, 30,
                   std::max(Percent(count, 16384), Percent(std::max(sgVar.Fill, 0), 1048576)));
  Textf(727, 70, kLabel, "nms.lines = %d", sgNms.LineCount);
  Textf(727, 82, kLabel, "nms.errors = %d", sgNms.ErrCount);
  Textf(727, 94, kLabel, "run.errors = %d", sgRun.RunErrors);
  Textf(727, 106, kLabel, "run.seconds = %d", sgRun.RunSeconds);
  Textf(727, 118, kLabel, "step.errors = %d", sgRun.StepErrors);
  Textf(727, 130, kLabel, "var.count = %d", count);
  Textf(727, 142, kLabel, "text.bytes = %d", sgRun.TextLen);
  const char colons[] = "::::::::::::::::::::::::::";
  Text(727, 154, colons, sizeof colons - 1, kLabel, "Arial", 12);
  for (int32_t k = count - 2; k <= count; k++) {
    if (k < 1) continue;
    const int32_t nameLen = std::clamp(sgVar.NameLen[k], 0, VAR_NAME);
    const int32_t valueLen = std::clamp(sgVar.ValLen[k], 0, 20);
    if (sgVar.NameOff[k] < 0 || sgVar.ValOff[k] < 0 ||
        static_cast<int64_t>(sgVar.NameOff[k]) + nameLen > VAR_POOL_SIZE ||
        static_cast<int64_t>(sgVar.ValOff[k]) + valueLen > VAR_POOL_SIZE)
      continue;
    const std::string_view name(VarName(k), nameLen);
    const std::string_view value(VarValue(k), valueLen);
    char line[VAR_NAME + 24];
    const int n = std::snprintf(line, sizeof line, "%.*s = %.*s", static_cast<int>(name.size()),
                                name.data(), static_cast<int>(value.size()), value.data());
    Text(727, 190 + 12 * (k - count), line,
         std::clamp(n, 0, static_cast<int>(sizeof line) - 1), kLabel, "Arial", 12);
  }
}

void TextBox(int32_t textLen, int32_t head, int32_t tail) {
  Fill(725, 215, 116, 195, kBoxBlue);
  DrawPercentGauge(807, 247, 30, Percent(textLen, 4194304));
  const char headName[] = "text.headpointer";
  Text(736, 280, headName, sizeof headName - 1, kGreen, "Arial", 12);
  Textf(736, 292, kGreen, "      = %d", head);
  Line(735, 280, 735, 318, kGreen);
  Triangle({735, 286}, {729, 280}, {729, 292}, kGreen);
  const int64_t headBytes = std::min<int64_t>(16, static_cast<int64_t>(textLen) - head);
  if (headBytes > 0) {
    TextBytes(736, 310, head, headBytes, kHeadGreen);
    Outline(735, 309, 95, 17, kLightGrey);
  }
  const int64_t tailBytes = std::min<int64_t>(16, tail);
  if (tailBytes > 0) {
    TextBytes(736, 362, static_cast<int64_t>(tail) - tailBytes, tailBytes, kBlack);
    Outline(735, 360, 95, 18, kLightGrey);
  }
  const char tailName[] = "text.tailpointer";
  Text(748, 379, tailName, sizeof tailName - 1, kBlack, "Arial", 12);
  Textf(748, 391, kBlack, "      = %d", tail);
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

void DrawStatusPanel() {
  if (!DrawingEnabled()) return;
  const int32_t lines = std::clamp(sgNms.LineCount, 0, MAX_LINES);
  const int32_t textLen = std::clamp(sgRun.TextLen, 0, TEXT_SIZE);
  const int32_t head = std::clamp(sgRun.headPointer, 0, TEXT_SIZE);
  const int32_t tail = std::clamp(sgRun.tailPointer, 0, TEXT_SIZE);
  ScriptBox(lines, sgRun.CurLine);
  VarBox();
  TextBox(textLen, head, tail);
  Titles(textLen);
  PointerBar(textLen, head, tail);
  Glyphs(sgRun.RunMode, sgRun.RunSteps);
  ScreenFlush();
}
