#include "window/output_pane.h"

// No window is built yet: the engine runs without one in every mode.
bool ScreenActive() { return false; }
int ScreenPrintf(const char*, ...) { return 0; }
int ScreenLog(const char*, int) { return 0; }
int DrawRect(int, int, int, int, int, int, int, int) { return 0; }
int DrawTextAt(int, int, const char*, int, int, int, int, const char*, int) { return 0; }
int ScreenRefresh() { return 0; }
