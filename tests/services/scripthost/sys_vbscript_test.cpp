// sys.vbscript {A2} as a statement of a run (and of a run of the binary), and
// the limits that stop any script: time, recursion depth and memory.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "services/scripthost/script_host.h"
#include "services/scripthost/vbs_objects.h"
#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/services/scripthost/vbs_test_util.h"

namespace {

using namespace tarv;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

std::string Main(const std::string& body) { return "Function TarvMain()\n" + body + "\nEnd Function\n"; }

void RunStatements(const std::string& nms) {
  tarvtest::TempDir dir;
  tarvtest::Run(dir, nms);
}

TEST(SysVbscript, ResultAndArgumentLength) {
  // The longest script an argument holds (1021 bytes); one more byte is
  // refused by the argument itself, before the statement runs.
  const std::string long_script = "Function TarvMain() : TarvMain = \"" + std::string(971, 'x') + "\" : End Function";
  ASSERT_EQ(long_script.size(), 1021u);
  RunStatements("var {vbscript.return} value {old}\n"
                "sys.vbscript {" + vbstest::AsArgument(Main("x = 1")) + "}\n"
                "var {empty} value {[~vbscript.return~]}\n"
                "sys.vbscript {" + vbstest::AsArgument(long_script) + "}\n"
                "var {long} value {~vbscript.return~}\n"
                "sys.vbscript {}\n"
                "sys.vbscript {" + vbstest::AsArgument(long_script + " ") + "}\n");
  EXPECT_EQ(tarvtest::Var("empty"), "[]");
  EXPECT_EQ(tarvtest::Var("long"), std::string(971, 'x'));
  EXPECT_EQ(tarvtest::RunErrors(), (Strings{"Length of Arg 2 is :0  < 1 !", "Line:7,Get Arg:2 Error!"}));
}

TEST(SysVbscript, FailuresLeaveTheOldResult) {
  RunStatements(
      "var {vbscript.return} value {old}\n"
      // a run-time error inside TarvMain: reported by the statement
      "sys.vbscript {Function TarvMain()%0Ax = 1%0ATarvMain = x / 0%0AEnd Function}\n"
      "var {a} value {~vbscript.return~}\n"
      // a script that does not compile: left to the step's guard
      "sys.vbscript {Function TarvMain()%0ATarvMain = (1%0AEnd Function}\n"
      "var {b} value {~vbscript.return~}\n"
      // a result longer than a variable holds: a counted error
      "sys.vbscript {Function TarvMain() : TarvMain = String(2000, \"y\") : End Function}\n"
      "var {c} value {~vbscript.return~}\n"
      // an error raised by the script names its own source
      "sys.vbscript {Function TarvMain() : Err.Raise 1000, \"probe\", \"no answer\" : End Function}\n"
      // Null cannot be text
      "sys.vbscript {Function TarvMain() : TarvMain = Null : End Function}\n");
  EXPECT_EQ(tarvtest::Var("a"), "old");
  EXPECT_EQ(tarvtest::Var("b"), "old");
  EXPECT_EQ(tarvtest::Var("c"), "old");
  EXPECT_EQ(tarvtest::RunErrors(),
            (Strings{
                "vbscript exception :{Division by zero,ErrorMessage:Exception occurred.}COM Error:{ Line 3,Column 14,"
                "Source [VBScript runtime error] Description:Division by zero,GetText:TarvMain = x / 0,GetNumber:11}.",
                "Call [sys.vbscript {A2}], __except=(-1)!",
                "sys_vbscript_a2 vbscript.return refused the result of 2000 bytes",
                "vbscript exception :{no answer,ErrorMessage:Exception occurred.}COM Error:{ Line 1,Column 23,"
                "Source [probe] Description:no answer,GetText:Function TarvMain() : Err.Raise 1000, \"probe\", "
                "\"no answer\" : End Function,GetNumber:1000}.",
                "vbscript exception :{Type mismatch,ErrorMessage:Exception occurred.}COM Error:{ Line 0,Column 0,"
                "Source [VBScript runtime error] Description:Type mismatch,GetText:,GetNumber:13}.",
            }));
}

// The step time-out stops a script that never ends, wherever it loops.
TEST(SysVbscript, StepTimeoutStopsEndlessScripts) {
  const char* bodies[] = {
      "Do : Loop",
      "While True : Wend",
      "For i = 1 To 2 Step 0 : Next",
      "Do\n x = x + 1\nLoop Until False",
      "WScript.Sleep 60000",
  };
  std::string nms = "run.set step.timeout {1} seconds\n";
  for (const char* body : bodies) nms += "sys.vbscript {" + vbstest::AsArgument(Main(body)) + "}\n";
  RunStatements(nms);
  const Strings errors = tarvtest::RunErrors();
  ASSERT_EQ(errors.size(), std::size(bodies));
  for (const std::string& e : errors) EXPECT_NE(e.find("Description:Script timed out"), std::string::npos) << e;
}

TEST(SysVbscript, DeadlineThroughTheHost) {
  const struct { const char* body; int line; } cases[] = {
      {"Do : Loop", 2},
      {"x = 0\nDo\n  x = x + 1\nLoop", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    const scripthost::UserOutcome out = scripthost::RunUserScript(Main(c.body), vbs::Clock::now() + 100ms);
    ASSERT_FALSE(out.ok);
    EXPECT_FALSE(out.compile_stage);
    EXPECT_EQ(out.error.number, vbs::kErrTimeout);
    // The loop's own turn or the statement in it, whichever reads the clock.
    EXPECT_GE(out.error.line, c.line);
    EXPECT_LE(out.error.line, c.line + 1);
  }
  // On Error Resume Next does not hold the limit off.
  const scripthost::UserOutcome held =
      scripthost::RunUserScript(Main("On Error Resume Next\nDo\n  x = 1 / 0\nLoop"), vbs::Clock::now() + 100ms);
  EXPECT_EQ(held.error.number, vbs::kErrTimeout);
  // Endless top-level code stops too, as a failure before TarvMain.
  const scripthost::UserOutcome top =
      scripthost::RunUserScript("Do : Loop\n" + Main("TarvMain = 1"), vbs::Clock::now() + 100ms);
  EXPECT_TRUE(top.compile_stage);
  EXPECT_EQ(top.error.number, vbs::kErrTimeout);
}

// Recursion through Execute stops too; where it stops depends on the stack
// each level takes.
TEST(SysVbscript, RecursionThroughExecuteStops) {
  const scripthost::UserOutcome out = scripthost::RunUserScript(
      "Sub S()\n Execute \"S\"\nEnd Sub\n" + Main("S"), std::nullopt);
  EXPECT_EQ(out.error.number, vbs::kErrOutOfStack);
  EXPECT_EQ(out.error.description, "Out of stack space");
}

// Pieces that each pass the size limits still stop at the run's budget.
TEST(SysVbscript, MemoryBudgetStopsGrowth) {
  vbs::StandardObjects objects;
  vbs::Interpreter vm(&objects);
  vm.SetMemoryBudget(64u << 20);
  vm.SetDeadline(vbs::Clock::now() + 60s);
  const char* scripts[] = {
      "Set d = CreateObject(\"Scripting.Dictionary\")\nDo\n d.Add i, Space(1000000)\n i = i + 1\nLoop\n",
      "Dim a()\nDo\n ReDim Preserve a(n)\n a(n) = String(200000, \"z\")\n n = n + 1\nLoop\n",
  };
  for (const char* script : scripts) {
    SCOPED_TRACE(script);
    try {
      vm.AddCode(script);
      ADD_FAILURE() << "no error";
    } catch (const vbs::ScriptError& e) {
      EXPECT_EQ(e.error().number, vbs::kErrOutOfMemory);
    }
  }
}

// sys.vbscript in a real run of the built program.
TEST(SysVbscriptBinary, ReportFromVariables) {
  tarvtest::TempDir dir;
  const std::string script = std::string(TARV_SOURCE_DIR) + "/tests/services/scripthost/scripts/host_report.nms";
  const auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(dir.File("host_report.out")),
            "ALPHA=5;BETA=4;GAMMA=5;\n"
            "339 days, 1,234.5\n"
            "errors=1 last=339 days, 1,234.5\n"
            "n=4");
}

}  // namespace
