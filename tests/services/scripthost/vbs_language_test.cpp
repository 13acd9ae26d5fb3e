// The language, its functions and objects, run as users' sys.vbscript
// scripts: directly through the host, and as real statements of a run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/run_state.h"
#include "services/scripthost/script_host.h"
#include "tests/services/scripthost/vbs_test_util.h"

namespace {

using namespace tarv;

struct Case {
  const char* name;
  const char* body;  // the statements of TarvMain
  const char* result;
};

std::string Wrap(const std::string& body) {
  return "Function TarvMain()\n" + body + "\nEnd Function\n";
}

// The host's answer: the result text, or "#number description".
std::string Host(const std::string& script) {
  const scripthost::UserOutcome out = scripthost::RunUserScript(script, std::nullopt);
  if (out.ok) return out.text;
  return "#" + std::to_string(out.error.number) + " " + out.error.description;
}

const Case kLanguage[] = {
    {"if blocks", "x = 5\nIf x > 3 Then\n r = \"big\"\nElseIf x > 1 Then\n r = \"mid\"\nElse\n r = \"small\"\nEnd If\nTarvMain = r", "big"},
    {"elseif taken", "x = 2\nIf x > 3 Then\n r = 1\nElseIf x > 1 Then\n r = 2\nElse\n r = 3\nEnd If\nTarvMain = r", "2"},
    {"single-line if", "x = 0\nIf x Then r = \"t\" Else r = \"f\" : r = r & \"!\"\nTarvMain = r", "f!"},
    {"single-line if without else", "r = 1\nIf True Then r = 2 : r = r * 5\nTarvMain = r", "10"},
    {"null condition is false", "If Null Then r = 1 Else r = 2\nTarvMain = r", "2"},
    {"for step", "For i = 10 To 1 Step -3\n s = s & i & \",\"\nNext\nTarvMain = s & i", "10,7,4,1,-2"},
    {"for fractional step", "For x = 0 To 1 Step 0.25\n n = n + 1\nNext\nTarvMain = n & \" \" & x", "5 1.25"},
    {"for never entered", "For i = 5 To 1\n n = 1\nNext\nTarvMain = \"[\" & n & \"]\" & i", "[]5"},
    {"counter changed inside", "For i = 1 To 10\n i = i + 1\n n = n + 1\nNext\nTarvMain = n", "5"},
    {"for each over array", "For Each v In Array(3, \"a\", 1.5)\n s = s & TypeName(v) & \";\"\nNext\nTarvMain = s", "Integer;String;Double;"},
    {"exit for and do", "Do\n For i = 1 To 100\n  If i = 4 Then Exit For\n Next\n n = n + 1\n If n = 3 Then Exit Do\nLoop\nTarvMain = i & \"/\" & n", "4/3"},
    {"do while pre", "i = 0\nDo While i < 3\n i = i + 1\nLoop\nTarvMain = i", "3"},
    {"do until pre", "i = 10\nDo Until i < 3\n i = i - 4\nLoop\nTarvMain = i", "2"},
    {"do loop while post runs once", "i = 100\nDo\n i = i + 1\nLoop While i < 5\nTarvMain = i", "101"},
    {"do loop until post", "Do\n i = i + 2\nLoop Until i >= 7\nTarvMain = i", "8"},
    {"while wend", "While n < 4\n n = n + 1\nWend\nTarvMain = n", "4"},
    {"select lists ranges is else",
     "For Each v In Array(1, 5, 12, 50, 99, 0)\nSelect Case v\n Case 1, 2\n s = s & \"a\"\n Case 3 To 10\n s = s & \"b\"\n"
     " Case Is >= 90\n s = s & \"c\"\n Case 12\n s = s & \"d\"\n Case Else\n s = s & \"e\"\nEnd Select\nNext\nTarvMain = s", "abdece"},
    {"select text", "Select Case \"eth0\"\nCase \"lo\": r = 1\nCase \"eth0\", \"eth1\": r = 2\nEnd Select\nTarvMain = r", "2"},
    {"integer division mod power", "TarvMain = (17 \\ 5) & \" \" & (17 Mod 5) & \" \" & (-17 Mod 5) & \" \" & 2 ^ 10 & \" \" & (7.6 \\ 2)", "3 2 -2 1024 4"},
    {"number text", "TarvMain = (0.1 + 0.2) & \" \" & 1/3 & \" \" & 1E+20 & \" \" & 123456789012345678 & \" \" & 0.00001", "0.3 0.333333333333333 1E+20 1.23456789012346E+17 1E-05"},
    {"integer overflow widens", "x = 32767\nx = x + 1\ny = 2147483647\ny = y + 1\nTarvMain = TypeName(x) & TypeName(y) & y", "LongDouble2147483648"},
    {"concatenation and plus", "TarvMain = 1 & 2 & (\"1\" + \"2\") & (\"1\" + 2)", "12123"},
    {"binary compare", "TarvMain = (\"a\" < \"B\") & (\"abc\" = \"ABC\") & (\"Z\" < \"a\")", "FalseFalseTrue"},
    {"empty and null", "TarvMain = IsEmpty(e) & (e = 0) & (e = \"\") & IsNull(Null + 1) & IsNull(Null & \"\") & (Len(e))", "TrueTrueTrueTrueFalse0"},
    {"sub byref default", "Sub Bump(n)\n n = n + 1\nEnd Sub\nFunction TarvMain()\nx = 1\nBump x\nCall Bump(x)\nBump (x)\nTarvMain = x\nEnd Function", nullptr},
    {"byval copy", "Sub Keep(ByVal n)\n n = 99\nEnd Sub\nFunction TarvMain()\nx = 1\nKeep x\nTarvMain = x\nEnd Function", nullptr},
    {"byref array element survives", "Sub Fill(a)\n a(1) = \"z\"\nEnd Sub\nFunction TarvMain()\nDim arr(2)\nFill arr\nTarvMain = Join(arr, \"-\")\nEnd Function", nullptr},
    {"exit sub and function", "Sub S(ByRef r)\n r = 1\n Exit Sub\n r = 2\nEnd Sub\nFunction F()\n F = 3\n Exit Function\n F = 4\nEnd Function\nFunction TarvMain()\nS q\nTarvMain = q & F()\nEnd Function", nullptr},
    {"recursion", "Function Fact(n)\n If n <= 1 Then Fact = 1 Else Fact = n * Fact(n - 1)\nEnd Function\nFunction TarvMain()\nTarvMain = Fact(10)\nEnd Function", nullptr},
    {"const and globals", "Const LIMIT = 3\nDim count\ncount = 10\nFunction TarvMain()\nFor i = 1 To LIMIT\n count = count + i\nNext\nTarvMain = count\nEnd Function", nullptr},
    {"option explicit declared", "Option Explicit\nDim g\nFunction TarvMain()\nDim x\nx = 2\ng = x * 2\nTarvMain = g\nEnd Function", nullptr},
    {"fixed and dynamic arrays", "Dim a(2), b()\na(0) = 1 : a(2) = 3\nReDim b(1)\nb(1) = \"x\"\nReDim Preserve b(3)\nb(3) = \"y\"\nTarvMain = UBound(a) & UBound(b) & Join(b, \".\") & a(2)", "23.x..y3"},
    {"two dimensions", "Dim m()\nReDim m(2, 3)\nFor i = 0 To 2\nFor j = 0 To 3\n m(i, j) = i * 10 + j\nNext\nNext\nReDim Preserve m(2, 5)\nTarvMain = m(2, 3) & \" \" & UBound(m, 1) & UBound(m, 2) & \" \" & IsEmpty(m(1, 5))", "23 25 True"},
    {"arrays copy on assignment", "a = Array(1, 2)\nb = a\nb(0) = 9\nTarvMain = a(0) & b(0)", "19"},
    {"erase", "Dim f(1)\nf(0) = 5\nErase f\nd = Array(1)\nErase d\nTarvMain = IsEmpty(f(0)) & IsArray(d) & UBound(f)", "TrueTrue1"},
    {"array of arrays", "a = Array(Array(1, 2), Array(3, 4))\nTarvMain = a(1)(0)", "3"},
    {"on error resume next", "On Error Resume Next\nx = 1 / 0\nr = Err.Number & \" \" & Err.Description & \" \" & Err.Source\nErr.Clear\nTarvMain = r & \"|\" & Err.Number", "11 Division by zero Microsoft VBScript runtime error|0"},
    {"err raise", "On Error Resume Next\nErr.Raise vbObjectError + 7, \"mine\", \"custom failure\"\nTarvMain = Err.Number & \" \" & Err.Source & \" \" & Err.Description", "-2147221497 mine custom failure"},
    {"raise default description", "On Error Resume Next\nErr.Raise 9\nTarvMain = Err.Description", "Subscript out of range"},
    {"on error goto 0 clears", "On Error Resume Next\nx = CInt(\"z\")\nOn Error GoTo 0\nTarvMain = Err.Number", "0"},
    {"error in callee resumes in caller", "Function Bad()\n Bad = 1\n x = 1 / 0\n Bad = 2\nEnd Function\nFunction TarvMain()\nOn Error Resume Next\nr = Bad()\nTarvMain = \"[\" & r & \"]\" & Err.Number\nEnd Function", nullptr},
    {"with block", "Set d = CreateObject(\"Scripting.Dictionary\")\nWith d\n .Add \"a\", 1\n .Item(\"b\") = 2\n r = .Count\nEnd With\nTarvMain = r", "2"},
    {"nothing and is", "Set a = CreateObject(\"Scripting.Dictionary\")\nSet b = a\nSet c = Nothing\nTarvMain = (a Is b) & (c Is Nothing) & IsObject(a) & IsObject(1) & TypeName(c)", "TrueTrueTrueFalseNothing"},
    {"line continuation and colons", "x = 1 + _\n    2 : y = x * _\n 2\nTarvMain = y", "6"},
    {"comments", "' whole line\nx = 1 ' after code\nRem remark\nTarvMain = x", "1"},
    {"getref", "Function Twice(n)\n Twice = n * 2\nEnd Function\nFunction TarvMain()\nSet f = GetRef(\"Twice\")\nTarvMain = f(21)\nEnd Function", nullptr},
    {"eval and execute", "x = 4\nExecute \"y = x * 10\"\nExecuteGlobal \"Function G(a) : G = a + 1 : End Function\"\nTarvMain = Eval(\"y + 1\") & \" \" & G(1)", "41 2"},
    {"logic", "TarvMain = (True And False) & (3 And 5) & (3 Or 4) & (Not 0) & (True Xor True) & (False Imp True) & (5 Eqv 5)", "False17-1FalseTrue-1"},
    {"function result object", "Function MakeDict()\n Set MakeDict = CreateObject(\"Scripting.Dictionary\")\nEnd Function\nFunction TarvMain()\nSet d = MakeDict()\nd(\"k\") = \"v\"\nTarvMain = d(\"k\")\nEnd Function", nullptr},
    {"procedure names are case blind", "FUNCTION tarvMAIN()\nTARVmain = \"ok\"\nend function", nullptr},
    {"append keeps copies apart", "s = \"a\"\nt = s\ns = s & \"b\"\ns = s & Null\nn = 5\nn = n & \"x\"\nTarvMain = t & s & n", "aab5x"},
    {"append to own result", "TarvMain = \"<\"\nFor i = 1 To 3\n TarvMain = TarvMain & i\nNext", "<123"},
    {"double bound on a whole counter", "For i = 1 To 2.5\n s = s & i\nNext\nTarvMain = s & \"/\" & i", "12/3"},
    {"text arithmetic", "TarvMain = (\"3\" * \"4\") & \" \" & (7.5 Mod 2) & \" \" & (2.5 \\ 1) & (3.5 \\ 1) & \" \" & (\"10\" - 1)", "12 0 24 9"},
    {"select on text with is", "For Each w In Array(\"apple\", \"melon\", \"zebra\")\nSelect Case w\n Case Is < \"b\": s = s & 1\n Case \"m\" To \"n\": s = s & 2\n Case Else: s = s & 3\nEnd Select\nNext\nTarvMain = s", "123"},
    {"case expressions", "x = 4 : y = 3\nSelect Case x\nCase y + 1\n r = \"y+1\"\nCase Else\n r = \"else\"\nEnd Select\nTarvMain = r", "y+1"},
    {"exit for inside select", "For i = 1 To 9\n Select Case i\n  Case 3: Exit For\n End Select\nNext\nTarvMain = i", "3"},
    {"resume next each turn", "On Error Resume Next\nFor i = -2 To 2\n s = s & (6 \\ i) & \",\"\nNext\nTarvMain = s & Err.Number", "-3,-6,6,3,11"},
    {"err stays until cleared", "On Error Resume Next\nx = 1 / 0\ny = 2\nTarvMain = Err.Number & y", "112"},
    {"eval compares", "x = 1\nTarvMain = Eval(\"x = 1\") & x", "True1"},
    {"nested with", "Set a = CreateObject(\"Scripting.Dictionary\")\nSet b = CreateObject(\"Scripting.Dictionary\")\nWith a\n .Add \"k\", 1\n With b\n  .Add \"k\", 2\n  .Add \"j\", 3\n End With\n r = .Count & b.Count\nEnd With\nTarvMain = r", "12"},
    {"for each over a dictionary and matches", "Set d = CreateObject(\"Scripting.Dictionary\")\nd(\"x\") = 1 : d(\"y\") = 2\nFor Each k In d\n s = s & k & d(k)\nNext\nSet re = New RegExp\nre.Pattern = \"\\d\"\nre.Global = True\nFor Each m In re.Execute(\"a1b2\")\n s = s & m\nNext\nTarvMain = s", "x1y212"},
    {"array results and byval arrays", "Function Pair()\n Pair = Array(\"l\", \"r\")\nEnd Function\nSub Spoil(ByVal a)\n a(0) = \"!\"\nEnd Sub\nFunction TarvMain()\np = Pair()\nSpoil p\nTarvMain = UBound(Pair()) & p(0) & Pair()(1)\nEnd Function", nullptr},
    {"byref through two calls", "Sub Inner(v)\n v = v * 2\nEnd Sub\nSub Outer(v)\n Inner v\n v = v + 1\nEnd Sub\nFunction TarvMain()\nx = 5\nOuter x\nTarvMain = x\nEnd Function", nullptr},
    {"byref to a global from a procedure", "Dim total\nSub Add(ByRef t, n)\n t = t + n\nEnd Sub\nFunction TarvMain()\nAdd total, 4\nAdd total, 5\nTarvMain = total\nEnd Function", nullptr},
    {"redim an undeclared local", "Function TarvMain()\nReDim parts(2)\nparts(2) = \"c\"\nTarvMain = UBound(parts) & parts(2)\nEnd Function", nullptr},
    {"private and public globals", "Private a\nPublic b\nPublic Const K = 7\na = 1 : b = 2\nFunction TarvMain()\nTarvMain = a + b + K\nEnd Function", nullptr},
    {"local shadows global", "Dim x\nx = \"global\"\nFunction F()\n Dim x\n x = \"local\"\n F = x\nEnd Function\nFunction TarvMain()\nTarvMain = F() & \"/\" & x\nEnd Function", nullptr},
    {"getref of a sub", "Dim hits\nSub Hit()\n hits = hits + 1\nEnd Sub\nFunction TarvMain()\nSet h = GetRef(\"Hit\")\nh()\nh()\nTarvMain = hits\nEnd Function", nullptr},
    {"comparison precedence", "a = 1 : b = 2\nTarvMain = (a < b And b < 3 Or a = 9) & (Not a = b) & (a + 1 = b)", "TrueTrueTrue"},
    {"long integer math stays exact", "x = 2147483647\ny = x - 1 + 1\nTarvMain = TypeName(y) & y & \" \" & (46341 * 46341)", "Long2147483647 2147488281"},
    {"dim lists with arrays", "Dim a, b(1), c\nb(1) = \"v\"\nTarvMain = IsEmpty(a) & b(1) & IsArray(b) & IsArray(c)", "TruevTrueFalse"},
    {"randomize repeats after rnd of a negative", "x = Rnd(-1)\nRandomize 7\na = Rnd\nx = Rnd(-1)\nRandomize 7\nb = Rnd\nRandomize 8\nc = Rnd\nTarvMain = (a = b) & (a = c) & (Rnd(0) = c)", "TrueFalseTrue"},
    {"executeglobal that clashes registers nothing", "ExecuteGlobal \"Dim zz\"\nOn Error Resume Next\nExecuteGlobal \"Function Q()\" & vbLf & \"Q = 5\" & vbLf & \"End Function\" & vbLf & \"Function zz()\" & vbLf & \"End Function\"\nn = Err.Number\nErr.Clear\nr = Q()\nTarvMain = n & \" \" & Err.Number", "1041 13"},
    {"nested if in loops", "For i = 1 To 15\n If i Mod 15 = 0 Then\n  s = s & \"FB\"\n ElseIf i Mod 5 = 0 Then\n  s = s & \"B\"\n ElseIf i Mod 3 = 0 Then\n  s = s & \"F\"\n Else\n  s = s & i\n End If\nNext\nTarvMain = s", "12F4BF78FB11F1314FB"},
};

std::string ScriptOf(const Case& c) { return c.result ? Wrap(c.body) : c.body; }

// Whole scripts carry their expected result after the name.
const char* ExpectedOf(const Case& c) {
  static const struct { const char* name; const char* result; } kWhole[] = {
      {"sub byref default", "3"},           {"byval copy", "1"},       {"byref array element survives", "-z-"},
      {"exit sub and function", "13"},      {"recursion", "3628800"},  {"const and globals", "16"},
      {"option explicit declared", "4"},    {"error in callee resumes in caller", "[]11"},
      {"getref", "42"},                     {"function result object", "v"},
      {"array results and byval arrays", "1lr"}, {"byref through two calls", "11"},
      {"byref to a global from a procedure", "9"}, {"redim an undeclared local", "2c"},
      {"private and public globals", "10"},  {"local shadows global", "local/global"},
      {"getref of a sub", "2"},
      {"procedure names are case blind", "ok"},
  };
  if (c.result) return c.result;
  for (const auto& w : kWhole) {
    if (std::string(w.name) == c.name) return w.result;
  }
  return "<no expectation>";
}

TEST(VbsLanguage, ThroughTheHost) {
  for (const Case& c : kLanguage) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Host(ScriptOf(c)), ExpectedOf(c));
  }
}

// The same scripts as statements of a run: vbscript.return holds the result.
TEST(VbsLanguage, ThroughSysVbscript) {
  std::vector<std::string> scripts;
  for (const Case& c : kLanguage) scripts.push_back(ScriptOf(c));
  std::size_t errors = 0;
  const std::vector<std::string> got = vbstest::RunAll(scripts, &errors);
  EXPECT_EQ(errors, 0u);
  for (std::size_t i = 0; i < scripts.size(); ++i) {
    SCOPED_TRACE(kLanguage[i].name);
    EXPECT_EQ(got[i], ExpectedOf(kLanguage[i]));
  }
}

}  // namespace
