// Conditions, loops and macros: real scripts in the hide mode that write what
// they saw with text.save, and a few direct looks at the jump records.
#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/handlers.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;
using tarvtest::Var;
using Errs = std::vector<std::string>;

// The expected run errors: none for "", else just this one.
Errs Only(const char* message) { return *message ? Errs{message} : Errs{}; }

// The lines joined, run through the shared runner.
tarvtest::Outcome RunLines(const TempDir& dir, const std::vector<std::string>& lines,
                           long maxSteps = 100000) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return tarvtest::RunCase(dir, s, {}, "hide", maxSteps);
}

// A value for v, the test in `if.var {v} <test> {arg}`, and whether it holds.
struct IfVarCase {
  const char *value, *test, *arg;
  bool holds;
};

// The block under each case's condition must run exactly when it holds, and
// no case is a run error.
void ExpectIfVar(std::span<const IfVarCase> cases) {
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("[") + c.value + "] " + c.test + " [" + c.arg + "]");
    auto s = RunLines(dir, {"var {v} value {" + std::string(c.value) + "}",
                            "if.var {v} " + std::string(c.test) + " {" + c.arg + "}",
                            "text.add {TRUE}", "if.end", "text.add {end}"});
    EXPECT_EQ(s.text, c.holds ? "TRUEend" : "end");
    EXPECT_EQ(s.errors, Errs{});
  }
}

struct Flow {
  const char* what;
  std::vector<std::string> lines;
  const char *out, *message;  // message: the only error, "" none
};

// Runs each case's script; its message is the only run error, or with
// `scriptError` the only script error, which is no run error (only a
// macro.end reached without a call may record one).
void ExpectFlows(std::span<const Flow> cases, bool scriptError = false) {
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = RunLines(dir, c.lines);
    EXPECT_EQ(s.text, c.out);
    EXPECT_EQ(s.nmsErrors, scriptError ? 1 : 0) << Var("nms.error.1");
    if (!scriptError) {
      EXPECT_EQ(s.errors, Only(c.message));
      continue;
    }
    EXPECT_EQ(Var("nms.error.1"), c.message);
    for (const auto& e : s.errors) EXPECT_EQ(e, "macro_end Error, no call.");
  }
}

// ---------------------------------------------------------------------------
// Numeric comparisons

TEST(IfVarCompare, EachOperatorTakesTheRightBranch) {
  const IfVarCase cases[] = {
      {"3", ">", "3", false},  {"3", ">=", "3", true},  {"2", ">=", "3", false},
      {"2", "<", "3", true},   {"3", "<", "3", false},  {"3", "<=", "3", true},
      {"4", "<=", "3", false}, {"3", "==", "4", false}, {"3", "<>", "4", true},
      {"3", "<>", "3", false},
      // Numbers, not texts.
      {"10", ">", "9", true},  {"007", "==", "7", true},
      // Blanks count as nothing to the integer check; empty reads as 0.
      {" 12 ", "==", "12", true}, {"", "==", "0", true},
      // Values beyond 32 bits saturate before they are compared.
      {"99999999999", "==", "2147483647", true},
  };
  ExpectIfVar(cases);
}

TEST(IfVarCompare, AValueLongerThanASlotIsAnArgumentError) {
  // Statements cannot build a 1023-byte value; the store can.
  TempDir dir;
  const std::string big(1023, '1');
  auto s = tarvtest::RunCase(dir, "if.var {v} == {1}\ntext.add {next}\nif.end\n",
                             [&] { ASSERT_EQ(TarvSetVar4("v", 1, big.data(), 1023), 0); });
  EXPECT_EQ(s.text, "next");
  EXPECT_EQ(s.errors, Errs{"Arg:2, GetVar len=-3  < 0 !"});
}

// ---------------------------------------------------------------------------
// Searches in a variable

TEST(IfVarSearch, ContainAndInBothWays) {
  const IfVarCase cases[] = {
      {"hello world", "contain", "lo w", true},     {"hello world", "contain", "world!", false},
      {"hello world", "contain", "Hello", false},   {"hello world", "not contain", "xyz", true},
      {"hello world", "not contain", "lo", false},  {"ell", "in", "hello", true},
      {"hello", "in", "ell", false},                {"abc", "not in", "hello", true},
      {"ell", "not in", "hello", false},
      // Nothing is checked: an empty argument is in every value and an
      // empty value in every argument.
      {"hello", "contain", "", true},               {"hello", "not contain", "", false},
      {"", "in", "hello", true},                    {"", "contain", "x", false},
  };
  ExpectIfVar(cases);
}

// An argument error is recorded; after it a comparison runs the next line,
// while a search counts as false, even a negated one.
TEST(IfVar, ArgumentErrors) {
  const std::string k63(63, 'n');
  const Flow cases[] = {
      {"missing", {"if.var {nope} > {1}"}, "TRUEend", "Arg:2, GetVar len=-2  < 0 !"},
      {"long name", {"if.var {" + k63 + "} > {1}"}, "TRUEend", "Length of Arg 2 is :63 > 62 !"},
      {"empty name", {"if.var {} > {1}"}, "TRUEend", "Length of Arg 2 is :0  < 1 !"},
      {"signed", {"var {v} value {-5}", "if.var {v} < {0}"}, "TRUEend", "Arg:2 is not integer !"},
      {"not a number", {"var {v} value {1}", "if.var {v} == {one}"}, "TRUEend",
       "Arg:4 is not integer !"},
      {"empty arg", {"var {v} value {1}", "if.var {v} == {}"}, "TRUEend",
       "Length of Arg 4 is :0  < 1 !"},
      {"missing, not in", {"if.var {nope} not in {a}"}, "end", "Arg:2, 变量不存在!"},
      {"long name, not in", {"if.var {" + k63 + "} not in {a}"}, "end",
       "Length of Arg 2 is :63 > 62 !"},
      {"empty name, contain", {"if.var {} contain {a}"}, "end", "Length of Arg 2 is :0  < 1 !"},
  };
  std::vector<Flow> flows(std::begin(cases), std::end(cases));
  for (auto& f : flows)
    f.lines.insert(f.lines.end(), {"text.add {TRUE}", "if.end", "text.add {end}"});
  ExpectFlows(flows);
}

// ---------------------------------------------------------------------------
// Searches in the selected text

TEST(IfText, SearchesTheSelectionOnly) {
  const char* kBadSelection =
      "sgRun.headPointer <0 || sgRun.tailPointer <0 || sgRun.tailPointer > sgRun.TextLen !";
  struct Case {
    const char* what;
    int head, tail;  // the selection in the text "abcdef"
    const char *test, *arg;
    bool holds;
    const char* message;  // the run error, "" none
  } const cases[] = {
      {"at the start", 1, 6, "contain", "abc", true, ""},
      {"the selection is the argument", 2, 5, "contain", "bcd", true, ""},
      // An occurrence that ends on tailPointer itself is not found.
      {"ending on the tail", 1, 6, "contain", "def", false, ""},
      {"ending on the tail, negated", 1, 6, "not contain", "def", true, ""},
      {"before the head", 3, 6, "contain", "ab", false, ""},
      {"found, negated", 1, 6, "not contain", "bcd", false, ""},
      // Head 0 starts the selection at the zero byte before the text.
      {"from byte 0", 0, 6, "contain", "abcde", true, ""},
      {"shorter than the argument", 2, 4, "contain", "bcd", false, ""},
      {"shorter, negated", 2, 4, "not contain", "bcd", true, ""},
      {"head past tail", 5, 2, "contain", "c", false, ""},
      {"tail past the text", 1, 7, "contain", "bcd", false, kBadSelection},
      {"tail past the text, negated", 1, 7, "not contain", "bcd", true, ""},
      {"negative head", -1, 6, "contain", "bcd", false, kBadSelection},
      {"empty argument", 1, 6, "contain", "", false, "Length of Arg 3 is :0  < 1 !"},
      {"empty argument, negated", 1, 6, "not contain", "", false, "Length of Arg 4 is :0  < 1 !"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = tarvtest::RunCase(
        dir, "if.text " + std::string(c.test) + " {" + c.arg + "}\ntext.add {TRUE}\nif.end\n",
        [&] {
          std::memcpy(sgRun.Text.data() + 1, "abcdef", 6);
          sgRun.TextLen = 6;
          sgRun.headPointer = c.head;
          sgRun.tailPointer = c.tail;
        });
    EXPECT_EQ(s.text, c.holds ? "abcdefTRUE" : "abcdef");
    EXPECT_EQ(s.errors, Only(c.message));
  }
}

// ---------------------------------------------------------------------------
// Nesting and the if.end search

TEST(IfNesting, AFalseConditionAtAnyDepthSkipsItsWholeBlock) {
  struct Case {
    const char *d1, *d2, *d3, *out;
  } cases[] = {{"0", "1", "1", "end"}, {"1", "0", "1", "aAend"}, {"1", "1", "0", "abBAend"},
               {"1", "1", "1", "abcBAend"}};
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    auto s = RunLines(dir, {"var {d1} value {" + std::string(c.d1) + "}",
                            "var {d2} value {" + std::string(c.d2) + "}",
                            "var {d3} value {" + std::string(c.d3) + "}",
                            "if.var {d1} == {1}", "  text.add {a}",
                            "  if.var {d2} == {1}", "    text.add {b}",
                            "    if.var {d3} == {1}", "      text.add {c}", "    if.end",
                            "    text.add {B}", "  if.end",
                            "  text.add {A}", "if.end", "text.add {end}"});
    EXPECT_EQ(s.text, c.out);
    EXPECT_EQ(s.errors, Errs{});
  }
}

TEST(IfNesting, TheIfEndSearch) {
  auto falseIf = [](std::vector<std::string> rest) {
    rest.insert(rest.begin(), {"var {a} value {1}", "if.var {a} == {2}"});
    return rest;
  };
  const Flow cases[] = {
      {"inner blocks of every kind are skipped with their if.end",
       {"var {v} value {abc}", "if.var {v} contain {zzz}", "if.text contain {x}", "if.end",
        "if.var {v} not in {x}", "if.end", "text.add {inner}", "if.end", "text.add {end}",
        "run.end"},
       "end", ""},
      // The line does not match if.end, but the search goes by first words.
      {"an if.end with a comment after it",
       falseIf({"text.add {x}", "if.end #done", "text.add {y}", "run.end"}), "y", ""},
      {"the only if.end belongs to an inner condition",
       falseIf({"if.var {a} == {1}", "if.end", "text.add {x}", "run.end"}), "x",
       "EsGotoIfEnd Error! NotFound if.end Line"},
      {"an if.end above does not count",
       {"if.end", "var {a} value {1}", "if.var {a} == {2}", "text.add {x}", "run.end"}, "x",
       "EsGotoIfEnd Error! NotFound if.end Line"},
      {"a macro.begin in the way",
       falseIf({"text.add {x}", "run.end", "macro.begin {m}", "if.end", "macro.end"}), "x",
       "EsGotoIfEnd Error Find: macro.begin Line=5"},
      {"a macro.end in the way", falseIf({"text.add {x}", "run.end", "macro.end", "if.end"}), "x",
       "EsGotoIfEnd Error Find: macro.end Line=5"},
  };
  ExpectFlows(cases);
}

// ---------------------------------------------------------------------------
// Loops

// The outer loop goes back from its loop.end, the inner one from loop.next.
TEST(Loop, ExitFromTheInnerLoopLeavesOnlyThatLoop) {
  TempDir dir;
  auto s = RunLines(dir, {"var {i} value {0}", "loop.begin", "  var {i} add number {1}",
                          "  if.var {i} > {3}", "    loop.exit", "  if.end",
                          "  var {j} value {0}", "  loop.begin", "    var {j} add number {1}",
                          "    if.var {j} > {2}", "      loop.exit", "    if.end",
                          "    text.add {~i~.~j~ }", "  loop.next", "  text.add {never}",
                          "  loop.end", "  text.add {|}", "loop.end", "text.add {end}", "run.end"});
  EXPECT_EQ(s.text, "1.1 1.2 |2.1 2.2 |3.1 3.2 |end");
  EXPECT_EQ(s.errors, Errs{});
  EXPECT_EQ(s.nmsErrors, 0) << Var("nms.error.1");
  // One counter for all loops: four outer passes, three inner ones in each
  // of the three full outer passes.
  EXPECT_EQ(sgRun.LoopTimes, 4 + 3 * 3);
}

// A failed loop search is a script error, not a run error; the next line runs.
TEST(Loop, SearchFailuresAreScriptErrorsAndTheNextLineRuns) {
  const Flow cases[] = {
      {"no loop.begin above", {"text.add {a}", "loop.next", "text.add {b}", "run.end"}, "ab",
       "EsGotoLoopBegin Error NotFind loop.begin"},
      {"the begin above belongs to a closed loop",
       {"loop.begin", "loop.exit", "loop.end", "text.add {a}", "loop.next", "text.add {b}",
        "run.end"}, "ab", "EsGotoLoopBegin Error NotFind loop.begin"},
      {"a macro.begin in the way back",
       {"macro.call {m}", "run.end", "loop.begin", "macro.begin {m}", "text.add {in}",
        "loop.next", "text.add {on}", "macro.end"},
       "inon", "EsGotoLoopBegin Error Find: macro.begin Line=4"},
      {"a macro.end in the way back",
       {"text.add {a}", "loop.begin", "macro.end", "loop.next", "text.add {b}", "run.end"}, "ab",
       "EsGotoLoopBegin Error Find: macro.end Line=3"},
      {"no loop.end below", {"text.add {a}", "loop.exit", "text.add {b}"}, "ab",
       "EsGotoLoopEnd Error NotFind loop.end"},
      {"a run.end in the way", {"text.add {a}", "loop.exit", "text.add {b}", "run.end", "loop.end"},
       "ab", "EsGotoLoopEnd Error Find: run.end Line=4"},
      {"a macro.begin in the way forward",
       {"text.add {a}", "loop.exit", "text.add {b}", "macro.begin {m}", "run.end", "loop.end"},
       "ab", "EsGotoLoopEnd Error Find: macro.begin Line=4"},
      {"a macro.end in the way forward",
       {"text.add {a}", "loop.exit", "text.add {b}", "macro.end", "run.end", "loop.end"}, "ab",
       "EsGotoLoopEnd Error Find: macro.end Line=4"},
  };
  ExpectFlows(cases, true);
}

TEST(Loop, ARunawayLoopIsStoppedByTheMaximumRunTime) {
  TempDir dir;
  auto s = RunLines(dir, {"text.add {x}", "run.set run.maxtime {1} seconds", "loop.begin",
                          "loop.next", "loop.end", "text.add {never}"},
                    1L << 40);
  EXPECT_EQ(s.text, "x");
  EXPECT_EQ(Var("run.end"), "MaxRunTime");
  EXPECT_EQ(s.errors, Errs{});
  EXPECT_GT(sgRun.LoopTimes, 1);
  EXPECT_EQ(sgRun.TextLen, 1);
}

// ---------------------------------------------------------------------------
// Macros

// A chain of macros m1..m{n}: each adds "k,", calls the next one, then adds
// "<k"; m{n} calls nothing.  Macros sit below the calling lines.
std::vector<std::string> MacroChain(int n) {
  std::vector<std::string> lines = {"macro.call {m1}", "text.add {main}", "run.end"};
  for (int k = 1; k <= n; k++) {
    const std::string ks = std::to_string(k);
    lines.insert(lines.end(), {"macro.begin {m" + ks + "}", "text.add {" + ks + ",}"});
    if (k < n) lines.push_back("macro.call {m" + std::to_string(k + 1) + "}");
    lines.insert(lines.end(), {"text.add {<" + ks + "}", "macro.end"});
  }
  return lines;
}

std::string ChainOutput(int entered) {
  std::string s;
  for (int k = 1; k <= entered; k++) s += std::to_string(k) + ",";
  for (int k = entered; k >= 1; k--) s += "<" + std::to_string(k);
  return s + "main";
}

TEST(Macro, CallsNestToDepthNineteenAndTheTwentiethIsRefused) {
  TempDir dir;
  for (int n : {19, 20}) {
    SCOPED_TRACE(n);
    auto s = RunLines(dir, MacroChain(n));
    // A refused call does not jump: m19 goes on with its next line.
    EXPECT_EQ(s.text, ChainOutput(19));
    EXPECT_EQ(s.errors, n == 20 ? Errs{"EsGotoMacroBegin Error, too many calls."} : Errs{});
    EXPECT_EQ(sgRun.MacroDepth, 0);
  }
}

TEST(Macro, DepthCheckComesBeforeTheJumpOnACacheHit) {
  TempDir dir;
  for (int depth : {MACRO_DEPTH - 1, MACRO_DEPTH - 2}) {
    SCOPED_TRACE(depth);
    const bool refused = depth == MACRO_DEPTH - 1;
    tarvtest::Start(dir, "macro.call {m}\nrun.end\nmacro.begin {m}\nmacro.end\n");
    sgNms.JumpCache[1] = 3;
    sgRun.MacroDepth = depth;
    EsRunNextStep();
    EXPECT_EQ(sgRun.GotoLine, refused ? 0 : 3);
    EXPECT_EQ(sgRun.MacroDepth, MACRO_DEPTH - 1);
    EXPECT_EQ(sgRun.RunErrors, refused ? 1 : 0);
    if (!refused) {
      EXPECT_EQ(sgRun.MacroStack[MACRO_DEPTH - 1], 1);
    }
  }
}

TEST(Macro, ReturnLeavesEarlyAndEndsWithoutACallAreRefused) {
  const Flow cases[] = {
      {"macro.return leaves the macro",
       {"macro.call {m}", "text.add {back}", "run.end", "macro.begin {m}", "text.add {in,}",
        "macro.return", "text.add {never}", "macro.end"},
       "in,back", ""},
      {"macro.return at depth 0", {"macro.return", "text.add {next}", "run.end"}, "next",
       "macro_return Error, no call."},
      {"a macro reached by ordinary flow runs; its end has no call",
       {"text.add {a}", "macro.begin {m}", "text.add {b}", "macro.end", "text.add {c}", "run.end"},
       "abc", "macro_end Error, no call."},
      {"a call finds only macros below it",
       {"macro.begin {m}", "text.add {in}", "macro.call {m}", "text.add {after}", "run.end"},
       "inafter", "EsGotoMacroBegin Error NotFind macro.begin {m}"},
      {"names are compared exactly",
       {"macro.call {M}", "text.add {next}", "run.end", "macro.begin {m}", "text.add {in}",
        "macro.end"},
       "next", "EsGotoMacroBegin Error NotFind macro.begin {M}"},
      {"the first macro of the name wins",
       {"macro.call {m}", "run.end", "macro.begin {m}", "text.add {1st}", "macro.end",
        "macro.begin {m}", "text.add {2nd}", "macro.end"},
       "1st", ""},
      {"a macro.begin name is filled like an argument",
       {"var {n} value {mac}", "macro.call {mac}", "run.end", "macro.begin {~n~}",
        "text.add {in}", "macro.end"},
       "in", ""},
      {"empty name", {"macro.call {}", "text.add {next}", "run.end"}, "next",
       "Length of Arg 2 is :0  < 1 !"},
      {"name too long", {"macro.call {" + std::string(63, 'm') + "}", "text.add {next}", "run.end"},
       "next", "Length of Arg 2 is :63 > 62 !"},
  };
  ExpectFlows(cases);
}

TEST(Macro, ABareMacroBeginAsTheLastWordIsNoMatchAndNoScriptError) {
  // The word after the script's last word does not exist: the search must
  // not read it.
  TempDir dir;
  tarvtest::Run(dir, "macro.call {m}\nvar {after} value {1}\nmacro.begin");
  EXPECT_EQ(Var("after"), "1");
  EXPECT_EQ(tarvtest::RunErrors(), Errs{"EsGotoMacroBegin Error NotFind macro.begin {m}"});
  EXPECT_EQ(sgNms.ErrCount, 0) << Var("nms.error.1");
}

// ---------------------------------------------------------------------------
// The jump cache

TEST(JumpCache, ASecondPassIsServedFromTheCache) {
  // The called name changes after the first pass; the cached target stays.
  TempDir dir;
  auto s = RunLines(dir, {"var {name} value {a}", "var {k} value {0}", "loop.begin",
                          "var {k} add number {1}", "if.var {k} > {2}", "loop.exit", "if.end",
                          "macro.call {~name~}", "var {name} value {b}", "loop.next", "loop.end",
                          "run.end",  // line 12
                          "macro.begin {a}", "text.add {A}", "macro.end", "macro.begin {b}",
                          "text.add {B}", "macro.end"});
  EXPECT_EQ(s.text, "AA");
  EXPECT_EQ(s.errors, Errs{});
  EXPECT_EQ(sgNms.JumpCache[5], 7);    // if.var: its if.end
  EXPECT_EQ(sgNms.JumpCache[6], 11);   // loop.exit: the loop.end line itself
  EXPECT_EQ(sgNms.JumpCache[8], 13);   // macro.call {a}
  EXPECT_EQ(sgNms.JumpCache[10], 3);   // loop.next: its loop.begin
  EXPECT_EQ(sgNms.JumpCache[9], 0);    // no jump statement
}

TEST(JumpCache, ACachedTargetIsTakenWithoutASearch) {
  // A target placed in the cache is used as it stands, even where a search
  // would find another line.
  TempDir dir;
  auto s = tarvtest::RunCase(
      dir, "var {a} value {1}\nif.var {a} == {2}\ntext.add {x}\ntext.add {y}\nif.end\ntext.add {z}\n",
      [] { sgNms.JumpCache[2] = 4; });
  EXPECT_EQ(s.text, "yz");
}

TEST(JumpCache, FailedSearchesLeaveTheCacheEmpty) {
  TempDir dir;
  tarvtest::Run(dir, "var {a} value {1}\nif.var {a} == {2}\nloop.next\nloop.exit\n"
                     "macro.call {m}\n");
  for (int line = 1; line <= 5; line++) EXPECT_EQ(sgNms.JumpCache[line], 0) << line;
  EXPECT_EQ(sgRun.RunErrors, 2);
  EXPECT_EQ(sgNms.ErrCount, 2);
}

// ---------------------------------------------------------------------------
// The debug log

TEST(ControlFlowLog, TheDebugLogNamesTheJumps) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("log"));
  tarvtest::Run(dir,
                "var {v} value {abc}\nloop.begin\nif.var {v} contain {b}\nloop.exit\nif.end\n"
                "loop.next\nloop.end\nmacro.call {m}\nrun.end\nmacro.begin {m}\nmacro.end\n",
                "debug");
  const std::string log = tarvtest::LogsIn(dir);
  for (const char* entry :
       {"loop_begin ,LoopTimes = 0,begin ...", "if_var_a2_contain_a4 return ture.",
        "loop_exit ,begin ...,LoopTimes=[1]", "EsGotoLoopEnd New Find Line=7 ret ok",
        "EsGotoMacroBegin New Find Line=10 ret ok",
        "macro_begin_a2 ,begin ...,call time=1,called step=8", "macro_end return."})
    EXPECT_NE(log.find(entry), std::string::npos) << entry;
}

}  // namespace
