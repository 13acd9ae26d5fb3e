#include "engine/core/handler.h"
#include "engine/core/handlers.h"
#include "engine/log/reporters.h"

int StatementNotCompleted() {
  HandlerBegin();
  return NmsRunError(-99, "%s:This statement is not yet completed.", HandlerName());
}
