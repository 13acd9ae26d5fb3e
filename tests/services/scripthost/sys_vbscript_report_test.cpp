// A failure report of any length is kept: the run error's variable and its
// log entry are written with the description cut to fit, for a script whose
// failing line is long and for any other statement.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/engine/harness.h"
#include "tests/services/scripthost/vbs_test_util.h"

namespace {

TEST(SysVbscriptReport, LongReportsAreCutAndKept) {
  tarvtest::TempDir dir;
  std::filesystem::create_directory(dir.path() / "log");
  // A failing line of about 900 bytes: its text is part of the report.
  const std::string line = "TarvMain = \"" + std::string(880, 'q') + "\" / 0";
  const std::string script = "Function TarvMain()\n" + line + "\nEnd Function\n";
  tarvtest::Run(dir,
                "sys.vbscript {" + vbstest::AsArgument(script) + "}\n"
                "run.set onerror {" + std::string(1000, 'w') + "}\n"
                // A report that quotes a long text made by the script.
                "sys.vbscript {Function TarvMain() : TarvMain = Eval(String(1000, \"(\") & 1) : End Function}\n",
                "error");
  EXPECT_EQ(tarvtest::Var("run.errors"), "3");
  const std::string first = tarvtest::Var("run.error.1");
  EXPECT_TRUE(first.starts_with("run.steps [1], Line No. [1], Error: [vbscript exception :{Type mismatch")) << first;
  EXPECT_NE(first.find("GetText:TarvMain = \"qqqq"), std::string::npos);
  EXPECT_EQ(first.size(), 1021u);
  EXPECT_TRUE(first.ends_with("q]"));
  const std::string second = tarvtest::Var("run.error.2");
  EXPECT_TRUE(second.starts_with("run.steps [2], Line No. [2], Error: [run_set_onerror_a3->A:3(www")) << second;
  EXPECT_TRUE(second.ends_with("w]"));
  EXPECT_EQ(second.size(), 1021u);
  const std::string third = tarvtest::Var("run.error.3");
  EXPECT_TRUE(third.starts_with("run.steps [3], Line No. [3], Error: [vbscript exception :{")) << third;
  EXPECT_TRUE(third.ends_with("]")) << third;
  const std::string log = tarvtest::LogsIn(dir);
  EXPECT_EQ(tarvtest::Count(log, "run.errors: [1] , description: [vbscript exception :{Type mismatch"), 1);
  EXPECT_EQ(tarvtest::Count(log, "run.errors: [2] , description: [run_set_onerror_a3-&gt;A:3(www"), 1);
  EXPECT_EQ(tarvtest::Count(log, "run.errors: [3] , description: [vbscript exception :{"), 1);
}

// The report of a long failing line is cut to what an argument takes in, so
// that the script can read it back without a further error.
TEST(SysVbscriptReport, ALongReportCanBeReadBack) {
  tarvtest::TempDir dir;
  const std::string line = "TarvMain = \"" + std::string(850, 'q') + "\" / 0";
  ASSERT_GT(line.size(), 860u);
  const std::string script = "Function TarvMain()\n" + line + "\nEnd Function\n";
  tarvtest::Run(dir,
                "sys.vbscript {" + vbstest::AsArgument(script) + "}\n"
                "text.add {~run.error.1~}\n"
                "var {copy} copy var {run.error.1}\n",
                "error");
  EXPECT_EQ(tarvtest::Var("run.errors"), "1");
  const std::string report = tarvtest::Var("run.error.1");
  EXPECT_NE(report.find("GetText:TarvMain = \"qqqq"), std::string::npos) << report;
  EXPECT_LE(report.size(), 1021u);
  EXPECT_TRUE(report.ends_with("]"));
  EXPECT_EQ(tarvtest::Text(), report);
  EXPECT_EQ(tarvtest::Var("copy"), report);
}

}  // namespace
