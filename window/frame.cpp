#include "window/frame.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "window/draw/back_buffer.h"
#include "window/draw/draw.h"
#include "window/page_copy.h"
#include "window/screen_flush.h"
#include "window/spill.h"
#include "window/status_panel.h"

namespace {

struct Published {
  std::mutex mutex;
  bool paneClear = false;
  std::string pane;
  bool bannerSet = false;
  std::string banner;
  bool panelSet = false;
  PanelState panel{};
};
Published gFrame;
// Set while a banner or panel waits to be drawn: drawing elsewhere checks
// it before it takes the buffer.
std::atomic<bool> gPending{false};
// One drawing of the published state at a time, so that the later
// publication is drawn last.
std::mutex gDrawing;
thread_local bool tDrawing = false;
std::atomic<void (*)()> gWake{nullptr};

// The display's frame time; steps within one are coalesced.
constexpr auto kFrameTime = std::chrono::microseconds(16667);
std::chrono::steady_clock::time_point gLastFrame;  // runner thread only

void DrawPendingFirst() {
  if (tDrawing || SpillDrawingOut()) return;
  if (gPending.load(std::memory_order_acquire)) FrameDraw();
  tDrawing = true;
  SpillDrawPanelWithin();
  tDrawing = false;
}

void PaneClear() {
  std::lock_guard lock(gFrame.mutex);
  gFrame.paneClear = true;
  gFrame.pane.clear();
}

void PaneAppend(const char* utf8, int len) {
  if (len <= 0) return;
  std::lock_guard lock(gFrame.mutex);
  gFrame.pane.append(utf8, static_cast<size_t>(len));
}

constexpr EditTarget kPaneTarget = {PaneClear, PaneAppend};

bool Showing() { return true; }
constexpr EngineObserver kObserver = {Showing, EditAppend, EditLog, FrameBanner, nullptr, nullptr};

}  // namespace

const EngineObserver* WindowObserver() { return &kObserver; }
const EditTarget* FramePaneTarget() { return &kPaneTarget; }

void FrameReset() {
  {
    std::lock_guard lock(gFrame.mutex);
    gFrame.paneClear = false;
    gFrame.pane.clear();
    gFrame.bannerSet = false;
    gFrame.banner.clear();
    gFrame.panelSet = false;
  }
  gPending = false;
  gLastFrame = {};
  SpillReset();
  PagesReset();
  BackBufferSetBeforeDraw(DrawPendingFirst);
}

void FrameBanner(const char* text, int len) {
  {
    std::lock_guard lock(gFrame.mutex);
    gFrame.banner.assign(text, static_cast<size_t>(std::max(len, 0)));
    gFrame.bannerSet = true;
    gPending.store(true, std::memory_order_release);
  }
  SpillBanner(text, len);
}

void DrawBannerBar(const char* text, int len) {
  DrawRect(1, 482, 841, 510, 100, 149, 237, 1);
  DrawTextAt(2, 487, text, len, 255, 250, 205, "Arial", 14);
}

void FramePanel() {
  std::lock_guard lock(gFrame.mutex);
  PanelCapture(gFrame.panel);
  gFrame.panelSet = true;
  gPending.store(true, std::memory_order_release);
}

bool FrameDue() {
  const auto now = std::chrono::steady_clock::now();
  if (now - gLastFrame < kFrameTime) return false;
  gLastFrame = now;
  return true;
}

bool FrameDraw() {
  const bool outer = tDrawing;
  tDrawing = true;
  std::lock_guard drawing(gDrawing);
  bool banner, panel;
  std::string text;
  static PanelState state;  // guarded by gDrawing
  {
    std::lock_guard lock(gFrame.mutex);
    banner = gFrame.bannerSet;
    panel = gFrame.panelSet;
    if (banner) text.swap(gFrame.banner);
    if (panel) state = gFrame.panel;
    gFrame.bannerSet = gFrame.panelSet = false;
    gPending.store(false, std::memory_order_release);
  }
  // Within their boxes: what runs out of them is drawn step by step.
  if (banner) {
    DrawClip clip(&kBannerBox, 1, true);
    DrawBannerBar(text.data(), static_cast<int>(text.size()));
  }
  if (panel) {
    DrawClip clip(kPanelBoxes, kPanelBoxCount, true);
    PanelDraw(state);
  }
  if (banner || panel) ScreenFlush();
  tDrawing = outer;
  return banner || panel;
}

void FrameTakePane(const EditTarget& edit) {
  bool clear;
  std::string text;
  {
    std::lock_guard lock(gFrame.mutex);
    clear = gFrame.paneClear;
    gFrame.paneClear = false;
    text.swap(gFrame.pane);
  }
  if (clear) edit.Clear();
  if (!text.empty()) edit.Append(text.data(), static_cast<int>(text.size()));
}

void FrameSetWake(void (*wake)()) { gWake = wake; }

void FrameShowNow() {
  SpillPanelShown();
  FramePanel();
  PagesPublish();
  FrameDraw();
  if (auto wake = gWake.load()) wake();
}
