// The runner thread without a display: closing the window while it waits.
#include <gtest/gtest.h>

#include <thread>

#include "engine/core/run_state.h"
#include "tests/engine/harness.h"
#include "tests/window/harness_display.h"
#include "window/script_thread.h"
#include "window/window_state.h"

TEST(RunnerThread, ClosingTheWindowEndsAWaitingRunner) {
  tarvtest::TempDir dir;
  tarvtest::Start(dir, "# 1\n# 2\n", "debug");
  WindowStateReset();
  StepEventInit();
  std::thread runner(ScriptThread);
  ASSERT_TRUE(tarvtest::WaitFor(StepEventWaiting));
  StepEventClose();
  runner.join();
  EXPECT_EQ(sgRun.RunSteps, 0);
  EXPECT_EQ(sgWin.threadEnded.load(), 0);  // the run did not end: no end-of-run report
}
