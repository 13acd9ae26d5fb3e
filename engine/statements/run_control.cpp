// The run statements: end the run, pause, set the log level, the on-error
// action, the maximum run time and the step time-out, and start another
// script in a process of its own.
#include "engine/statements/run_control.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "engine/statements/arg_checks.h"
#include "engine/core/handlers.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/util/util.h"
#include "engine/core/var_store.h"
#include "engine/core/handler.h"
#include "platform/os_info.h"
#include "platform/process.h"

namespace {
constexpr int kSleepMax = 3600;
constexpr int kSecondsMax = 86400;
constexpr int kNmsPathMin = 2;
constexpr int kNmsPathMax = 250;
constexpr int kCmdLineMax = 1023;

char gProgram[1024];  // set by the test seam; empty: the running program

// The time settings' A3: whole seconds, 0 to 86400; 0, or the code of the
// run error it recorded.
int ArgSeconds3(int* v) {
  if (const int rc = ArgCheckRange(3, 0, kSecondsMax)) return rc;
  *v = igV[3];
  return 0;
}

bool Arg3Is(const char* word) {
  return CurStepIsArg3(3, word, static_cast<int>(std::strlen(word))) == 0;
}
}  // namespace

void RunNmsSetProgram(const char* path) {
  std::snprintf(gProgram, sizeof gProgram, "%s", path ? path : "");
}

int run_end() {
  sgRun.StepRunState = RUNEND;
  TarvDebugLog("\nrun_end ,begin ... ,run end.");
  TarvSetVar2("run.end", "run.end");
  return TarvReturn(0, "run_end return.");
}

int run_sleep_a2_seconds() {
  HandlerBegin();
  if (const int rc = ArgCheckRange(2, 1, kSleepMax)) return rc;
  const int v = igV[2];
  std::this_thread::sleep_for(std::chrono::seconds(v));
  return TarvReturn(0, "run_sleep_a2_seconds return.");
}

int run_set_loglevel_a3() {
  HandlerBegin();
  static constexpr struct {
    const char* word;
    int level;
  } kLevels[] = {{"debug", 4}, {"info", 2}, {"error", 1}, {"nolog", 0}};
  for (const auto& l : kLevels) {
    if (Arg3Is(l.word)) {
      TarvSetLogLevel(l.level);
      return TarvReturn(0, "run_set_loglevel_a3->A:3(%s) return.", l.word);
    }
  }
  if (Arg3Is("run.high")) {
    sgRun.PriorityClass = 128;
    // A refusal (no privilege to raise it) is no run error.
    if (ProcRaisePriority() != 0) return TarvReturn(-2, "run:SetPriority Err");
    return TarvReturn(0, "run_set_loglevel_a3->A:3(TARV_NOT_LOG) return.");
  }
  return NmsRunError(-3, "run_set_loglevel_a3->A:3(%s) is not support!", agA[3]);
}

int run_set_onerror_a3() {
  HandlerBegin();
  if (Arg3Is("ignore")) {
    sgRun.OnError = 0;
    return TarvReturn(0, "run_set_onerror_a3->A:3(ignore) return.");
  }
  if (Arg3Is("run.end")) {
    sgRun.OnError = 999;
    return TarvReturn(0, "run_set_onerror_a3->A:3(run.end) return.");
  }
  return NmsRunError(-3, "run_set_onerror_a3->A:3(%s) is not support!", agA[3]);
}

int run_set_run_maxtime_a3_seconds() {
  HandlerBegin();
  int v;
  if (int r = ArgSeconds3(&v)) return r;
  sgRun.MaxRunTime = v;
  return TarvReturn(0, "run_set_run_maxtime_a3_seconds return.");
}

int run_set_step_timeout_a3_seconds() {
  HandlerBegin();
  int v;
  if (int r = ArgSeconds3(&v)) return r;
  sgRun.StepTimeout = v;
  TarvDebugLog("\n设定单步执行超时时间为 %d 秒!", v);
  return TarvReturn(0, "run_set_step_timeout_a3_seconds return.");
}

int run_nms_a2() {
  HandlerBegin();
  const int len = igL[2];
  if (len < kNmsPathMin) return NmsRunError(-2, "Length of Arg 2 is :%d  < 2 !", len);
  if (len > kNmsPathMax) return NmsRunError(-2, "Length of Arg 2 is :%d > 250 !", len);
  agA[2][len] = 0;

  char program[1024] = {};
  if (gProgram[0])
    std::snprintf(program, sizeof program, "%s", gProgram);
  else if (ProgramPath(program, sizeof program) < 0)
    program[0] = 0;
  // Quoted, so that a folder name with blanks stays one word; the script
  // path goes as written.
  char cmd[2048];
  const int n = std::snprintf(cmd, sizeof cmd, "\"%s\" hide %s", program, agA[2]);
  // A cut command line would start some other program or script.
  if (n > kCmdLineMax)
    return NmsRunError(-2, "run_nms_a2 command line length=%d > 1023 !", n);
  sys_execute_no_output(cmd);
  return TarvReturn(0, "run_nms_a2 return.");
}

int sys_execute_no_output(const char* cmdLine) {
  TarvDebugLogEscaped("\nsys_execute_no_output [%s]", cmdLine);
  const int len = static_cast<int>(strnlen(cmdLine, CMDLINE_BYTES_MAX + 1));
  int32_t pid = -1;
  // Its own session and no pipe to us: the child outlives the run, and a
  // write of its never meets a closed reader.
  const int err = ProcSpawn(cmdLine, len, {}, true, &pid);
  if (err != 0) return NmsRunError(-1, "sys_execute_no_output Error on CreateProcess()=%d", err);
  ProcRelease(pid);
  return TarvReturn(0, "sys_execute_no_output return.");
}
