#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;

// A loaded script: its counts, then each line's statement id and word count,
// then each word as LINE, kind (k, a, c) and text; at most 12 lines and 16
// words are shown.
std::string Parsed(const std::string& script) {
  TempDir dir;
  tarvtest::Start(dir, script);
  std::string out = std::to_string(sgNms.LineCount) + " lines, " + std::to_string(sgNms.WordCount) +
                    " words, " + std::to_string(sgNms.ErrCount) + " errors;";
  for (int l = 1; l <= std::min(sgNms.LineCount, 12); l++)
    out += " " + std::to_string(sgNms.FunID[l]) + "/" + std::to_string(sgNms.LineWords[l]);
  out += ";";
  for (int w = 1; w <= std::min(sgNms.WordCount, 16); w++) {
    const int kind = sgNms.Words[w].Kind;
    out += " " + std::to_string(sgNms.Words[w].Line) +
           (kind == WORD_KEY ? "k" : kind == WORD_ARG ? "a" : kind == WORD_COMMENT ? "c" : "?") + ":" +
           std::string(WordText(w), sgNms.Words[w].Length);
  }
  if (sgNms.ErrCount > 0) out += "; " + tarvtest::Var("nms.error.1");
  return out;
}

// Words, statements, comments, arguments and the limits:
// cases/parser.txt.
TEST(Parser, Cases) { tarvtest::ExpectLineCases("parser.txt", Parsed); }

TEST(Parser, LineLimitKeepsTheTablesInBounds) {
  TempDir dir;
  // The last line that fits runs; the one after it is cut.
  tarvtest::Run(dir, std::string(MAX_LINES - 1, '\n') + "var {last} value {1}\nvar {cut} value {1}\n");
  EXPECT_EQ(tarvtest::Var("last"), "1");
  EXPECT_EQ(tarvtest::Var("cut"), "<missing>");
  // Blank lines alone past the limit are cut too.
  tarvtest::Start(dir, std::string(3000, '\n'));
  EXPECT_EQ(sgNms.LineCount, MAX_LINES);
  TarvRunToEnd();
  EXPECT_EQ(sgRun.RunSteps, MAX_LINES);
}

TEST(Parser, MissingScript) {
  TempDir dir;
  tarvtest::Start(dir, "");
  std::string cmd = dir.File("tarv") + " hide " + dir.File("nope.nms");
  TarvStartCmdLine(cmd.c_str(), (dir.path().string() + "/").c_str());
  EXPECT_EQ(sgNms.LineCount, 0);
  EXPECT_EQ(sgRun.RunErrors, 1);
  EXPECT_EQ(tarvtest::Var("nms.error.1"), "Script File <" + dir.File("nope.nms") + ">, Not Found!");
  EXPECT_EQ(tarvtest::Var("nms.lines"), "<missing>");
  EXPECT_EQ(tarvtest::Var("nms.errors"), "1");
  TarvRunToEnd();
  EXPECT_EQ(sgRun.RunSteps, 0);
}

}  // namespace
