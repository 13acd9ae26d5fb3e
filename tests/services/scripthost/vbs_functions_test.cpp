// Every built-in function, as `TarvMain = <expression>` through the host and
// through sys.vbscript statements.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/scripthost/script_host.h"
#include "tests/services/scripthost/vbs_test_util.h"

namespace {

using namespace tarv;

struct Fn {
  const char* expr;
  const char* result;  // "#n" for a failure with error number n
};

const Fn kFunctions[] = {
    // text: positions count characters (UTF-16 units), not bytes
    {"Len(\"h\xC3\xA9llo\")", "5"}, {"Len(\"\xF0\x9F\x98\x80\")", "2"}, {"Len(Null) & \"\"", ""},
    {"Mid(\"h\xC3\xA9llo w\", 2, 3)", "\xC3\xA9ll"}, {"Mid(\"abc\", 2)", "bc"}, {"Mid(\"abc\", 9)", ""},
    {"Mid(\"abc\", 0)", "#5"}, {"Left(\"\xE4\xBD\xA0\xE5\xA5\xBD\", 1)", "\xE4\xBD\xA0"}, {"Left(\"abc\", 9)", "abc"},
    {"Right(\"abcdef\", 2)", "ef"}, {"Right(\"ab\", 5)", "ab"}, {"Left(\"a\", -1)", "#5"},
    {"InStr(\"hello\", \"l\")", "3"}, {"InStr(4, \"hello\", \"l\")", "4"}, {"InStr(\"hello\", \"z\")", "0"},
    {"InStr(\"Hello\", \"h\")", "0"}, {"InStr(1, \"Hello\", \"h\", 1)", "1"}, {"InStr(\"\xC3\xA9t\xC3\xA9\", \"t\")", "2"},
    {"InStr(\"abc\", \"\")", "1"}, {"InStrRev(\"a.b.c\", \".\")", "4"}, {"InStrRev(\"a.b.c\", \".\", 3)", "2"},
    {"InStrRev(\"abc\", \"z\")", "0"}, {"Replace(\"a-b-c\", \"-\", \"+\")", "a+b+c"},
    {"Replace(\"aXbxc\", \"x\", \"_\", 1, -1, 1)", "a_b_c"}, {"Replace(\"abcabc\", \"a\", \"x\", 2)", "bcxbc"},
    {"Replace(\"aaa\", \"a\", \"b\", 1, 2)", "bba"}, {"Replace(\"abc\", \"\", \"x\")", "abc"},
    {"Join(Split(\"a,b,,c\", \",\"), \"|\")", "a|b||c"}, {"UBound(Split(\"\"))", "-1"},
    {"Join(Split(\"a b c\"), \"+\")", "a+b+c"}, {"Join(Split(\"1;2;3;4\", \";\", 2), \"|\")", "1|2;3;4"},
    {"Join(Split(\"aXbxc\", \"x\", -1, vbTextCompare), \"\")", "abc"}, {"Join(Array(1, 2, 3))", "1 2 3"},
    {"Join(Filter(Array(\"eth0\", \"lo\", \"eth1\"), \"eth\"), \",\")", "eth0,eth1"},
    {"Join(Filter(Array(\"eth0\", \"lo\"), \"eth\", False), \",\")", "lo"},
    {"UCase(\"abc\xC3\xA9\")", "ABC\xC3\x89"}, {"LCase(\"ABC\xD0\x96\")", "abc\xD0\xB6"},
    {"\"[\" & Trim(\"  a b  \") & \"]\"", "[a b]"}, {"\"[\" & LTrim(\"  a \") & \"]\"", "[a ]"},
    {"\"[\" & RTrim(\"  a \") & \"]\"", "[  a]"}, {"\"[\" & Space(3) & \"]\"", "[   ]"},
    {"String(3, \"ab\")", "aaa"}, {"String(2, 65)", "AA"}, {"String(2, \"\xC3\xA9\")", "\xC3\xA9\xC3\xA9"},
    {"StrReverse(\"ab\xC3\xA9\")", "\xC3\xA9" "ba"}, {"StrComp(\"a\", \"B\")", "1"}, {"StrComp(\"a\", \"B\", 1)", "-1"},
    {"StrComp(\"x\", \"x\")", "0"}, {"Chr(65) & ChrW(233) & ChrW(&H4F60)", "A\xC3\xA9\xE4\xBD\xA0"},
    {"Asc(\"A\")", "65"}, {"AscW(\"\xC3\xA9\")", "233"}, {"AscW(\"\xE9\xBE\x8D\")", "-24691"}, {"Asc(\"\")", "#5"},
    {"Hex(255) & \" \" & Hex(-1) & \" \" & Hex(65536)", "FF FFFF 10000"}, {"Oct(8) & \" \" & Oct(-1)", "10 177777"},
    // conversions
    {"CStr(1.5) & CStr(True)", "1.5True"}, {"CInt(\"12\") + 1", "13"}, {"CInt(2.5) & CInt(3.5)", "24"},
    {"CLng(\"100000\") * 2", "200000"}, {"CDbl(\"1.5e3\")", "1500"}, {"CSng(1.1)", "1.1"},
    {"TypeName(CSng(1))", "Single"}, {"CBool(\"True\") & CBool(0) & CBool(\"1\")", "TrueFalseTrue"},
    {"CByte(255)", "255"}, {"CByte(256)", "#6"}, {"TypeName(CByte(1))", "Byte"}, {"CInt(\"x\")", "#13"},
    {"CDate(\"2026-12-06 10:05:00\")", "12/6/2026 10:05:00 AM"}, {"CDate(\"12/31/1999\")", "12/31/1999"},
    // numbers
    {"Int(-2.5) & \" \" & Fix(-2.5) & \" \" & Int(2.9)", "-3 -2 2"}, {"Round(2.5) & Round(3.5) & Round(-2.5)", "24-2"},
    {"Round(3.14159, 2)", "3.14"}, {"Abs(-3) & Abs(2.5)", "32.5"}, {"Sgn(-4) & Sgn(0) & Sgn(9)", "-101"},
    {"Sqr(81)", "9"}, {"Round(Exp(1), 4)", "2.7183"}, {"Round(Log(100) / Log(10), 6)", "2"},
    {"Round(Sin(0) + Cos(0) + Tan(0), 6)", "1"}, {"Round(Atn(1) * 4, 10)", "3.1415926536"},
    {"IsNumeric(\"12.5\") & IsNumeric(\"x\") & IsNumeric(\" 3 \") & IsNumeric(Empty) & IsNumeric(Null)",
     "TrueFalseTrueTrueFalse"},
    {"Rnd(-1) = Rnd(-1)", "True"}, {"Rnd() < 1 And Rnd() >= 0", "True"},
    {"FormatNumber(1234567.891)", "1,234,567.89"}, {"FormatNumber(0.5, 0)", "0"}, {"FormatNumber(-1234.5, 1)", "-1,234.5"},
    {"FormatNumber(0.25, 2, 0)", ".25"}, {"FormatNumber(-5, 0, -1, -1)", "(5)"}, {"FormatNumber(1234, 0, -1, 0, 0)", "1234"},
    {"FormatPercent(0.256)", "25.60%"}, {"FormatPercent(1, 0)", "100%"},
    // dates
    {"DateSerial(2024, 2, 29)", "2/29/2024"}, {"DateSerial(2024, 13, 1)", "1/1/2025"}, {"DateSerial(2024, 3, 0)", "2/29/2024"},
    {"TimeSerial(13, 5, 9)", "1:05:09 PM"}, {"TimeSerial(0, 0, 0) & \"\"", "12:00:00 AM"},
    {"Year(#1#) & \"\"", "#1032"},
    {"Year(\"2026-12-06\") & \"-\" & Month(\"2026-12-06\") & \"-\" & Day(\"2026-12-06\")", "2026-12-6"},
    {"Hour(\"3:04:05 PM\") & \":\" & Minute(\"3:04:05 PM\") & \":\" & Second(\"3:04:05 PM\")", "15:4:5"},
    {"Weekday(DateSerial(2026, 12, 6))", "1"}, {"Weekday(DateSerial(2026, 12, 6), vbMonday)", "7"},
    {"WeekdayName(2) & WeekdayName(7, True)", "MondaySat"}, {"MonthName(1) & MonthName(12, True)", "JanuaryDec"},
    {"DateAdd(\"m\", 1, DateSerial(2024, 1, 31))", "2/29/2024"}, {"DateAdd(\"d\", -1, \"2025-01-01\")", "12/31/2024"},
    {"DateAdd(\"h\", 25, DateSerial(2026, 1, 1))", "1/2/2026 1:00:00 AM"}, {"DateAdd(\"yyyy\", 1, \"2024-02-29\")", "2/28/2025"},
    {"DateAdd(\"x\", 1, Now)", "#5"},
    {"DateDiff(\"d\", \"2026-01-01\", \"2026-12-25\")", "358"}, {"DateDiff(\"m\", \"2025-11-30\", \"2026-01-01\")", "2"},
    {"DateDiff(\"yyyy\", \"2025-12-31\", \"2026-01-01\")", "1"}, {"DateDiff(\"n\", \"10:00\", \"11:30\")", "90"},
    {"DateDiff(\"s\", \"2026-01-01 00:00:00\", \"2026-01-01 00:01:05\")", "65"}, {"DateDiff(\"d\", \"2026-01-05\", \"2026-01-01\")", "-4"},
    {"DateDiff(\"ww\", \"2026-12-01\", \"2026-12-15\")", "2"},
    {"DatePart(\"q\", \"2026-08-01\") & DatePart(\"y\", \"2026-02-01\") & DatePart(\"w\", \"2026-12-06\")", "3321"},
    {"DateValue(\"2026-12-06 13:00\")", "12/6/2026"}, {"TimeValue(\"2026-12-06 13:00\")", "1:00:00 PM"},
    {"IsDate(\"2026-02-30\") & IsDate(\"2026-02-28\") & IsDate(\"hello\") & IsDate(Now)", "FalseTrueFalseTrue"},
    {"FormatDateTime(DateSerial(2026, 12, 6), 1)", "Sunday, December 6, 2026"},
    {"FormatDateTime(\"2026-12-06 09:07:00\", 4)", "09:07"}, {"FormatDateTime(\"2026-12-06 09:07:00\", 3)", "9:07:00 AM"},
    {"FormatDateTime(\"2026-12-06 09:07:00\", 2)", "12/6/2026"}, {"DateSerial(2026, 1, 2) - DateSerial(2026, 1, 1)", "1"},
    {"TypeName(Now) & TypeName(Date) & TypeName(Timer)", "DateDateSingle"}, {"Now >= Date And Time < 1", "True"},
    {"CDate(\"1 Mar 2026\") & \"|\" & CDate(\"March 5, 2026\")", "3/1/2026|3/5/2026"},
    {"DateSerial(2026, 1, 1) + 0.5", "1/1/2026 12:00:00 PM"},
    // kinds and arrays
    {"VarType(1) & VarType(70000) & VarType(1.5) & VarType(\"\") & VarType(Array()) & VarType(Null) & VarType(Empty)",
     "2358820410"},
    {"TypeName(1) & TypeName(\"\") & TypeName(Array()) & TypeName(True) & TypeName(Empty) & TypeName(Null)",
     "IntegerStringVariant()BooleanEmptyNull"},
    {"IsArray(Array()) & IsArray(\"a\") & IsEmpty(\"\") & IsNull(Null)", "TrueFalseFalseTrue"},
    {"UBound(Array(1, 2, 3)) & LBound(Array(1, 2, 3)) & UBound(Array())", "20-1"}, {"UBound(1)", "#13"},
    {"UBound(Array(1), 2)", "#9"}, {"Array(1, 2)(5)", "#9"},
    {"Eval(\"1 + 2 * 3\")", "7"}, {"Eval(\"Len(\"\"abc\"\")\")", "3"},
    {"CreateObject(\"WScript.Shell\")", "#429"}, {"MsgBox(\"hi\")", "#70"}, {"InputBox(\"name?\")", "#70"},
    {"vbCrLf = Chr(13) & Chr(10)", "True"}, {"Len(vbTab & vbLf & vbCr & vbNullChar & vbNullString)", "4"},
    {"vbTextCompare & vbSunday & vbSaturday & vbString", "1178"},
};

std::string Script(const Fn& f) { return std::string("Function TarvMain()\nTarvMain = ") + f.expr + "\nEnd Function\n"; }

std::string Answer(const scripthost::UserOutcome& out) {
  return out.ok ? out.text : "#" + std::to_string(out.error.number);
}

TEST(VbsFunctions, ThroughTheHost) {
  for (const Fn& f : kFunctions) {
    SCOPED_TRACE(f.expr);
    EXPECT_EQ(Answer(scripthost::RunUserScript(Script(f), std::nullopt)), f.result);
  }
}

TEST(VbsFunctions, ThroughSysVbscript) {
  std::vector<std::string> scripts;
  std::size_t failures = 0;
  for (const Fn& f : kFunctions) {
    scripts.push_back(Script(f));
    failures += f.result[0] == '#';
  }
  std::size_t errors = 0;
  const std::vector<std::string> got = vbstest::RunAll(scripts, &errors);
  EXPECT_EQ(errors, failures);
  for (std::size_t i = 0; i < scripts.size(); ++i) {
    SCOPED_TRACE(kFunctions[i].expr);
    EXPECT_EQ(got[i], kFunctions[i].result[0] == '#' ? "#" : kFunctions[i].result);
  }
}

// Cases named by the engine's own checklist: each comparison operator on
// (1,2), (2,2) and (2,1); a call short of arguments; the length of a
// character outside the Basic Multilingual Plane.
TEST(VbsFunctions, ComparisonsArgumentCountAndWideCharacter) {
  const char* ops[] = {"=", "<>", "<", ">", "<=", ">="};
  const char* expected[] = {"FalseTrueFalse", "TrueFalseTrue", "TrueFalseFalse",
                            "FalseFalseTrue", "TrueTrueFalse", "FalseTrueTrue"};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(ops[i]);
    const std::string op = ops[i];
    const std::string script = "Function TarvMain()\nTarvMain = (1 " + op + " 2) & (2 " + op + " 2) & (2 " + op +
                               " 1)\nEnd Function\n";
    EXPECT_EQ(Answer(scripthost::RunUserScript(script, std::nullopt)), expected[i]);
    // The same on variables, which take the whole-number path.
    const std::string vars = "Function TarvMain()\na = 1 : b = 2\nTarvMain = (a " + op + " b) & (b " + op +
                             " b) & (b " + op + " a)\nEnd Function\n";
    EXPECT_EQ(Answer(scripthost::RunUserScript(vars, std::nullopt)), expected[i]);
  }
  const scripthost::UserOutcome few = scripthost::RunUserScript(
      "Function Two(a, b)\nTwo = a + b\nEnd Function\nFunction TarvMain()\nTarvMain = Two(1)\nEnd Function\n",
      std::nullopt);
  ASSERT_FALSE(few.ok);
  EXPECT_EQ(few.error.number, 450);
  EXPECT_EQ(few.error.description, "Wrong number of arguments or invalid property assignment");
  EXPECT_EQ(few.error.line, 5);
  EXPECT_EQ(Answer(scripthost::RunUserScript("Function TarvMain()\nTarvMain = Mid(\"a\")\nEnd Function\n",
                                             std::nullopt)),
            "#450");
  EXPECT_EQ(Answer(scripthost::RunUserScript(
                "Function TarvMain()\nTarvMain = Len(\"\xF0\x9F\x98\x80\") & Len(\"a\xF0\x9F\x98\x80z\")\nEnd Function\n",
                std::nullopt)),
            "24");
}

}  // namespace
