#include "engine/log/log.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
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

using tarvtest::Count;

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

  // Starts over with no log file yet, at this level.
  void Fresh(int level) {
    TarvEngineReset();
    SetUp();
    std::filesystem::remove(path_);
    TarvSetLogLevel(level);
  }
  // The log so far, masked, its prologue (checked by the whole-run goldens)
  // left out.
  std::string Log() const {
    std::string log = tarvtest::MaskLog(tarvtest::ReadFile(path_));
    const std::string prologue(HtmlLogPrologue());
    return log.starts_with(prologue) ? "<prologue>" + log.substr(prologue.size()) : log;
  }
  bool LogExists() const { return std::filesystem::exists(path_); }

  tarvtest::TempDir dir_;
  std::string path_;
};

// Each writer's entries, byte for byte: message texts are ready markup and
// are written as given; data (script bytes in errors, traced descriptions,
// the step text, variables, the text dump) is escaped.
TEST_F(LogTest, EntriesOfEachWriter) {
  struct Case {
    const char* name;
    int level;
    std::function<void()> write;
  };
  const Case cases[] = {
      {"entries of every kind grouped into sections", 4,
       [] {
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
         EXPECT_EQ(sgLog.EntryCount, 10);
       }},
      {"traced returns by code and level, overlong info dropped", 2,
       [] {
         EXPECT_EQ(TarvReturn(-5, "nothing at level %d", 2), -5);
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
       }},
      {"run errors", 1,
       [] {
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
       }},
      {"script errors", 1,
       [] {
         EXPECT_EQ(NmsError(-1, "run:EsGetArg w<%d> not begin whith [", 7), -1);
         EXPECT_EQ(NmsError(-2, "%s", ""), -2);
         EXPECT_EQ(sgNms.ErrCount, 2);
         EXPECT_EQ(tarvtest::Var("nms.errors"), "2");
         EXPECT_EQ(tarvtest::Var("nms.error.1"), "run:EsGetArg w<7> not begin whith [");
         EXPECT_EQ(tarvtest::Var("nms.error.2"), "<missing>");
         // Long messages are cut to 1019 bytes for the variable, and to what
         // a warning holds for the entry.
         EXPECT_EQ(NmsError(-3, "%s", std::string(1500, 'z').c_str()), -3);
         EXPECT_EQ(tarvtest::Var("nms.error.3"), std::string(1019, 'z'));
       }},
      {"step table; it ends the section", 2,
       [] {
         sgRun.CurLine = 7;
         sgRun.RunSteps = 9;
         ASSERT_EQ(HtmlLogSuccess("before"), 0);
         ASSERT_EQ(HtmlLogStep("Line No. 007 : if.var {a} < {b&c} "), 0);
         ASSERT_EQ(HtmlLogSuccess("after"), 0);
       }},
      {"variables of one step, all, none", 2,
       [] {
         sgRun.RunSteps = 2;
         ASSERT_EQ(TarvSetVar2("a", "1<2"), 0);
         sgRun.RunSteps = 3;
         ASSERT_EQ(TarvSetVar2("b&", "x&y"), 0);
         ASSERT_EQ(TarvSetVar3("c", "ab\0cd", 5), 0);  // shown up to its NUL
         ASSERT_EQ(TarvSetVar2("e", ""), 0);
         ASSERT_EQ(HtmlLogVars(3), 0);
         ASSERT_EQ(HtmlLogVars(0), 0);
         ASSERT_EQ(HtmlLogVars(99), 0);
       }},
      {"text dump of the last bytes", 2,
       [] {
         const std::string text = "first line\nhello <world>";
         std::memcpy(&sgRun.Text[1], text.data(), text.size());
         sgRun.TextLen = static_cast<int>(text.size());
         ASSERT_EQ(HtmlLogText(7), 0);
         ASSERT_EQ(HtmlLogText(1000), 0);  // no more than the text holds
       }},
  };
  std::string logs;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh(c.level);
    c.write();
    TarvFlushLog();
    logs += tarvtest::Section(c.name, Log());
  }
  tarvtest::ExpectGolden("log/writers.htm", logs);
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
  EXPECT_EQ(Count(Log(), "info before"), 0);  // still buffered
  ASSERT_EQ(HtmlLogError("the error"), 0);
  tarvtest::ExpectGolden("log/info_then_error.htm", Log());

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
    const char* name;
    int (*write)(const char*, ...);
    int limit, droppedResult;
  };
  std::string logs;
  for (const Case& c : {Case{"error", HtmlLogErrorAt, 1009, 0}, Case{"warning", HtmlLogWarningAt, 1009, 0},
                        Case{"success", HtmlLogSuccessAt, 1019, -1}}) {
    SCOPED_TRACE(c.limit);
    Fresh(2);
    const std::string over(c.limit + 1, 'o');
    EXPECT_EQ(c.write("%s", over.c_str()), c.droppedResult);
    EXPECT_EQ(c.write("%s", ""), c.droppedResult);
    EXPECT_EQ(c.write("%s", std::string(c.limit, 'f').c_str()), 0);
    EXPECT_EQ(c.write("%s", over.c_str()), c.droppedResult);
    EXPECT_EQ(Count(Log(), over), 0);
    logs += tarvtest::Section(c.name, Log());
  }
  tarvtest::ExpectGolden("log/overlong.htm", logs);
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
  // The value is cut to the 1021 bytes an argument takes in, leaving room for
  // its closing bracket, never inside a character.
  const std::string head = "run.steps [12], Line No. [4], Error: [";
  const std::size_t room = 1021 - head.size() - 1;
  std::string wide;
  for (int i = 0; i < 600; i++) wide += "\xC3\xA9";
  const std::vector<Case> cases = {
      {-3, "x", 1, head + "x]", "1"},
      // An empty message counts but sets nothing; the code still comes back,
      // so a failing handler cannot report success.
      {-7, "", 2, "<missing>", "1"},
      {-8, std::string(1022, 'm'), 3, head + std::string(room, 'm') + "]", "3"},
      {-9, std::string(5000, 'k'), 4, head + std::string(room, 'k') + "]", "4"},
      {-10, wide, 5, head + wide.substr(0, room / 2 * 2) + "]", "5"},
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
  EXPECT_EQ(sgRun.RunErrors, 6);
  EXPECT_FALSE(LogExists());
}

// A report of any length reaches the log and its variable: the description
// gives way, cut before a character or an entity that would not fit.
TEST_F(LogTest, OverlongReportsAreCutNotDropped) {
  Fresh(1);
  const std::string amps(1200, '&');
  std::string wide;
  for (int i = 0; i < 700; i++) wide += "\xE4\xBD\xA0";
  EXPECT_EQ(NmsRunError(-3, "%s", amps.c_str()), -3);
  EXPECT_EQ(NmsRunError(-4, "%s", wide.c_str()), -4);
  EXPECT_EQ(NmsError(-5, "%s", amps.c_str()), -5);
  EXPECT_EQ(NmsError(-6, "%s", wide.c_str()), -6);
  TarvFlushLog();
  const std::string log = Log();
  // Each entry is whole: its text, then the bracket that closes it.
  const std::pair<std::string, std::string> entries[] = {
      {"run.errors: [1] , description: [", "&amp;"},
      {"run.errors: [2] , description: [", "\xE4\xBD\xA0"},
      {"Warnings: [", "&amp;"},
      {"Warnings: [", "\xE4\xBD\xA0"},
  };
  std::size_t from = 0;
  for (const auto& [head, unit] : entries) {
    SCOPED_TRACE(head + unit);
    const std::size_t at = log.find(head + unit, from);
    ASSERT_NE(at, std::string::npos);
    const std::size_t end = log.find(']', at + head.size());
    ASSERT_NE(end, std::string::npos);
    const std::string text = log.substr(at + head.size(), end - at - head.size());
    EXPECT_GT(text.size(), 900u);
    EXPECT_LT(text.size(), 1010u);
    // Whole entities or characters only, none cut in half.
    EXPECT_EQ(text.size() % unit.size(), 0u);
    EXPECT_TRUE(text.ends_with(unit));
    from = end;
  }
  const std::string first = tarvtest::Var("run.error.1");
  EXPECT_EQ(first.size(), 1021u);
  EXPECT_TRUE(first.ends_with("&&]"));
  const std::string second = tarvtest::Var("run.error.2");
  EXPECT_TRUE(second.ends_with("\xE4\xBD\xA0]"));
  EXPECT_GE(second.size(), 1019u);
  EXPECT_LE(second.size(), 1021u);
  EXPECT_EQ(tarvtest::Var("nms.error.1"), std::string(1019, '&'));
  EXPECT_EQ(tarvtest::Var("nms.error.2"), wide.substr(0, 1017));
  EXPECT_EQ(tarvtest::Var("nms.errors"), "2");
}

TEST_F(LogTest, WritersBelowTheirLevelWriteNothing) {
  std::string logs;
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
    logs += tarvtest::Section("level " + std::to_string(level), Log());
  }
  tarvtest::ExpectGolden("log/levels.htm", logs);
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
  EXPECT_EQ(Log().rfind("<prologue><h1>Pid: PID,", 0), 0u);
  EXPECT_EQ(Count(Log(), "\nnow"), 1);
}

TEST_F(LogTest, ClosingFlushesAndTheNextEntryAppends) {
  TarvSetLogLevel(4);
  ASSERT_EQ(TarvDebugLog("\nbuffered"), 0);
  TarvCloseLog();
  EXPECT_EQ(Count(Log(), "\nbuffered"), 1);
  ASSERT_EQ(HtmlLogError("again"), 0);
  tarvtest::ExpectGolden("log/closed_then_appended.htm", Log());
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

// Whole runs of a script in this process, with the log folder present.
class LogRunTest : public ::testing::Test {
 protected:
  void TearDown() override { TarvEngineReset(); }

  // The run's only log file, masked; "" when none was written.
  std::string RunLog(const std::string& script, const std::string& mode) {
    std::filesystem::create_directory(dir_.path() / "log");
    tarvtest::Run(dir_, script, mode);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path() / "log"))
      names.push_back(e.path().filename().string());
    EXPECT_LE(names.size(), 1u);
    if (names.empty()) return "";
    // The name carries the mode, the script's file name, the start time and the pid.
    EXPECT_TRUE(tarvtest::Shaped(names[0], mode + "_t.nms_#_#.htm"))
        << names[0];
    return tarvtest::LogsIn(dir_);
  }

  tarvtest::TempDir dir_;
};

const char kFailingScript[] = "var {a} value {~missing~}\n# a comment\n";

// A failed argument turns its cell red and the row into an error; the
// handler of the failed line never runs.  Every mode's log, whole.
TEST_F(LogRunTest, WhatEachModeWrites) {
  std::string logs;
  for (const char* mode : {"nolog", "hide", "error", "trace", "debug"}) {
    SCOPED_TRACE(mode);
    std::filesystem::remove_all(dir_.path() / "log");
    const std::string log = RunLog(kFailingScript, mode);
    // Errors are counted and published at every level.
    EXPECT_EQ(tarvtest::Var("run.errors"), "2");
    EXPECT_EQ(tarvtest::Var("run.error.2"),
              "run.steps [1], Line No. [1], Error: [Line:1,Get Arg:4 Error!]");
    EXPECT_EQ(Count(log, "(^_^) Line [1]"), 0);
    logs += tarvtest::Section(mode, log);
  }
  tarvtest::ExpectGolden("log/modes.htm", logs);
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

}  // namespace
