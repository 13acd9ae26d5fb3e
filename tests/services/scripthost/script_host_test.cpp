#include "services/scripthost/script_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <string>

#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "tests/services/scripthost/vbs_test_util.h"
#include "tests/services/statement_checks.h"

namespace {

using namespace tarv;
using namespace std::chrono_literals;

class VbsCaluate : public ::testing::Test {
 protected:
  void SetUp() override {
    TarvSetRunErrorPause(false);
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
  bool Untouched() const { return std::ranges::all_of(dest_, [](char c) { return c == '#'; }); }

  std::array<char, 1024> dest_;
  const int saved_timeout_ = sgRun.StepTimeout;
};

// scripts/caluate.tsv: nothing is written past the result's NUL, nor
// anything at all on a failure, which counts one run error.
TEST_F(VbsCaluate, RoundsTheExpressionOrReportsItsFault) {
  for (const auto& row : vbstest::LoadRows("caluate.tsv")) {
    SCOPED_TRACE(row[0]);
    const int errors_before = sgRun.RunErrors;
    const int n = Run(row[0]);
    if (row[1].starts_with("#")) {
      EXPECT_LT(n, 0);
      EXPECT_TRUE(Untouched());
      EXPECT_EQ(sgRun.RunErrors, errors_before + 1);
      const scripthost::ScriptOutcome out = scripthost::RunArithmetic(row[0], std::nullopt);
      EXPECT_FALSE(out.ok);
      EXPECT_EQ("#" + std::to_string(out.error.number), row[1]);
    } else {
      ASSERT_EQ(n, static_cast<int>(row[1].size()));
      EXPECT_EQ(Text(), row[1]);
      EXPECT_EQ(dest_[n + 1], '#');
    }
  }
}

// Faults are located in the assembled script, on the expression's line.
TEST(VbsScriptHost, FaultsPointIntoTheAssembledScript) {
  const struct { const char* expr; bool compile; int column; const char* source; } cases[] = {
      {"1 : x", true, 9, "Ret = 1 : x "},  // the ':'
      {"1/0", false, 8, "Ret = 1/0 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expr);
    const scripthost::ScriptOutcome out = scripthost::RunArithmetic(c.expr, std::nullopt);
    ASSERT_FALSE(out.ok);
    EXPECT_EQ(out.error.compile, c.compile);
    EXPECT_EQ(out.error.line, 3);
    EXPECT_EQ(out.error.column, c.column);
    EXPECT_EQ(out.error.source_text, c.source);
  }
}

// The template's text shows through the faults above.
TEST(VbsScriptHost, TemplateRoom) {
  // 2044 bytes of room, NUL included: the fixed text takes 84 bytes.
  const std::size_t fixed = scripthost::BuildArithmeticScript("")->size();
  EXPECT_EQ(fixed, 84u);
  EXPECT_TRUE(scripthost::BuildArithmeticScript(std::string(2043 - fixed, '1')));
  EXPECT_FALSE(scripthost::BuildArithmeticScript(std::string(2044 - fixed, '1')));
}

TEST(VbsScriptHost, TooLongOrLateIsRefused) {
  const scripthost::ScriptOutcome out = scripthost::RunArithmetic(std::string(3000, '1'), std::nullopt);
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.error.description, "Script too long");
  const scripthost::ScriptOutcome late =
      scripthost::RunArithmetic("1+1", vbs::Clock::now() - 1ms);
  ASSERT_FALSE(late.ok);
  EXPECT_EQ(late.error.number, vbs::kErrTimeout);
  const scripthost::ScriptOutcome in_time =
      scripthost::RunArithmetic("1+1", vbs::Clock::now() + 60s);
  ASSERT_TRUE(in_time.ok);
  EXPECT_EQ(in_time.text, "2");
}

// The whole report of a run-time fault is SysVbscript's business.
TEST(VbsScriptHost, FailureReportNamesTheCompiler) {
  vbs::Error e;
  e.compile = true;
  EXPECT_NE(scripthost::FailureReport(e).find("Source [VBScript compilation error]"), std::string::npos);
}

// scripts/escapes.tsv: line breaks as chr() calls, within the room.
TEST(VbsScriptHost, EscapeCrlf) {
  for (const auto& row : vbstest::LoadRows("escapes.tsv")) {
    const std::string src = tarvtest::ExpandCheckText(row[0]), out = tarvtest::ExpandCheckText(row[1]);
    SCOPED_TRACE(src.size());
    std::array<char, 1024> dest;
    dest.fill('#');
    EXPECT_EQ(vbscript_escape_crlf(src.c_str(), dest.data()), static_cast<int>(out.size()));
    EXPECT_EQ(std::string(dest.data()), out);
  }
}

}  // namespace
