#include <gtest/gtest.h>

#include <string>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;

std::string Word(int w) { return std::string(WordText(w), sgNms.Words[w].Length); }

class ParserTest : public ::testing::Test {
 protected:
  TempDir dir;
  void Load(const std::string& script) { tarvtest::Start(dir, script); }
};

TEST_F(ParserTest, ByteOrderMarkAndLineEnds) {
  Load("\xEF\xBB\xBFrun.end\r\n");
  EXPECT_EQ(sgNms.FunID[1], 148);
  EXPECT_EQ(Word(1), "run.end");
  Load("tcp.close\nrun.end\n");
  EXPECT_EQ(sgNms.LineCount, 2);
  EXPECT_EQ(sgNms.FunID[1], 94);
  EXPECT_EQ(sgNms.FunID[2], 148);
  EXPECT_EQ(Word(2), "run.end");
  // A one-byte word at the very end is one byte long.
  Load("run.end x");
  EXPECT_EQ(sgNms.WordCount, 2);
  EXPECT_EQ(Word(2), "x");
  EXPECT_EQ(sgNms.FunID[1], -1);
}

TEST_F(ParserTest, KeywordsArgumentsAndCase) {
  Load("tcp.send text\ntcp.send {text}\nTCP.send text\n");
  EXPECT_EQ(sgNms.FunID[1], 89);
  EXPECT_EQ(sgNms.FunID[2], 88);
  EXPECT_EQ(sgNms.FunID[3], -1);
  EXPECT_EQ(sgNms.Words[4].Kind, WORD_ARG);
  EXPECT_EQ(Word(4), "{text}");
  // A word runs straight into an argument: "var{x}" is two words.
  Load("run.sleep{1} seconds\n");
  EXPECT_EQ(sgNms.WordCount, 3);
  EXPECT_EQ(Word(1), "run.sleep");
  EXPECT_EQ(sgNms.FunID[1], 149);
}

TEST_F(ParserTest, CommentsPreventAMatch) {
  Load("if.end # done\r\n# only a comment\r\nif.end\r\n");
  EXPECT_EQ(sgNms.FunID[1], -1);
  EXPECT_EQ(sgNms.FunID[2], 0);
  EXPECT_EQ(sgNms.FunID[3], 114);
  EXPECT_EQ(sgNms.Words[2].Kind, WORD_COMMENT);
  // The comment's length leaves out the CR LF.
  EXPECT_EQ(Word(2), "# done");
}

TEST_F(ParserTest, StatementsAndArgumentsOverSeveralLines) {
  Load("tcp.connect ip {10.0.0.1}\nport {23}\nrun.end\n");
  EXPECT_EQ(sgNms.FunID[1], 86);
  EXPECT_EQ(sgNms.LineWords[1], 5);
  EXPECT_EQ(sgNms.FunID[2], 0);
  EXPECT_EQ(sgNms.LineWords[2], 0);
  EXPECT_EQ(sgNms.FunID[3], 148);
  // An argument may hold newlines; the word after it belongs to the later line.
  Load("var {a} value {x\ny} \nrun.end\n");
  EXPECT_EQ(sgNms.FunID[1], 1);
  EXPECT_EQ(Word(4), "{x\ny}");
  EXPECT_EQ(sgNms.Words[5].Line, 3);
  EXPECT_EQ(sgNms.FunID[3], 148);
  // A blank line between the parts stops the multi-line match.
  Load("tcp.connect ip {1.2.3.4}\n\nport {23}\n");
  EXPECT_EQ(sgNms.FunID[1], -1);
  EXPECT_EQ(sgNms.FunID[3], -1);
}

TEST_F(ParserTest, BraceInsideAnArgumentStopsTheScan) {
  Load("run.end\nvar {a{b} value {c}\nrun.end\n");
  EXPECT_EQ(sgNms.ErrCount, 1);
  EXPECT_EQ(sgNms.WordCount, 3);
  EXPECT_EQ(sgNms.Words[3].Length, 0);
  EXPECT_EQ(tarvtest::Var("nms.error.1"),
            "NMS文件第2行,第3个参数缺少}结束或者{需要进行转义");
  EXPECT_EQ(sgNms.FunID[1], 148);
}

TEST_F(ParserTest, ArgumentOpenAtTheEndOfTheFile) {
  Load("text.add {abc");
  EXPECT_EQ(sgNms.ErrCount, 1);
  EXPECT_EQ(sgNms.Words[2].Length, 0);
  EXPECT_EQ(tarvtest::Var("nms.errors"), "1");
}

TEST_F(ParserTest, WordLimit) {
  std::string s;
  for (int i = 0; i < 4091; i++) s += (i % 4 == 3) ? "w\n" : "w ";
  Load(s);
  EXPECT_EQ(sgNms.WordCount, 4091);
  EXPECT_EQ(sgNms.ErrCount, 0);
  Load(s + "extra\nrun.end\n");
  EXPECT_EQ(sgNms.WordCount, 4091);
  EXPECT_EQ(sgNms.ErrCount, 1);
  EXPECT_EQ(tarvtest::Var("nms.error.1"),
            "NMS文件第1023行,第4092个词,词已太多，请缩减脚本!");
}

TEST_F(ParserTest, LineLimitKeepsTheTablesInBounds) {
  std::string s;
  for (int i = 0; i < 1100; i++) s += "loop.next\n";
  Load(s);
  EXPECT_EQ(sgNms.LineCount, MAX_LINES);
  EXPECT_EQ(sgNms.WordCount, MAX_LINES);
  EXPECT_EQ(sgNms.ErrCount, 1);
  // The last line that fits runs; the one after it is cut.
  tarvtest::Run(dir, std::string(MAX_LINES - 1, '\n') + "var {last} value {1}\nvar {cut} value {1}\n");
  EXPECT_EQ(tarvtest::Var("last"), "1");
  EXPECT_EQ(tarvtest::Var("cut"), "<missing>");
  // Blank lines alone past the limit are cut too.
  Load(std::string(3000, '\n'));
  EXPECT_EQ(sgNms.LineCount, MAX_LINES);
  TarvRunToEnd();
  EXPECT_EQ(sgRun.RunSteps, MAX_LINES);
}

TEST_F(ParserTest, BlankFilesAndLongLines) {
  Load("");
  EXPECT_EQ(sgNms.LineCount, 1);
  EXPECT_EQ(sgNms.FunID[1], 0);
  Load("\n \n\t\n");
  EXPECT_EQ(sgNms.LineCount, 4);
  EXPECT_EQ(tarvtest::Var("nms.lines"), "4");
  for (int l = 1; l <= 4; l++) EXPECT_EQ(sgNms.FunID[l], 0);
  // A line whose name outgrows the name buffer matches nothing and harms nothing.
  std::string longLine;
  for (int i = 0; i < 400; i++) longLine += "abcdefgh ";
  Load(longLine + "\n" + longLine + "\nrun.end\n");
  EXPECT_EQ(sgNms.FunID[1], -1);
  EXPECT_EQ(sgNms.FunID[3], 148);
}

TEST_F(ParserTest, CreatesourcePrefixMatchesAnyLine) {
  Load("tarv.createsourceXYZ var {A2} value {A4}\n");
  EXPECT_EQ(sgNms.FunID[1], 179);
  Load("tarv.createsourc\n");
  EXPECT_EQ(sgNms.FunID[1], -1);
}

TEST_F(ParserTest, MissingScript) {
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
