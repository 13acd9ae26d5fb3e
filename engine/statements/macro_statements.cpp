// The macro statements.  A call jumps to the macro.begin of its name below
// the calling line and remembers the calling line on the macro stack;
// macro.end and macro.return go back to the line after the latest call.
// Entry 0 of the stack is never used, so at most 19 calls are active.
#include "engine/statements/arg_checks.h"
#include "engine/core/handlers.h"
#include "engine/statements/jump_search.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/core/handler.h"

namespace {

// The calling line of the latest active call, or 0 with none.
int CallingLine() {
  const int d = sgRun.MacroDepth;
  return d >= 0 && d < MACRO_DEPTH ? sgRun.MacroStack[d] : 0;
}

int Return(const char* begin, const char* ok, const char* noCall) {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog(begin, sgRun.MacroDepth, CallingLine());
  if (sgRun.MacroDepth < 1) return NmsRunError(-9, "%s", noCall);
  sgRun.GotoLine = CallingLine() + 1;
  sgRun.MacroDepth--;
  return TarvReturn(0, "%s", ok);
}

}  // namespace

int macro_call_a2() {
  HandlerBegin();
  if (int r = ArgCheckLength(2, VAR_NAME - 2, -2)) return r;
  // A failed call is recorded by the search; the next line runs.
  EsGotoMacroBegin(agA[2], igL[2]);
  return TarvReturn(0, "macro_call_a2 return.");
}

// Reached by a call or by ordinary flow alike: it is no barrier.
int macro_begin_a2() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nmacro_begin_a2 ,begin ...,call time=%d,called step=%d", sgRun.MacroDepth,
               CallingLine());
  return 0;
}

int macro_return() {
  return Return("\nmacro_return ,begin ...,call time=%d,called step=%d", "macro_return return.",
                "macro_return Error, no call.");
}

int macro_end() {
  return Return("\nmacro_end ,begin ...,call time=%d,called step=%d", "macro_end return.",
                "macro_end Error, no call.");
}
