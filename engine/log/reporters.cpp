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
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log_sink.h"

namespace {

// Formatting rooms: a longer message is cut to fit.
constexpr int kRunErrorRoom = 1022;
constexpr int kNmsErrorRoom = 1020;
// run.error.N holds no more than an argument can take in, so that a script
// can read back every error it is given.
constexpr int kRunErrorValueMost = ARG_ROOM - 1;

std::atomic<bool> gRunErrorPause{true};

bool Continues(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Escapes a reporter's formatted message (it carries script data) into room
// bytes with the NUL, cut before the first character that would not fit.
int EscapeMessage(const char* msg, int n, char* dest, int room) {
  int out = 0, whole = 0;
  for (int i = 0; i < n; i++) {
    if (!Continues(msg[i])) whole = out;
    char piece[8];
    const int k = HtmlEscape(msg + i, 1, piece, sizeof piece);
    if (k < 0 || out + k > room - 1) {
      out = whole;
      break;
    }
    std::memcpy(dest + out, piece, k);
    out += k;
  }
  dest[out] = 0;
  return out;
}

int LevelNow() { return TarvLogLevel(); }

}  // namespace

void TarvSetRunErrorPause(bool on) { gRunErrorPause = on; }

int NmsRunError(int code, const char* fmt, ...) {
  sgRun.RunErrors++;
  sgRun.StepErrors++;
  if (!fmt || !*fmt) return code;
  // Room past the cut, so that the cut sees the characters it splits.
  char msg[kRunErrorRoom + 4];
  va_list ap;
  va_start(ap, fmt);
  const int formatted = std::vsnprintf(msg, sizeof msg, fmt, ap);
  va_end(ap);
  if (formatted <= 0) return code;
  const int n = Utf8CutLength(msg, std::min(formatted, static_cast<int>(sizeof msg) - 1), kRunErrorRoom - 1);
  const int count = sgRun.RunErrors;
  if (LevelNow() >= 1) {
    char head[64];
    const int hn = std::snprintf(head, sizeof head, "run.errors: [%d] , description: [", count);
    char escaped[kLogMessageRoom];
    EscapeMessage(msg, n, escaped, kLogMessageRoom - hn - 1);
    HtmlLogError("%s%s]", head, escaped);
  }
  TarvSetVarInt2("run.errors", count);
  if (gRunErrorPause) std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  char name[62];
  std::snprintf(name, sizeof name, "run.error.%d", count);
  // The description gives way so that its closing bracket fits the value.
  char value[VAR_VAL];
  const int hn = std::snprintf(value, sizeof value, "run.steps [%d], Line No. [%d], Error: [", sgRun.RunSteps,
                               sgRun.CurLine);
  const int dn = Utf8CutLength(msg, n, kRunErrorValueMost - 1 - hn);
  const int vn = std::snprintf(value + hn, sizeof value - hn, "%.*s]", dn, msg);
  TarvSetVar3(name, value, hn + vn);
  return code;
}

int NmsError(int code, const char* fmt, ...) {
  char msg[kNmsErrorRoom + 4] = {};
  if (fmt && *fmt) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
  }
  const int n = Utf8CutLength(msg, static_cast<int>(std::strlen(msg)), kNmsErrorRoom - 1);
  if (n > 0 && LevelNow() >= 1) {
    char escaped[kLogMessageRoom];
    EscapeMessage(msg, n, escaped, kLogMessageRoom);
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
