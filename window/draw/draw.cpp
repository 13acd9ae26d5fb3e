#include "window/draw/draw.h"

#include <cstring>

#include "window/draw/back_buffer.h"
#include "window/draw/screen_state.h"

void DrawTextAt(int32_t, int32_t, const char*, int32_t, uint8_t, uint8_t, uint8_t, const char*, int32_t) {}
void DrawTextCurrent(int32_t, int32_t, const char*, int32_t) {}
void DrawLine(int32_t, int32_t, int32_t, int32_t, uint8_t, uint8_t, uint8_t) {}
void DrawLineCurrent(int32_t, int32_t, int32_t, int32_t) {}
void DrawRect(int32_t, int32_t, int32_t, int32_t, uint8_t, uint8_t, uint8_t, int32_t) {}
void DrawArc(int32_t, int32_t, int32_t, int32_t, int32_t, uint8_t, uint8_t, uint8_t, int32_t) {}
void DrawArcCurrent(int32_t, int32_t, int32_t, int32_t, int32_t) {}
void DrawPercentGauge(int32_t, int32_t, int32_t, int32_t) {}
void DrawPolygon(const DrawPoint*, int32_t, uint8_t, uint8_t, uint8_t, int32_t) {}
void DrawImageFile(const char*, int32_t, int32_t, int32_t, int32_t) {}
void WinSaveScreen(const char*, int32_t, int32_t, int32_t, int32_t) {}
void ScreenCopy(int32_t, int32_t, int32_t, int32_t) {}
void ScreenPaste(int32_t, int32_t, int32_t, int32_t, int32_t) {}
void ScreenCopyRelease() {}
void FindInstalledFont(const char*, char* result) { std::memcpy(result, "Arial", 6); }
void ScreenCommand(const char*, int32_t) {}
void DrawMeter(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {}
int32_t CommandFieldInt(const char*, int32_t) { return 0; }
