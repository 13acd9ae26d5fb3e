#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/handlers.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/statement_table.h"
#include "engine/core/var_store.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;
using tarvtest::Var;

// Puts a probe handler into one row for the life of the object.
class ProbeRow {
 public:
  ProbeRow(int id, Handler h) : id_(id), saved_(sgFun[id].Fun) { sgFun[id].Fun = h; }
  ~ProbeRow() { sgFun[id_].Fun = saved_; }

 private:
  int id_;
  Handler saved_;
};

int gCalls;
int gRepeatUntil;
int RepeatingHandler() {
  sgRun.StepRunState = ++gCalls < gRepeatUntil ? 5 : ENDOK;
  return 0;
}
int JumpingHandler() {
  sgRun.StepRunState = ENDOK;
  sgRun.GotoLine = 4;
  return 0;
}
int ReadsRunSteps() {
  sgRun.StepRunState = ENDOK;
  char buf[64];
  int n = TarvGetVar4("run.steps", 9, buf, 64);
  TarvSetVar4("seen", 4, buf, n);
  return 0;
}
int CrashingHandler() {
  sgRun.StepRunState = ENDOK;
  // A real access fault, from a page that may not be read.
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  volatile int* p = static_cast<volatile int*>(page);
  return *p;
}
int ThrowingHandler() {
  sgRun.StepRunState = ENDOK;
  throw std::runtime_error("boom");
}

// The run mode and log level each mode word gives: cases/modes.txt.
TEST(Startup, ModeWordsAndLogLevels) {
  TempDir dir;
  tarvtest::ExpectLineCases("modes.txt", [&](const std::string& mode) {
    tarvtest::Start(dir, "run.end\n", mode);
    return "mode " + std::to_string(sgRun.RunMode) + ", level " + std::to_string(sgLog.LogLevel) +
           ", step timeout " + std::to_string(sgRun.StepTimeout) + ", line " + std::to_string(sgRun.CurLine);
  });
}

TEST(Startup, BuiltInVariablesInOrder) {
  TempDir dir;
  tarvtest::Start(dir, "run.end\n");
  const std::vector<std::pair<std::string, std::string>> expect = {
      {"run.steps", "65536"},        {"run.seconds", "1048576"},
      {"run.errors", "65536"},       {"step.line", "1024"},
      {"step.errors", "512"},        {"step.bytes", "4194304"},
      {"var.count", "65536"},        {"var.bytes", "1048576"},
      {"text.bytes", "4194304"},     {"text.headpointer", "4194304"},
      {"text.tailpointer", "4194304"}, {"run.pid", std::to_string(getpid())},
      {"run.arg.1", dir.File("tarv")}, {"run.path", dir.path().string()},
      {"run.arg.2", "hide"},         {"run.arg.3", dir.File("t.nms")},
      {"run.arg.count", "3"},        {"run.version", "tarv8.13(vindelor-ipv6-20200205)"},
      {"os.type", "linux"}};
  for (size_t i = 0; i < expect.size(); i++) {
    ASSERT_LT(static_cast<int>(i) + 1, sgVar.Count);
    EXPECT_EQ(std::string(VarName(i + 1), sgVar.NameLen[i + 1]), expect[i].first);
    EXPECT_EQ(Var(expect[i].first), expect[i].second);
  }
  EXPECT_EQ(std::string(VarName(20), sgVar.NameLen[20]), "os.version");
  EXPECT_NE(Var("os.version").find('.'), std::string::npos);
  // nms.file, nms.lines and nms.errors: tests/e2e/scripts/spine.nms.
  EXPECT_EQ(Var("nms.length"), "8");
  EXPECT_EQ(Var("nms.words"), "1");
}

TEST(Startup, CommandLineWordsAndLogFileName) {
  TempDir dir;
  std::string cmd = dir.File("tarv") + " hide " + dir.File("a.nms") + " x y z 6 7 8 9 10 11";
  TarvStartCmdLine(cmd.c_str(), (dir.path().string() + "/").c_str());
  EXPECT_EQ(Var("run.arg.10"), "9");
  EXPECT_EQ(Var("run.arg.11"), "<missing>");
  EXPECT_EQ(Var("run.arg.count"), "10");
  std::string name = sgLog.FileName;
  std::string prefix = dir.path().string() + "/log/hide_a.nms_";
  EXPECT_EQ(name.substr(0, prefix.size()), prefix);
  EXPECT_EQ(name.substr(name.size() - 5 - std::to_string(getpid()).size()),
            "_" + std::to_string(getpid()) + ".htm");

  // Program and mode only: no script, the debug log name.
  cmd = dir.File("tarv") + " hide";
  TarvStartCmdLine(cmd.c_str(), (dir.path().string() + "/").c_str());
  EXPECT_EQ(std::string(sgLog.FileName).find(dir.path().string() + "/log/debug_tarv.nms_"), 0u);
  EXPECT_EQ(Var("nms.file"), "");
  EXPECT_EQ(Var("nms.error.1"), "Script File <>, Not Found!");

  // Program alone: step mode, logging off, the script beside the program.
  cmd = dir.File("tarv.bin");
  TarvStartCmdLine(cmd.c_str(), (dir.path().string() + "/").c_str());
  EXPECT_EQ(sgRun.RunMode, RUNMODE_STEP);
  EXPECT_EQ(sgLog.LogLevel, 0);
  EXPECT_EQ(Var("nms.file"), dir.File("tarv.nms"));
  cmd = "\"" + dir.File("tarv") + "\"";
  TarvStartCmdLine(cmd.c_str(), (dir.path().string() + "/").c_str());
  EXPECT_EQ(Var("nms.file"), dir.File("tarv.nms"));
  EXPECT_EQ(Var("run.path"), dir.path().string());
}

TEST(Runner, LinesRunInOrderAndTheRunEndsPastTheLast) {
  TempDir dir;
  tarvtest::Run(dir, "# one\n\nno.such statement\n");
  EXPECT_EQ(sgRun.StepRunState, RUNEND);
  EXPECT_EQ(sgRun.RunSteps, 3);
  EXPECT_EQ(sgRun.CurLine, 4);
  EXPECT_EQ(sgRun.RunErrors, 0);
  EXPECT_EQ(Var("run.steps"), "3");
  EXPECT_EQ(Var("step.line"), "3");
  for (int l = 1; l <= 3; l++) EXPECT_EQ(sgNms.RunCount[l], 1);
}

TEST(Runner, AStateOtherThanEndokRepeatsTheLine) {
  TempDir dir;
  ProbeRow probe(94, RepeatingHandler);
  gCalls = 0;
  gRepeatUntil = 3;
  tarvtest::Run(dir, "tcp.close\n");
  EXPECT_EQ(gCalls, 3);
  EXPECT_EQ(sgRun.RunSteps, 3);
  EXPECT_EQ(sgNms.RunCount[1], 3);
}

TEST(Runner, PendingJumpIsTakenFirst) {
  TempDir dir;
  ProbeRow probe(94, JumpingHandler);
  tarvtest::Run(dir, "tcp.close\n# 2\n# 3\n# 4\n");
  EXPECT_EQ(sgNms.RunCount[2], 0);
  EXPECT_EQ(sgNms.RunCount[3], 0);
  EXPECT_EQ(sgNms.RunCount[4], 1);
  EXPECT_EQ(sgRun.RunSteps, 2);
}

TEST(Runner, FirstStepSeesTheStartingCounters) {
  TempDir dir;
  ProbeRow probe(94, ReadsRunSteps);
  tarvtest::Run(dir, "tcp.close\n# 2\ntcp.close\n");
  // The second read sees the count published after step 2.
  EXPECT_EQ(Var("seen"), "2");
  tarvtest::Run(dir, "tcp.close\n");
  EXPECT_EQ(Var("seen"), "65536");
}

TEST(Runner, AFailedArgumentSkipsTheHandler) {
  TempDir dir;
  ProbeRow probe(88, ReadsRunSteps);
  tarvtest::Run(dir, "tcp.send {~nope~}\n# 2\n");
  EXPECT_EQ(Var("seen"), "<missing>");
  EXPECT_EQ(sgNms.RunCount[1], 0);
  EXPECT_EQ(sgNms.RunCount[2], 1);
  // Two errors: the missing variable and the failed argument.
  EXPECT_EQ(sgRun.RunErrors, 2);
  EXPECT_EQ(Var("run.error.1"), "run.steps [1], Line No. [1], Error: [var [nope] not exist!]");
  EXPECT_EQ(Var("run.error.2"), "run.steps [1], Line No. [1], Error: [Line:1,Get Arg:2 Error!]");
}

// The run loop keeps one jump buffer for the whole run: faults in steps one
// after another are each caught and counted, the steps after them run, and
// the step-at-a-time runner ends with the same errors and counters.
TEST(Runner, FaultsStepAfterStepEndAlikeInEitherRunner) {
  TempDir dir;
  ProbeRow probe(94, CrashingHandler);
  const std::string script = "tcp.close\ntcp.close\nvar {after} value {~run.errors~}\n";
  tarvtest::Run(dir, script);
  const std::vector<std::string> loopErrors = tarvtest::RunErrors();
  ASSERT_EQ(loopErrors.size(), 2u);
  EXPECT_EQ(loopErrors[0], "Call [tcp.close], __except=(11)!");
  EXPECT_EQ(Var("after"), "2");
  const std::string counters = Var("run.steps") + " " + Var("step.line") + " " + Var("var.count");
  EXPECT_EQ(counters, "3 3 " + std::to_string(sgVar.Count));

  tarvtest::RunCase(dir, script);
  EXPECT_EQ(tarvtest::RunErrors(), loopErrors);
  EXPECT_EQ(Var("after"), "2");
  EXPECT_EQ(Var("run.steps") + " " + Var("step.line") + " " + Var("var.count"), counters);
}

TEST(Runner, AnExceptionFromAHandlerIsCaughtAndCounted) {
  TempDir dir;
  ProbeRow probe(94, ThrowingHandler);
  tarvtest::Run(dir, "tcp.close\n# 2\n");
  EXPECT_EQ(sgRun.RunErrors, 1);
  EXPECT_EQ(sgNms.RunCount[2], 1);
}

}  // namespace
