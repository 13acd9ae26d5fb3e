// One step of a run, the dispatch of a line to its handler, and the end of a run.
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <string>
#include <string_view>
#include <ctime>

#include "engine/core/engine.h"
#include "engine/core/family.h"
#include "engine/core/handlers.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/secret_words.h"
#include "engine/core/statement_table.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "platform/fault_guard.h"
#include "engine/core/observer.h"

namespace {
// The counters every step publishes after its statement, in this order, in
// the store's counter slots 0..7; step.line, written before the statement,
// takes slot 8.
constexpr int kCounters = 8;
constexpr std::string_view kCounterNames[kCounters] = {
    "run.errors", "run.steps", "step.errors", "step.bytes",
    "text.bytes", "var.count", "var.bytes",   "run.seconds"};
constexpr int kStepBytesSlot = 3;
constexpr int kStepLineSlot = kCounters;

// While TarvRunToEnd's jump buffer is armed, handlers are called without a
// buffer of their own; gInHandler opens the buffer for the handler's call
// only, and gCallRow and gStep tell the faulted step.
bool gLoopArmed = false;
volatile sig_atomic_t gInHandler = 0;
int gCallRow = 0;
struct {
  int line;
  int textLenBefore;
} gStep;

int EndStep(int line, int textLenBefore);

// The counters in their order, each value read as its turn comes (a write
// may grow the pool, whose fill and count are such values).
void PublishCounters(int32_t stepBytes) {
  const bool direct = VarCountersDirect();
  const int32_t step = sgRun.RunSteps;
  auto put = [direct, step](int k, int32_t value) {
    if (direct)
      VarSetCounterDirect(k, kCounterNames[k], value, step);
    else
      VarSetCounterByName(k, kCounterNames[k], value);
  };
  put(0, sgRun.RunErrors);
  put(1, sgRun.RunSteps);
  put(2, sgRun.StepErrors);
  put(3, stepBytes);
  put(4, sgRun.TextLen);
  put(5, sgVar.Count);
  put(6, sgVar.Fill);
  put(7, sgRun.RunSeconds);
}

int HandlerFaulted(long code) {
  NmsRunError(-9999, "Call [%s], __except=(%ld)!", sgFun[gCallRow].Pattern, code);
  return 0;
}

void BlankLineNote() {
  char word[1025];
  std::string room;
  const std::string_view shown = ShownWord(sgNms.FirstWord[sgRun.CurLine], room);
  // A blank line has no word of its own: its view is empty, with no bytes.
  const int n = shown.size() < 1024 ? static_cast<int>(shown.size()) : 1024;
  if (n > 0) std::memcpy(word, shown.data(), n);
  word[n] = 0;
  TarvDebugLogEscaped("\n[%s], Line No. [%d] be blank, don't need to run.", word,
                      sgRun.CurLine);
}

void PrintRunEnd() {
  if (ScreenActive()) ScreenPrintf("\r\n----------Script Run End----------");
}
}  // namespace

int EsBlankLine() {
  if (sgLog.LogLevel >= 4) BlankLineNote();
  sgRun.StepRunState = ENDOK;
  return 0;
}

int EsCallStep() {
  int id = sgNms.FunID[sgRun.CurLine];
  if (static_cast<unsigned>(id) > MAX_FUN - 1) {
    if (sgLog.LogLevel >= 4) BlankLineNote();
    sgRun.StepRunState = ENDOK;
    return 0;
  }
  const FunRow& row = sgFun[id];
  TarvDebugLog("\n__try Call [%d], [%s] ... ", id, row.Pattern);
  int result = 0;
  if (gLoopArmed && gInHandler == 0) {
    // The run loop's jump buffer catches a fault; an exception is caught here.
    gCallRow = id;
    gInHandler = 1;
    try {
      result = row.Fun();
    } catch (...) {
      gInHandler = 0;
      return HandlerFaulted(-1);
    }
    gInHandler = 0;
    return result;
  }
  long code = 0;
  if (!GuardedCall(row.Fun, &result, &code)) {
    NmsRunError(-9999, "Call [%s], __except=(%ld)!", row.Pattern, code);
    return 0;
  }
  return result;
}

int EsRunNextStep() {
  if (sgRun.StepRunState == RUNEND) {
    TarvDebugLog("\nRun Script End,Step=[%d],run.end!", sgRun.CurLine);
    return 0;
  }
  if (sgRun.GotoLine > 0) {
    sgRun.CurLine = sgRun.GotoLine;
    sgRun.GotoLine = 0;
    TarvDebugLog("\nGoto Step=[%d] ...", sgRun.CurLine);
  }
  if (sgRun.CurLine > sgNms.LineCount || sgRun.CurLine < 1) {
    TarvDebugLog("\nRun All Script End,Step=[%d]!", sgRun.CurLine);
    sgRun.StepRunState = RUNEND;
    return 0;
  }
  const int line = sgRun.CurLine;
  if (ScreenActive()) {
    ScreenPrintf("\r\nrun.steps: [%d], Run Next Step, Line No.[%d] ......", sgRun.RunSteps, line);
    ScreenPrintf("\r\n%s", "------------------------------------------------------------"
                           "------------------------------------------------");
  }
  TarvDebugLog("\n\r\nrun.steps: [%d], Run Next Step, Line No.[%d] ......", sgRun.RunSteps, line);
  sgRun.RunSteps++;
  const int textLenBefore = sgRun.TextLen;

  if (EsPrepareStep() < 0) {
    sgRun.StepRunState = ENDOK;
    if (ScreenActive()) ScreenPrintf("\r\n(^*^)Line [%d] Prepare Error, Next Step ...\r\n", line);
    TarvDebugLog("\n(^*^)Line [%d] Prepare Error, Next Step ...", line);
    sgRun.CurLine++;
    TarvSetCounter(kStepBytesSlot, kCounterNames[kStepBytesSlot], 0);
    return 0;
  }

  TarvSetCounter(kStepLineSlot, "step.line", line);
  sgNms.RunCount[line]++;
  gStep = {line, textLenBefore};
  EsCallStep();
  return EndStep(line, textLenBefore);
}

namespace {
// The rest of a step once its handler returned (or faulted).
int EndStep(int line, int textLenBefore) {
  const int32_t stepBytes = sgRun.TextLen - textLenBefore;
  sgRun.RunSeconds = static_cast<int32_t>(std::time(nullptr) - sgLog.StartTime);
  PublishCounters(stepBytes);

  if (sgRun.StepErrors > 0) sgNms.ErrorSteps[line]++;

  if (sgRun.OnError == 999 && sgRun.RunErrors >= 1) {
    sgRun.StepRunState = RUNEND;
    TarvSetVar2("run.end", "OnError");
    HtmlLogSuccess("Line No. [%d] Run end. run.end, because have [%d] errors!!!", line,
                   sgRun.RunErrors);
    if (ScreenActive())
      ScreenPrintf("\r\nLine No. [%d] Run end. run.end, because have [%d] errors!!!\r\n", line,
                   sgRun.RunErrors);
    PrintRunEnd();
  }
  if (sgRun.MaxRunTime >= 1 && sgRun.RunSeconds > sgRun.MaxRunTime) {
    sgRun.StepRunState = RUNEND;
    TarvSetVar2("run.end", "MaxRunTime");
    HtmlLogSuccess("Line No. [%d] Run end. run.end, because run.seconds=[%d] > [%d], timeout!!!",
                   line, sgRun.RunSeconds, sgRun.MaxRunTime);
    if (ScreenActive())
      ScreenPrintf("\r\nLine No. [%d] Run end. run.end, because run.seconds=[%d] > [%d], timeout!!!",
                   line, sgRun.RunSeconds, sgRun.MaxRunTime);
    PrintRunEnd();
  }

  switch (sgRun.StepRunState) {
    case ENDOK:
      if (sgRun.StepErrors >= 1) {
        HtmlLogError("(^_^) Line [%d] Run End, step.errors=%d\nList created or updated Var:", line,
                     sgRun.StepErrors);
        if (ScreenActive())
          ScreenPrintf("\r\n(^_^) Line [%d] Run End, step.errors=%d\r\n", line, sgRun.StepErrors);
      } else {
        HtmlLogSuccess("(^_^) Line [%d] Run End, Ok!\nList created or updated Var:", line);
        if (ScreenActive()) ScreenPrintf("\r\n(^_^) Line [%d] Run End, Ok!\r\n", line);
      }
      if (TarvLogLevel() >= 2) {
        HtmlLogVars(sgRun.RunSteps);
        if (stepBytes > 0) HtmlLogText(stepBytes);
      }
      sgRun.CurLine++;
      break;
    case RUNEND:
      HtmlLogSuccess("(^_^) Line [%d], Run End", line);
      if (ScreenActive()) ScreenPrintf("\r\n(^_^) Line [%d], Run End!", line);
      PrintRunEnd();
      break;
    default:
      HtmlLogSuccess("......Line [%d],State=%d Not End Now !", line, sgRun.StepRunState);
      break;
  }
  return 0;
}

}  // namespace

// The closing lines at every level the file was started at, as a window's
// end writes them: a log read at info or error level is a whole file too.
void EsEndLog() { TarvFinishLog(nullptr); }

int EsRunEnd(bool endLog) {
  char cmd[sizeof sgLog.CmdLine * 5];
  int n = HtmlEscape(sgLog.CmdLine, static_cast<int>(strnlen(sgLog.CmdLine, sizeof sgLog.CmdLine)),
                     cmd, sizeof cmd - 1);
  cmd[n < 0 ? 0 : n] = 0;
  HtmlLogSuccess("pid:%d, [%s] run.ed, exit ......", sgLog.Pid, cmd);
  HtmlLogVars(0);
  if (endLog) EsEndLog();
  else TarvFlushLog();
  return 0;
}

int TarvRunToEnd() {
  // One jump buffer for the whole run: a handler's fault comes back here,
  // where its step is counted and ended as if the handler had returned.
  sigjmp_buf jump;
  const FaultGuardArming outer = FaultGuardCurrent();
  if (sigsetjmp(jump, 0) != 0) {
    gInHandler = 0;
    HandlerFaulted(FaultGuardSignal());
    EndStep(gStep.line, gStep.textLenBefore);
  }
  FaultGuardSet({&jump, &gInHandler});
  gLoopArmed = true;
  while (sgRun.StepRunState != RUNEND) EsRunNextStep();
  gLoopArmed = false;
  FaultGuardSet(outer);
  TarvFamiliesEndOfRun();
  EsRunEnd();
  TarvCloseLog();
  return 0;
}
