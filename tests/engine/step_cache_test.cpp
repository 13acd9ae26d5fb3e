// What the step runner keeps between steps: the counters written by number
// with their digits left for the first reader, and what each argument word
// learnt of the variables it names.  Every reader must see the value of the
// moment, through every way a value is read.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/run_state.h"
#include "engine/core/var_store.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::RunCase;
using tarvtest::TempDir;
using tarvtest::Var;

// A loop of eight steps a pass whose counters change length (run.steps
// passes 9 and 99, step.bytes 9), read by words of one and of several
// variables, a copy into a variable and a comparison, each at its step.
TEST(StepCache, CountersReadAtEachStepAreExact) {
  TempDir dir;
  const auto o = RunCase(dir,
                         "var {n} value {0}\n"
                         "loop.begin\n"
                         "text.add {~run.steps~,~step.line~,~step.bytes~;pad}\n"
                         "text.add {~step.bytes~|}\n"
                         "var {c} copy var {run.steps}\n"
                         "var {n} add number {1}\n"
                         "if.var {run.steps} >= {110}\n"
                         "loop.exit\n"
                         "if.end\n"
                         "loop.end\n"
                         "text.add {~c~ ~text.bytes~}\n");
  EXPECT_TRUE(o.errors.empty());
  // Pass p starts at step 2 + 8p; a word reads what the step before
  // published, and step.line is set only after the words are read.
  std::string expect;
  const int passes = 14;  // the comparison at step 7 + 8p reads 6 + 8p
  for (int p = 0; p < passes; p++) {
    const std::string piece = std::to_string(2 + 8 * p) + ",2,0;pad";
    expect += piece + std::to_string(piece.size()) + "|";
  }
  expect += std::to_string(4 + 8 * (passes - 1)) + " " + std::to_string(expect.size());
  EXPECT_EQ(o.text, expect);
  // Read after the run, as the listings read it.
  EXPECT_EQ(Var("run.steps"), std::to_string(sgRun.RunSteps));
  EXPECT_EQ(Var("text.bytes"), std::to_string(o.text.size()));
  EXPECT_EQ(Var("n"), std::to_string(passes));
}

// A counter's variable written by the script keeps the script's value until
// the counter writes it again: a value pending from before must not come
// back over it.
TEST(StepCache, ScriptWriteOfACounterWins) {
  TempDir dir;
  const auto o = RunCase(dir,
                         "var {step.line} value {zz}\n"
                         "text.add {~step.line~/}\n"
                         "var {step.line} value {yy}\n"
                         "text.add {~step.line~/}\n"
                         "var {run.steps} value {abc}\n"
                         "text.add {~run.steps~}\n");
  EXPECT_TRUE(o.errors.empty());
  EXPECT_EQ(o.text, "zz/yy/5");
}

// A word's variable numbers follow the variables: a value that changes
// length, a variable made only after the word first failed, and a later
// run of the same process whose store numbers the variables otherwise.
TEST(StepCache, WordVariablesFollowTheStore) {
  TempDir dir;
  const auto first = RunCase(dir,
                             "var {k} value {0}\n"
                             "loop.begin\n"
                             "text.add {[~late~~k~]}\n"
                             "var {late} value {~k~x}\n"
                             "var {k} add number {7}\n"
                             "if.var {k} >= {21}\n"
                             "loop.exit\n"
                             "if.end\n"
                             "loop.end\n");
  ASSERT_FALSE(first.errors.empty());
  EXPECT_NE(first.errors[0].find("var [late] not exist!"), std::string::npos);
  EXPECT_EQ(first.text, "[0x7][7x14]");

  const auto before = RunCase(dir, "var {b} value {B}\nvar {a} value {AA}\ntext.add {~a~,~b~;~a~}\n");
  EXPECT_EQ(before.text, "AA,B;AA");
  // Here the counters and the two variables all take other numbers.
  const auto after = RunCase(dir,
                             "text.add {x}\nvar {a} value {1}\nvar {b} value {22}\n"
                             "text.add {~a~,~b~;~a~}\n");
  EXPECT_EQ(after.text, "x1,22;1");
  EXPECT_EQ(Var("a"), "1");
  EXPECT_EQ(Var("run.steps"), "4");
  EXPECT_EQ(Var("step.line"), "4");
}

// The number a sum wrote is taken by the next sum or comparison only while
// the text is still the sum's: any other write of the variable, and a later
// run whose new variable takes the same number, read the text again.
TEST(StepCache, NumberOfASumFollowsTheText) {
  TempDir dir;
  const auto o = RunCase(dir,
                         "var {n} value {0}\n"
                         "var {n} add number {5}\n"
                         "var {n} value {40}\n"
                         "var {n} add number {1}\n"
                         "text.add {~n~;}\n"
                         "var {n} value {7x}\n"
                         "var {n} add number {1}\n"
                         "text.add {~n~;}\n"
                         "var {n} add number {-20}\n"
                         "if.var {n} >= {0}\n"
                         "text.add {wrong;}\n"
                         "if.end\n"
                         "var {n} add number {30}\n"
                         "if.var {n} == {18}\n"
                         "text.add {~n~}\n"
                         "if.end\n");
  // -12 is refused as no integer, as its text is, and the refused
  // comparison runs its next line.
  ASSERT_EQ(o.errors.size(), 1u);
  EXPECT_NE(o.errors[0].find("Arg:2 is not integer !"), std::string::npos);
  EXPECT_EQ(o.text, "41;8;wrong;18");

  const auto later = RunCase(dir, "var {m} value {9}\nvar {m} add number {1}\ntext.add {~m~}\n");
  EXPECT_EQ(later.text, "10");
}

}  // namespace
