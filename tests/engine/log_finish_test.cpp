// The log's end when the program is stopped from outside the run (the
// window closed, a signal, the display gone): the closing lines, once, and
// nothing after them, whatever a step still running writes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "engine/log/log.h"
#include "tests/engine/harness.h"
#include "tests/machine_wait.h"

namespace {

using tarvtest::Count;

constexpr char kEnd[] = "\n</td></tr></table></body></html>";

class LogFinish : public ::testing::Test {
 protected:
  void SetUp() override {
    TarvEngineReset();
    path_ = tarvtest::LogInto(dir_);
    std::snprintf(sgLog.CmdLine, sizeof sgLog.CmdLine, "tarv debug s.nms");
    TarvSetRunErrorPause(false);
  }
  void TearDown() override { TarvEngineReset(); }
  std::string Log() const { return tarvtest::MaskLog(tarvtest::ReadFile(path_)); }
  bool EndsWith(const std::string& tail) const {
    const std::string log = Log();
    return log.size() >= tail.size() && log.compare(log.size() - tail.size(), tail.size(), tail) == 0;
  }
  tarvtest::TempDir dir_;
  std::string path_;
};

TEST_F(LogFinish, TheClosingMessageIsAnEntryOfItsOwnAndNothingFollowsTheEnd) {
  TarvSetLogLevel(4);
  // A step in progress: its debug entries wait in the info batch.
  ASSERT_EQ(TarvDebugLog("\n__try Call [12], [run.sleep {A2} seconds] ... "), 0);
  TarvFinishLog("\ntarv windows is closed.");
  EXPECT_TRUE(EndsWith("<tr><td /><td><pre>\ntarv windows is closed." + std::string(kEnd))) << Log();
  EXPECT_EQ(Count(Log(), "[run.sleep {A2} seconds] ... \n</pre></td></tr></table>"), 1) << Log();
  // What the step goes on writing, and a second end, stay out.
  const std::string ended = Log();
  TarvDebugLog("\nstep goes on");
  HtmlLogError("a late error");
  HtmlLogSuccess("(^_^) Line [1] Run End, Ok!");
  TarvFlushLog();
  TarvCloseLog();
  TarvFinishLog("\ntarv windows is closed.");
  EXPECT_EQ(Log(), ended);
  // A new run in the same process logs again.
  LogStateClear();
  path_ = tarvtest::LogInto(dir_);
  TarvSetLogLevel(4);
  TarvDebugLog("\nnext run");
  TarvFlushLog();
  EXPECT_EQ(Count(Log(), "next run"), 1);
}

TEST_F(LogFinish, EveryLevelThatStartedTheFileClosesIt) {
  for (int level : {1, 2}) {
    TarvEngineReset();
    SetUp();
    std::filesystem::remove(path_);
    TarvSetLogLevel(level);
    HtmlLogError("failed");
    TarvFinishLog("\ntarv windows is closed.");
    // The closing message is a debug entry: below that level only the end.
    EXPECT_TRUE(EndsWith("\nfailed" + std::string(kEnd))) << level << Log();
    EXPECT_EQ(Count(Log(), "</html>"), 1) << level;
  }
  // A log nothing was written to stays unwritten.
  TarvEngineReset();
  SetUp();
  std::filesystem::remove(path_);
  TarvSetLogLevel(2);
  TarvFinishLog(nullptr);
  EXPECT_FALSE(std::filesystem::exists(path_));
}

// A run that lowered its level below debug still holds the debug entries
// of its earlier steps in the info batch: the end writes them before the
// closing lines, which stay last.
TEST_F(LogFinish, EntriesBatchedBeforeTheLevelWasLoweredComeBeforeTheEnd) {
  tarvtest::TempDir dir;
  std::filesystem::create_directory(dir.path() / "log");
  tarvtest::Start(dir, "var {x} value {batched}\nrun.set loglevel {error}\nvar {y} value {after}\n", "debug");
  for (int step = 0; step < 3; step++) EsRunNextStep();
  ASSERT_EQ(tarvtest::Var("y"), "after");
  // The premise: the earlier steps' entries are still waiting.
  ASSERT_GT(sgLog.InfoFill, 0);
  TarvFinishLog("\ntarv windows is closed.");
  const std::string log = tarvtest::LogsIn(dir);
  ASSERT_GE(log.size(), sizeof kEnd - 1) << log;
  EXPECT_EQ(log.substr(log.size() - (sizeof kEnd - 1)), kEnd) << log;
  EXPECT_EQ(Count(log, "</html>"), 1) << log;
  // The last entries batched: the lowering step's own, up to its level's change.
  EXPECT_EQ(Count(log, "\nrun_set_loglevel_a3 ,begin ...\n"), 1) << log;
  // The closing message is a debug entry: not at the error level.
  EXPECT_EQ(Count(log, "tarv windows is closed."), 0) << log;
}

TEST_F(LogFinish, AStepWritingMeanwhileLeavesTheEndLast) {
  TarvSetLogLevel(4);
  std::atomic<bool> stop{false};
  std::thread step([&stop] {
    for (int i = 0; !stop; i++) {
      TarvDebugLog("\nreceived %d", i);
      if (i % 7 == 0) HtmlLogSuccess("line %d", i);
    }
  });
  const bool writing = tarvtest::WaitFor([this] { return Count(tarvtest::ReadFile(path_), "received") >= 200; });
  TarvFinishLog(nullptr);
  stop = true;
  step.join();
  ASSERT_TRUE(writing);
  TarvCloseLog();
  EXPECT_TRUE(EndsWith(kEnd));
  EXPECT_EQ(Count(Log(), "</html>"), 1);
}

}  // namespace
