// The screen drawing state: the current colour, fill mode and font that the
// screen statements set and the primitives read.
#pragma once
#include <array>
#include <cstdint>

struct ScreenState {
  int32_t fillMode;     // 1 fill, 0 stroke
  int32_t lastCommand;  // kind of the last screen statement
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  std::array<char, 101> fontName;  // UTF-8, NUL-terminated
  int32_t fontSize;                // pixels
};

extern ScreenState sgScreen;

// Zeroes the record and sets the defaults: stroke, black, "Arial", 12.
void ScreenStateReset();
