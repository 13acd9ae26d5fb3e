// The back buffer: one image of the window's client size into which every
// drawing primitive draws and from which the window copies its rows.  It is
// a cairo image surface (32-bit, opaque), independent of any toolkit, so it
// can be drawn into and read back without a display.
//
// One mutex guards the surface and its pixels.  Hold it only around cairo
// work and pixel copies; never while calling the toolkit (a window thread
// waiting on a paint would otherwise deadlock with a drawing runner).
#pragma once
#include <cairo.h>

#include <cstdint>
#include <mutex>
#include <vector>

// The client area of the main window.
inline constexpr int32_t BACK_WIDTH = 850;
inline constexpr int32_t BACK_HEIGHT = 750;

// Creates the buffer (white) of the given size; replaces an existing one.
// false when the surface cannot be made (the window reports that).
bool BackBufferCreate(int32_t width = BACK_WIDTH, int32_t height = BACK_HEIGHT);
void BackBufferDestroy();

// True when drawing reaches the buffer: not in the hide mode, and a buffer
// exists.  Every primitive but the font look-up returns at once otherwise.
bool DrawingEnabled();

// Runs before each scoped access takes the lock, on the thread that asks
// (nullptr: nothing): drawing that waits to be done goes first.
void BackBufferSetBeforeDraw(void (*before)());

// The guard of the surface.  Lock it around any access to the surface.
std::mutex& BackBufferMutex();

// The surface, or nullptr when none exists.  Use only under the lock.
cairo_surface_t* BackBufferSurface();
int32_t BackBufferWidth();
int32_t BackBufferHeight();

// Scoped access: takes the lock, and yields the surface (nullptr without a
// buffer or in the hide mode).  Flushes cairo's pending drawing on release.
class BackBufferLock {
 public:
  BackBufferLock();
  ~BackBufferLock();
  BackBufferLock(const BackBufferLock&) = delete;
  BackBufferLock& operator=(const BackBufferLock&) = delete;
  cairo_surface_t* Surface() const { return surface_; }

 private:
  std::unique_lock<std::mutex> lock_;
  cairo_surface_t* surface_;
};

// Copies the top `rows` rows (clamped to the buffer) as packed RGB, 3 bytes
// a pixel, row after row, into `out` under the lock; the window then draws
// them without the lock.  Returns the rows copied (0 without a buffer).
int32_t BackBufferReadRgb(std::vector<uint8_t>& out, int32_t rows);

// The colour of one pixel as 0xRRGGBB; pixels outside the buffer (or with
// none) read as black.
uint32_t BackBufferPixel(int32_t x, int32_t y);

// The region of w x h pixels at (x, y) as 0xRRGGBB values, row after row;
// pixels outside the buffer are black.  false, with `out` empty, in the hide
// mode, without a buffer, or for an empty region.
bool BackBufferReadRegion(int32_t x, int32_t y, int64_t w, int64_t h, std::vector<uint32_t>& out);
// The same under the lock alone: nothing waiting to be drawn goes first,
// and the read is not counted below.
bool BackBufferPeekRegion(int32_t x, int32_t y, int64_t w, int64_t h, std::vector<uint32_t>& out);

// The scoped accesses so far, each counted as it begins: a count unchanged
// between two moments means nothing was drawn between them.
uint64_t BackBufferAccesses();
