#include "window/draw/back_buffer.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/core/run_state.h"

namespace {
std::mutex gBackMutex;
cairo_surface_t* gBack = nullptr;  // guarded by gBackMutex
std::atomic<void (*)()> gBeforeDraw{nullptr};
std::atomic<uint64_t> gAccesses{0};

// The hook before the lock: it may draw, and so take the lock itself.
std::mutex& BeforeDraw() {
  if (auto before = gBeforeDraw.load(std::memory_order_relaxed)) before();
  return gBackMutex;
}
}  // namespace

void BackBufferSetBeforeDraw(void (*before)()) { gBeforeDraw = before; }

bool BackBufferCreate(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return false;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return false;
  }
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  std::lock_guard<std::mutex> g(gBackMutex);
  if (gBack != nullptr) cairo_surface_destroy(gBack);
  gBack = s;
  return true;
}

void BackBufferDestroy() {
  std::lock_guard<std::mutex> g(gBackMutex);
  if (gBack != nullptr) cairo_surface_destroy(gBack);
  gBack = nullptr;
}

bool DrawingEnabled() {
  if (sgRun.RunMode == RUNMODE_HIDE) return false;
  std::lock_guard<std::mutex> g(gBackMutex);
  return gBack != nullptr;
}

std::mutex& BackBufferMutex() { return gBackMutex; }
cairo_surface_t* BackBufferSurface() { return gBack; }

int32_t BackBufferWidth() {
  std::lock_guard<std::mutex> g(gBackMutex);
  return gBack == nullptr ? 0 : cairo_image_surface_get_width(gBack);
}

int32_t BackBufferHeight() {
  std::lock_guard<std::mutex> g(gBackMutex);
  return gBack == nullptr ? 0 : cairo_image_surface_get_height(gBack);
}

BackBufferLock::BackBufferLock() : lock_(BeforeDraw()), surface_(nullptr) {
  gAccesses.fetch_add(1, std::memory_order_relaxed);
  if (sgRun.RunMode != RUNMODE_HIDE) surface_ = gBack;
}

uint64_t BackBufferAccesses() { return gAccesses.load(std::memory_order_relaxed); }

BackBufferLock::~BackBufferLock() {
  if (surface_ != nullptr) cairo_surface_flush(surface_);
}

int32_t BackBufferReadRgb(std::vector<uint8_t>& out, int32_t rows) {
  std::lock_guard<std::mutex> g(gBackMutex);
  out.clear();
  if (gBack == nullptr || rows <= 0) return 0;
  cairo_surface_flush(gBack);
  const int32_t w = cairo_image_surface_get_width(gBack);
  const int32_t n = std::min(rows, cairo_image_surface_get_height(gBack));
  const int32_t stride = cairo_image_surface_get_stride(gBack);
  const unsigned char* data = cairo_image_surface_get_data(gBack);
  out.resize(static_cast<size_t>(w) * static_cast<size_t>(n) * 3);
  size_t o = 0;
  for (int32_t y = 0; y < n; ++y) {
    const unsigned char* row = data + static_cast<size_t>(y) * static_cast<size_t>(stride);
    for (int32_t x = 0; x < w; ++x) {
      uint32_t px;
      std::memcpy(&px, row + static_cast<size_t>(x) * 4, 4);
      out[o++] = static_cast<uint8_t>(px >> 16);
      out[o++] = static_cast<uint8_t>(px >> 8);
      out[o++] = static_cast<uint8_t>(px);
    }
  }
  return n;
}

uint32_t BackBufferPixel(int32_t x, int32_t y) {
  std::lock_guard<std::mutex> g(gBackMutex);
  if (gBack == nullptr || x < 0 || y < 0 || x >= cairo_image_surface_get_width(gBack) ||
      y >= cairo_image_surface_get_height(gBack))
    return 0;
  cairo_surface_flush(gBack);
  const unsigned char* p = cairo_image_surface_get_data(gBack) +
                           static_cast<size_t>(y) * static_cast<size_t>(cairo_image_surface_get_stride(gBack)) +
                           static_cast<size_t>(x) * 4;
  uint32_t px;
  std::memcpy(&px, p, 4);
  return px & 0xFFFFFFu;
}

namespace {

// BackBufferReadRegion's work on a surface held locked (nullptr: none).
bool ReadRegion(cairo_surface_t* s, int32_t x, int32_t y, int64_t w, int64_t h, std::vector<uint32_t>& out) {
  out.clear();
  if (w <= 0 || h <= 0 || s == nullptr) return false;
  cairo_surface_flush(s);
  const int64_t bw = cairo_image_surface_get_width(s), bh = cairo_image_surface_get_height(s);
  const int64_t stride = cairo_image_surface_get_stride(s);
  const unsigned char* data = cairo_image_surface_get_data(s);
  out.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
  for (int64_t j = 0; j < h; ++j) {
    const int64_t sy = y + j;
    if (sy < 0 || sy >= bh) continue;
    const int64_t from = std::max<int64_t>(0, -static_cast<int64_t>(x));
    const int64_t to = std::min<int64_t>(w, bw - x);
    for (int64_t i = from; i < to; ++i) {
      uint32_t px;
      std::memcpy(&px, data + sy * stride + (x + i) * 4, 4);
      out[static_cast<size_t>(j * w + i)] = px & 0xFFFFFFu;
    }
  }
  return true;
}

}  // namespace

bool BackBufferReadRegion(int32_t x, int32_t y, int64_t w, int64_t h, std::vector<uint32_t>& out) {
  if (w <= 0 || h <= 0) {
    out.clear();
    return false;
  }
  BackBufferLock lock;
  return ReadRegion(lock.Surface(), x, y, w, h, out);
}

bool BackBufferPeekRegion(int32_t x, int32_t y, int64_t w, int64_t h, std::vector<uint32_t>& out) {
  std::lock_guard<std::mutex> g(gBackMutex);
  return ReadRegion(sgRun.RunMode != RUNMODE_HIDE ? gBack : nullptr, x, y, w, h, out);
}
