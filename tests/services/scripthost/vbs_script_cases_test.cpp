// The language, its functions and administrators' scripts, run as users'
// sys.vbscript scripts: directly through the host, and as real statements of
// a run. The scripts and their exact results are data in scripts/*.cases.
#include <gtest/gtest.h>

#include <string>

#include "services/scripthost/script_host.h"
#include "tests/services/scripthost/vbs_test_util.h"

namespace {

TEST(VbsLanguage, Statements) { vbstest::CheckCases("language.cases"); }

// Every built-in function, as `TarvMain = <expression>`.
TEST(VbsFunctions, BuiltIns) { vbstest::CheckCases("functions.cases"); }

// Dictionary, RegExp and FileSystemObject as scripts use them.
TEST(VbsObjects, DictionaryRegExpAndFiles) { vbstest::CheckCases("objects.cases"); }

// Faults name their number and line (and the compiler's their column);
// runaway recursion and growth stop at the limits.
TEST(SysVbscript, RuntimeFaults) { vbstest::CheckCases("faults.cases"); }

// Parsing command output, subnet arithmetic, counting with a Dictionary.
TEST(VbsAdminScripts, ExactResults) { vbstest::CheckCases("admin.cases"); }

// A script that writes a file, reads it back and sums what it read.
using namespace tarv;

std::string Answer(const std::string& script) {
  const scripthost::UserOutcome out = scripthost::RunUserScript(script, std::nullopt);
  return out.ok ? out.text : "#" + std::to_string(out.error.number) + " line " + std::to_string(out.error.line);
}

TEST(VbsAdminScripts, CsvWrittenReadAndSummed) {
  tarvtest::TempDir dir;
  const std::string script = vbstest::InFolder(
      "Const ForReading = 1\n"
      "Function TarvMain()\n"
      "Set fs = CreateObject(\"Scripting.FileSystemObject\")\n"
      "Set out = fs.CreateTextFile(\"@DIR/hosts.csv\", True)\n"
      "out.WriteLine \"host,ms\"\n"
      "hosts = Array(\"alpha\", \"beta\", \"gamma\")\n"
      "For i = 0 To 2\n  out.WriteLine hosts(i) & \",\" & (i + 1) * 12.5\nNext\n"
      "out.Close\n"
      "Set inp = fs.OpenTextFile(\"@DIR/hosts.csv\", ForReading)\n"
      "inp.SkipLine\n"
      "Do While Not inp.AtEndOfStream\n"
      "  cols = Split(inp.ReadLine, \",\")\n"
      "  total = total + CDbl(cols(1)) : n = n + 1 : names = names & UCase(Left(cols(0), 1))\n"
      "Loop\n"
      "inp.Close\n"
      "TarvMain = names & \" \" & n & \" \" & FormatNumber(total / n, 2)\n"
      "End Function\n",
      dir);
  EXPECT_EQ(Answer(script), "ABG 3 25.00");
  EXPECT_EQ(tarvtest::ReadFile(dir.File("hosts.csv")), "host,ms\nalpha,12.5\nbeta,25\ngamma,37.5\n");
}

}  // namespace
