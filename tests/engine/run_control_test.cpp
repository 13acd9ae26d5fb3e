#include "engine/statements/run_control.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/handlers.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/platform/child_watch.h"

namespace {

using tarvtest::Var;

// The test program must never start itself through run.nms.
[[maybe_unused]] const bool kRunNmsStartsTarv = (RunNmsSetProgram(TARV_BINARY), true);

using tarvtest::Text;

std::string Error(int n) {
  std::string v = Var("run.error." + std::to_string(n));
  size_t at = v.find("Error: [");
  return at == std::string::npos ? v : v.substr(at + 8, v.size() - at - 9);
}

class RunControlTest : public ::testing::Test {
 protected:
  void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }
  void TearDown() override { RunNmsSetProgram(tarvtest::TarvBinary().c_str()); }
  // Runs a one-line script: its handler's result.
  int Call(const std::string& line, const std::function<void()>& prepare = {}) {
    return tarvtest::RunCase(dir, line + "\n", prepare).Code(1);
  }
  tarvtest::TempDir dir;
};

TEST_F(RunControlTest, SleepLastsAtLeastItsSeconds) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Call("run.sleep {1} seconds"), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(sgRun.RunSteps, 1);  // the line ran once
}

TEST_F(RunControlTest, RunHighRaisesThePriorityOrReturnsMinusTwo) {
  const bool root = geteuid() == 0;
  // In a child process: dropPrivilege first makes it an ordinary user.
  auto runHigh = [&](bool dropPrivilege, int wantCode) {
    tarvtest::Start(dir, "run.set loglevel {run.high}\n");
    const int level = sgLog.LogLevel;
    if (EsPrepareStep() != 0) return 10;
    if (dropPrivilege) {
      if (root && setuid(65534) != 0) return 11;
      rlimit rl{0, 0};
      setrlimit(RLIMIT_NICE, &rl);
    }
    const int before = getpriority(PRIO_PROCESS, 0);
    if (run_set_loglevel_a3() != wantCode) return 12;
    if (sgRun.PriorityClass != 128) return 13;
    if (sgLog.LogLevel != level) return 14;
    // A refusal is no run error.
    if (sgRun.RunErrors != 0) return 15;
    return getpriority(PRIO_PROCESS, 0) == (wantCode == 0 ? -10 : before) ? 0 : 16;
  };
  if (root) {
    EXPECT_EQ(childwatch::InChild([&] { return runHigh(false, 0); }), 0);
  }
  EXPECT_EQ(childwatch::InChild([&] { return runHigh(true, -2); }), 0);
}

// The end of a run, its settings and their refusals: cases/run_control.cases.
TEST(RunControl, Cases) { tarvtest::ExpectCaseFile("run_control.cases"); }

TEST_F(RunControlTest, RunNmsRefusesACommandLineTooLong) {
  // A command line that would not fit is refused, not cut: nothing starts.
  const std::string script = dir.File("never.nms");
  // Short folder names: none is too long, the path just does not exist.
  std::string longProgram;
  while (longProgram.size() < 1016 - script.size()) longProgram += "/dddddddd";
  longProgram.resize(1016 - script.size());
  RunNmsSetProgram(longProgram.c_str());
  EXPECT_EQ(Call("run.nms {" + script + "}"), -2);
  const int n = static_cast<int>(longProgram.size() + 2 + 6 + script.size());
  ASSERT_GT(n, 1023);
  EXPECT_EQ(Error(1), "run_nms_a2 command line length=" + std::to_string(n) + " > 1023 !");
  EXPECT_EQ(Var("run.errors"), "1");
  // The longest that fits starts (and fails to find that program, which
  // sys_execute_no_output reports on its own).
  const std::string fits = longProgram.substr(0, longProgram.size() - (n - 1023));
  RunNmsSetProgram(fits.c_str());
  EXPECT_EQ(Call("run.nms {" + script + "}"), 0);
  EXPECT_EQ(Error(1), "sys_execute_no_output Error on CreateProcess()=2");
}

TEST_F(RunControlTest, RunNmsStartsTheProgramOnAnotherScriptWithoutWaiting) {
  RunNmsSetProgram(tarvtest::TarvBinary().c_str());
  const std::string out = dir.File("child.out");
  const std::string child = dir.Write(
      "child.nms", "run.sleep {1} seconds\nsys.command {sh -c \"echo $0:$1 > " + out +
                       "\" ~run.arg.2~ ~nms.file~}\n");
  tarvtest::Run(dir, "run.nms {" + child + "}\nsys.command {printf parent}\n");
  // The parent did not wait for the child's pause.
  EXPECT_EQ(Text(), "parent");
  EXPECT_EQ(tarvtest::ReadFile(out), "");
  EXPECT_EQ(Var("run.errors"), "0");
  // The child ran in the hide mode on the script it was given.
  EXPECT_TRUE(childwatch::WaitFor([&] { return !tarvtest::ReadFile(out).empty(); }));
  EXPECT_EQ(tarvtest::ReadFile(out), "hide:" + child + "\n");
  EXPECT_TRUE(childwatch::NoZombies());
}

}  // namespace
