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

std::string Text() { return std::string(sgRun.Text.data() + 1, sgRun.TextLen); }

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

TEST_F(RunControlTest, RunEndStopsTheRunThere) {
  tarvtest::Run(dir, "sys.command {printf a}\nrun.end\nsys.command {printf b}\n");
  EXPECT_EQ(Text(), "a");
  EXPECT_EQ(Var("run.end"), "run.end");
  EXPECT_EQ(sgRun.CurLine, 2);
  EXPECT_EQ(Var("run.errors"), "0");
}

TEST_F(RunControlTest, SleepLastsAtLeastItsSeconds) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Call("run.sleep {1} seconds"), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(sgRun.RunSteps, 1);  // the line ran once
}

TEST_F(RunControlTest, WholeNumberArgumentsAreRefusedOutOfRange) {
  const auto sleep = run_sleep_a2_seconds;
  const auto timeout = run_set_step_timeout_a3_seconds;
  const struct { std::string line; int (*handler)(); std::string error; } cases[] = {
      {"run.sleep {0} seconds", sleep, "Arg:2=0  < 1 !"},
      {"run.sleep {} seconds", sleep, "Arg:2=0  < 1 !"},
      {"run.sleep {3601} seconds", sleep, "Arg:2=3601 > 3600 !"},
      {"run.sleep {-5} seconds", sleep, "Arg:2 is not integer !"},
      {"run.sleep {1.5} seconds", sleep, "Arg:2 is not integer !"},
      {"run.sleep {4294967297} seconds", sleep, "Arg:2=2147483647 > 3600 !"},
      {"run.set step.timeout {86401} seconds", timeout, "Arg:3=86401 > 86400 !"},
      {"run.set step.timeout {-1} seconds", timeout, "Arg:3 is not integer !"},
      {"run.set run.maxtime {86401} seconds", run_set_run_maxtime_a3_seconds, "Arg:3=86401 > 86400 !"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Call(c.line), c.handler == sleep ? -2 : -3);
    EXPECT_EQ(Var("run.errors"), "1");
    EXPECT_EQ(Error(1), c.error);
    // Refused: the settings keep their values.
    EXPECT_EQ(sgRun.StepTimeout, 10);
    EXPECT_EQ(sgRun.MaxRunTime, 0);
  }
}

TEST_F(RunControlTest, TimeSettingsTakeTheirValues) {
  const auto timeout = run_set_step_timeout_a3_seconds;
  const auto maxtime = run_set_run_maxtime_a3_seconds;
  const struct { std::string line; int (*handler)(); int32_t RunState::*field; int value; } cases[] = {
      {"run.set step.timeout {0} seconds", timeout, &RunState::StepTimeout, 0},
      {"run.set step.timeout { 25 } seconds", timeout, &RunState::StepTimeout, 25},
      {"run.set run.maxtime {0} seconds", maxtime, &RunState::MaxRunTime, 0},
      {"run.set run.maxtime {86400} seconds", maxtime, &RunState::MaxRunTime, 86400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Call(c.line, [&] { sgRun.*c.field = -7; }), 0);
    EXPECT_EQ(sgRun.*c.field, c.value);
    EXPECT_EQ(sgRun.RunErrors, 0);
  }
}

TEST_F(RunControlTest, KeywordSettings) {
  int32_t* const level = &sgLog.LogLevel;
  int32_t* const onError = &sgRun.OnError;
  const struct { std::string statement; int32_t* field; const char* word; int code; int value; } cases[] = {
      {"loglevel", level, "debug", 0, 4},        {"loglevel", level, "info", 0, 2},
      {"loglevel", level, "error", 0, 1},        {"loglevel", level, "nolog", 0, 0},
      {"loglevel", level, "DEBUG", -3, 5},       {"loglevel", level, "trace", -3, 5},
      {"loglevel", level, "debug ", -3, 5},      {"loglevel", level, "hide", -3, 5},
      {"onerror", onError, "ignore", 0, 0},      {"onerror", onError, "run.end", 0, 999},
      {"onerror", onError, "RUN.END", -3, 5},    {"onerror", onError, "stop", -3, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statement + " " + c.word);
    // 5: a value no keyword gives.
    EXPECT_EQ(Call("run.set " + c.statement + " {" + c.word + "}", [&] { *c.field = 5; }), c.code);
    EXPECT_EQ(*c.field, c.value);
    if (c.code < 0) {
      EXPECT_EQ(Error(1), "run_set_" + c.statement + "_a3->A:3(" + c.word + ") is not support!");
    } else {
      EXPECT_EQ(sgRun.RunErrors, 0);
    }
  }
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

TEST_F(RunControlTest, OnErrorRunEndAfterAnErrorEndsTheRunAtThatStep) {
  tarvtest::Run(dir,
                "run.sleep {0} seconds\nsys.command {printf a}\nrun.set onerror {run.end}\n"
                "sys.command {printf b}\n");
  EXPECT_EQ(Var("run.end"), "OnError");
  EXPECT_EQ(sgRun.CurLine, 3);
  EXPECT_EQ(Text(), "a");
}

TEST_F(RunControlTest, RunNmsArgumentAndLengthChecks) {
  const struct { std::string line, error; } cases[] = {
      {"run.nms {x}", "Length of Arg 2 is :1  < 2 !"},
      {"run.nms {}", "Length of Arg 2 is :0  < 2 !"},
      {"run.nms {" + std::string(251, 'p') + "}", "Length of Arg 2 is :251 > 250 !"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Call(c.line), -2);
    EXPECT_EQ(Error(1), c.error);
  }
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
  EXPECT_TRUE(childwatch::WaitFor([&] { return !tarvtest::ReadFile(out).empty(); },
                                  std::chrono::seconds(20)));
  EXPECT_EQ(tarvtest::ReadFile(out), "hide:" + child + "\n");
  EXPECT_TRUE(childwatch::NoZombies());
}

}  // namespace
