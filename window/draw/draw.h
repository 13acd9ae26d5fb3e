// Drawing primitives on the back buffer.  Coordinates are back-buffer
// pixels (origin top-left, y down); angles are degrees clockwise from three
// o'clock; colours are opaque RGB.  Every primitive except FindInstalledFont
// returns at once when drawing is not enabled (hide mode, or no buffer).
// Nothing drawn reaches the window before its next flush.
#pragma once
#include <cstdint>
#include <string>

struct DrawPoint {
  int32_t x;
  int32_t y;
};

// A box of pixels: columns x1 .. x2 - 1, rows y1 .. y2 - 1.
struct DrawBox {
  int32_t x1, y1, x2, y2;
};
inline bool DrawBoxWithin(const DrawBox& inner, const DrawBox& outer) {
  return inner.x1 >= outer.x1 && inner.y1 >= outer.y1 && inner.x2 <= outer.x2 && inner.y2 <= outer.y2;
}

// While one lives, drawing on its thread reaches only the inside of the
// boxes, or only what lies outside all of them (the boxes must not
// overlap).  Pixels drawn are those drawing without it would draw there.
class DrawClip {
 public:
  DrawClip(const DrawBox* boxes, int count, bool inside);
  ~DrawClip();
  DrawClip(const DrawClip&) = delete;
  DrawClip& operator=(const DrawClip&) = delete;

 private:
  const DrawBox* boxes_;
  int count_;
  bool inside_;
};

// A text as DrawTextAt was asked to draw it.
struct DrawnText {
  int32_t x, y;
  const char* text;
  int32_t len;
  uint8_t red, green, blue;
  const char* family;
  int32_t size;
};
// While one lives, DrawTextAt on its thread hands its text to `sink`
// instead of drawing, and every other primitive draws nothing.
class DrawTextCapture {
 public:
  DrawTextCapture(void (*sink)(const DrawnText&, void*), void* context);
  ~DrawTextCapture();
  DrawTextCapture(const DrawTextCapture&) = delete;
  DrawTextCapture& operator=(const DrawTextCapture&) = delete;
};

// A box holding every pixel DrawTextAt would ink for the text (an empty box
// at (0, 0) when it would ink none).  Draws nothing.
DrawBox DrawTextInk(int32_t x, int32_t y, const char* text, int32_t len, const char* family,
                    int32_t size);
// A quicker box, larger than DrawTextInk's, for a text of printable ASCII
// alone (from the widths of its characters, laid out once a font); false
// for any other text.
bool DrawTextInkBound(int32_t x, int32_t y, const char* text, int32_t len, const char* family,
                      int32_t size, DrawBox& box);

// Text with its layout origin (top-left) at (x, y); `len` bytes of UTF-8.
// An unknown family draws nothing.
void DrawTextAt(int32_t x, int32_t y, const char* text, int32_t len, uint8_t red, uint8_t green,
                uint8_t blue, const char* family, int32_t size);
void DrawTextCurrent(int32_t x, int32_t y, const char* text, int32_t len);
// 1-pixel line, not anti-aliased.
void DrawLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t red, uint8_t green,
              uint8_t blue);
void DrawLineCurrent(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// Top-left (x1, y1), size (x2 - x1) x (y2 - y1); filled when fill != 0,
// else a 1-pixel outline whose right and bottom edges lie on x2 and y2.
void DrawRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t red, uint8_t green,
              uint8_t blue, int32_t fill);
// Arc (or filled pie) of the circle (cx, cy, r) from `start` sweeping
// `end - start` degrees; negative sweeps turn counter-clockwise.
void DrawArc(int32_t cx, int32_t cy, int32_t r, int32_t start, int32_t end, uint8_t red,
             uint8_t green, uint8_t blue, int32_t fill);
void DrawArcCurrent(int32_t cx, int32_t cy, int32_t r, int32_t start, int32_t end);
void DrawPercentGauge(int32_t cx, int32_t cy, int32_t r, int32_t percent);
// Filled (even-odd rule) when fill != 0, else the closed outline.
void DrawPolygon(const DrawPoint* points, int32_t count, uint8_t red, uint8_t green, uint8_t blue,
                 int32_t fill);
// The whole image of the file stretched into the rectangle; an unreadable
// file, or one that cannot be drawn, draws nothing.
void DrawImageFile(const char* file, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// How an image file of width x height declared pixels and fileBytes bytes
// is read for a target rectangle of targetW x targetH: whole, decoded at the
// target's size (an image too large to read whole, or with a side longer
// than kImageSide), or refused (more pixels than the file's bytes can hold).
inline constexpr int64_t kImageWholePixels = 4096 * 4096;
inline constexpr int64_t kImageSide = 24576;  // cairo draws nothing from about 32,700
inline constexpr int64_t kImagePixelsPerByte = 16384;
struct ImageDecode {
  enum Kind { kRefuse, kWhole, kScaled } kind;
  int64_t width;
  int64_t height;
};
ImageDecode ImageDecodeFor(int64_t width, int64_t height, int64_t fileBytes, int64_t targetW,
                           int64_t targetH);
// A PNG file of the buffer region (a target file of kTruncate); nothing
// written for an empty region or without a buffer.  false when the file was
// refused or not written whole, with what went wrong (TargetFile::Why) in
// *why.
bool WinSaveScreen(const char* file, int32_t x1, int32_t y1, int32_t x2, int32_t y2, std::string* why = nullptr);
// Keeps a snapshot of the region for ScreenPaste.
void ScreenCopy(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// The snapshot scaled into the rectangle, turned clockwise by `degrees`
// about (x1, y1); nothing before a ScreenCopy.
void ScreenPaste(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t degrees);
// Forgets the snapshot.
void ScreenCopyRelease();
// The bytes the snapshot's pixels take (0 without one).
int64_t ScreenCopyBytes();
// The first installed family whose name begins with `request`
// (case-sensitive), else "Arial"; `result` holds at least 91 bytes.
void FindInstalledFont(const char* request, char* result);
// One bar-separated drawing command ("t|..", "l|..", "o|..", "c|..",
// "e|..", "m|notes"), or an echo to the output pane.
void ScreenCommand(const char* command, int32_t len);
void DrawMeter(int32_t x, int32_t y, int32_t min, int32_t max, int32_t low, int32_t high,
               int32_t value);
// atoi of bar-separated field `field` (1-based) of the command.
int32_t CommandFieldInt(const char* command, int32_t field);
