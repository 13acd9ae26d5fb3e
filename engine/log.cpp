#include "engine/log.h"

#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

#include "engine/run_state.h"
#include "engine/script.h"
#include "engine/var_store.h"

LogState sgLog;

namespace {
bool gRunErrorPause = true;
}

void TarvSetRunErrorPause(bool on) { gRunErrorPause = on; }

void LogStateClear() { std::memset(&sgLog, 0, sizeof sgLog); }

int TarvReturn(int code, const char*, ...) { return code; }

int NmsRunError(int code, const char* fmt, ...) {
  sgRun.RunErrors++;
  sgRun.StepErrors++;
  char msg[1024];
  int n = 0;
  if (fmt && *fmt) {
    va_list ap;
    va_start(ap, fmt);
    n = std::vsnprintf(msg, 1022, fmt, ap);
    va_end(ap);
  }
  if (n <= 0 || n >= 1022) return code;
  HtmlLogError("run.errors: [%d] , description: [%s]", sgRun.RunErrors, msg);
  TarvSetVarInt2("run.errors", sgRun.RunErrors);
  if (gRunErrorPause) std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  char name[64];
  std::snprintf(name, 62, "run.error.%d", sgRun.RunErrors);
  char value[1024];
  int vn = std::snprintf(value, 1022, "run.steps [%d], Line No. [%d], Error: [%s]", sgRun.RunSteps,
                         sgRun.CurLine, msg);
  if (vn >= 1022) vn = 1021;
  TarvSetVar3(name, value, vn);
  return code;
}

int NmsError(int code, const char* fmt, ...) {
  char msg[1024] = {};
  if (fmt && *fmt) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(msg, 1020, fmt, ap);
    va_end(ap);
  }
  if (msg[0]) HtmlLogWarning("%s", msg);
  sgNms.ErrCount++;
  char name[64];
  std::snprintf(name, sizeof name, "nms.error.%d", sgNms.ErrCount);
  if (msg[0]) TarvSetVar2(name, msg);
  TarvSetVarInt2("nms.errors", sgNms.ErrCount);
  return code;
}

int TarvDebugLog(const char*, ...) { return 0; }
int HtmlLogError(const char*, ...) { return 0; }
int HtmlLogWarning(const char*, ...) { return 0; }
int HtmlLogSuccess(const char*, ...) { return 0; }
int HtmlLogStep(const char*) { return 0; }
int HtmlLogVars(int) { return 0; }
int HtmlLogText(int) { return 0; }
int TarvFlushLog() { return 0; }
void TarvCloseLog() {}
int FormatLocalTime(char* dest) {
  dest[0] = 0;
  return 0;
}
