// The main window of a run in any mode but hide: the screen and status
// panel copied from the back buffer, the banner bar, the output pane and the
// twelve buttons.  The script runs on the runner thread meanwhile.
#pragma once

// Opens the window, runs the script on the runner thread and serves the
// window until it is closed.  Returns the process's exit code: 0, or 1 when
// no display can be opened.  Call after the engine's start-up.
int WindowMain();

// The start-up text of the banner bar.
inline constexpr char BANNER_START_TEXT[] =
    "Tarv Ver[tarv8.13(vindelor-ipv6-20200205)] Please click the <Go> or <run> button";
