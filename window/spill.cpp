#include "window/spill.h"

#include <string>
#include <unordered_map>
#include <vector>

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
};

// Runner thread only.
std::vector<Measured> gPanel;  // the panel's texts in drawing order
size_t gCaptured = 0;
std::vector<size_t> gOut;  // those whose ink leaves every box
// The bar's texts measured: a script's lines, so few; bounded all the same.
std::unordered_map<std::string, DrawBox> gBanners;
constexpr size_t kBannersKept = 1024;
PanelState gState;
bool gStateDrawn = true;
bool gSpilling = false;  // the ink drawn here lies outside the boxes
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

void Draw(const Measured& m) {
  DrawTextAt(m.x, m.y, m.text.data(), static_cast<int32_t>(m.text.size()), m.red, m.green, m.blue,
             m.family.c_str(), m.size);
}

}  // namespace

void SpillReset() {
  gStateDrawn = true;
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
  DrawClip clip(kBannerAndPanelBoxes, kPanelBoxCount + 1, false);
  gSpilling = true;
  DrawTextAt(2, 487, it->first.data(), static_cast<int32_t>(it->first.size()), 255, 250, 205, "Arial", 14);
  gSpilling = false;
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
  for (size_t i = 0; i < gPanel.size(); ++i)
    if (!WithinOneBox(gPanel[i].ink, kPanelBoxes, kPanelBoxCount)) gOut.push_back(i);
  gStateDrawn = false;
  if (gOut.empty()) return;
  DrawClip clip(kPanelBoxes, kPanelBoxCount, false);
  gSpilling = true;
  for (size_t i : gOut) Draw(gPanel[i]);
  gSpilling = false;
}

void SpillPanelShown() { gStateDrawn = true; }

void SpillDrawPanelWithin() {
  if (!tRunner || gStateDrawn || gSpilling) return;
  gStateDrawn = true;
  DrawClip clip(kPanelBoxes, kPanelBoxCount, true);
  PanelDraw(gState);
}
