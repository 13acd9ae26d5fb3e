#include "window/spill.h"

#include <algorithm>
#include <climits>
#include <string>
#include <unordered_map>
#include <vector>

#include "window/draw/back_buffer.h"
#include "window/status_panel.h"

namespace {

// One text of the panel as last drawn, with the box its ink may take.
struct Measured {
  int32_t x, y, size;
  uint8_t red, green, blue;
  std::string family, text;
  DrawBox ink;
  // The ink's place and shape, whatever its colour.
  bool SameInk(const DrawnText& t) const {
    return x == t.x && y == t.y && size == t.size && family == t.family &&
           text.size() == static_cast<size_t>(t.len) && text.compare(0, text.size(), t.text, text.size()) == 0;
  }
  bool operator==(const Measured& o) const {
    return x == o.x && y == o.y && size == o.size && red == o.red && green == o.green && blue == o.blue &&
           family == o.family && text == o.text;
  }
};

// Texts last drawn out of the boxes.  Drawing the same again on pixels
// nothing has touched since changes none once it changed none: then it is
// left out, which makes a text that keeps running out cost nothing.
struct Drawn {
  std::vector<Measured> texts;
  bool changedNone = false;
  uint64_t accesses = 0;  // the buffer's count after them
};

// Runner thread only.
std::vector<Measured> gPanel;  // the panel's texts in drawing order
size_t gCaptured = 0;
std::vector<Measured> gOut;  // those whose ink leaves every box
Drawn gPanelDrawn, gBannerDrawn;
// The bar's texts measured: a script's lines, so few; bounded all the same.
std::unordered_map<std::string, DrawBox> gBanners;
constexpr size_t kBannersKept = 1024;
PanelState gState;
bool gStateDrawn = true;
// Set while ink is drawn here: outside the boxes, where no frame draws, so
// nothing waiting to be drawn need go first.
thread_local bool tSpilling = false;
thread_local bool tRunner = false;

bool WithinOneBox(const DrawBox& ink, const DrawBox* boxes, int count) {
  if (ink.x2 <= ink.x1 || ink.y2 <= ink.y1) return true;  // no ink
  for (int i = 0; i < count; ++i)
    if (DrawBoxWithin(ink, boxes[i])) return true;
  return false;
}

void Take(const DrawnText& t, void*) {
  const size_t i = gCaptured++;
  if (i < gPanel.size() && gPanel[i].SameInk(t)) {
    gPanel[i].red = t.red, gPanel[i].green = t.green, gPanel[i].blue = t.blue;
    return;
  }
  Measured m{t.x, t.y, t.size, t.red, t.green, t.blue, t.family != nullptr ? t.family : "",
             std::string(t.text != nullptr ? t.text : "", static_cast<size_t>(std::max(t.len, 0))), {}};
  // Measured only when the quick bound leaves its box.
  if (!DrawTextInkBound(t.x, t.y, t.text, t.len, t.family, t.size, m.ink) ||
      !WithinOneBox(m.ink, kPanelBoxes, kPanelBoxCount))
    m.ink = DrawTextInk(t.x, t.y, t.text, t.len, t.family, t.size);
  if (i < gPanel.size())
    gPanel[i] = std::move(m);
  else
    gPanel.push_back(std::move(m));
}

// The ink boxes' union within the buffer.
bool InkArea(const std::vector<Measured>& texts, DrawBox& area) {
  area = {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (const Measured& m : texts)
    area = {std::min(area.x1, m.ink.x1), std::min(area.y1, m.ink.y1), std::max(area.x2, m.ink.x2),
            std::max(area.y2, m.ink.y2)};
  area = {std::max(area.x1, 0), std::max(area.y1, 0), std::min(area.x2, BackBufferWidth()),
          std::min(area.y2, BackBufferHeight())};
  return area.x1 < area.x2 && area.y1 < area.y2;
}

std::vector<uint32_t> Peek(bool any, const DrawBox& a) {
  std::vector<uint32_t> px;
  if (any) BackBufferPeekRegion(a.x1, a.y1, a.x2 - a.x1, a.y2 - a.y1, px);
  return px;
}

bool Meet(const DrawBox& a, const DrawBox& b) {
  return a.x1 < b.x2 && b.x1 < a.x2 && a.y1 < b.y2 && b.y1 < a.y2;
}

// Draws the texts away from the boxes, unless `last` shows it would change
// nothing.  Where the bar may wait to be drawn beneath them, it goes first.
void DrawOut(const std::vector<Measured>& texts, const DrawBox* boxes, int count, bool overBar,
             Drawn& last) {
  if (texts.empty()) return;
  DrawBox area;
  const bool any = InkArea(texts, area);
  if (overBar && any && Meet(area, kBannerBox)) {
    BackBufferLock drawPending;
  }
  if (last.changedNone && last.accesses == BackBufferAccesses() && last.texts == texts) return;
  const std::vector<uint32_t> before = Peek(any, area);
  const uint64_t start = BackBufferAccesses();
  {
    DrawClip clip(boxes, count, false);
    tSpilling = true;
    for (const Measured& m : texts)
      DrawTextAt(m.x, m.y, m.text.data(), static_cast<int32_t>(m.text.size()), m.red, m.green, m.blue,
                 m.family.c_str(), m.size);
    tSpilling = false;
  }
  // One access a text: any more was drawing by someone else meanwhile.
  last.changedNone = BackBufferAccesses() - start == texts.size() && Peek(any, area) == before;
  last.texts = texts;
  last.accesses = BackBufferAccesses();
}

}  // namespace

void SpillReset() {
  gStateDrawn = true;
  gPanelDrawn = {};
  gBannerDrawn = {};
  gPanel.clear();
  gBanners.clear();
  gCaptured = 0;
}

void SpillBanner(const char* text, int len) {
  std::string key(text, static_cast<size_t>(std::max(len, 0)));
  auto it = gBanners.find(key);
  if (it == gBanners.end()) {
    if (gBanners.size() >= kBannersKept) gBanners.clear();
    const DrawBox ink = DrawTextInk(2, 487, key.data(), static_cast<int32_t>(key.size()), "Arial", 14);
    it = gBanners.emplace(std::move(key), ink).first;
  }
  if (WithinOneBox(it->second, &kBannerBox, 1)) return;
  const std::vector<Measured> banner = {{2, 487, 14, 255, 250, 205, "Arial", it->first, it->second}};
  DrawOut(banner, kBannerAndPanelBoxes, kPanelBoxCount + 1, false, gBannerDrawn);
}

void SpillPanel() {
  tRunner = true;
  PanelCapture(gState);
  gCaptured = 0;
  {
    DrawTextCapture capture(Take, nullptr);
    PanelDraw(gState, true);
  }
  gPanel.resize(gCaptured);
  gOut.clear();
  for (const Measured& m : gPanel)
    if (!WithinOneBox(m.ink, kPanelBoxes, kPanelBoxCount)) gOut.push_back(m);
  gStateDrawn = false;
  DrawOut(gOut, kPanelBoxes, kPanelBoxCount, true, gPanelDrawn);
}

void SpillPanelShown() { gStateDrawn = true; }

void SpillDrawPanelWithin() {
  if (!tRunner || gStateDrawn) return;
  gStateDrawn = true;
  DrawClip clip(kPanelBoxes, kPanelBoxCount, true);
  PanelDraw(gState);
}

bool SpillDrawingOut() { return tSpilling; }
