// What a run shows in the window while it goes on: the runner publishes the
// banner bar's text, the status panel and the output pane's text, and the
// window's thread draws them at the display's frame rate, the steps between
// two frames coalesced.  The runner never waits for the window's thread.
//
// Drawing keeps the run's order: whatever draws on the back buffer (a screen
// statement, a GIF frame) first draws what is published, on its own thread.
#pragma once
#include "engine/core/observer.h"
#include "window/output_pane.h"

// The observer of a watched run: pane text through the output pane, the
// banner bar published here.
const EngineObserver* WindowObserver();
// The pane's target while a window shows the run: text gathered for the
// next frame.  Its size stays within one automatic clear of the pane.
const EditTarget* FramePaneTarget();

// Forgets everything published; drawing before other drawing is set up.
void FrameReset();

// Runner thread: the banner bar's text for the next frame; what runs out
// of the bar is drawn at once.
void FrameBanner(const char* text, int len);
// Draws the banner bar at once (no flush).
void DrawBannerBar(const char* text, int len);

// Runner thread: the panel as the run's state is now, for the next frame.
void FramePanel();
// Runner thread: true once a frame's time has passed since the last true.
bool FrameDue();

// Draws what is published into the back buffer, banner then panel, then
// flushes; false when nothing was published.  Any thread.
bool FrameDraw();
// Hands the pane text gathered since the last call to the edit, after a
// clear when one was asked.  Window thread (or a test standing for it).
void FrameTakePane(const EditTarget& edit);

// What tells the window's thread that a frame waits (nullptr: nothing).
void FrameSetWake(void (*wake)());
// Runner thread, before it waits or after the run's end: the panel as it is
// now drawn here, then the window woken for the pane and the repaint.
void FrameShowNow();
