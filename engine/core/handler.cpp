#include "engine/core/handler.h"

#include "engine/core/script.h"
#include "engine/core/statement_table.h"

const char* HandlerName() {
  const int line = sgRun.CurLine;
  const int id = line >= 0 && line < MAXWORDS ? sgNms.FunID[line] : -1;
  return id >= 0 && id < MAX_FUN ? sgFun[id].Name : "statement";
}
