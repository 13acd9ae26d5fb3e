// The runner thread stepped by the window's commands, without a display.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/core/run_state.h"
#include "tests/engine/harness.h"
#include "window/script_thread.h"
#include "window/window_state.h"

namespace {

int32_t Steps() { return std::atomic_ref<int32_t>(sgRun.RunSteps).load(); }

// Waits (at most 20 s) until the runner, having run at least `steps`
// steps, waits for a command again.
bool RunnerWaits(int32_t steps = 0) {
  for (int i = 0; i < 2000; i++) {
    if (StepEventWaiting() && Steps() >= steps) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class RunnerThread : public ::testing::Test {
 protected:
  void SetUp() override {
    tarvtest::Start(dir_, "# 1\n# 2\n# 3\n# 4\n# 5\n# 6\n", "debug");
    WindowStateReset();
    StepEventInit();
  }
  tarvtest::TempDir dir_;
};

TEST_F(RunnerThread, StartsPausedStepsOnePerCommandThenRunsToTheEnd) {
  sgRun.RunMode = RUNMODE_RUN;  // whatever the mode word asked, the run starts paused
  std::thread runner(ScriptThread);
  ASSERT_TRUE(RunnerWaits());
  EXPECT_EQ(Steps(), 0);
  for (int k = 1; k <= 3; k++) {
    RunModeCommand(RUNMODE_STEP);
    ASSERT_TRUE(RunnerWaits(k));
    EXPECT_EQ(Steps(), k);
  }
  RunModeCommand(RUNMODE_RUN);
  runner.join();
  EXPECT_EQ(sgRun.StepRunState, RUNEND);
  EXPECT_EQ(Steps(), 6);
  EXPECT_EQ(sgWin.threadEnded.load(), 1);
}

TEST_F(RunnerThread, ClosingTheWindowEndsAWaitingRunner) {
  std::thread runner(ScriptThread);
  ASSERT_TRUE(RunnerWaits());
  StepEventClose();
  runner.join();
  EXPECT_EQ(Steps(), 0);
  EXPECT_EQ(sgWin.threadEnded.load(), 0);  // the run did not end: no end-of-run report
}

}  // namespace
