#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/tools/listings.h"
#include "engine/log/log.h"
#include "engine/core/script.h"
#include "engine/core/statement_table.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;

void Collect(void* context, const char* text, int len) {
  static_cast<std::vector<std::string>*>(context)->emplace_back(text, len);
}

std::vector<std::string> ScriptListing() {
  std::vector<std::string> lines;
  NmsListScript(Collect, &lines);
  return lines;
}

// The listing line of a script line: "%03d(%03d) ", 4 x level + 1 blanks, the
// words each followed by a blank, then " \r\n".
std::string Listed(int line, int id, int level, const std::string& words) {
  char head[32];
  std::snprintf(head, sizeof head, "%03d(%03d) ", line, id);
  return head + std::string(4 * level + 1, ' ') + words + " \r\n";
}

class Listing : public ::testing::Test {
 protected:
  TempDir dir;
  void Load(const std::string& script) { tarvtest::Start(dir, script); }
  void TearDown() override { TarvEngineReset(); }
};

TEST_F(Listing, NestedIfsLoopsAndMacros) {
  Load(
      "macro.begin {m}\n"
      "if.var {a} == {b}\n"
      "loop.begin\n"
      "if.text contain {x}\n"
      "var {x} value {1}\n"
      "if.end\n"
      "loop.end\n"
      "if.end\n"
      "macro.end\n"
      "run.end\n");
  const std::vector<std::string> expected = {
      Listed(1, 124, 0, "macro.begin {m} "),
      Listed(2, 106, 1, "if.var {a} == {b} "),
      Listed(3, 115, 2, "loop.begin "),
      Listed(4, 112, 3, "if.text contain {x} "),
      Listed(5, 1, 4, "var {x} value {1} "),
      Listed(6, 114, 3, "if.end "),
      Listed(7, 118, 2, "loop.end "),
      Listed(8, 114, 1, "if.end "),
      Listed(9, 126, 0, "macro.end "),
      Listed(10, 148, 0, "run.end "),
  };
  EXPECT_EQ(ScriptListing(), expected);
}

// More closers than openers leave the level negative: it prints as zero, and
// openers climb back from below zero.
TEST_F(Listing, NegativeLevelIsNotClamped) {
  Load("if.end\nrun.end\nloop.begin\nrun.end\nloop.begin\nrun.end\nloop.end\nloop.end");
  const std::vector<std::string> expected = {
      Listed(1, 114, 0, "if.end "),     // level -1
      Listed(2, 148, 0, "run.end "),    // still -1
      Listed(3, 115, 0, "loop.begin "),  // printed at -1, then 0
      Listed(4, 148, 0, "run.end "),
      Listed(5, 115, 0, "loop.begin "),  // then 1
      Listed(6, 148, 1, "run.end "),
      Listed(7, 118, 0, "loop.end "),
      Listed(8, 118, 0, "loop.end "),  // back to -1
  };
  EXPECT_EQ(ScriptListing(), expected);
}

TEST_F(Listing, UnmatchedBlankCommentAndContinuationLines) {
  Load("tcp.connect ip {127.0.0.1}\nport {23}\n\n# note\r\nnot.a statement\n");
  const std::vector<std::string> expected = {
      Listed(1, 86, 0, "tcp.connect ip {127.0.0.1} port {23} "),
      Listed(2, 0, 0, ""),  // a continuation line carries no words of its own
      Listed(3, 0, 0, ""),
      Listed(4, 0, 0, "# note "),
      "005(-01)  not.a statement  \r\n",
  };
  EXPECT_EQ(ScriptListing(), expected);
}

// A line longer than the listing buffer is cut, never split inside a UTF-8
// character, and keeps its ending.
TEST_F(Listing, LongLinesAreCut) {
  std::string word;
  while (word.size() < 3000) word += "\xC3\xA9";  // é
  Load("run.end x" + word + "\n");
  const std::vector<std::string> lines = ScriptListing();
  ASSERT_EQ(lines.size(), 1u);
  const std::string& l = lines[0];
  // 1020 bytes before the ending would split an é: the cut backs off one.
  ASSERT_EQ(l.size(), static_cast<size_t>(LISTING_LINE - 2));
  ASSERT_EQ(l.substr(l.size() - 3), " \r\n");
  const std::string body = l.substr(0, l.size() - 3);
  ASSERT_EQ(body.substr(0, 19), "001(-01)  run.end x");
  const std::string tail = body.substr(19);
  EXPECT_EQ(tail, word.substr(0, tail.size()));
  EXPECT_EQ(tail.size(), 1000u);

  // Deep nesting widens the indentation past the buffer as well.
  std::string deep;
  for (int i = 0; i < 300; i++) deep += "loop.begin\n";
  deep += "run.end\n";
  Load(deep);
  const std::vector<std::string> nested = ScriptListing();
  ASSERT_EQ(nested.size(), 301u);
  EXPECT_EQ(nested[299].size(), static_cast<size_t>(LISTING_LINE - 1));
  EXPECT_EQ(nested[300], "301(148) " + std::string(LISTING_LINE - 1 - 9 - 3, ' ') + " \r\n");
}

TEST_F(Listing, StatementListShowsFinishedRowsNumberedWithoutGaps) {
  std::vector<std::string> lines;
  NmsListStatements(Collect, &lines);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "--- --- -----------------------------\r\n");
  int finished = 0;
  for (const FunRow& r : sgFun) finished += r.Status > 0;
  EXPECT_EQ(finished, 140);
  ASSERT_EQ(lines.size(), static_cast<size_t>(finished) + 1);
  EXPECT_EQ(lines[1], "  1   1 var {A2} value {A4}\r\n");
  EXPECT_EQ(lines[4], "  4   1 var {A2} add {A4}\r\n");  // rows 4 and 5 are not finished
  EXPECT_EQ(lines[11], " 11   2 screen.set mode {A3}\r\n");
  EXPECT_EQ(lines[12], " 12   2 screen.set font {A3} size {A5}\r\n");  // row 14 is left out
  for (size_t i = 1; i < lines.size(); i++) {
    char number[8];
    std::snprintf(number, sizeof number, "%3d ", static_cast<int>(i));
    EXPECT_EQ(lines[i].substr(0, 4), number);
    EXPECT_EQ(lines[i].find("tarv."), std::string::npos) << lines[i];
  }
  EXPECT_EQ(lines.back(), "140  21 web.close\r\n");
}

// The same lines reach the debug log after every load, escaped for HTML.
class ParserReportLog : public ::testing::Test {
 protected:
  TempDir dir;
  std::string Log(const std::string& script) {
    std::filesystem::create_directory(dir.File("log"));
    tarvtest::Start(dir, script, "debug");
    TarvFlushLog();
    std::string log;
    for (const auto& e : std::filesystem::directory_iterator(dir.File("log")))
      log += tarvtest::ReadFile(e.path().string());
    TarvEngineReset();
    return log;
  }
};

TEST_F(ParserReportLog, IndentedLinesBetweenHeaderAndEnd) {
  const std::string log = Log("loop.begin\nif.var {a} < {b}\nrun.end\nif.end\nloop.end");
  const std::string expected =
      "\nnms.words = [8], nms.lines = [5], nms.errors = [0]"
      "\nLine No. Func ID  sentence"
      "\n-------- -------- --------------------------------------------------------"
      "\n001(115)  loop.begin "
      "\n002(104)      if.var {a} &lt; {b} "
      "\n003(148)          run.end "
      "\n004(114)      if.end "
      "\n005(118)  loop.end "
      "\n--------nms Parser Report End.---------\n";
  EXPECT_NE(log.find(expected), std::string::npos) << log;
}

TEST_F(ParserReportLog, LongLineReachesTheLogWhole) {
  std::string word(1500, 'w');
  const std::string log = Log("run.end " + word);
  const std::string line = "\n001(-01)  run.end " + std::string(LISTING_LINE - 1 - 18, 'w') +
                           "\n--------nms Parser Report End.";
  EXPECT_NE(log.find(line), std::string::npos);
}

TEST_F(ParserReportLog, NothingBelowTheDebugLevel) {
  const std::string script = "run.end";
  std::filesystem::create_directory(dir.File("log"));
  tarvtest::Start(dir, script, "trace");
  TarvFlushLog();
  std::string log;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("log")))
    log += tarvtest::ReadFile(e.path().string());
  EXPECT_EQ(log.find("Parser Report End"), std::string::npos);
  TarvEngineReset();
}

}  // namespace
