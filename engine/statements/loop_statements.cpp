// The loop statements.  A loop repeats until loop.exit leaves it: loop.next
// and loop.end both go back to loop.begin, which counts the passes of every
// loop of the run in LoopTimes.  A failed search is a script error and the
// statement still succeeds; the line after it runs.
#include "engine/core/handlers.h"
#include "engine/statements/jump_search.h"
#include "engine/log/log_sink.h"
#include "engine/core/run_state.h"

int loop_begin() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nloop_begin ,LoopTimes = %d,begin ...", sgRun.LoopTimes);
  sgRun.LoopTimes++;
  return TarvReturn(0, "loop_begin return.");
}

int loop_next() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nloop_next ,LoopTimes=[%d],begin ...", sgRun.LoopTimes);
  EsGotoLoopBegin();
  return TarvReturn(0, "loop_next return.");
}

int loop_exit() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nloop_exit ,begin ...,LoopTimes=[%d]", sgRun.LoopTimes);
  EsGotoLoopEnd();
  return TarvReturn(0, "loop_exit return.");
}

int loop_end() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nloop_end ,LoopTimes=[%d],begin ...", sgRun.LoopTimes);
  EsGotoLoopBegin();
  return TarvReturn(0, "loop_end return.");
}
