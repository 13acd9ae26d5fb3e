// The tarv program: tarv MODE SCRIPT
#include <csignal>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "engine/log/log.h"
#include "services/registry.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  TarvRegisterFamilies();
  TarvStart(argc, argv);
  // Every mode but hide shows the run in the window, which the user closes.
  if (sgRun.RunMode != RUNMODE_HIDE) return TarvWindowMain();
  sgLog.LogLevel = 0;
  TarvRunToEnd();
  return 0;
}
