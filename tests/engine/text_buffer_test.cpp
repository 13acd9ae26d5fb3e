#include <gtest/gtest.h>

#include <string>

#include "engine/core/engine.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "engine/core/text_buffer.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;
using tarvtest::Var;

class TextBufferTest : public ::testing::Test {
 protected:
  TempDir dir;
  void SetUp() override { tarvtest::Start(dir, "# nothing\n"); }
  std::string Text() const { return std::string(sgRun.Text.data() + 1, sgRun.TextLen); }
  std::string LastError() { return Var("run.error." + std::to_string(sgRun.RunErrors)); }
};

TEST_F(TextBufferTest, AppendsBehindTheLastByteWithoutATerminator) {
  EXPECT_EQ(sgRun.TextLen, 0);
  sgRun.Text[4] = 'Z';
  EXPECT_EQ(TextAdd("abc", 3), 3);
  EXPECT_EQ(TextAdd("", 0), 0);
  EXPECT_EQ(TextAdd(std::string("d\0e", 3).data(), 3), 3);
  EXPECT_EQ(Text(), std::string("abcd\0e", 6));
  EXPECT_EQ(sgRun.Text[0], 0);
  EXPECT_EQ(sgRun.Text[7], 0);  // nothing written after the text
  // Appends never move the pointers.
  EXPECT_EQ(sgRun.headPointer, 0);
  EXPECT_EQ(sgRun.tailPointer, 0);
  EXPECT_EQ(sgRun.RunErrors, 0);
}

TEST_F(TextBufferTest, RefusalLimitAtTheEdge) {
  struct {
    int before;
    int len;
    bool accepted;
  } cases[] = {{4194000, 203, true}, {4194000, 204, false}, {4194202, 1, true},
               {4194203, 1, false},  {4194203, 0, true},    {0, 4194203, true},
               {0, 4194204, false}};
  static const std::string data(4194204, 'x');
  for (const auto& c : cases) {
    sgRun.TextLen = c.before;
    const int errors = sgRun.RunErrors;
    sgRun.Text[c.before + 1] = '#';
    const int r = TextAdd(data.data(), c.len);
    if (c.accepted) {
      EXPECT_EQ(r, c.len);
      EXPECT_EQ(sgRun.TextLen, c.before + c.len);
      EXPECT_EQ(sgRun.RunErrors, errors);
      continue;
    }
    EXPECT_EQ(r, -1);
    EXPECT_EQ(sgRun.TextLen, c.before);
    EXPECT_EQ(sgRun.Text[c.before + 1], '#') << "a refused append wrote";
    EXPECT_EQ(sgRun.RunErrors, errors + 1);
    EXPECT_NE(LastError().find("BufLen=<" + std::to_string(c.before) + " + " +
                               std::to_string(c.len) + "> >1M Error!"),
              std::string::npos)
        << LastError();
  }
  // Lengths that would wrap or run backwards are refused before a byte is read.
  for (int len : {-1, 2147483647}) {
    sgRun.TextLen = 4194203;
    EXPECT_EQ(TextAdd("1", len), -1) << len;
    EXPECT_EQ(sgRun.TextLen, 4194203);
  }
}

TEST_F(TextBufferTest, PrintfFormatsAndCutsAt1019Bytes) {
  TextPrintf("id=%d name=%s;", 42, "x");
  EXPECT_EQ(Text(), "id=42 name=x;");
  sgRun.TextLen = 0;
  TextPrintf("%s", std::string(3000, 'q').c_str());
  EXPECT_EQ(Text(), std::string(1019, 'q'));
  sgRun.TextLen = 0;
  TextPrintf("%s", "");
  EXPECT_EQ(sgRun.TextLen, 0);
  // A zero byte ends what is appended.
  TextPrintf("ab%cyz", 0);
  EXPECT_EQ(Text(), "ab");
}

}  // namespace
