#include "engine/log/log.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/engine.h"
#include "engine/log/html_log_prologue.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/util/util.h"
#include "engine/core/var_store.h"
#include "tests/engine/harness.h"

namespace {

// The exact pieces the log is made of, with the time shown as TIME and the
// thread id as TID (see Mask).
const std::string kClose = "\n</pre></td></tr></table>\n ";
const std::string kErrorOpen =
    "\n<table><tr><th class=\"IconErrorEncoded\" /><th class=\"tarv_red\">TIME ThreadId: "
    "[TID]</th></tr><tr><td /><td><pre>";
const std::string kWarningOpen =
    "\n<table><tr><th class=\"IconWarningEncoded\" /><th  class=\"tarv_yellow\">TIME ThreadId: "
    "[TID]</th></tr><tr><td /><td><pre>";
const std::string kSuccessOpen =
    "\n<table><tr><th class=\"IconSuccessEncoded\" /><th>TIME</th></tr><tr><td /><td><pre>";
const std::string kInfoOpen =
    "\n</pre></td></tr></table>\n\n<table><tr><th class=\"IconInfoEncoded\" /><th>TIME</th></tr>"
    "<tr><td /><td><pre>";
const std::string kVarsHead =
    "\n<table><tr><th>index</th><th>editByStep</th><th>Name</th><th>Value</th></tr>";

std::string HeaderOpen(int level) {
  if (level == 2) return kSuccessOpen;
  return level == 1 ? "\n<table><tr><th class=\"IconErrorEncoded\" /><th  class=\"tarv_red\">TIME"
                      "</th></tr><tr><td /><td><pre>"
                    : "\n<table><tr><th class=\"IconInfoEncoded\" /><th>TIME</th></tr><tr><td />"
                      "<td><pre>";
}

std::string StepTable(const std::string& time, int line, int steps, const std::string& text) {
  return kClose + "\n<table><tr><th class=\"tarv_png\" /><th class=\"tarv_nms\">" + time +
         "</th><th class=\"tarv_nms\">step.line=[" + std::to_string(line) +
         "]</th><th class=\"tarv_nms\">run.steps=[" + std::to_string(steps) + "]</th></tr>\n" +
         "\n <tr><td /><td colspan=3>" + text + "</td></tr></table>\n";
}

std::string VarRow(int index, int step, const std::string& name, const std::string& value) {
  return "\n<tr><td>" + std::to_string(index) + "</td><td>" + std::to_string(step) + "</td><td>" +
         name + "</td><td>" + value + "</td></tr>\n";
}

bool Digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Every local time text ("2024-01-31,08:05:09,42") becomes TIME.
std::string MaskTimes(const std::string& s) {
  static const std::string kShape = "dddd-dd-dd,dd:dd:dd,d";  // and up to two more digits
  std::string out;
  for (size_t i = 0; i < s.size();) {
    size_t k = 0;
    while (k < kShape.size() && i + k < s.size() &&
           (kShape[k] == 'd' ? Digit(s[i + k]) : s[i + k] == kShape[k]))
      k++;
    if (k < kShape.size()) {
      out += s[i++];
      continue;
    }
    for (int more = 0; more < 2 && i + k < s.size() && Digit(s[i + k]); more++) k++;
    out += "TIME";
    i += k;
  }
  return out;
}

// The digits after each occurrence of prefix become mask.
std::string MaskNumbers(std::string s, const std::string& prefix, const std::string& mask) {
  for (size_t p = s.find(prefix); p != std::string::npos; p = s.find(prefix, p + prefix.size())) {
    size_t to = p + prefix.size();
    while (to < s.size() && Digit(s[to])) to++;
    if (to > p + prefix.size()) s.replace(p + prefix.size(), to - p - prefix.size(), mask);
  }
  return s;
}

std::string Mask(const std::string& s) { return MaskNumbers(MaskTimes(s), "ThreadId: [", "TID"); }

int Count(const std::string& s, const std::string& what) {
  int n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + what.size())) n++;
  return n;
}

// The log record pointed at a file of the test's own, as start-up would set it.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TarvEngineReset();
    path_ = tarvtest::LogInto(dir_);
    std::snprintf(sgLog.CmdLine, sizeof sgLog.CmdLine, "tarv debug a<b>&.nms");
    sgLog.Pid = 4242;
    TarvSetRunErrorPause(false);
  }
  void TearDown() override { TarvEngineReset(); }

  std::string Header(int level) const {
    return std::string(HtmlLogPrologue()) +
           "<h1>Pid: 4242, [tarv debug a&lt;b&gt;&amp;.nms] start ......</h1>" +
           HeaderOpen(level);
  }
  // Starts over with no log file yet, at this level.
  void Fresh(int level) {
    TarvEngineReset();
    SetUp();
    std::filesystem::remove(path_);
    TarvSetLogLevel(level);
  }
  std::string Log() const { return Mask(tarvtest::ReadFile(path_)); }
  bool LogExists() const { return std::filesystem::exists(path_); }

  tarvtest::TempDir dir_;
  std::string path_;
};

TEST_F(LogTest, EntriesOfEveryKindGroupedIntoSections) {
  TarvSetLogLevel(4);
  EXPECT_EQ(TarvDebugLog("\nfirst %d", 1), 0);
  EXPECT_EQ(HtmlLogSuccess("ok %s", "one"), 0);
  EXPECT_EQ(HtmlLogSuccess("two"), 0);
  EXPECT_EQ(HtmlLogWarning("w<%d>", 3), 0);
  EXPECT_EQ(HtmlLogError("e1"), 0);
  EXPECT_EQ(HtmlLogError("e2"), 0);
  EXPECT_EQ(HtmlLogWarning("w2"), 0);
  EXPECT_EQ(HtmlLogError("e3"), 0);
  EXPECT_EQ(TarvDebugLog("\nlast"), 0);
  EXPECT_EQ(TarvDebugLog("\nmore"), 0);
  EXPECT_EQ(TarvFlushLog(), 0);
  // Message texts are ready markup and are written as given.
  EXPECT_EQ(Log(), Header(4) + kInfoOpen + "\nfirst 1" + kClose + kSuccessOpen + "\nok one" +
                       "\ntwo" + kClose + kWarningOpen + "\nWarnings: [w<3>]" + kClose +
                       kErrorOpen + "\ne1" + "\ne2" + kClose + kWarningOpen +
                       "\nWarnings: [w2]" + kClose + kErrorOpen + "\ne3" + kInfoOpen + "\nlast" +
                       "\nmore");
  EXPECT_EQ(sgLog.EntryCount, 10);
}

TEST_F(LogTest, FieldLineAndScriptPathInTheDebugLogAreEscaped) {
  TarvSetLogLevel(4);
  char field[1024];
  ASSERT_EQ(GetWord4("a<b>,c&", 2, field, ','), 2);
  EXPECT_EQ(std::string(field, 2), "c&");
  TarvLoadParserScript(dir_.File("a<b>&.nms").c_str());
  ASSERT_EQ(TarvFlushLog(), 0);
  const std::string log = Log();
  EXPECT_EQ(Count(log, "\nGetWord4 [a&lt;b&gt;,c&amp; ],Index=2"), 1);
  EXPECT_EQ(Count(log, "\nTarvLoadParserScript: [" + dir_.File("a&lt;b&gt;&amp;.nms") + "] ..."),
            1);
  EXPECT_EQ(Count(log, "<b>"), 0);
}

TEST_F(LogTest, InfoEntriesWaitForTheNextEntryOrTheBatchSize) {
  TarvSetLogLevel(4);
  ASSERT_EQ(TarvDebugLog("\ninfo before the error"), 0);
  EXPECT_EQ(Log(), Header(4));  // still buffered
  ASSERT_EQ(HtmlLogError("the error"), 0);
  EXPECT_EQ(Log(), Header(4) + kInfoOpen + "\ninfo before the error" + kClose + kErrorOpen +
                       "\nthe error");

  // A batch goes out once 2048 bytes wait, before the entry that finds them.
  const size_t before = tarvtest::ReadFile(path_).size();
  const std::string line = "\n" + std::string(99, 'i');
  int written = 0;
  while (tarvtest::ReadFile(path_).size() == before && written < 100) {
    ASSERT_EQ(TarvDebugLog("%s", line.c_str()), 0);
    written++;
  }
  const std::string batch = tarvtest::ReadFile(path_).substr(before);
  EXPECT_GE(batch.size(), 2048u);
  EXPECT_LT(batch.size(), 2048u + 100);
  EXPECT_EQ(Count(batch, line), written - 1);
  EXPECT_EQ(batch.substr(batch.size() - 100), line);
  EXPECT_EQ(sgLog.InfoFill, 100);
}

// A text longer than its writer's limit is dropped whole, and opens no table.
TEST_F(LogTest, OverlongEntriesAreDroppedWhole) {
  struct Case {
    int (*write)(const char*, ...);
    int limit, droppedResult;
    std::string open, before, after;  // the entry's table opening, and its line around the text
  };
  const std::vector<Case> cases = {{HtmlLogError, 1009, 0, kErrorOpen, "\n", ""},
                                   {HtmlLogWarning, 1009, 0, kWarningOpen, "\nWarnings: [", "]"},
                                   {HtmlLogSuccess, 1019, -1, kSuccessOpen, "\n", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    Fresh(2);
    const std::string fits(c.limit, 'f');
    const std::string over(c.limit + 1, 'o');
    EXPECT_EQ(c.write("%s", over.c_str()), c.droppedResult);
    EXPECT_EQ(c.write("%s", ""), c.droppedResult);
    EXPECT_EQ(Log(), Header(2));
    EXPECT_EQ(c.write("%s", fits.c_str()), 0);
    EXPECT_EQ(c.write("%s", over.c_str()), c.droppedResult);
    EXPECT_EQ(Log(), Header(2) + kClose + c.open + c.before + fits + c.after);
  }
}

TEST_F(LogTest, TracedReturnsByCodeAndLevelAndOverlongInfoDropped) {
  TarvSetLogLevel(2);
  EXPECT_EQ(TarvReturn(-5, "nothing at level %d", 2), -5);
  EXPECT_FALSE(LogExists());
  TarvSetLogLevel(4);
  EXPECT_EQ(TarvDebugLog("%s", std::string(1020, 'o').c_str()), -1);
  EXPECT_EQ(TarvDebugLog("%s", std::string(1019, 'f').c_str()), 0);
  EXPECT_EQ(TarvDebugLog("%s", ""), -1);
  // Descriptions of up to 927 bytes are traced; the code comes back either way.
  EXPECT_EQ(TarvReturn(7, "%s", std::string(928, 'o').c_str()), 7);
  EXPECT_EQ(TarvReturn(8, "%s", std::string(927, 'd').c_str()), 8);
  EXPECT_EQ(TarvReturn(9, "%s", ""), 9);
  EXPECT_EQ(TarvReturn(3, "GetVar4(%s)=<%s>", "v", "a&b"), 3);
  EXPECT_EQ(TarvReturn(-2, "GetVar4(%s) NotFound", "x<y"), -2);
  TarvFlushLog();
  EXPECT_EQ(Log(), Header(4) + kInfoOpen + std::string(1019, 'f') +
                       "\nTarvReturn, return [8], description: [" + std::string(927, 'd') + "]" +
                       "\nTarvReturn, return [3], description: [GetVar4(v)=&lt;a&amp;b&gt;]" +
                       kClose + kWarningOpen +
                       "\nWarnings: [TarvReturn, return [-2], description: [GetVar4(x&lt;y) "
                       "NotFound]]");
}

TEST_F(LogTest, RunErrorIsCountedLoggedAndRecorded) {
  TarvSetLogLevel(1);
  sgRun.RunSteps = 5;
  sgRun.CurLine = 3;
  EXPECT_EQ(NmsRunError(-3, "var [%s] not exist!", "<b>"), -3);
  EXPECT_EQ(NmsRunError(-4, "second"), -4);
  EXPECT_EQ(sgRun.RunErrors, 2);
  EXPECT_EQ(sgRun.StepErrors, 2);
  EXPECT_EQ(tarvtest::Var("run.errors"), "2");
  // The variable keeps the script's bytes; the log shows them escaped.
  EXPECT_EQ(tarvtest::Var("run.error.1"),
            "run.steps [5], Line No. [3], Error: [var [<b>] not exist!]");
  EXPECT_EQ(tarvtest::Var("run.error.2"), "run.steps [5], Line No. [3], Error: [second]");
  EXPECT_EQ(Log(), Header(1) + kClose + kErrorOpen +
                       "\nrun.errors: [1] , description: [var [&lt;b&gt;] not exist!]" +
                       "\nrun.errors: [2] , description: [second]");
}

TEST_F(LogTest, RunErrorAtLevelZeroStillCountsAndSetsVariables) {
  struct Case {
    int code;
    std::string message;
    int errors;
    std::string value, published;  // of run.error.<errors> ("<missing>": none), of run.errors
  };
  sgRun.RunSteps = 12;
  sgRun.CurLine = 4;
  const std::vector<Case> cases = {
      {-3, "x", 1, "run.steps [12], Line No. [4], Error: [x]", "1"},
      // An empty or overlong message counts but sets nothing; the code still
      // comes back, so a failing handler cannot report success.
      {-7, "", 2, "<missing>", "1"},
      {-8, std::string(1022, 'm'), 3, "<missing>", "1"},
      {-9, std::string(1021, 'k'), 4,
       ("run.steps [12], Line No. [4], Error: [" + std::string(1021, 'k')).substr(0, 1021), "4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(NmsRunError(c.code, "%s", c.message.c_str()), c.code);
    EXPECT_EQ(sgRun.RunErrors, c.errors);
    EXPECT_EQ(sgRun.StepErrors, c.errors);
    EXPECT_EQ(tarvtest::Var("run.error." + std::to_string(c.errors)), c.value);
    EXPECT_EQ(tarvtest::Var("run.errors"), c.published);
  }
  EXPECT_EQ(NmsRunError(-11, nullptr), -11);
  EXPECT_EQ(sgRun.RunErrors, 5);
  EXPECT_FALSE(LogExists());
}

TEST_F(LogTest, ScriptErrorsAreWarnedAndRecorded) {
  TarvSetLogLevel(1);
  EXPECT_EQ(NmsError(-1, "run:EsGetArg w<%d> not begin whith [", 7), -1);
  EXPECT_EQ(NmsError(-2, "%s", ""), -2);
  EXPECT_EQ(sgNms.ErrCount, 2);
  EXPECT_EQ(tarvtest::Var("nms.errors"), "2");
  EXPECT_EQ(tarvtest::Var("nms.error.1"), "run:EsGetArg w<7> not begin whith [");
  EXPECT_EQ(tarvtest::Var("nms.error.2"), "<missing>");
  EXPECT_EQ(Log(), Header(1) + kClose + kWarningOpen +
                       "\nWarnings: [run:EsGetArg w&lt;7&gt; not begin whith []");
  // Long messages are cut to 1019 bytes for the variable; the entry is too
  // long for a warning and is dropped.
  EXPECT_EQ(NmsError(-3, "%s", std::string(1500, 'z').c_str()), -3);
  EXPECT_EQ(tarvtest::Var("nms.error.3"), std::string(1019, 'z'));
  EXPECT_EQ(Count(Log(), "zzz"), 0);
}

TEST_F(LogTest, StepTableEscapesTheStepText) {
  TarvSetLogLevel(2);
  sgRun.CurLine = 7;
  sgRun.RunSteps = 9;
  ASSERT_EQ(HtmlLogSuccess("before"), 0);
  ASSERT_EQ(HtmlLogStep("Line No. 007 : if.var {a} < {b&c} "), 0);
  // A standalone table ends the section: the next success entry opens anew.
  ASSERT_EQ(HtmlLogSuccess("after"), 0);
  EXPECT_EQ(Log(), Header(2) + kClose + kSuccessOpen + "\nbefore" +
                       StepTable("TIME", 7, 9, "Line No. 007 : if.var {a} &lt; {b&amp;c} ") +
                       kClose + kSuccessOpen + "\nafter");
}

TEST_F(LogTest, VariableTableOfOneStepOrAll) {
  TarvSetLogLevel(2);
  sgRun.RunSteps = 2;
  ASSERT_EQ(TarvSetVar2("a", "1<2"), 0);
  sgRun.RunSteps = 3;
  ASSERT_EQ(TarvSetVar2("b&", "x&y"), 0);
  ASSERT_EQ(TarvSetVar3("c", "ab\0cd", 5), 0);  // shown up to its NUL
  ASSERT_EQ(TarvSetVar2("e", ""), 0);
  ASSERT_EQ(HtmlLogVars(3), 0);
  ASSERT_EQ(HtmlLogVars(0), 0);
  ASSERT_EQ(HtmlLogVars(99), 0);
  const std::string a = VarRow(1, 2, "a", "1&lt;2");
  const std::string rest =
      VarRow(2, 3, "b&amp;", "x&amp;y") + VarRow(3, 3, "c", "ab") + VarRow(4, 3, "e", "");
  EXPECT_EQ(Log(), Header(2) + kClose + kVarsHead + rest + "\n</table>\n" + kClose + kVarsHead +
                       a + rest + "\n</table>\n" + kClose + kVarsHead + "\n</table>\n");
}

TEST_F(LogTest, TextDumpShowsTheLastBytesEscaped) {
  TarvSetLogLevel(2);
  const std::string text = "first line\nhello <world>";
  std::memcpy(&sgRun.Text[1], text.data(), text.size());
  sgRun.TextLen = static_cast<int>(text.size());
  ASSERT_EQ(HtmlLogText(7), 0);
  ASSERT_EQ(HtmlLogText(1000), 0);  // no more than the text holds
  auto dump = [](int n, const std::string& bytes) {
    return kClose + "\n<table><tr><th>List Text, step.bytes=[" + std::to_string(n) +
           "]</th></tr>" + "\n<tr><th><pre>\n" + bytes + "\n</pre></th></tr></table>\n";
  };
  EXPECT_EQ(Log(), Header(2) + dump(7, "&lt;world&gt;") +
                       dump(24, "first line\nhello &lt;world&gt;"));
}

TEST_F(LogTest, WritersBelowTheirLevelWriteNothing) {
  const std::pair<const char*, int> kLeast[] = {  // what each writer leaves, its lowest level
      {"an error", 1}, {"a warning", 1}, {"a success", 2}, {"a step", 2},
      {"<th>index</th>", 2}, {"<pre>\nT\n</pre>", 2}, {"an info", 4}, {"a return", 4}};
  for (int level : {0, 1, 2, 4}) {
    SCOPED_TRACE(level);
    Fresh(level);
    sgRun.TextLen = 1;
    sgRun.Text[1] = 'T';
    HtmlLogError("an error");
    HtmlLogWarning("a warning");
    HtmlLogSuccess("a success");
    HtmlLogStep("a step");
    HtmlLogVars(0);
    HtmlLogText(1);
    TarvDebugLog("\nan info");
    TarvReturn(1, "a return");
    TarvFlushLog();
    EXPECT_EQ(LogExists(), level > 0);
    const std::string log = Log();
    for (const auto& [text, least] : kLeast)
      EXPECT_EQ(Count(log, text), level >= least ? 1 : 0) << text;
  }
}

TEST_F(LogTest, MissingLogFolderLosesEntriesWithoutGrowingTheBuffer) {
  std::filesystem::remove_all(dir_.path() / "log");
  TarvSetLogLevel(4);
  for (int i = 0; i < 200; i++) EXPECT_EQ(TarvDebugLog("\n%0100d", i), -1);
  EXPECT_EQ(sgLog.InfoFill, 0);
  EXPECT_EQ(HtmlLogError("e"), -1);
  EXPECT_EQ(HtmlLogWarning("w"), -1);
  EXPECT_EQ(HtmlLogSuccess("s"), -1);
  EXPECT_EQ(HtmlLogStep("s"), -1);
  EXPECT_EQ(HtmlLogVars(0), -1);
  EXPECT_EQ(HtmlLogText(0), -1);
  EXPECT_EQ(TarvFlushLog(), 0);
  EXPECT_EQ(NmsRunError(-6, "still recorded"), -6);
  EXPECT_EQ(tarvtest::Var("run.error.1"), "run.steps [0], Line No. [0], Error: [still recorded]");
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "log"));

  // A new run (after closing) tries again, and its file starts with the header.
  TarvCloseLog();
  std::filesystem::create_directory(dir_.path() / "log");
  EXPECT_EQ(HtmlLogError("now"), 0);
  EXPECT_EQ(Log(), Header(4) + kClose + kErrorOpen + "\nnow");
}

TEST_F(LogTest, ClosingFlushesAndTheNextEntryAppends) {
  TarvSetLogLevel(4);
  ASSERT_EQ(TarvDebugLog("\nbuffered"), 0);
  TarvCloseLog();
  EXPECT_EQ(Log(), Header(4) + kInfoOpen + "\nbuffered");
  ASSERT_EQ(HtmlLogError("again"), 0);
  EXPECT_EQ(Log(), Header(4) + kInfoOpen + "\nbuffered" + kClose + kErrorOpen + "\nagain");
  // Clearing the record for a new run closes the file after the last entries.
  ASSERT_EQ(TarvDebugLog("\nlast of the run"), 0);
  LogStateClear();
  EXPECT_EQ(sgLog.InfoFill, 0);
  EXPECT_EQ(Count(Log(), "\nlast of the run"), 1);
}

TEST_F(LogTest, TwoThreadsKeepEveryEntryWhole) {
  TarvSetLogLevel(4);
  constexpr int kEach = 300;
  std::thread window([] {
    for (int i = 0; i < kEach; i++) TarvDebugLog("\nwindow entry %04d end", i);
  });
  for (int i = 0; i < kEach; i++) {
    TarvDebugLog("\nrunner entry %04d end", i);
    if (i % 50 == 0) HtmlLogError("runner error %04d", i);
  }
  window.join();
  TarvFlushLog();
  const std::string log = Log();
  for (int i = 0; i < kEach; i++) {
    char w[32], r[32];
    std::snprintf(w, sizeof w, "\nwindow entry %04d end", i);
    std::snprintf(r, sizeof r, "\nrunner entry %04d end", i);
    ASSERT_EQ(Count(log, w), 1) << i;
    ASSERT_EQ(Count(log, r), 1) << i;
  }
  EXPECT_EQ(Count(log, "\nrunner error "), 6);
}

TEST(FormatLocalTimeTest, ShapeOfTheText) {
  char t[40];
  const int n = FormatLocalTime(t);
  EXPECT_EQ(n, static_cast<int>(std::strlen(t)));
  EXPECT_EQ(MaskTimes(t), "TIME") << t;
}

TEST(HtmlEscapeTest, EntitiesAndRoom) {
  struct Case {
    std::string in;
    int room;
    std::string out;  // "<none>" when it does not fit
  };
  for (const Case& c : std::vector<Case>{{"plain", 5, "plain"},
                                         {"plain", 4, "<none>"},
                                         {"a<b>&c", 16, "a&lt;b&gt;&amp;c"},
                                         {"a<b>&c", 15, "<none>"},
                                         {"<", 3, "<none>"},
                                         {"\"quoted\" 'x'", 20, "\"quoted\" 'x'"},
                                         {std::string("a\0b", 3), 3, std::string("a\0b", 3)},
                                         {"", 0, ""}}) {
    char out[64];
    const int n = HtmlEscape(c.in.data(), static_cast<int>(c.in.size()), out, c.room);
    EXPECT_EQ(n < 0 ? "<none>" : std::string(out, n), c.out) << c.in;
  }
}

TEST(HtmlLogPrologueTest, DefinesTheClassesAndIcons) {
  const std::string p(HtmlLogPrologue());
  EXPECT_EQ(p.rfind("<!DOCTYPE html>", 0), 0u);
  for (const char* piece : {"text/html; charset=utf8", "<title>", "<body>",
                            "<table><tr><th class=\"tarv_png\" /><th class=\"tarv_nms\">",
                            ".tarv_nms {background-color: rgb(100, 149, 237); color: white;}",
                            ".tarv_red {background-color: red; color: white;}",
                            ".tarv_green {background-color: green; color: black;}",
                            ".tarv_yellow {background-color: yellow; color: black;}"})
    EXPECT_NE(p.find(piece), std::string::npos) << piece;

  // Each icon class carries a PNG of its size, centred and not repeated.
  auto decode = [](const std::string& b64) {
    const std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned acc = 0;
    int bits = 0;
    for (char ch : b64) {
      if (kAlphabet.find(ch) == std::string_view::npos) break;
      acc = ((acc << 6) | static_cast<unsigned>(kAlphabet.find(ch))) & 0xFFFFFF;
      if ((bits += 6) >= 8) out.push_back(static_cast<char>(acc >> (bits -= 8)));
    }
    return out;
  };
  auto be32 = [](const std::string& s, size_t at) {
    unsigned v = 0;
    for (size_t k = at; k < at + 4; k++) v = v << 8 | static_cast<unsigned char>(s[k]);
    return v;
  };
  const std::pair<std::string, unsigned> icons[] = {{"IconSuccessEncoded", 18},
                                                    {"IconInfoEncoded", 18},
                                                    {"IconWarningEncoded", 18},
                                                    {"IconErrorEncoded", 18},
                                                    {"tarv_png", 32}};
  for (const auto& [cls, size] : icons) {
    SCOPED_TRACE(cls);
    const size_t at = p.find("." + cls + " {");
    ASSERT_NE(at, std::string::npos);
    const std::string rule = p.substr(at, p.find('}', at) - at);
    const std::string px = std::to_string(size) + "px";
    for (const std::string& part : {"min-width: " + px, "min-height: " + px,
                                    std::string("background-repeat: no-repeat"),
                                    std::string("background-position: center")})
      EXPECT_NE(rule.find(part), std::string::npos) << part;
    const std::string uri = "url(data:image/png;base64,";
    const size_t u = rule.find(uri);
    ASSERT_NE(u, std::string::npos);
    std::string b64 = rule.substr(u + uri.size(), rule.find(')', u) - u - uri.size());
    std::erase_if(b64, [](char ch) { return ch == '"' || ch == ' ' || ch == '\n'; });
    const std::string png = decode(b64);
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(be32(png, 16), size);
    EXPECT_EQ(be32(png, 20), size);
    EXPECT_EQ(png.substr(png.size() - 8, 4), "IEND");
  }
}

// The path of the only file in dir/log; "" when there is none.
std::string OnlyFile(const tarvtest::TempDir& dir) {
  std::string found;
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path() / "log")) {
    found = e.path().string();
    files++;
  }
  EXPECT_LE(files, 1);
  return found;
}

// Whole runs of a script in this process, with the log folder present.
class LogRunTest : public ::testing::Test {
 protected:
  void TearDown() override { TarvEngineReset(); }

  // The run's only log file, masked; "" when none was written.
  std::string RunLog(const std::string& script, const std::string& mode) {
    std::filesystem::create_directory(dir_.path() / "log");
    tarvtest::Run(dir_, script, mode);
    const std::string found = OnlyFile(dir_);
    if (found.empty()) return "";
    // The name carries the mode, the script's file name, the start time and the pid.
    const std::string name = std::filesystem::path(found).filename().string();
    EXPECT_EQ(MaskNumbers(MaskNumbers(name, "_t.nms_", "N"), "N_", "N"), mode + "_t.nms_N_N.htm");
    std::string log = Mask(tarvtest::ReadFile(found));
    const std::string d = dir_.path().string();
    for (size_t p = log.find(d); p != std::string::npos; p = log.find(d, p))
      log.replace(p, d.size(), "DIR");
    return MaskNumbers(log, "Pid: ", "PID");
  }

  tarvtest::TempDir dir_;
};

const char kFailingScript[] = "var {a} value {~missing~}\n# a comment\n";

TEST_F(LogRunTest, FailedArgumentTurnsItsCellRedAndTheRowIntoAnError) {
  const std::string log = RunLog(kFailingScript, "trace");
  const std::string header = std::string(HtmlLogPrologue()) +
                             "<h1>Pid: PID, [DIR/tarv trace DIR/t.nms] start ......</h1>" +
                             HeaderOpen(2);
  const std::string row =
      "<table><tr><td>line No. 001</td>\r\n\t<td>var</td><td>{a}</td><td>value</td>"
      "<td>{~missing~}</td></tr><tr><td>Get All Arg:</td>\r\n\t<td  > var</td>"
      "<td class=\"tarv_green\"> a</td><td  > value</td><td class=\"tarv_red\"> </td></tr>"
      "</table>";
  const std::string firstStep =
      StepTable("TIME", 1, 1, "Line No. 001 : var {a} value {~missing~} ") + kClose +
      kErrorOpen + "\nrun.errors: [1] , description: [var [missing] not exist!]" +
      "\nrun.errors: [2] , description: [Line:1,Get Arg:4 Error!]" + "\n" + row;
  const std::string secondStep =
      kClose +
      "\n<table><tr><th class=\"tarv_png\" /><th class=\"tarv_nms\">TIME</th><th "
      "class=\"tarv_nms\">step.line=[2]</th>";
  EXPECT_EQ(log.substr(0, header.size() + firstStep.size() + secondStep.size()),
            header + firstStep + secondStep);
  // The handler of the failed line never ran: no end-of-line entry for it.
  EXPECT_EQ(Count(log, "(^_^) Line [1]"), 0);
  EXPECT_EQ(Count(log, "(^_^) Line [2] Run End, Ok!"), 1);
  EXPECT_EQ(Count(log, "] run.ed, exit ......"), 1);
  EXPECT_EQ(Count(log, "</td><td>1</td><td>run.error.1</td><td>run.steps [1], Line No. [1], "
                      "Error: [var [missing] not exist!]</td></tr>\n"),
            1);  // only in the table of all: step 1 ended before its handler
}

TEST_F(LogRunTest, WhatEachModeWrites) {
  struct Case {
    const char* mode;
    int level;
  };
  for (const Case& c : std::vector<Case>{
           {"nolog", 0}, {"hide", 0}, {"error", 1}, {"trace", 2}, {"debug", 4}}) {
    SCOPED_TRACE(c.mode);
    std::filesystem::remove_all(dir_.path() / "log");
    const std::string log = RunLog(kFailingScript, c.mode);
    // Errors are counted and published at every level.
    EXPECT_EQ(tarvtest::Var("run.errors"), "2");
    EXPECT_EQ(tarvtest::Var("run.error.2"),
              "run.steps [1], Line No. [1], Error: [Line:1,Get Arg:4 Error!]");
    if (c.level == 0) {
      EXPECT_EQ(log, "");
      continue;
    }
    const int two = c.level >= 2, four = c.level >= 4;
    EXPECT_EQ(log.find(HeaderOpen(c.level)), log.find("</h1>") + 5);
    EXPECT_EQ(Count(log, "\nrun.errors: [1] , description: [var [missing] not exist!]"), 1);
    EXPECT_EQ(Count(log, "<td class=\"tarv_red\"> </td>"), 1);
    EXPECT_EQ(Count(log, "(^_^) Line [2] Run End, Ok!"), two);
    EXPECT_EQ(Count(log, "step.line=["), 2 * two);
    EXPECT_EQ(Count(log, "<th>index</th>"), 2 * two);
    EXPECT_EQ(Count(log, "class=\"IconInfoEncoded\""), four ? Count(log, kInfoOpen) + 1 : 0);
    EXPECT_EQ(Count(log, "\n__try Call [0], [#] ... "), four);
    EXPECT_EQ(Count(log, ", Line No. [2] be blank, don't need to run."), four);
    EXPECT_EQ(Count(log, "\nTarvReturn, return [") > 0, four == 1);
    // The closing lines go out as an info entry, so only a debug log has them.
    EXPECT_EQ(Count(log, "\n</td></tr></table></body></html>"), four);
    if (four) {
      EXPECT_EQ(log.substr(log.size() - 33), "\n</td></tr></table></body></html>");
    }
  }
}

// Values, variable names, argument texts and script words reach the debug
// entries as data: none of them may open markup in the log.
TEST_F(LogRunTest, ScriptDataInDebugEntriesIsEscaped) {
  const std::string log = RunLog(
      "var {v} value {<b>&</b>}\n"
      "var {v} add {<i>}\n"
      "var {w} copy var {v}\n"
      "var {v} replace {<i>} with {<s>}\n"
      "var {v} adjust length {20} align {left}\n"
      "var {<e>} value {}\n"
      "var {f} value {x~<e>~y}\n"
      "run.set onerror {<u>}\n"
      "<q>zz\n",
      "debug");
  ASSERT_NE(log, "");
  EXPECT_EQ(tarvtest::Var("f"), "xy");
  EXPECT_EQ(tarvtest::Var("w"), "<b>&</b><i>");
  for (const char* markup : {"<b>", "</b>", "<i>", "<s>", "<e>", "<u>", "<q>"}) {
    SCOPED_TRACE(markup);
    EXPECT_EQ(Count(log, markup), 0);
  }
  // The entries are there, escaped.
  EXPECT_GT(Count(log, "Var2.value L=11,&lt;&lt;b&gt;&amp;&lt;/b&gt;&lt;i&gt;&gt;"), 0);
  EXPECT_EQ(Count(log, "\nvar [&lt;e&gt;] length=0"), 1);
  EXPECT_GT(Count(log, "={&lt;u&gt;},l=3. "), 0);
  EXPECT_EQ(Count(log, "[&lt;q&gt;zz], Line No. [9] be blank"), 1);
}

TEST_F(LogRunTest, SecondRunInTheProcessWritesItsOwnFile) {
  const std::string first = RunLog(kFailingScript, "debug");
  tarvtest::TempDir other;
  std::filesystem::create_directory(other.path() / "log");
  tarvtest::Run(other, "# only a comment\n", "debug");
  const std::string second = Mask(tarvtest::ReadFile(OnlyFile(other)));
  EXPECT_EQ(second.rfind(std::string(HtmlLogPrologue()), 0), 0u);
  EXPECT_EQ(Count(second, "<h1>Pid: "), 1);
  EXPECT_EQ(Count(second, "run.errors: ["), 0);
  EXPECT_EQ(second.substr(second.size() - 33), "\n</td></tr></table></body></html>");
  // The first run's file was closed and left as it was.
  const std::string again = Mask(tarvtest::ReadFile(OnlyFile(dir_)));
  EXPECT_EQ(Count(again, "only a comment"), 0);
  EXPECT_EQ(Count(again, "<h1>Pid: "), 1);
}

}  // namespace
