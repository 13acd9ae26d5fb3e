// Dictionary, FileSystemObject and RegExp as scripts use them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/scripthost/script_host.h"
#include "tests/services/scripthost/vbs_test_util.h"

namespace {

using namespace tarv;

std::string Answer(const std::string& script) {
  const scripthost::UserOutcome out = scripthost::RunUserScript(script, std::nullopt);
  return out.ok ? out.text : "#" + std::to_string(out.error.number) + " line " + std::to_string(out.error.line);
}

std::string Main(const std::string& body) { return "Function TarvMain()\n" + body + "\nEnd Function\n"; }

// Replaces every "@" in a script by the test's folder.
std::string At(std::string s, const std::string& dir) {
  for (std::size_t i = s.find('@'); i != std::string::npos; i = s.find('@', i + dir.size())) s.replace(i, 1, dir);
  return s;
}

TEST(VbsObjects, FileSystem) {
  tarvtest::TempDir dir;
  const std::string d = dir.path().string();
  const struct { const char* body; const char* result; } cases[] = {
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nSet f = fs.CreateTextFile(\"@/a.txt\", True)\n"
       "f.WriteLine \"one\"\nf.Write \"two\"\nf.WriteBlankLines 1\nf.WriteLine\nf.Close\n"
       "Set f = fs.OpenTextFile(\"@/a.txt\", 8)\nf.WriteLine \"three\"\nf.Close\n"
       "Set f = fs.OpenTextFile(\"@/a.txt\")\nDo Until f.AtEndOfStream\n s = s & \"[\" & f.ReadLine & \"]\"\nLoop\n"
       "f.Close\nTarvMain = s & fs.GetFile(\"@/a.txt\").Size",
       "[one][two][][three]15"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nSet f = fs.OpenTextFile(\"@/b.txt\", 2, True)\n"
       "f.Write \"x\" & vbCrLf & \"y\"\nf.Close\nSet f = fs.OpenTextFile(\"@/b.txt\", 1)\n"
       "a = f.ReadLine\nb = f.ReadAll\nf.Close\nTarvMain = a & \"|\" & b & \"|\" & fs.FileExists(\"@/b.txt\")",
       "x|y|True"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nfs.CreateFolder \"@/sub\"\n"
       "fs.CreateTextFile(\"@/sub/c.log\").Close\nr = fs.FolderExists(\"@/sub\") & fs.FileExists(\"@/sub/c.log\")\n"
       "For Each f In fs.GetFolder(\"@/sub\").Files\n r = r & f.Name\nNext\nfs.DeleteFile \"@/sub/c.log\"\n"
       "TarvMain = r & fs.FileExists(\"@/sub/c.log\") & fs.GetFileName(\"/x/y.txt\") & fs.BuildPath(\"/x\", \"y\")",
       "TrueTruec.logFalsey.txt/x/y"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nSet f = fs.OpenTextFile(\"@/none.txt\")", "#53 line 3"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nfs.DeleteFile \"@/none.txt\"", "#53 line 3"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nfs.CreateTextFile(\"@/e.txt\").Close\n"
       "Set f = fs.OpenTextFile(\"@/e.txt\")\nx = f.ReadLine", "#62 line 5"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nSet f = fs.CreateTextFile(\"@/w.txt\")\nx = f.ReadLine",
       "#54 line 4"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nfs.CreateTextFile(\"@/k.txt\").Close\n"
       "Set f = fs.CreateTextFile(\"@/k.txt\", False)", "#58 line 4"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nSet f = fs.CreateTextFile(\"@/nodir/k.txt\")",
       "#76 line 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(Answer(Main(At(c.body, d))), c.result);
  }
}

TEST(VbsAdminScripts, CsvWrittenReadAndSummed) {
  tarvtest::TempDir dir;
  const std::string script = At(
      "Const ForReading = 1\n"
      "Function TarvMain()\n"
      "Set fs = CreateObject(\"Scripting.FileSystemObject\")\n"
      "Set out = fs.CreateTextFile(\"@/hosts.csv\", True)\n"
      "out.WriteLine \"host,ms\"\n"
      "hosts = Array(\"alpha\", \"beta\", \"gamma\")\n"
      "For i = 0 To 2\n  out.WriteLine hosts(i) & \",\" & (i + 1) * 12.5\nNext\n"
      "out.Close\n"
      "Set inp = fs.OpenTextFile(\"@/hosts.csv\", ForReading)\n"
      "inp.SkipLine\n"
      "Do While Not inp.AtEndOfStream\n"
      "  cols = Split(inp.ReadLine, \",\")\n"
      "  total = total + CDbl(cols(1)) : n = n + 1 : names = names & UCase(Left(cols(0), 1))\n"
      "Loop\n"
      "inp.Close\n"
      "TarvMain = names & \" \" & n & \" \" & FormatNumber(total / n, 2)\n"
      "End Function\n",
      dir.path().string());
  EXPECT_EQ(Answer(script), "ABG 3 25.00");
  EXPECT_EQ(tarvtest::ReadFile(dir.File("hosts.csv")), "host,ms\nalpha,12.5\nbeta,25\ngamma,37.5\n");
}

}  // namespace
