#include "engine/core/handlers.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/statement_table.h"

int StatementNotCompleted() {
  sgRun.StepRunState = ENDOK;
  int id = sgNms.FunID[sgRun.CurLine];
  const char* name = (id >= 0 && id < MAX_FUN) ? sgFun[id].Name : "statement";
  TarvDebugLog("\n%s ,begin ...", name);
  return NmsRunError(-99, "%s:This statement is not yet completed.", name);
}
