// What the engine shows in the window: the output pane and the banner bar.
// Until a window exists (and always in the hide mode) every call returns at once.
#pragma once

int ScreenPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
int ScreenLog(const char* text, int len);
int DrawRect(int x1, int y1, int x2, int y2, int red, int green, int blue, int filled);
int DrawTextAt(int x, int y, const char* text, int len, int red, int green, int blue,
               const char* font, int size);
int ScreenRefresh();

// True while a window shows the run; the engine skips formatting pane text
// nobody will see.
bool ScreenActive();
