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

class Listing : public ::testing::Test {
 protected:
  TempDir dir;
  void Load(const std::string& script) { tarvtest::Start(dir, script); }
  void TearDown() override { TarvEngineReset(); }
};

// Nested blocks are indented; more closers than openers leave the level
// negative: it prints as zero, and openers climb back from below zero.
TEST_F(Listing, ScriptListings) {
  const char* scripts[] = {
      ("macro.begin {m}\nif.var {a} == {b}\nloop.begin\nif.text contain {x}\nvar {x} value {1}\n"
       "if.end\nloop.end\nif.end\nmacro.end\nrun.end\n"),
      "if.end\nrun.end\nloop.begin\nrun.end\nloop.begin\nrun.end\nloop.end\nloop.end",
      // A continuation line carries no words of its own.
      "tcp.connect ip {127.0.0.1}\nport {23}\n\n# note\r\nnot.a statement\n",
  };
  std::string all;
  for (const char* script : scripts) {
    Load(script);
    std::string listing;
    for (const auto& line : ScriptListing()) listing += line;
    all += tarvtest::Section(script, listing);
  }
  std::vector<std::string> rows;
  NmsListStatements(Collect, &rows);
  std::string statements;
  for (const auto& row : rows) statements += row;
  tarvtest::ExpectGolden("listings.txt", all + tarvtest::Section("statements", statements));
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
  const size_t from = log.find("\nnms.words = [");
  const std::string end = "Parser Report End.---------\n";
  ASSERT_NE(from, std::string::npos);
  tarvtest::ExpectGolden("parser_report.htm", log.substr(from, log.find(end, from) + end.size() - from));
}

TEST_F(ParserReportLog, LongLineReachesTheLogWhole) {
  std::string word(1500, 'w');
  const std::string log = Log("run.end " + word);
  const std::string line = "\n001(-01)  run.end " + std::string(LISTING_LINE - 1 - 18, 'w') +
                           "\n--------nms Parser Report End.";
  EXPECT_NE(log.find(line), std::string::npos);
}

}  // namespace
