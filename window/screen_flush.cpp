#include "window/screen_flush.h"

#include <atomic>

#include "window/draw/draw.h"

namespace {
std::atomic<void (*)()> gRepaint{nullptr};
}

void ScreenFlushSetRepaint(void (*repaint)()) { gRepaint = repaint; }

void ScreenFlush() {
  // DrawRect does nothing in the hide mode or without a buffer, and then
  // there is no window to repaint either.
  DrawRect(0, 0, 640, 480, 0, 0, 0, 0);
  if (auto repaint = gRepaint.load()) repaint();
}
