// The tarv program: tarv MODE SCRIPT
#include <csignal>

#include "engine/core/engine.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "services/registry.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  TarvRegisterFamilies();
  TarvStart(argc, argv);
  // No window is built yet: every mode runs its steps here, at its log level.
  if (sgRun.RunMode == RUNMODE_HIDE) sgLog.LogLevel = 0;
  TarvRunToEnd();
  return 0;
}
