// How a window watches a run.  The engine calls these at fixed points of a
// step; a window registers an observer, and with none registered (the hide
// mode) every call is one predictable branch.
#pragma once

struct EngineObserver {
  bool (*Showing)();                          // a window shows the run now
  void (*Print)(const char* text, int len);   // text for the output pane
  void (*Log)(const char* text, int len);     // text for the pane's log page
  void (*Banner)(const char* text, int len);  // the step's line on the banner bar
  void (*StepBegins)(int line);
  void (*RunEnd)();
};

// nullptr: no window.  The observer must outlive the run.
void TarvSetObserver(const EngineObserver* observer);

extern const EngineObserver* sgObserver;

// True while a window shows the run; the engine skips formatting pane text
// nobody will see.
inline bool ScreenActive() { return sgObserver != nullptr && sgObserver->Showing(); }

// Formats into the output pane; a text longer than 1019 bytes reaches the
// pane as length -1 (shown as nothing).  Nothing without a window.
inline constexpr int kScreenPrintfRoom = 1020;
int ScreenPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
int ScreenLog(const char* text, int len);
void ScreenBanner(const char* text, int len);
void ScreenStepBegins(int line);
void ScreenRunEnd();
