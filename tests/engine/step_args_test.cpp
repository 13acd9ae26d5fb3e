#include <gtest/gtest.h>

#include <string>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;

// Prepares line 1 of a one-line script "text.add {ARG}" after setting vars.
class StepArgsTest : public ::testing::Test {
 protected:
  TempDir dir;
  int Prepare(const std::string& line,
              std::initializer_list<std::pair<const char*, std::string>> vars = {}) {
    tarvtest::Start(dir, line + "\n");
    for (const auto& [n, v] : vars) TarvSetVar3(n, v.data(), static_cast<int>(v.size()));
    return EsPrepareStep();
  }
  std::string Arg(int i) { return igL[i] < 0 ? "<fail>" : std::string(agA[i], igL[i]); }
};

// Escapes and substitution: cases/step_args.cases.
TEST(StepArgs, Cases) { tarvtest::ExpectCaseFile("step_args.cases"); }

TEST_F(StepArgsTest, FailedArguments) {
  EXPECT_EQ(Prepare("text.add {a~nope~b}"), -1);
  EXPECT_EQ(sgRun.RunErrors, 2);
  EXPECT_EQ(tarvtest::Var("run.error.1"),
            "run.steps [0], Line No. [1], Error: [var [nope] not exist!]");
  // The rest of the value is still built.
  EXPECT_EQ(igL[2], 2);
  EXPECT_EQ(Prepare("text.add {a~~b}"), -1);
  EXPECT_EQ(igL[2], -1);
  EXPECT_EQ(sgRun.RunErrors, 1);
  // Every failing argument of the line counts.
  EXPECT_EQ(Prepare("var {~a~} value {~b~}"), -2);
  EXPECT_EQ(sgRun.ArgErrors, 2);
}

TEST_F(StepArgsTest, SlotLimits) {
  EXPECT_EQ(Prepare("text.add {" + std::string(1021, 'a') + "}"), 0);
  EXPECT_EQ(igL[2], 1021);
  EXPECT_EQ(Prepare("text.add {" + std::string(1022, 'a') + "}"), -1);
  EXPECT_EQ(Prepare("text.add {" + std::string(1023, 'a') + "}"), -1);
  EXPECT_EQ(igL[2], -2);
  // Escapes shrink the text: 1500 source bytes can make 500 value bytes.
  std::string esc;
  for (int i = 0; i < 500; i++) esc += "%41";
  EXPECT_EQ(Prepare("text.add {" + esc + "}"), -1);  // inner text over 1022 bytes
  // A variable value that would overflow the slot fails the argument.
  std::string big(1000, 'v');
  EXPECT_EQ(Prepare("text.add {~a~~a~}", {{"a", big}}), -1);
  EXPECT_EQ(Prepare("text.add {~a~~b~}", {{"a", big}, {"b", std::string(21, 'w')}}), 0);
  EXPECT_EQ(igL[2], 1021);
  EXPECT_EQ(Prepare("text.add {~a~~b~}", {{"a", big}, {"b", std::string(22, 'w')}}), -1);
  EXPECT_EQ(Prepare("text.add {~a~xxxxxxxxxxxxxxxxxxxxxxxxx}", {{"a", big}}), -1);
}

TEST_F(StepArgsTest, UnmatchedLinesAreFilledToo) {
  EXPECT_EQ(Prepare("no.such {~x~} {%41%41}", {{"x", "7"}}), 0);
  EXPECT_EQ(Arg(2), "7");
  EXPECT_EQ(Arg(3), "AA");
  EXPECT_EQ(igL[1], -1);
  EXPECT_EQ(Prepare("no.such {~gone~}"), -1);
  EXPECT_EQ(sgRun.RunErrors, 2);
  // Words beyond the slots are neither filled nor a fault.
  std::string line = "w";
  for (int i = 2; i <= 25; i++) line += " {" + std::to_string(i) + "}";
  EXPECT_EQ(Prepare(line), 0);
  EXPECT_EQ(Arg(19), "19");
}

TEST_F(StepArgsTest, Getters) {
  Prepare("run.set loglevel {~lv~}", {{"lv", "info"}});
  EXPECT_EQ(CurStepIsArg3(3, "info", 4), 0);
  EXPECT_EQ(CurStepIsArg3(3, "infx", 4), -2);
  EXPECT_EQ(CurStepIsArg3(3, "inf", 3), -1);
  EXPECT_EQ(CurStepIsKey3(2, "loglevel", 8), 0);
  EXPECT_EQ(CurStepIsKey3(2, "logleveX", 8), -3);
  EXPECT_EQ(CurStepIsKey3(2, "log", 3), -2);
  EXPECT_EQ(CurStepIsKey3(9, "x", 1), -1);
  EXPECT_EQ(EsStepIsKey2(1, "run.set"), 0);
  EXPECT_EQ(EsStepIsKey2(1, "run.sex"), -3);
  EXPECT_EQ(EsIsArg3(3, "info", 4), 0);
  char buf[1024] = {};
  EXPECT_EQ(EsGetArg(3, buf, 1022), 4);
  EXPECT_EQ(std::string(buf), "info");
  const int before = sgNms.ErrCount;
  EXPECT_EQ(EsGetArg(1, buf, 1022), -1);  // a keyword is no argument
  EXPECT_EQ(sgNms.ErrCount, before + 1);
}

}  // namespace
