#include "window/window_state.h"

#include "engine/core/run_state.h"

WindowState sgWin;

void WindowStateReset() {
  sgWin.displayType = ID_SHOW_LOG;
  sgWin.displayPage = 0;
  sgWin.editChars = 0;
  sgWin.requestedMode = RUNMODE_STEP;
  sgWin.threadStarted = 0;
  sgWin.threadEnded = 0;
}
