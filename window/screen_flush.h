// The flush: the screen's frame is redrawn into the back buffer and the
// window is asked to show the buffer's top rows again.
#pragma once

// Sets what asks the window to repaint (nullptr: no window).  The call may
// come from any thread.
void ScreenFlushSetRepaint(void (*repaint)());
void ScreenFlush();
