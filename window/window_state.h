// The window's process-wide values, shared by the window thread and the
// runner thread; every value both threads touch is atomic.
#pragma once
#include <atomic>
#include <cstdint>

// Button ids; the radio ids double as the output pane's page types.
inline constexpr int ID_PAGE_FIRST = 80;
inline constexpr int ID_PAGE_NEXT = 81;
inline constexpr int ID_PAGE_PREV = 82;
inline constexpr int ID_PAGE_LAST = 83;
inline constexpr int ID_RUN_STEP = 84;
inline constexpr int ID_RUN = 85;
inline constexpr int ID_SHOW_SENTENCE = 90;
inline constexpr int ID_SHOW_TEXT = 91;
inline constexpr int ID_SHOW_VAR = 92;
inline constexpr int ID_SHOW_LOG = 93;
inline constexpr int ID_SHOW_SCRIPT = 94;
inline constexpr int ID_SHOW_CLEAR = 95;

inline constexpr int PAGE_LAST = 9999;  // displayPage asking for the last page

inline constexpr int WIN_WIDTH = 850;
inline constexpr int WIN_HEIGHT = 750;
inline constexpr int WIN_X = 10;
inline constexpr int WIN_Y = 10;
inline constexpr int FLUSH_ROWS = 508;  // rows of the back buffer the window shows

struct WindowState {
  std::atomic<int32_t> displayType{ID_SHOW_LOG};
  std::atomic<int32_t> displayPage{0};
  std::atomic<int32_t> editChars{0};
  // The run mode the buttons ask for; the runner copies it into the run
  // state before each step, so the engine reads it on its own thread.
  std::atomic<int32_t> requestedMode{0};
  std::atomic<int32_t> threadStarted{0};
  std::atomic<int32_t> threadEnded{0};
};

extern WindowState sgWin;

// Back to the start-up values (a new window in the same process).
void WindowStateReset();
