#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "engine/core/text_buffer.h"
#include "tests/engine/harness.h"
#include "tests/platform/child_watch.h"

namespace {

using tarvtest::RunErrors;
using Strings = std::vector<std::string>;

using tarvtest::Text;

class SysCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }
  void TearDown() override { EXPECT_TRUE(childwatch::NoZombies()); }
  tarvtest::TempDir dir;
  childwatch::Watchdog watchdog{60};
};

TEST_F(SysCommandTest, BothStreamsInTheOrderWritten) {
  tarvtest::Run(dir,
                "sys.command {sh -c \"printf out1; printf err1 >&2; printf out2; exit 4\"}\n"
                "sys.command {printf \"%0a-a b-\"}\n");
  EXPECT_EQ(Text(), "out1err1out2\n-a b-");
  // The exit code is not a failure.
  EXPECT_EQ(RunErrors(), Strings{});
  EXPECT_EQ(tarvtest::Var("step.bytes"), "6");
}

TEST_F(SysCommandTest, LargeOutputArrivesWholeAcrossBlockBoundaries) {
  // Multi-byte characters at every offset against the 1020-byte blocks.
  std::string big;
  for (int i = 0; big.size() < 200 * 1024; i++) big += "中文テキスト" + std::to_string(i) + "\n";
  const std::string path = dir.Write("big.txt", big);
  tarvtest::Run(dir, "sys.command {cat " + path + "}\n");
  EXPECT_EQ(sgRun.TextLen, static_cast<int>(big.size()));
  EXPECT_TRUE(Text() == big);
  EXPECT_EQ(RunErrors(), Strings{});
}

TEST_F(SysCommandTest, SilentProgramsAppendNothingAndInputIsDevNull) {
  // cat would wait for ever on an inherited input.
  tarvtest::Run(dir,
                "sys.command {true}\nsys.command {sleep 0.2}\nsys.command {cat}\n"
                "sys.command {readlink /proc/self/fd/0}\n");
  EXPECT_EQ(Text(), "/dev/null\n");
  EXPECT_EQ(RunErrors(), Strings{});
}

// The wait lasts until the program has ended, even after it closed its
// output, and until what it started has closed the output it shares; the
// exit status is seen only through the shell.
TEST_F(SysCommandTest, WaitsForTheProgramAndWhatKeepsItsOutputOpen) {
  const std::string mark = dir.File("mark");
  tarvtest::Run(dir,
                "sys.command {sh -c \"exec >/dev/null 2>&1; sleep 0.3; printf ended > " + mark + "\"}\n"
                "sys.command {cat " + mark + "}\n"
                "sys.command {sh -c \"(sleep 0.3; printf +late) &\"}\n"
                "sys.command {sh -c \"false; echo +rc=$?\"}\n");
  EXPECT_EQ(Text(), "ended+late+rc=1\n");
  EXPECT_EQ(RunErrors(), Strings{});
}

// 250 bytes are allowed (the refusals are in checks.txt).
TEST_F(SysCommandTest, TheLongestCommandIsTaken) {
  tarvtest::Run(dir, "sys.command {printf " + std::string(243, 'y') + "}\n");
  EXPECT_EQ(RunErrors(), Strings{});
  EXPECT_EQ(Text(), std::string(243, 'y'));
}

TEST_F(SysCommandTest, FullTextBufferCountsOneErrorAndStillDrainsTheChild) {
  const std::string path = dir.Write("big.txt", std::string(100000, 'z'));
  tarvtest::Start(dir, "sys.command {cat " + path + "}\nsys.command {printf after}\n");
  sgRun.TextLen = TEXT_ADD_LIMIT - 10;
  TarvRunToEnd();
  // One refusal for the first command (not one per block); the child still
  // ran to its end, and the next command's few bytes fit.
  const Strings errors = RunErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("BufLen=<"), std::string::npos) << errors[0];
  EXPECT_EQ(sgRun.TextLen, TEXT_ADD_LIMIT - 10 + 5);
}

}  // namespace
