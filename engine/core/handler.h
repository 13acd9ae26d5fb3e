// What every statement handler starts with.
#pragma once

#include "engine/core/run_state.h"
#include "engine/log/log_sink.h"

// The name of the current line's statement row ("statement" for none).
const char* HandlerName();

// Ends the step unless the handler says otherwise (sgRun.StepRunState =
// ENDOK) and writes the debug line ",begin ..." under the name of the
// current line's statement row; the name is looked up only for the log.
inline void HandlerBegin() {
  sgRun.StepRunState = ENDOK;
  if (TarvLogLevel() >= 4) TarvDebugLogAt("\n%s ,begin ...", HandlerName());
}
