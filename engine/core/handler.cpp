#include "engine/core/handler.h"

#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/statement_table.h"
#include "engine/log/log_sink.h"

const char* HandlerBegin() {
  sgRun.StepRunState = ENDOK;
  const int line = sgRun.CurLine;
  const int id = line >= 0 && line < MAXWORDS ? sgNms.FunID[line] : -1;
  const char* name = id >= 0 && id < MAX_FUN ? sgFun[id].Name : "statement";
  TarvDebugLog("\n%s ,begin ...", name);
  return name;
}
