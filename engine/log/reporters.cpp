// The reporters: run errors and script errors, counted and published as
// variables, and the variables table of a step.
#include "engine/log/reporters.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/var_store.h"
#include "engine/log/log_sink.h"

namespace {

// Formatting rooms: a message must be shorter than these to be reported.
constexpr int kRunErrorRoom = 1022;
constexpr int kNmsErrorRoom = 1020;

std::atomic<bool> gRunErrorPause{true};

// Escapes a reporter's formatted message: it carries script data.
int EscapeMessage(const char* msg, int n, char* dest, int room) {
  const int e = HtmlEscape(msg, n, dest, room - 1);
  dest[e < 0 ? 0 : e] = 0;
  return e;
}

int LevelNow() { return TarvLogLevel(); }

}  // namespace

void TarvSetRunErrorPause(bool on) { gRunErrorPause = on; }

int NmsRunError(int code, const char* fmt, ...) {
  sgRun.RunErrors++;
  sgRun.StepErrors++;
  if (!fmt || !*fmt) return code;
  char msg[kRunErrorRoom];
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(msg, sizeof msg, fmt, ap);
  va_end(ap);
  if (n <= 0 || n >= kRunErrorRoom) return code;
  const int count = sgRun.RunErrors;
  if (LevelNow() >= 1) {
    char escaped[kRunErrorRoom * 5];
    EscapeMessage(msg, n, escaped, sizeof escaped);
    HtmlLogError("run.errors: [%d] , description: [%s]", count, escaped);
  }
  TarvSetVarInt2("run.errors", count);
  if (gRunErrorPause) std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  char name[62];
  std::snprintf(name, sizeof name, "run.error.%d", count);
  char value[1022];
  const int vn = std::snprintf(value, sizeof value, "run.steps [%d], Line No. [%d], Error: [%s]",
                               sgRun.RunSteps, sgRun.CurLine, msg);
  TarvSetVar3(name, value, std::min(vn, static_cast<int>(sizeof value) - 1));
  return code;
}

int NmsError(int code, const char* fmt, ...) {
  char msg[1024] = {};
  if (fmt && *fmt) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(msg, kNmsErrorRoom, fmt, ap);
    va_end(ap);
  }
  const int n = static_cast<int>(std::strlen(msg));
  if (n > 0 && LevelNow() >= 1) {
    char escaped[kNmsErrorRoom * 5];
    EscapeMessage(msg, n, escaped, sizeof escaped);
    HtmlLogWarning("%s", escaped);
  }
  sgNms.ErrCount++;
  char name[64];
  const int nl = std::snprintf(name, sizeof name, "nms.error.%d", sgNms.ErrCount);
  if (n > 0 && nl > 0) TarvSetVar3(name, msg, n);
  TarvSetVarInt2("nms.errors", sgNms.ErrCount);
  return code;
}

int HtmlLogVars(int step) {
  if (LevelNow() < 2) return 0;
  LogTableWriter t;
  if (!t.Ok()) return -1;
  t.Put("\n<table><tr><th>index</th><th>editByStep</th><th>Name</th><th>Value</th></tr>");
  const int count = std::clamp(sgVar.Count, 0, VAR_SLOTS - 1);
  for (int i = 1; i <= count; i++) {
    if (step != 0 && sgVar.editByStep[i] != step) continue;
    t.PutF("\n<tr><td>%d</td><td>%d</td><td>", i, sgVar.editByStep[i]);
    t.PutEscaped(VarName(i), sgVar.NameLen[i]);
    t.Put("</td><td>");
    // A value shows up to its first NUL byte.
    const char* value = VarValue(i);
    const void* nul = std::memchr(value, 0, sgVar.ValLen[i]);
    t.PutEscaped(value, nul ? static_cast<const char*>(nul) - value : sgVar.ValLen[i]);
    t.Put("</td></tr>\n");
  }
  t.Put("\n</table>\n");
  return t.End();
}
