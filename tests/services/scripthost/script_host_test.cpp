#include "services/scripthost/script_host.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "engine/log.h"
#include "engine/run_state.h"

namespace {

using namespace tarv;
using namespace std::chrono_literals;

class VbsCaluate : public ::testing::Test {
 protected:
  void SetUp() override {
    TarvSetRunErrorPause(false);
    saved_timeout_ = sgRun.StepTimeout;
    sgRun.StepTimeout = 0;
  }
  void TearDown() override {
    sgRun.StepTimeout = saved_timeout_;
    TarvSetRunErrorPause(true);
  }

  // Runs the routine into a buffer filled with '#', so that bytes written
  // beyond the result (or none at all on failure) show.
  int Run(const std::string& expr) {
    dest_.fill('#');
    return vbscript_caluate(expr.c_str(), dest_.data());
  }
  std::string Text() const { return std::string(dest_.data()); }
  bool Untouched() const {
    for (char c : dest_) {
      if (c != '#') return false;
    }
    return true;
  }

  std::array<char, 1024> dest_;
  int saved_timeout_ = 0;
};

TEST_F(VbsCaluate, RoundsTheExpression) {
  struct Case {
    const char* expr;
    const char* out;
  };
  const std::vector<Case> cases = {
      {"1+2*3", "7"},
      {"7/2", "4"},
      {"5/2", "2"},
      {"-7/2", "-4"},
      {"Round(2.5)", "2"},
      {"3.5", "4"},
      {"-2^2", "-4"},
      {"7\\2", "3"},
      {"7 Mod 3", "1"},
      {"\"3\"+\"4\"", "34"},
      {"\"3\"*2", "6"},
      {"abc", "0"},
      {"abc * 5 + 1", "1"},
      {"2147483647+1", "2147483648"},
      {"(1<2)", "-1"},
      {"(1>2)", "0"},
      {"1e16", "1E+16"},
      {"&HFF", "255"},
      {"  10 - 4  ", "6"},
      {"Sqr(2)*Sqr(2)", "2"},
      {"Len(\"hello\")", "5"},
      {"Exp(2)", "7"},
      {"Log(1000) / Log(10)", "3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expr);
    const int n = Run(c.expr);
    ASSERT_EQ(n, static_cast<int>(std::string(c.out).size()));
    EXPECT_EQ(Text(), c.out);
    EXPECT_EQ(dest_[n + 1], '#');  // nothing past the closing NUL
  }
}

TEST_F(VbsCaluate, FailuresAreReportedAndLeaveTheDestination) {
  struct Case {
    const char* expr;
    int number;
  };
  const std::vector<Case> cases = {
      {"1/0", vbs::kErrDivisionByZero},
      {"0/0", vbs::kErrOverflow},
      {"2*", vbs::kErrExpectedExpression},
      {"\"a\"", vbs::kErrTypeMismatch},  // Round of a text that is no number
      {"Hex(255)", vbs::kErrTypeMismatch},  // "FF" is no number to round
      {"1e308*10", vbs::kErrOverflow},
      {"CreateObject(\"WScript.Shell\")", vbs::kErrCannotCreateObject},
      // one expression only: nothing may follow it
      {"1 : CreateObject(\"x\")", vbs::kErrExpectedEndOfStatement},
      {"1\nx = 2", vbs::kErrExpectedEndOfStatement},
      {"1\rx = 2", vbs::kErrExpectedEndOfStatement},
      {"1 \nEnd Function\nFunction TarvMain()\nTarvMain = 9", vbs::kErrExpectedEndOfStatement},
      {"1 _", vbs::kErrInvalidCharacter},
      {"1 ' x\nTarvMain = 5", vbs::kErrExpectedEndOfStatement},
      {"TarvMain()", vbs::kErrOutOfStack},  // the template calling itself
      {"", vbs::kErrExpectedExpression},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expr);
    const int errors_before = sgRun.RunErrors;
    EXPECT_LT(Run(c.expr), 0);
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(sgRun.RunErrors, errors_before + 1);
    const scripthost::ScriptOutcome out = scripthost::RunArithmetic(c.expr, std::nullopt);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.error.number, c.number);
  }
}

TEST_F(VbsCaluate, GuardFaultPointsIntoTheAssembledScript) {
  const scripthost::ScriptOutcome out = scripthost::RunArithmetic("1 : x", std::nullopt);
  ASSERT_FALSE(out.ok);
  EXPECT_TRUE(out.error.compile);
  EXPECT_EQ(out.error.line, 3);
  EXPECT_EQ(out.error.column, 9);  // "Ret = 1 : x": the ':'
  EXPECT_EQ(out.error.source_text, "Ret = 1 : x ");
}

TEST(VbsScriptHost, TemplateText) {
  EXPECT_EQ(scripthost::BuildArithmeticScript("1+2"),
            "Private Function TarvMain()\n"
            "Dim Ret \n"
            "Ret = 1+2 \n"
            "TarvMain = Round(Ret, 0) \n"
            "End Function\n");
  // 2044 bytes of room, NUL included: the fixed text takes 84 bytes.
  const std::size_t fixed = scripthost::BuildArithmeticScript("")->size();
  EXPECT_EQ(fixed, 84u);
  EXPECT_TRUE(scripthost::BuildArithmeticScript(std::string(2043 - fixed, '1')));
  EXPECT_FALSE(scripthost::BuildArithmeticScript(std::string(2044 - fixed, '1')));
}

TEST(VbsScriptHost, TooLongAScriptIsRefused) {
  const scripthost::ScriptOutcome out = scripthost::RunArithmetic(std::string(3000, '1'), std::nullopt);
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.error.description, "Script too long");
}

TEST(VbsScriptHost, DeadlineAlreadyPast) {
  const scripthost::ScriptOutcome late =
      scripthost::RunArithmetic("1+1", vbs::Clock::now() - 1ms);
  ASSERT_FALSE(late.ok);
  EXPECT_EQ(late.error.number, vbs::kErrTimeout);
  const scripthost::ScriptOutcome in_time =
      scripthost::RunArithmetic("1+1", vbs::Clock::now() + 60s);
  ASSERT_TRUE(in_time.ok);
  EXPECT_EQ(in_time.text, "2");
}

TEST(VbsScriptHost, FailureReport) {
  vbs::Error e;
  e.number = 11;
  e.description = "Division by zero";
  e.line = 3;
  e.column = 8;
  e.source_text = "Ret = 1/0 ";
  EXPECT_EQ(scripthost::FailureReport(e),
            "exception :{Division by zero,ErrorMessage:Exception occurred.}"
            "COM Error:{ Line 3,Column 8,Source [VBScript runtime error] Description:Division by zero,"
            "GetText:Ret = 1/0 ,GetNumber:11}.");
  e.compile = true;
  EXPECT_NE(scripthost::FailureReport(e).find("Source [VBScript compilation error]"),
            std::string::npos);
}

TEST(VbsScriptHost, RuntimeFaultIsLocatedOnTheExpressionLine) {
  const scripthost::ScriptOutcome out = scripthost::RunArithmetic("1/0", std::nullopt);
  ASSERT_FALSE(out.ok);
  EXPECT_FALSE(out.error.compile);
  EXPECT_EQ(out.error.line, 3);
  EXPECT_EQ(out.error.column, 8);
  EXPECT_EQ(out.error.source_text, "Ret = 1/0 ");
}

}  // namespace
