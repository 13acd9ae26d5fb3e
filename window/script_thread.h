// The runner thread: runs the script's steps while the window stays
// responsive.  A windowed run starts paused; the run buttons and the panel's
// Go and step glyphs set the run mode and wake the runner.
#pragma once
#include <cstdint>

// The step event: a flag under a mutex with a condition variable.
// Created set, as a new window starts it.
void StepEventInit();
void StepEventSet();
void StepEventReset();
// Waits until the event is set or the window closes; false when closed.
bool StepEventWait();
// The window has closed: every wait of the runner ends.
void StepEventClose();
// True while the runner is blocked waiting for the event.
bool StepEventWaiting();

// A page button (80..83, 90..95): shown at once, from what the runner last
// published, whatever step it is in.
void PageRequest(int id);

// A run button or glyph: stores the run mode, then wakes the runner.
void RunModeCommand(int32_t runMode);

// The runner's body: every step, the window's state published as it goes
// and drawn before each wait; then the end of the run, drawn once more.
void ScriptThread();
