// sys.vbscript {A2} as a statement of a run (and of a run of the binary), and
// the limits that stop any script: time, recursion depth and memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "services/scripthost/script_host.h"
#include "services/scripthost/vbs_objects.h"
#include "tests/e2e/harness_binary.h"
#include "tests/machine_wait.h"
#include "tests/services/binary_run.h"
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
  const char* scripts[] = {
      "Set d = CreateObject(\"Scripting.Dictionary\")\nDo\n d.Add i, Space(1000000)\n i = i + 1\nLoop\n",
      "Dim a()\nDo\n ReDim Preserve a(n)\n a(n) = String(200000, \"z\")\n n = n + 1\nLoop\n",
  };
  for (const char* script : scripts) {
    SCOPED_TRACE(script);
    vbs::StandardObjects objects;
    vbs::Interpreter vm(&objects);
    vm.SetMemoryBudget(64u << 20);
    vm.SetDeadline(vbs::Clock::now() + 60s);
    try {
      vm.AddCode(script);
      ADD_FAILURE() << "no error";
    } catch (const vbs::ScriptError& e) {
      EXPECT_EQ(e.error().number, vbs::kErrOutOfMemory);
    }
  }
}

// What the top-level code still holds counts against the budget of the
// calls that follow in the same run.
TEST(SysVbscript, MemoryBudgetCountsWhatTheRunHolds) {
  vbs::StandardObjects objects;
  vbs::Interpreter vm(&objects);
  vm.SetMemoryBudget(64u << 20);
  vm.SetDeadline(vbs::Clock::now() + 60s);
  vm.AddCode("Dim keep(3)\nFor i = 0 To 3 : keep(i) = Space(12000000) : Next\n"
             "Function More()\n Dim extra(3)\n For i = 0 To 3 : extra(i) = Space(12000000) : Next\n More = 1\nEnd Function\n");
  try {
    vm.CallFunction("More", {});
    ADD_FAILURE() << "no error";
  } catch (const vbs::ScriptError& e) {
    EXPECT_EQ(e.error().number, vbs::kErrOutOfMemory);
  }
}

// Records every object it makes, to see whether any outlives the run.
class WatchingFactory : public vbs::ObjectFactory {
 public:
  std::shared_ptr<vbs::Object> Create(std::string_view prog_id) override {
    std::shared_ptr<vbs::Object> obj = standard_.Create(prog_id);
    made.push_back(obj);
    return obj;
  }
  std::size_t Alive() const {
    return static_cast<std::size_t>(std::count_if(made.begin(), made.end(), [](const auto& w) { return !w.expired(); }));
  }
  std::vector<std::weak_ptr<vbs::Object>> made;

 private:
  vbs::StandardObjects standard_;
};

// Objects that hold one another, in any mix with arrays and instances, are
// freed when the interpreter that made them ends.
TEST(SysVbscript, CyclesEndWithTheRun) {
  const char* scripts[] = {
      "Set p = CreateObject(\"Scripting.Dictionary\") : Set c = CreateObject(\"Scripting.Dictionary\")\n"
      "p.Add \"child\", c : c.Add \"parent\", p\n",
      "Set s = CreateObject(\"Scripting.Dictionary\") : s.Add s, s\n",
      "Set d = CreateObject(\"Scripting.Dictionary\") : d.Add 1, Array(Array(d))\n",
      "Class Node : Public Peer : End Class\n"
      "Set n = New Node : Set d = CreateObject(\"Scripting.Dictionary\") : d.Add 1, n : n.Peer = Array(d)\n",
      "Set a = CreateObject(\"Scripting.Dictionary\") : Set b = CreateObject(\"Scripting.Dictionary\")\n"
      "Set r = New RegExp : a.Add \"b\", Array(b, r) : b.Add \"a\", a\n",
  };
  for (const char* script : scripts) {
    SCOPED_TRACE(script);
    WatchingFactory objects;
    {
      vbs::Interpreter vm(&objects);
      vm.AddCode(std::string(script) + "Set p = Nothing : Set c = Nothing : Set s = Nothing : Set d = Nothing\n"
                                       "Set n = Nothing : Set a = Nothing : Set b = Nothing : Set r = Nothing\n");
      ASSERT_FALSE(objects.made.empty());
      EXPECT_EQ(objects.Alive(), objects.made.size()) << "the cycle holds itself while the run lasts";
    }
    EXPECT_EQ(objects.Alive(), 0u);
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

// The case rows of nesting and cycles, in the built program.
TEST(SysVbscriptBinary, NestedAndCyclicValues) {
  vbstest::CheckCasesInBinary("faults.cases", "nesting freed");
  vbstest::CheckCasesInBinary("objects.cases", "cycles freed");
}

// Values nested a million deep are released without running the stack out.
TEST(SysVbscriptBinary, DeepNestingIsReleased) {
  // The sanitizer's larger objects would run into the memory budget first.
  const std::string objects = tarvtest::kSanitized ? "200000" : "1000000";
  const std::string scripts[] = {
      Main("a = Empty : For i = 1 To 1000000 : a = Array(a) : Next\na = Empty : TarvMain = i - 1"),
      Main("Set h = Nothing\nFor i = 1 To " + objects + " : Set d = CreateObject(\"Scripting.Dictionary\") : d.Add 0, h : Set h = d : Next\n"
           "Set d = Nothing : Set h = Nothing : TarvMain = i - 1"),
      "Class L : Public N : End Class\n" +
          Main("Set h = Nothing\nFor i = 1 To " + objects + " : Set l = New L : Set l.N = h : Set h = l : Next\n"
               "Set l = Nothing : Set h = Nothing : TarvMain = i - 1"),
      // Left to the end of the call.
      Main("a = Empty : For i = 1 To 1000000 : a = Array(a) : Next\nTarvMain = UBound(a)"),
  };
  std::string nms;
  for (const std::string& script : scripts) {
    nms += "var {vbscript.return} value {#}\nsys.vbscript {" + vbstest::AsArgument(script) + "}\ntext.add {~vbscript.return~ }\n";
  }
  tarvtest::TempDir dir;
  EXPECT_EQ(tarvtest::RunSaved(dir, "nested.nms", nms + "text.add {errors=~run.errors~}\n"),
            "1000000 " + objects + " " + objects + " 0 errors=0");
}

// 100 calls that each leave 5,000 pairs of dictionaries holding each other
// end with the memory they began with; the sanitizer build, whose allocator
// holds freed memory back, sees the same through its leak check at exit.
TEST(SysVbscriptBinary, CyclesLeaveMemoryFlat) {
  const std::string pairs = vbstest::AsArgument(
      Main("For i = 1 To 5000\n Set p = CreateObject(\"Scripting.Dictionary\") : Set c = CreateObject(\"Scripting.Dictionary\")\n"
           " p.Add \"child\", c : c.Add \"parent\", p : Set p(\"self\") = p\nNext\nTarvMain = i - 1"));
  const std::string resident = vbstest::AsArgument(
      Main("Set f = CreateObject(\"Scripting.FileSystemObject\").OpenTextFile(\"/proc/self/status\")\n"
           "s = f.ReadAll : f.Close : at = InStr(s, \"VmRSS:\")\n"
           "TarvMain = CLng(Trim(Mid(s, at + 6, InStr(at, s, \"kB\") - at - 6)))"));
  std::string nms;
  for (int i = 0; i < 5; ++i) nms += "sys.vbscript {" + pairs + "}\n";
  nms += "sys.vbscript {" + resident + "}\nvar {before} value {~vbscript.return~}\n";
  for (int i = 0; i < 100; ++i) nms += "sys.vbscript {" + pairs + "}\n";
  nms += "var {last} value {~vbscript.return~}\nsys.vbscript {" + resident + "}\n";
  nms += "text.add {~before~ ~vbscript.return~ ~last~ errors=~run.errors~}\n";
  tarvtest::TempDir dir;
  const std::string saved = tarvtest::RunSaved(dir, "cycles.nms", nms);
  long before = 0, after = 0, last = 0;
  char errors[32] = {};
  ASSERT_EQ(std::sscanf(saved.c_str(), "%ld %ld %ld %31s", &before, &after, &last, errors), 4) << saved;
  EXPECT_EQ(last, 5000);
  EXPECT_STREQ(errors, "errors=0");
  EXPECT_GT(before, 0);
  // Each call left about 4 MB before the cycles were broken at its end.
  if (!tarvtest::kSanitized) {
    EXPECT_LT(after - before, 24 * 1024) << "kB resident: " << before << " -> " << after;
  }
}

}  // namespace
