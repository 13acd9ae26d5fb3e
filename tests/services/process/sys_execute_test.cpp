#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "engine/core/text_buffer.h"
#include "engine/statements/run_control.h"
#include "services/process/child_process.h"
#include "tests/engine/harness.h"
#include "tests/services/binary_run.h"
#include "tests/platform/child_watch.h"
#include "tests/services/statement_checks.h"

namespace {

using tarvtest::RunErrors;
using Strings = std::vector<std::string>;

using tarvtest::Text;

class SysExecuteTest : public ::testing::Test {
 protected:
  void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }
  void TearDown() override {
    ExecuteCloseChild();
    EXPECT_TRUE(childwatch::NoZombies());
  }
  // Runs steps until the line `line` has run (or the run ends).
  void RunThrough(int line) {
    while (sgRun.StepRunState != RUNEND && sgRun.CurLine <= line) EsRunNextStep();
  }
  bool Closed() {
    return sgExecute.Open == 0 && sgExecute.Pid == -1 && sgExecute.InWrite == -1 &&
           sgExecute.OutRead == -1 && sgExecute.InRead == -1 && sgExecute.OutWrite == -1;
  }
  tarvtest::TempDir dir;
  childwatch::Watchdog watchdog{60};
};

TEST_F(SysExecuteTest, DialogueWithCatAndCatEndsAfterClose) {
  tarvtest::Start(dir,
                  "sys.execute open {cat}\n"
                  "sys.execute send {hello%0a}\n"
                  "sys.execute recv expect {hello}\n"
                  "sys.execute send {second line%0d%0a}\n"
                  "sys.execute recv expect {line%0d}\n"
                  "sys.execute close\n");
  RunThrough(5);
  EXPECT_EQ(Text(), "hello\nsecond line\r\n");
  EXPECT_EQ(RunErrors(), Strings{});
  ASSERT_EQ(sgExecute.Open, 1);
  const int cat = sgExecute.Pid;
  ASSERT_GT(cat, 0);
  EXPECT_FALSE(childwatch::Gone(cat));
  RunThrough(6);
  EXPECT_TRUE(Closed());
  // cat ends on the end of its input: nothing of ours still holds it open.
  EXPECT_TRUE(childwatch::WaitFor([&] { return childwatch::Gone(cat); }));
}

TEST_F(SysExecuteTest, ExpectedTextAsTheLastByteBeforeTheChildWaitsForInput) {
  tarvtest::Run(dir,
                "sys.execute open {sh -c \"printf 'ready>'; read x; printf got-$x; printf \\\"(err)\\\" >&2\"}\n"
                "sys.execute recv expect {>}\n"
                "sys.execute send {42%0a}\n"
                "sys.execute recv expect {(err)}\n"
                "sys.execute close\n");
  EXPECT_EQ(Text(), "ready>got-42(err)");
  EXPECT_EQ(RunErrors(), Strings{});
}

TEST_F(SysExecuteTest, ChildEndingWithoutTheTextKeepsItsDataAndOnlyThisReceiveCounts) {
  // KEY is in the buffer already; then it arrives split over two reads.
  std::string file = std::string(1018, 'a') + "KEY" + std::string(3000, 'b');
  std::string path = dir.Write("f.txt", file);
  tarvtest::Run(dir,
                "sys.command {printf KEY}\n"
                "sys.execute open {printf zzz}\n"
                "sys.execute recv expect {KEY}\n"
                "sys.execute open {cat " + path + "}\n"
                "sys.execute recv expect {KEY}\n"
                "sys.execute close\n");
  EXPECT_EQ(RunErrors(), Strings{"sys_execute_recv_expect_a4 recv key not found, readlen=3"});
  ASSERT_GE(sgRun.TextLen, 6 + 1021);
  EXPECT_EQ(Text().substr(0, 6 + 1021), "KEYzzz" + file.substr(0, 1021));
}

// Refused arguments, programs that do not start, and use with nothing open.
TEST_F(SysExecuteTest, ArgumentAndStartFailures) {
  tarvtest::RunChecks("services/process/checks.txt", [this] {
    EXPECT_EQ(sgRun.TextLen, 0);
    EXPECT_TRUE(Closed());
  });
}

// A program that cannot start leaves no pipe open while the run goes on,
// not only once the run has ended.
TEST_F(SysExecuteTest, ProgramThatCannotStartLeavesNoPipeOpen) {
  tarvtest::Start(dir, "sys.execute open {/nonexistent/tarv-no-such-program}\nrun.end\n");
  RunThrough(1);
  EXPECT_TRUE(Closed());
  EXPECT_EQ(RunErrors().size(), 1u);
  TarvRunToEnd();
}

TEST_F(SysExecuteTest, SecondOpenLetsTheFirstChildEnd) {
  tarvtest::Start(dir,
                  "sys.execute open {cat}\n"
                  "sys.execute open {cat}\n"
                  "sys.execute send {two%0a}\n"
                  "sys.execute recv expect {two}\n");
  RunThrough(1);
  const int first = sgExecute.Pid;
  RunThrough(2);
  const int second = sgExecute.Pid;
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  EXPECT_NE(first, second);
  // The first cat sees the end of its input while the second holds on.
  EXPECT_TRUE(childwatch::WaitFor([&] { return childwatch::Gone(first); }));
  EXPECT_FALSE(childwatch::Gone(second));
  RunThrough(4);
  EXPECT_EQ(Text(), "two\n");
  TarvRunToEnd();
  EXPECT_TRUE(Closed());
  EXPECT_TRUE(childwatch::WaitFor([&] { return childwatch::Gone(second); }));
  EXPECT_EQ(RunErrors(), Strings{});
}

// Closing takes the child's pipes, not its life: one that never reads its
// input runs on, and the script ends it by its process id.
TEST_F(SysExecuteTest, CloseDoesNotEndAChildThatDoesNotReadItsInput) {
  tarvtest::Start(dir, "sys.execute open {sleep 30}\nsys.execute close\n");
  RunThrough(1);
  const int pid = sgExecute.Pid;
  ASSERT_GT(pid, 0);
  TarvRunToEnd();
  EXPECT_TRUE(Closed());
  EXPECT_FALSE(childwatch::WaitFor([&] { return childwatch::Gone(pid); }, std::chrono::milliseconds(300)));
  tarvtest::Run(dir, "sys.command {kill " + std::to_string(pid) + "}\n");
  EXPECT_TRUE(childwatch::WaitFor([&] { return childwatch::Gone(pid); }));
  EXPECT_EQ(RunErrors(), Strings{});
}

// A day asked for: only the end of the output can end the receive before
// the fixture's watchdog ends the test.
TEST_F(SysExecuteTest, ReceiveForSecondsStopsAtTheEndOfOutput) {
  tarvtest::Run(dir,
                "sys.execute open {sh -c \"printf one; sleep 1; printf two; sleep 1; printf three\"}\n"
                "sys.execute recv for {86400} seconds\n"
                "sys.execute close\n");
  EXPECT_EQ(Text(), "onetwothree");
  EXPECT_EQ(RunErrors(), Strings{});
}

TEST_F(SysExecuteTest, ReceiveForSecondsEndsWhenTimeIsUp) {
  tarvtest::Start(dir,
                  "sys.execute open {sh -c \"printf one; sleep 0.5; printf two; exec sleep 60\"}\n"
                  "sys.execute recv for {2} seconds\n"
                  "sys.execute recv for {0} seconds\n");
  RunThrough(3);
  EXPECT_EQ(Text(), "onetwo");
  EXPECT_EQ(RunErrors(), Strings{});
  // The child still runs: the time bound, not its end, ended the receive.
  const int child = sgExecute.Pid;
  ASSERT_GT(child, 0);
  EXPECT_FALSE(childwatch::Gone(child));
  kill(child, SIGKILL);
  TarvRunToEnd();
  EXPECT_TRUE(childwatch::WaitFor([&] { return childwatch::Gone(child); }));
}

TEST_F(SysExecuteTest, FullTextBufferEndsTheReceiveAtOnce) {
  std::string path = dir.Write("big.txt", std::string(200000, 'q'));
  tarvtest::Start(dir,
                  "sys.execute open {cat " + path + "}\n"
                  "sys.execute recv expect {never}\n"
                  "sys.execute close\n");
  sgRun.TextLen = TEXT_ADD_LIMIT - 10;
  TarvRunToEnd();
  // The refused append and the receive's own error, and nothing more.
  const Strings errors = RunErrors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[1], "sys_execute_recv_expect_a4 recv buf full, readlen=1020");
  EXPECT_EQ(sgRun.TextLen, TEXT_ADD_LIMIT - 10);
}

// Sends of 1000 bytes in a loop of at most 200 until one fails, then the
// count of sends, the errors and the first error's text.
std::string SendLoop(const std::string& program) {
  return "run.set step.timeout {1} seconds\n"
         "sys.execute open {" + program + "}\n"
         "var {i} value {0}\n"
         "loop.begin\n"
         "var {i} add number {1}\n"
         "sys.execute send {" + std::string(1000, 'x') + "}\n"
         "if.var {run.errors} > {0}\n"
         "loop.exit\n"
         "if.end\n"
         "if.var {i} >= {200}\n"
         "loop.exit\n"
         "if.end\n"
         "loop.end\n"
         "text.add {~i~|~run.errors~|~run.error.1~}\n";
}

// The send count at which the loop above stopped; 0 when its text is not
// the one expected.
int SendsBeforeTheShortfall(const std::string& text) {
  const std::string tail = "|1|run.steps [";
  const size_t bar = text.find(tail);
  if (bar == std::string::npos || text.find("Error: [sys_execute_send_a3 send len=0 < 1000]") == std::string::npos)
    return 0;
  return std::stoi(text.substr(0, bar));
}

// A child that never reads fills its input pipe: the send that finds no
// room waits one step time-out for it and then counts the shortfall; the
// child is left as it was.
TEST_F(SysExecuteTest, ASendToAChildThatDoesNotReadEndsAtTheStepTimeOut) {
  childwatch::Watchdog bound{10, "a send to a child that does not read"};
  tarvtest::Start(dir, SendLoop("sleep 60"));
  const auto start = std::chrono::steady_clock::now();
  TarvRunToEnd();
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int sends = SendsBeforeTheShortfall(Text());
  // A pipe holds some tens of kilobytes: the sends fill it first.
  EXPECT_GT(sends, 4) << Text();
  EXPECT_LT(sends, 200) << Text();
  EXPECT_EQ(RunErrors(), Strings{"sys_execute_send_a3 send len=0 < 1000"});
  // The one send that waited, its second, and the quick sends before it.
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, 1 + 1.5);
  const int child = sgExecute.Pid;
  if (child > 0) {
    EXPECT_FALSE(childwatch::Gone(child));
    kill(child, SIGKILL);
  }
}

// cat whose output nobody reads: once both of its pipes are full it stops
// reading, and the run through the binary ends within the step time-out
// (and the error's second) instead of waiting on it for ever.
TEST(SysExecuteBinary, ASendToCatWhoseOutputIsNotReadEndsAtTheStepTimeOut) {
  tarvtest::TempDir dir;
  const std::string out = tarvtest::RunSaved(dir, "cat.nms", SendLoop("cat"), 1 + 1 + tarvtest::MachineScaled(3));
  const int sends = SendsBeforeTheShortfall(out);
  // Both pipes and cat's own buffer take in well over the 64 KiB of one.
  EXPECT_GT(sends, 64) << out;
  EXPECT_LT(sends, 200) << out;
}

TEST_F(SysExecuteTest, NoOutputChildRunsOnItsOwn) {
  tarvtest::Start(dir, "# nothing\n");
  const std::string out = dir.File("o.txt");
  const std::string cmd = "sh -c \"sleep 0.2; printf done > " + out + "\"";
  EXPECT_EQ(sys_execute_no_output(cmd.c_str()), 0);
  EXPECT_TRUE(childwatch::WaitFor([&] { return tarvtest::ReadFile(out) == "done"; }));
  EXPECT_EQ(sys_execute_no_output("tarv-no-such-program"), -1);
  EXPECT_EQ(RunErrors(), Strings{"sys_execute_no_output Error on CreateProcess()=2"});
}

}  // namespace
