#include "engine/core/observer.h"

#include <cstdarg>
#include <cstdio>

const EngineObserver* sgObserver = nullptr;

void TarvSetObserver(const EngineObserver* observer) { sgObserver = observer; }

int ScreenPrintf(const char* fmt, ...) {
  if (!ScreenActive() || sgObserver->Print == nullptr) return 0;
  // A text that does not fit is not shown at all: the pane gets length -1.
  char text[1024] = {};
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(text, kScreenPrintfRoom, fmt, ap);
  va_end(ap);
  if (n >= kScreenPrintfRoom) n = -1;
  sgObserver->Print(text, n);
  return n;
}

int ScreenLog(const char* text, int len) {
  if (ScreenActive() && sgObserver->Log) sgObserver->Log(text, len);
  return 0;
}

void ScreenBanner(const char* text, int len) {
  if (ScreenActive() && sgObserver->Banner) sgObserver->Banner(text, len);
}

void ScreenStepBegins(int line) {
  if (ScreenActive() && sgObserver->StepBegins) sgObserver->StepBegins(line);
}

void ScreenRunEnd() {
  if (sgObserver != nullptr && sgObserver->RunEnd) sgObserver->RunEnd();
}
