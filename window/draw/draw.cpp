// The drawing primitives on cairo.  Fills use the pixel edges (a filled
// rectangle (10,10)-(20,20) covers pixels 10..19); strokes of 1 pixel run
// through pixel centres, so an outline covers both its end columns.
// Coordinates reach cairo only after clipping or clamping to a box around
// the buffer, since cairo's fixed-point paths cannot hold the full 32-bit
// range.
#include "window/draw/draw.h"

#include <fontconfig/fontconfig.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/observer.h"
#include "engine/log/log.h"
#include "engine/util/util.h"
#include "platform/target_file.h"
#include "window/draw/back_buffer.h"
#include "window/draw/font_catalog.h"
#include "window/draw/image_file.h"
#include "window/draw/png_scaled.h"
#include "window/draw/screen_state.h"
#include "window/midi/midi_player.h"

// fontconfig stores its pattern elements behind offset-encoded pointers that
// the leak checker of sanitized builds cannot follow, so the font caches that
// text drawing fills would read as leaks.  Unused in other builds.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

constexpr double kPi = 3.14159265358979323846;
// Drawing beyond this margin around the buffer is invisible; coordinates are
// clamped into it before they reach cairo.
constexpr double kMargin = 4096.0;
// The largest image cairo makes (its own limit).
constexpr int64_t kMaxSide = 32767;
constexpr int kTextUnits = 1024;  // the longest text drawn, in UTF-16 units

// The snapshot of ScreenCopy: the part of its rectangle over the buffer,
// with a black border where the rectangle goes on beyond the buffer, at
// (x, y) within the rectangle's w x h.  Touched only by the thread running
// statements.
struct Snapshot {
  cairo_surface_t* image = nullptr;
  int64_t x = 0, y = 0, w = 0, h = 0;
};
Snapshot gCopy;

// The clip of DrawClip and the sink of DrawTextCapture on this thread.
struct Clip {
  const DrawBox* boxes = nullptr;
  int count = 0;
  bool inside = true;
};
thread_local Clip tClip;
struct Capture {
  void (*sink)(const DrawnText&, void*) = nullptr;
  void* context = nullptr;
};
thread_local Capture tCapture;

void ApplyClip(cairo_t* cr, int w, int h) {
  if (tClip.boxes == nullptr) return;
  if (!tClip.inside) cairo_rectangle(cr, 0, 0, w, h);
  for (int i = 0; i < tClip.count; ++i) {
    const DrawBox& b = tClip.boxes[i];
    cairo_rectangle(cr, b.x1, b.y1, b.x2 - b.x1, b.y2 - b.y1);
  }
  // The buffer less the boxes: each box lies in it once more.
  cairo_set_fill_rule(cr, tClip.inside ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
  cairo_clip(cr);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
}

// Runs f(cr, width, height) on the back buffer under its lock; nothing in the
// hide mode or without a buffer.
template <typename F>
void WithBuffer(bool antialias, F f) {
  if (tCapture.sink != nullptr) return;
  BackBufferLock lock;
  if (lock.Surface() == nullptr) return;
  cairo_t* cr = cairo_create(lock.Surface());
  ApplyClip(cr, cairo_image_surface_get_width(lock.Surface()), cairo_image_surface_get_height(lock.Surface()));
  cairo_set_antialias(cr, antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, 1.0);
  f(cr, cairo_image_surface_get_width(lock.Surface()), cairo_image_surface_get_height(lock.Surface()));
  cairo_destroy(cr);
}

void SetColour(cairo_t* cr, uint8_t r, uint8_t g, uint8_t b) {
  cairo_set_source_rgb(cr, r / 255.0, g / 255.0, b / 255.0);
}

double ClampX(double v, int w) { return std::clamp(v, -kMargin, w + kMargin); }
double ClampY(double v, int h) { return std::clamp(v, -kMargin, h + kMargin); }

// Liang-Barsky: cuts the segment to the box; false when nothing is left.
bool ClipSegment(double& x1, double& y1, double& x2, double& y2, double lo_x, double lo_y,
                 double hi_x, double hi_y) {
  double t0 = 0.0, t1 = 1.0;
  const double dx = x2 - x1, dy = y2 - y1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x1 - lo_x, hi_x - x1, y1 - lo_y, hi_y - y1};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0) {
      if (q[i] < 0.0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0.0) {
      if (t > t1) return false;
      t0 = std::max(t0, t);
    } else {
      if (t < t0) return false;
      t1 = std::min(t1, t);
    }
  }
  const double ox = x1, oy = y1;
  x1 = ox + t0 * dx;
  y1 = oy + t0 * dy;
  x2 = ox + t1 * dx;
  y2 = oy + t1 * dy;
  return true;
}

// A 1-pixel (or wider) line through the pixel centres of both ends.
void StrokeLine(cairo_t* cr, int w, int h, double x1, double y1, double x2, double y2,
                double width) {
  if (!ClipSegment(x1, y1, x2, y2, -kMargin, -kMargin, w + kMargin, h + kMargin)) return;
  cairo_set_line_width(cr, width);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
  cairo_move_to(cr, x1 + 0.5, y1 + 0.5);
  cairo_line_to(cr, x2 + 0.5, y2 + 0.5);
  cairo_stroke(cr);
}

// Arc path of the circle; sweep beyond a full turn is a full turn.
void ArcPath(cairo_t* cr, double cx, double cy, double r, double start, double sweep) {
  sweep = std::clamp(sweep, -360.0, 360.0);
  const double a0 = start * kPi / 180.0, a1 = (start + sweep) * kPi / 180.0;
  if (sweep >= 0)
    cairo_arc(cr, cx, cy, r, a0, a1);
  else
    cairo_arc_negative(cr, cx, cy, r, a0, a1);
}

// A circle drawn into the buffer at all: its box meets the buffer's margin.
bool CircleVisible(int64_t cx, int64_t cy, int64_t r, int w, int h) {
  return r >= 0 && r <= 1000000 && cx + r >= -kMargin && cx - r <= w + kMargin &&
         cy + r >= -kMargin && cy - r <= h + kMargin;
}

void ArcOn(cairo_t* cr, int w, int h, int32_t cx, int32_t cy, int32_t r, double start, double sweep,
           uint8_t red, uint8_t green, uint8_t blue, bool fill) {
  if (!CircleVisible(cx, cy, r, w, h)) return;
  SetColour(cr, red, green, blue);
  if (fill) {
    cairo_move_to(cr, cx, cy);
    ArcPath(cr, cx, cy, r, start, sweep);
    cairo_close_path(cr);
    cairo_fill(cr);
  } else {
    cairo_new_sub_path(cr);
    ArcPath(cr, cx + 0.5, cy + 0.5, r, start, sweep);
    cairo_stroke(cr);
  }
}

void RectOn(cairo_t* cr, int w, int h, int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint8_t red,
            uint8_t green, uint8_t blue, bool fill) {
  SetColour(cr, red, green, blue);
  const double ax = ClampX(static_cast<double>(x1), w), ay = ClampY(static_cast<double>(y1), h);
  const double bx = ClampX(static_cast<double>(x2), w), by = ClampY(static_cast<double>(y2), h);
  if (fill) {
    cairo_rectangle(cr, ax, ay, bx - ax, by - ay);
    cairo_fill(cr);
  } else {
    cairo_rectangle(cr, ax + 0.5, ay + 0.5, bx - ax, by - ay);
    cairo_stroke(cr);
  }
}

// UTF-8 text as pango draws it: invalid bytes replaced; empty when it would
// need more than the text room in UTF-16 units.
std::string DrawableText(const char* text, int32_t len) {
  if (text == nullptr || len <= 0) return {};
  gchar* valid = g_utf8_make_valid(text, len);
  std::string out(valid);
  g_free(valid);
  glong units = 0;
  gunichar2* utf16 = g_utf8_to_utf16(out.c_str(), -1, nullptr, &units, nullptr);
  g_free(utf16);
  if (units > kTextUnits) return {};
  return out;
}

// The layout of the text as drawn on cr (unref it after use).
PangoLayout* TextLayout(cairo_t* cr, const std::string& text, const std::string& family, int32_t size) {
  // One font map for the process, used only under the buffer's lock; the
  // per-thread default map would be rebuilt by every thread that draws.
  static PangoFontMap* const fontMap = pango_cairo_font_map_new();
  PangoContext* context = pango_font_map_create_context(fontMap);
  pango_cairo_update_context(cr, context);
  PangoLayout* layout = pango_layout_new(context);
  g_object_unref(context);  // the layout keeps it
  PangoFontDescription* desc = pango_font_description_new();
  pango_font_description_set_family(desc, family.c_str());
  pango_font_description_set_style(desc, PANGO_STYLE_NORMAL);
  pango_font_description_set_weight(desc, PANGO_WEIGHT_NORMAL);
  pango_font_description_set_absolute_size(desc, static_cast<double>(size) * PANGO_SCALE);
  pango_layout_set_font_description(layout, desc);
  pango_font_description_free(desc);
  pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
  return layout;
}

void TextOn(cairo_t* cr, double x, double y, const std::string& text, uint8_t red, uint8_t green,
            uint8_t blue, const std::string& family, int32_t size) {
  PangoLayout* layout = TextLayout(cr, text, family, size);
  SetColour(cr, red, green, blue);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
}

// A new opaque image of w x h holding the buffer region at (x1, y1); pixels
// outside the buffer are black.  nullptr for an empty or oversized region.
cairo_surface_t* CopyRegion(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  const int64_t w = static_cast<int64_t>(x2) - x1, h = static_cast<int64_t>(y2) - y1;
  if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide) return nullptr;
  BackBufferLock lock;
  if (lock.Surface() == nullptr) return nullptr;
  cairo_surface_t* out =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(w), static_cast<int>(h));
  if (cairo_surface_status(out) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(out);
    return nullptr;
  }
  cairo_t* cr = cairo_create(out);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  cairo_set_source_surface(cr, lock.Surface(), -static_cast<double>(x1), -static_cast<double>(y1));
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(out);
  return out;
}

// The pixbuf as a premultiplied cairo image; nullptr when it cannot be made.
cairo_surface_t* SurfaceFromPixbuf(GdkPixbuf* pb) {
  const int w = gdk_pixbuf_get_width(pb), h = gdk_pixbuf_get_height(pb);
  const int n = gdk_pixbuf_get_n_channels(pb), stride = gdk_pixbuf_get_rowstride(pb);
  const bool alpha = gdk_pixbuf_get_has_alpha(pb);
  if (gdk_pixbuf_get_bits_per_sample(pb) != 8 || n < 3) return nullptr;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  cairo_surface_flush(s);
  const guchar* src = gdk_pixbuf_read_pixels(pb);
  unsigned char* dst = cairo_image_surface_get_data(s);
  const int dstride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < h; ++y) {
    const guchar* p = src + static_cast<size_t>(y) * static_cast<size_t>(stride);
    auto* q = reinterpret_cast<uint32_t*>(dst + static_cast<size_t>(y) * static_cast<size_t>(dstride));
    for (int x = 0; x < w; ++x, p += n) {
      const uint32_t a = alpha ? p[3] : 255;
      const uint32_t r = p[0] * a / 255, g = p[1] * a / 255, b = p[2] * a / 255;
      q[x] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  }
  cairo_surface_mark_dirty(s);
  return s;
}

// The pixbuf (taken over) as a cairo image; nullptr for none.
cairo_surface_t* ImageFromPixbuf(GdkPixbuf* pb) {
  if (pb == nullptr) return nullptr;
  cairo_surface_t* image = SurfaceFromPixbuf(pb);
  g_object_unref(pb);
  return image;
}

// An image standing for a picture of iw x ih whose pixels it holds from
// (ix, iy) on, drawn scaled into the rectangle of width w x h at (x, y),
// turned clockwise by degrees about (x, y).  Beyond the image its edge
// pixels are repeated.
struct Placed {
  cairo_surface_t* image;
  int64_t ix, iy, iw, ih;
};

void PaintScaled(const Placed& p, int64_t x, int64_t y, int64_t w, int64_t h, double degrees,
                 bool antialias) {
  if (w == 0 || h == 0 || p.iw <= 0 || p.ih <= 0) return;
  if (std::llabs(x) > 1000000 || std::llabs(y) > 1000000 || std::llabs(w) > 1000000 ||
      std::llabs(h) > 1000000)
    return;
  WithBuffer(antialias, [&](cairo_t* cr, int, int) {
    cairo_translate(cr, static_cast<double>(x), static_cast<double>(y));
    cairo_rotate(cr, degrees * kPi / 180.0);
    cairo_scale(cr, static_cast<double>(w) / p.iw, static_cast<double>(h) / p.ih);
    // The image covers its rectangle exactly: edges neither fade nor bleed.
    cairo_rectangle(cr, 0, 0, p.iw, p.ih);
    cairo_clip(cr);
    cairo_set_source_surface(cr, p.image, static_cast<double>(p.ix), static_cast<double>(p.iy));
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint(cr);
  });
}

void PaintScaled(cairo_surface_t* image, int64_t x, int64_t y, int64_t w, int64_t h, double degrees,
                 bool antialias) {
  PaintScaled({image, 0, 0, cairo_image_surface_get_width(image), cairo_image_surface_get_height(image)},
              x, y, w, h, degrees, antialias);
}

// The columns [first, end) of a span of n starting at `from` that lie over
// [0, room), one more on each side that does not, at least one.
struct Span {
  int64_t first, end;
};
Span KeptSpan(int64_t from, int64_t n, int64_t room) {
  const int64_t first = std::clamp<int64_t>(-from - 1, 0, n);
  const int64_t end = std::clamp<int64_t>(room - from + 1, 0, n);
  return end > first ? Span{first, end} : Span{0, 1};
}

// The snapshot of the region: beyond the border kept around the part over
// the buffer, the region is black, as the border is, so painting it with its
// edges repeated draws what the whole region would.
Snapshot CopyOverlap(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  const int64_t w = static_cast<int64_t>(x2) - x1, h = static_cast<int64_t>(y2) - y1;
  if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide) return {};
  int64_t bw, bh;
  {
    BackBufferLock lock;
    if (lock.Surface() == nullptr) return {};
    bw = cairo_image_surface_get_width(lock.Surface());
    bh = cairo_image_surface_get_height(lock.Surface());
  }
  const Span cols = KeptSpan(x1, w, bw), rows = KeptSpan(y1, h, bh);
  // Each lies between the corners, so within the int32 range.
  auto at = [](int64_t v) { return static_cast<int32_t>(v); };
  cairo_surface_t* image = CopyRegion(at(x1 + cols.first), at(y1 + rows.first), at(x1 + cols.end),
                                      at(y1 + rows.end));
  if (image == nullptr) return {};
  return {image, cols.first, rows.first, w, h};
}

}  // namespace

DrawClip::DrawClip(const DrawBox* boxes, int count, bool inside)
    : boxes_(tClip.boxes), count_(tClip.count), inside_(tClip.inside) {
  tClip = {boxes, count, inside};
}
DrawClip::~DrawClip() { tClip = {boxes_, count_, inside_}; }

DrawTextCapture::DrawTextCapture(void (*sink)(const DrawnText&, void*), void* context) {
  tCapture = {sink, context};
}
DrawTextCapture::~DrawTextCapture() { tCapture = {}; }

DrawBox DrawTextInk(int32_t x, int32_t y, const char* text, int32_t len, const char* family,
                    int32_t size) {
  if (family == nullptr || size <= 0) return {};
  const std::string face = FontFaceFor(family);
  if (face.empty()) return {};
  const std::string drawable = DrawableText(text, len);
  if (drawable.empty()) return {};
  // The lock only, not a drawing's: nothing waiting to be drawn need go first.
  std::lock_guard lock(BackBufferMutex());
  cairo_surface_t* surface = BackBufferSurface();
  if (surface == nullptr) return {};
  const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
  cairo_t* cr = cairo_create(surface);
  PangoLayout* layout = TextLayout(cr, drawable, face, size);
  PangoRectangle ink;
  pango_layout_get_pixel_extents(layout, &ink, nullptr);
  g_object_unref(layout);
  cairo_destroy(cr);
  if (ink.width <= 0 || ink.height <= 0) return {};
  // A pixel more on each side for the edges' shading.
  const double ox = ClampX(x, w), oy = ClampY(y, h);
  auto at = [](double v) { return static_cast<int32_t>(std::clamp(v, -1e9, 1e9)); };
  return {at(ox + ink.x - 1), at(oy + ink.y - 1), at(ox + ink.x + ink.width + 1),
          at(oy + ink.y + ink.height + 1)};
}

namespace {

// What bounds the ink of a line of printable ASCII in one font: each
// character's advance, and how far ink reaches beyond the advances.
struct AsciiMetrics {
  int32_t advance[95];
  int32_t left, right, top, bottom;  // ink beyond the line's start and end, top and bottom
};

AsciiMetrics MeasureAscii(cairo_t* cr, const std::string& face, int32_t size) {
  AsciiMetrics m{};
  std::string all;
  for (int c = 0x20; c < 0x7F; ++c) {
    PangoLayout* layout = TextLayout(cr, std::string(1, static_cast<char>(c)), face, size);
    PangoRectangle ink, logical;
    pango_layout_get_pixel_extents(layout, &ink, &logical);
    g_object_unref(layout);
    m.advance[c - 0x20] = logical.width + 1;  // rounding and kerning within a line
    if (ink.width > 0) {
      m.left = std::min(m.left, ink.x);
      m.right = std::max(m.right, ink.x + ink.width - logical.width);
      m.top = std::min(m.top, ink.y);
      m.bottom = std::max(m.bottom, ink.y + ink.height);
    }
  }
  return m;
}

}  // namespace

bool DrawTextInkBound(int32_t x, int32_t y, const char* text, int32_t len, const char* family,
                      int32_t size, DrawBox& box) {
  if (text == nullptr || len <= 0 || len > kTextUnits || family == nullptr || size <= 0) return false;
  for (int32_t i = 0; i < len; ++i)
    if (text[i] < 0x20 || text[i] > 0x7E) return false;
  const std::string face = FontFaceFor(family);
  if (face.empty()) return false;
  // Fonts and sizes the window draws in are few; bounded all the same.
  static std::map<std::pair<std::string, int32_t>, AsciiMetrics> known;
  std::lock_guard lock(BackBufferMutex());
  auto it = known.find({face, size});
  if (it == known.end()) {
    cairo_surface_t* surface = BackBufferSurface();
    if (surface == nullptr || known.size() >= 64) return false;
    cairo_t* cr = cairo_create(surface);
    it = known.emplace(std::make_pair(face, size), MeasureAscii(cr, face, size)).first;
    cairo_destroy(cr);
  }
  const AsciiMetrics& m = it->second;
  int64_t width = 0;
  for (int32_t i = 0; i < len; ++i) width += m.advance[text[i] - 0x20];
  const int64_t bx = x, by = y;
  auto at = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, -1000000000, 1000000000)); };
  box = {at(bx + m.left - 1), at(by + m.top - 1), at(bx + width + m.right + 1), at(by + m.bottom + 1)};
  return true;
}

void DrawTextAt(int32_t x, int32_t y, const char* text, int32_t len, uint8_t red, uint8_t green,
                uint8_t blue, const char* family, int32_t size) {
  if (tCapture.sink != nullptr) {
    tCapture.sink({x, y, text, len, red, green, blue, family, size}, tCapture.context);
    return;
  }
  if (!DrawingEnabled() || family == nullptr || size <= 0) return;
  const std::string face = FontFaceFor(family);
  if (face.empty()) return;
  const std::string drawable = DrawableText(text, len);
  if (drawable.empty()) return;
  WithBuffer(true, [&](cairo_t* cr, int w, int h) {
    TextOn(cr, ClampX(x, w), ClampY(y, h), drawable, red, green, blue, face, size);
  });
}

void DrawTextCurrent(int32_t x, int32_t y, const char* text, int32_t len) {
  DrawTextAt(x, y, text, len, sgScreen.red, sgScreen.green, sgScreen.blue, sgScreen.fontName.data(),
             sgScreen.fontSize);
}

void DrawLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t red, uint8_t green,
              uint8_t blue) {
  WithBuffer(false, [&](cairo_t* cr, int w, int h) {
    SetColour(cr, red, green, blue);
    StrokeLine(cr, w, h, x1, y1, x2, y2, 1.0);
  });
}

void DrawLineCurrent(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  DrawLine(x1, y1, x2, y2, sgScreen.red, sgScreen.green, sgScreen.blue);
}

void DrawRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t red, uint8_t green,
              uint8_t blue, int32_t fill) {
  WithBuffer(true, [&](cairo_t* cr, int w, int h) {
    RectOn(cr, w, h, x1, y1, x2, y2, red, green, blue, fill != 0);
  });
}

void DrawArc(int32_t cx, int32_t cy, int32_t r, int32_t start, int32_t end, uint8_t red,
             uint8_t green, uint8_t blue, int32_t fill) {
  const double sweep = static_cast<double>(end) - static_cast<double>(start);
  WithBuffer(true, [&](cairo_t* cr, int w, int h) {
    ArcOn(cr, w, h, cx, cy, r, start, sweep, red, green, blue, fill != 0);
  });
}

void DrawArcCurrent(int32_t cx, int32_t cy, int32_t r, int32_t start, int32_t end) {
  DrawArc(cx, cy, r, start, end, sgScreen.red, sgScreen.green, sgScreen.blue, sgScreen.fillMode);
}

void DrawPercentGauge(int32_t cx, int32_t cy, int32_t r, int32_t percent) {
  WithBuffer(true, [&](cairo_t* cr, int w, int h) {
    if (!CircleVisible(cx, cy, r, w, h)) return;
    ArcOn(cr, w, h, cx, cy, r, 0, static_cast<double>(percent) * 360.0 / 100.0, 0, 0, 255, true);
    ArcOn(cr, w, h, cx, cy, r, 0, 360, 230, 230, 230, false);
    const double inner = static_cast<double>(r) - 10.0;
    if (inner > 0) {
      SetColour(cr, 220, 220, 220);
      cairo_new_sub_path(cr);
      cairo_arc(cr, cx, cy, inner, 0, 2 * kPi);
      cairo_fill(cr);
    }
  });
  char label[16];
  const int n = std::snprintf(label, sizeof label, "%d%%", percent);
  DrawTextAt(static_cast<int32_t>(std::clamp<int64_t>(static_cast<int64_t>(cx) - 12, INT32_MIN, INT32_MAX)),
             static_cast<int32_t>(std::clamp<int64_t>(static_cast<int64_t>(cy) - 6, INT32_MIN, INT32_MAX)),
             label, n, 0, 0, 0, "Arial", 12);
}

void DrawPolygon(const DrawPoint* points, int32_t count, uint8_t red, uint8_t green, uint8_t blue,
                 int32_t fill) {
  if (points == nullptr || count < 2) return;
  WithBuffer(true, [&](cairo_t* cr, int w, int h) {
    SetColour(cr, red, green, blue);
    const double off = fill != 0 ? 0.0 : 0.5;
    for (int32_t i = 0; i < count; ++i)
      cairo_line_to(cr, ClampX(points[i].x, w) + off, ClampY(points[i].y, h) + off);
    cairo_close_path(cr);
    if (fill != 0) {
      cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
      cairo_fill(cr);
    } else {
      cairo_stroke(cr);
    }
  });
}

ImageDecode ImageDecodeFor(int64_t width, int64_t height, int64_t fileBytes, int64_t targetW,
                           int64_t targetH) {
  if (width <= 0 || height <= 0 || fileBytes <= 0) return {ImageDecode::kRefuse, 0, 0};
  const int64_t pixels = width * height;
  if (pixels <= kImageWholePixels && width <= kImageSide && height <= kImageSide)
    return {ImageDecode::kWhole, width, height};
  // No format packs more pixels into a byte than this: a header claiming
  // more describes data the file does not hold.
  if (pixels / kImagePixelsPerByte > fileBytes) return {ImageDecode::kRefuse, 0, 0};
  int64_t w = std::clamp<int64_t>(std::llabs(targetW), 1, width);
  int64_t h = std::clamp<int64_t>(std::llabs(targetH), 1, height);
  // A rectangle larger than what is read whole is painted from an image of
  // that many pixels, stretched.
  if (w * h > kImageWholePixels) {
    const double shrink = std::sqrt(static_cast<double>(kImageWholePixels) / static_cast<double>(w * h));
    w = std::max<int64_t>(1, static_cast<int64_t>(static_cast<double>(w) * shrink));
    h = std::max<int64_t>(1, static_cast<int64_t>(static_cast<double>(h) * shrink));
  }
  // A long side is sampled down too: an image near cairo's largest draws
  // nothing at all.
  return {ImageDecode::kScaled, std::min(w, kImageSide), std::min(h, kImageSide)};
}

void DrawImageFile(const char* file, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (!DrawingEnabled() || file == nullptr) return;
  const int64_t targetW = static_cast<int64_t>(x2) - x1, targetH = static_cast<int64_t>(y2) - y1;
  if (targetW == 0 || targetH == 0) return;
  const char* kind = ImageRasterKind(file);
  if (kind == nullptr) return;
  // The size its header declares comes first: the decoder would take the
  // memory for all of it, whatever the file holds.
  int width = 0, height = 0;
  if (!ImageFileSize(file, kind, width, height)) return;
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(file, ec);
  const int64_t fileBytes = ec ? 0 : static_cast<int64_t>(bytes);
  const ImageDecode plan = ImageDecodeFor(width, height, fileBytes, targetW, targetH);
  cairo_surface_t* image = nullptr;
  const std::string_view k = kind;
  const int w = static_cast<int>(plan.width), h = static_cast<int>(plan.height);
  if (plan.kind == ImageDecode::kWhole) {
    image = ImageFromPixbuf(ImageFileRead(file, kind));
  } else if (plan.kind == ImageDecode::kScaled) {
    // PNGs are sampled a row at a time and JPEGs decoded at a smaller
    // scale; the other loaders hold the whole image first, so only those
    // of no more pixels than are read whole are drawn.
    if (k == "png")
      image = PngReadScaled(file, w, h);
    else if (k == "jpeg" || static_cast<int64_t>(width) * height <= kImageWholePixels)
      image = ImageFromPixbuf(ImageFileRead(file, kind, w, h));
  }
  if (image == nullptr) return;
  PaintScaled(image, x1, y1, static_cast<int64_t>(x2) - x1, static_cast<int64_t>(y2) - y1, 0, false);
  cairo_surface_destroy(image);
}

bool WinSaveScreen(const char* file, int32_t x1, int32_t y1, int32_t x2, int32_t y2, std::string* why) {
  if (file == nullptr) return true;
  cairo_surface_t* region = CopyRegion(x1, y1, x2, y2);
  if (region == nullptr) return true;
  // Written through our own file rather than cairo's, which neither refuses
  // a FIFO nor reports a failed close.
  TargetFile f;
  bool ok = f.Open(file, TargetWrite::kTruncate);
  if (ok) {
    const cairo_write_func_t put = [](void* target, const unsigned char* data, unsigned int n) {
      return static_cast<TargetFile*>(target)->Write(data, n) ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
    };
    const cairo_status_t status = cairo_surface_write_to_png_stream(region, put, &f);
    ok = f.Finish() && status == CAIRO_STATUS_SUCCESS;
  }
  cairo_surface_destroy(region);
  if (!ok && why != nullptr) *why = f.Why();
  return ok;
}

void ScreenCopy(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (!DrawingEnabled()) return;
  ScreenCopyRelease();
  gCopy = CopyOverlap(x1, y1, x2, y2);
}

void ScreenPaste(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t degrees) {
  if (gCopy.image == nullptr) return;
  PaintScaled({gCopy.image, gCopy.x, gCopy.y, gCopy.w, gCopy.h}, x1, y1,
              static_cast<int64_t>(x2) - x1, static_cast<int64_t>(y2) - y1, degrees, false);
}

void ScreenCopyRelease() {
  if (gCopy.image != nullptr) cairo_surface_destroy(gCopy.image);
  gCopy = {};
}

int64_t ScreenCopyBytes() {
  if (gCopy.image == nullptr) return 0;
  return static_cast<int64_t>(cairo_image_surface_get_stride(gCopy.image)) *
         cairo_image_surface_get_height(gCopy.image);
}

void FindInstalledFont(const char* request, char* result) {
  const std::vector<std::string>& families = InstalledFontFamilies();
  const size_t want = std::strlen(request);
  for (size_t i = 0; i < families.size(); ++i) {
    // Whole names: a name cut short would no longer be found when drawing.
    const size_t n = std::min<size_t>(families[i].size(), 90);
    std::memcpy(result, families[i].data(), n);
    result[n] = '\0';
    if (n >= want && std::memcmp(result, request, want) == 0) {
      TarvDebugLog("\nvar {font%d} value {%s}; Match OK!", static_cast<int>(i), result);
      return;
    }
    TarvDebugLog("\nvar {font%d} value {%s};", static_cast<int>(i), result);
  }
  std::memcpy(result, "Arial", 6);
}

int32_t CommandFieldInt(const char* command, int32_t field) {
  char word[1024];
  const int n = GetWord4(command, field, word, '|');
  if (n < 0) return 0;
  word[std::min(n, 255)] = '\0';
  return TarvAtoi(word);
}

void ScreenCommand(const char* command, int32_t len) {
  if (command == nullptr || len <= 0) return;
  char cmd[1024];
  const int32_t n = std::min<int32_t>(len, 1022);
  std::memcpy(cmd, command, static_cast<size_t>(n));
  cmd[n] = '\0';
  auto f = [&](int k) { return CommandFieldInt(cmd, k); };
  const char kind = cmd[0];
  const bool lower = kind >= 'a' && kind <= 'z';
  switch (kind) {
    case 't':
    case 'T': {
      sgScreen.fillMode = lower ? 1 : 0;
      char word[1024];
      const int w = GetWord4(cmd, 5, word, '|');
      if (w > 0)
        DrawTextAt(f(3), f(4), word, w, sgScreen.red, sgScreen.green, sgScreen.blue,
                   sgScreen.fontName.data(), sgScreen.fontSize);
      return;
    }
    case 'l':
    case 'L':
      sgScreen.fillMode = lower ? 1 : 0;
      DrawLineCurrent(f(3), f(4), f(5), f(6));
      return;
    case 'o':
    case 'O':
      sgScreen.fillMode = lower ? 1 : 0;
      DrawRect(f(3), f(4), f(5), f(6), sgScreen.red, sgScreen.green, sgScreen.blue, lower ? 1 : 0);
      return;
    case 'c':
    case 'C':
      sgScreen.fillMode = lower ? 1 : 0;
      DrawArcCurrent(f(3), f(4), f(5), f(6), f(7));
      return;
    case 'e':
    case 'E':
      sgScreen.fillMode = lower ? 1 : 0;
      DrawMeter(f(3), f(4), f(5), f(6), f(7), f(8), f(9));
      return;
    case 'm': {
      sgScreen.fillMode = 0;
      char notes[1024];
      const int w = GetWord4(cmd, 2, notes, '|');
      notes[std::max(w, 0)] = '\0';
      TarvPlayMidi(notes);
      return;
    }
    default:
      if (n <= 1021) ScreenPrintf("%.*s\r\n", static_cast<int>(n), cmd);
  }
}

void DrawMeter(int32_t x, int32_t y, int32_t min, int32_t max, int32_t low, int32_t high,
               int32_t value) {
  if (max <= min) return;
  const uint8_t r = sgScreen.red, g = sgScreen.green, b = sgScreen.blue;
  const double span = static_cast<double>(max) - min;
  auto angle = [&](double v) { return 140.0 - (v - min) * 100.0 / span; };
  const int64_t X = x, Y = y;
  WithBuffer(false, [&](cairo_t* cr, int w, int h) {
    auto fill = [&](int64_t ax, int64_t ay, int64_t bx, int64_t by, uint8_t cr_, uint8_t cg,
                    uint8_t cb) {
      RectOn(cr, w, h, std::min(ax, bx), std::min(ay, by), std::max(ax, bx), std::max(ay, by), cr_,
             cg, cb, true);
    };
    fill(X, Y, X + 100, Y - 60, r, g, b);
    fill(X + 2, Y - 6, X + 98, Y - 58, 255, 255, 255);
    const int lowAngle = static_cast<int>(angle(low)), highAngle = static_cast<int>(angle(high));
    for (int a = 40; a <= 140; a += 10) {
      const double rad = a * kPi / 180.0;
      const double tx = static_cast<double>(X + 50 + static_cast<int64_t>(52 * std::cos(rad)));
      const double ty = static_cast<double>(Y - static_cast<int64_t>(52 * std::sin(rad)));
      if (a > lowAngle || a < highAngle)
        SetColour(cr, 255, 0, 0);
      else
        SetColour(cr, 0, 0, 0);
      StrokeLine(cr, w, h, tx, ty + 7, tx, ty, 1.0);
    }
    RectOn(cr, w, h, X + 30, Y - 32, X + 70, Y - 16, r, g, b, false);
    const double theta = angle(std::clamp(value, min, max)) * kPi / 180.0;
    SetColour(cr, 0, 0, 0);
    StrokeLine(cr, w, h, static_cast<double>(X + 50), static_cast<double>(Y),
               static_cast<double>(X + 50 + static_cast<int64_t>(43 * std::cos(theta))),
               static_cast<double>(Y - static_cast<int64_t>(43 * std::sin(theta))), 2.0);
    const bool alarm = value > high || value < low;
    const uint8_t lr = alarm ? 255 : r, lg = alarm ? 0 : g, lb = alarm ? 0 : b;
    fill(X + 40, Y + 2, X + 60, Y - 14, lr, lg, lb);
    fill(X + 2, Y - 2, X + 98, Y - 6, lr, lg, lb);
  });
  char text[32];
  auto clampi = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
  int n = std::snprintf(text, sizeof text, "%d", min);
  DrawTextAt(clampi(X + 10), clampi(Y - 22), text, n, r, g, b, kMeterFont, kMeterFontSize);
  n = std::snprintf(text, sizeof text, "%d", max);
  DrawTextAt(clampi(X + 70), clampi(Y - 22), text, n, r, g, b, kMeterFont, kMeterFontSize);
  n = std::snprintf(text, sizeof text, "%4d", value);
  DrawTextAt(clampi(X + 35), clampi(Y - 32), text, n, 0, 0, 255, kMeterFont, kMeterFontSize);
}
