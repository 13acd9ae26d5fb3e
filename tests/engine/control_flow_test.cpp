// Conditions, loops and macros: real scripts in the hide mode that write what
// they saw with text.save, and a few direct looks at the jump records.
#include <gtest/gtest.h>

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/handlers.h"
#include "engine/run_state.h"
#include "engine/script.h"
#include "engine/step_args.h"
#include "engine/var_store.h"
#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;
using tarvtest::Var;

// Marks the end of what the script added, so that an empty or one-byte text
// can still be saved (a save needs a selection of two bytes at least).
const std::string kEndMark = "||";

struct Seen {
  std::string out;  // the text the script saved; "<not saved>" when it did not
  int runErrors = 0;
  int nmsErrors = 0;
};

// A run error's message without the step and line prefix.
std::string RunError(int n) {
  std::string e = Var("run.error." + std::to_string(n));
  const std::string mark = "Error: [";
  size_t p = e.find(mark);
  if (p == std::string::npos || e.empty() || e.back() != ']') return e;
  return e.substr(p + mark.size(), e.size() - p - mark.size() - 1);
}

std::string NmsErrorText(int n) { return Var("nms.error." + std::to_string(n)); }

// Joins the lines; a line "@save" saves the whole text to out.txt and ends
// the run, so that macros may follow it.
std::string Script(const TempDir& dir, const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) {
    if (l == "@save") {
      s += "text.add {" + kEndMark + "}\n";
      s += "text.headpointer move to head\n";
      s += "text.tailpointer move to tail\n";
      s += "text.save to file {" + dir.File("out.txt") + "}\n";
      s += "run.end\n";
    } else {
      s += l + "\n";
    }
  }
  return s;
}

Seen Collect(const TempDir& dir) {
  Seen s;
  const std::string path = dir.File("out.txt");
  if (std::filesystem::exists(path)) {
    s.out = tarvtest::ReadFile(path);
    if (s.out.size() >= kEndMark.size() &&
        s.out.compare(s.out.size() - kEndMark.size(), kEndMark.size(), kEndMark) == 0)
      s.out.resize(s.out.size() - kEndMark.size());
  } else {
    s.out = "<not saved>";
  }
  s.runErrors = sgRun.RunErrors;
  s.nmsErrors = sgNms.ErrCount;
  return s;
}

// Runs the started script to its end, but stops a run that a wrong jump
// keeps going: no script here needs more steps than this.
constexpr int kStepBound = 100000;
void RunBounded(int bound = kStepBound) {
  for (int n = 0; n < bound && sgRun.StepRunState != RUNEND; n++) EsRunNextStep();
  EXPECT_EQ(sgRun.StepRunState, RUNEND) << "still running at line " << sgRun.CurLine;
  sgRun.StepRunState = RUNEND;
  TarvRunToEnd();
}

Seen RunLines(const TempDir& dir, const std::vector<std::string>& lines,
              int bound = kStepBound) {
  std::filesystem::remove(dir.File("out.txt"));
  tarvtest::Start(dir, Script(dir, lines));
  RunBounded(bound);
  return Collect(dir);
}

// A value for v, the test in `if.var {v} <test> {arg}`, and whether it holds.
struct IfVarCase {
  const char* value;
  const char* test;  // the words between the name and the argument
  const char* arg;
  bool holds;
};

// The block under each case's condition must run exactly when it holds, and
// no case is a run error.
void ExpectIfVar(std::span<const IfVarCase> cases) {
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("[") + c.value + "] " + c.test + " [" + c.arg + "]");
    Seen s = RunLines(dir, {"var {v} value {" + std::string(c.value) + "}",
                            "if.var {v} " + std::string(c.test) + " {" + c.arg + "}",
                            "text.add {TRUE}", "if.end", "text.add {end}", "@save"});
    EXPECT_EQ(s.out, c.holds ? "TRUEend" : "end");
    EXPECT_EQ(s.runErrors, 0) << RunError(1);
  }
}

// ---------------------------------------------------------------------------
// Numeric comparisons

TEST(IfVarCompare, EachOperatorTakesTheRightBranch) {
  const IfVarCase cases[] = {
      {"5", ">", "3", true},          {"3", ">", "3", false},
      {"3", ">=", "3", true},         {"2", ">=", "3", false},
      {"2", "<", "3", true},          {"3", "<", "3", false},
      {"3", "<=", "3", true},         {"4", "<=", "3", false},
      {"3", "==", "3", true},         {"3", "==", "4", false},
      {"3", "<>", "4", true},         {"3", "<>", "3", false},
      // Numbers, not texts: 10 is above 9.
      {"10", ">", "9", true},         {"007", "==", "7", true},
      // Blanks count as nothing to the integer check.
      {" 12 ", "==", "12", true},
      // An empty value passes the check and reads as 0.
      {"", "==", "0", true},          {"", "<", "1", true},
      // Values beyond 32 bits saturate before they are compared.
      {"4294967296", ">", "2147483646", true},
      {"99999999999", "==", "2147483647", true},
  };
  ExpectIfVar(cases);
}

TEST(IfVarCompare, ArgumentErrorsRunTheLineAfterTheCondition) {
  const std::string k63(63, 'n');
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    const char* message;
  } cases[] = {
      {"missing variable",
       {"if.var {nope} > {1}"},
       "Arg:2, GetVar len=-2  < 0 !"},
      {"name too long",
       {"if.var {" + k63 + "} > {1}"},
       "Length of Arg 2 is :63 > 62 !"},
      {"empty name", {"if.var {} > {1}"}, "Length of Arg 2 is :0  < 1 !"},
      {"signed value", {"var {v} value {-5}", "if.var {v} < {0}"}, "Arg:2 is not integer !"},
      {"decimal value", {"var {v} value {1.5}", "if.var {v} == {1}"}, "Arg:2 is not integer !"},
      {"argument not a number", {"var {v} value {1}", "if.var {v} == {one}"},
       "Arg:4 is not integer !"},
      {"empty argument", {"var {v} value {1}", "if.var {v} == {}"},
       "Length of Arg 4 is :0  < 1 !"},
  };
  TempDir dir;
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> lines = c.lines;
    for (const char* l : {"text.add {next}", "if.end", "text.add {end}", "@save"}) lines.push_back(l);
    Seen s = RunLines(dir, lines);
    EXPECT_EQ(s.out, "nextend");
    ASSERT_GE(s.runErrors, 1);
    EXPECT_EQ(RunError(s.runErrors), c.message);
  }
}

TEST(IfVarCompare, AValueLongerThanASlotIsAnArgumentError) {
  // Statements cannot build a 1023-byte value; the store can.
  TempDir dir;
  tarvtest::Start(dir, Script(dir, {"if.var {v} == {1}", "text.add {next}", "if.end", "@save"}));
  const std::string big(1023, '1');
  ASSERT_EQ(TarvSetVar4("v", 1, big.data(), 1023), 0);
  RunBounded();
  Seen s = Collect(dir);
  EXPECT_EQ(s.out, "next");
  ASSERT_EQ(s.runErrors, 1);
  EXPECT_EQ(RunError(1), "Arg:2, GetVar len=-3  < 0 !");
}

TEST(IfVarCompare, AFailedConditionSetsNoJump) {
  TempDir dir;
  tarvtest::Start(dir, "if.var {nope} > {1}\nif.end\n");
  EsRunNextStep();
  EXPECT_EQ(sgRun.GotoLine, 0);
  EXPECT_EQ(sgNms.JumpCache[1], 0);
  EXPECT_EQ(sgRun.CurLine, 2);
  EXPECT_EQ(sgRun.RunErrors, 1);
}

TEST(IfVarCompare, TheConvertedValuesStayInTheirSlots) {
  TempDir dir;
  tarvtest::Start(dir, "var {v} value {41}\nif.var {v} <> {  42}\nif.end\n");
  EsRunNextStep();
  EsRunNextStep();
  EXPECT_STREQ(agA[2], "41");
  EXPECT_EQ(igL[2], 2);
  EXPECT_EQ(igV[2], 41);
  EXPECT_EQ(igV[4], 42);
  EXPECT_EQ(sgRun.GotoLine, 0);  // 41 <> 42 holds
}

// ---------------------------------------------------------------------------
// Searches in a variable

TEST(IfVarSearch, ContainAndInBothWays) {
  const IfVarCase cases[] = {
      {"hello world", "contain", "lo w", true},
      {"hello world", "contain", "world!", false},
      {"hello world", "contain", "Hello", false},  // bytes, with their case
      {"hello world", "not contain", "xyz", true},
      {"hello world", "not contain", "lo", false},
      {"ell", "in", "hello", true},
      {"hello", "in", "ell", false},
      {"abc", "not in", "hello", true},
      {"ell", "not in", "hello", false},
      // Nothing is checked: an empty argument is in every value and an
      // empty value in every argument.
      {"hello", "contain", "", true},
      {"hello", "not contain", "", false},
      {"", "in", "hello", true},
      {"", "not in", "hello", false},
      {"", "contain", "x", false},
  };
  ExpectIfVar(cases);
}

TEST(IfVarSearch, ArgumentErrorsCountAsFalseEvenWhenNegated) {
  const std::string k63(63, 'n');
  struct Case {
    std::string line;
    const char* message;
  } cases[] = {
      {"if.var {nope} contain {a}", "Arg:2, 变量不存在!"},
      {"if.var {nope} not contain {a}", "Arg:2, 变量不存在!"},
      {"if.var {nope} in {a}", "Arg:2, 变量不存在!"},
      {"if.var {nope} not in {a}", "Arg:2, 变量不存在!"},
      {"if.var {" + k63 + "} not in {a}", "Length of Arg 2 is :63 > 62 !"},
      {"if.var {} contain {a}", "Length of Arg 2 is :0  < 1 !"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Seen s = RunLines(dir, {c.line, "text.add {TRUE}", "if.end", "text.add {end}", "@save"});
    EXPECT_EQ(s.out, "end");
    ASSERT_EQ(s.runErrors, 1);
    EXPECT_EQ(RunError(1), c.message);
  }
}

// ---------------------------------------------------------------------------
// Searches in the selected text

struct TextCase {
  const char* what;
  int head, tail;           // the selection in the text "abcdef"
  const char* test;         // "contain" or "not contain"
  const char* arg;
  bool holds;
  const char* message;      // the run error, "" none
};

TEST(IfText, SearchesTheSelectionOnly) {
  const TextCase cases[] = {
      {"inside", 1, 6, "contain", "bcd", true, ""},
      {"at the start", 1, 6, "contain", "abc", true, ""},
      // An occurrence that ends on tailPointer itself is not found.
      {"ending on the tail", 1, 6, "contain", "def", false, ""},
      {"ending on the tail, negated", 1, 6, "not contain", "def", true, ""},
      {"before the head", 3, 6, "contain", "ab", false, ""},
      {"found, negated", 1, 6, "not contain", "bcd", false, ""},
      {"not found", 1, 6, "contain", "xy", false, ""},
      // Head 0 starts the selection at the zero byte before the text.
      {"from byte 0", 0, 6, "contain", "abcde", true, ""},
      {"shorter than the argument", 2, 4, "contain", "bcd", false, ""},
      {"shorter, negated", 2, 4, "not contain", "bcd", true, ""},
      {"head past tail", 5, 2, "contain", "c", false, ""},
      {"tail past the text", 1, 7, "contain", "bcd", false,
       "sgRun.headPointer <0 || sgRun.tailPointer <0 || sgRun.tailPointer > sgRun.TextLen !"},
      {"tail past the text, negated", 1, 7, "not contain", "bcd", true, ""},
      {"negative head", -1, 6, "contain", "bcd", false,
       "sgRun.headPointer <0 || sgRun.tailPointer <0 || sgRun.tailPointer > sgRun.TextLen !"},
      {"negative head, negated", -1, 6, "not contain", "bcd", true, ""},
      {"empty argument", 1, 6, "contain", "", false, "Length of Arg 3 is :0  < 1 !"},
      {"empty argument, negated", 1, 6, "not contain", "", false,
       "Length of Arg 4 is :0  < 1 !"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string arg = c.arg;
    // The text is set before the condition runs; the pointers are placed
    // directly, as the pointer statements would.
    std::filesystem::remove(dir.File("out.txt"));
    tarvtest::Start(dir, Script(dir, {"text.add {abcdef}",
                                      "if.text " + std::string(c.test) + " {" + arg + "}",
                                      "text.add {TRUE}", "if.end", "text.add {end}", "@save"}));
    EsRunNextStep();
    ASSERT_EQ(sgRun.TextLen, 6);
    sgRun.headPointer = c.head;
    sgRun.tailPointer = c.tail;
    RunBounded();
    Seen s = Collect(dir);
    EXPECT_EQ(s.out, c.holds ? "abcdefTRUEend" : "abcdefend");
    if (*c.message) {
      ASSERT_EQ(s.runErrors, 1);
      EXPECT_EQ(RunError(1), c.message);
    } else {
      EXPECT_EQ(s.runErrors, 0) << RunError(1);
    }
  }
}

TEST(IfText, AnArgumentOverTheRoomCountsAsFalse) {
  // Step preparation never fills more than 1021 bytes; the handlers check
  // the length all the same.
  struct Case {
    int (*handler)();
    int slot;
    const char* message;
  } cases[] = {{if_text_contain_a3, 3, "Length of Arg 3 is :1023 > 1022 !"},
               {if_text_not_contain_a4, 4, "Length of Arg 4 is :1023 > 1022 !"}};
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.slot);
    tarvtest::Start(dir, c.slot == 3 ? "if.text contain {abc}\nif.end\n"
                                     : "if.text not contain {abc}\nif.end\n");
    ASSERT_EQ(EsPrepareStep(), 0);
    igL[c.slot] = 1023;
    EXPECT_EQ(c.handler(), -4);
    EXPECT_EQ(sgRun.GotoLine, 2);
    ASSERT_EQ(sgRun.RunErrors, 1);
    EXPECT_EQ(RunError(1), c.message);
  }
}

TEST(IfText, AtTheStartOfARunNothingIsSelected) {
  TempDir dir;
  Seen s = RunLines(dir, {"if.text contain {a}", "text.add {c}", "if.end",
                          "if.text not contain {a}", "text.add {n}", "if.end", "@save"});
  EXPECT_EQ(s.out, "n");
  EXPECT_EQ(s.runErrors, 0) << RunError(1);
}

// ---------------------------------------------------------------------------
// Nesting and the if.end search

TEST(IfNesting, AFalseConditionAtAnyDepthSkipsItsWholeBlock) {
  // Three nested conditions on d1, d2, d3; each depth adds a letter before
  // and after the block inside it.
  TempDir dir;
  for (int bits = 0; bits < 8; bits++) {
    const bool d1 = bits & 1, d2 = bits & 2, d3 = bits & 4;
    SCOPED_TRACE(bits);
    Seen s = RunLines(dir, {
        "var {d1} value {" + std::string(d1 ? "1" : "0") + "}",
        "var {d2} value {" + std::string(d2 ? "1" : "0") + "}",
        "var {d3} value {" + std::string(d3 ? "1" : "0") + "}",
        "if.var {d1} == {1}",
        "  text.add {a}",
        "  if.var {d2} == {1}",
        "    text.add {b}",
        "    if.var {d3} == {1}",
        "      text.add {c}",
        "    if.end",
        "    text.add {B}",
        "  if.end",
        "  text.add {A}",
        "if.end",
        "text.add {end}",
        "@save"});
    std::string want;
    if (d1) {
      want += "a";
      if (d2) {
        want += "b";
        if (d3) want += "c";
        want += "B";
      }
      want += "A";
    }
    want += "end";
    EXPECT_EQ(s.out, want);
    EXPECT_EQ(s.runErrors, 0) << RunError(1);
  }
}

TEST(IfNesting, EveryKindOfConditionOpensANestedBlock) {
  // An outer false condition must skip inner blocks opened by if.text and
  // by the other if.var forms together with their own if.end.
  TempDir dir;
  Seen s = RunLines(dir, {"var {v} value {abc}", "if.var {v} contain {zzz}",
                          "  if.text contain {x}", "  if.end",
                          "  if.var {v} not in {x}", "  if.end",
                          "  text.add {inner}",
                          "if.end", "text.add {end}", "@save"});
  EXPECT_EQ(s.out, "end");
  EXPECT_EQ(s.runErrors, 0) << RunError(1);
}

TEST(IfNesting, SearchFailures) {
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    const char* out;
    const char* message;
  } cases[] = {
      {"no if.end below", {"var {a} value {1}", "if.var {a} == {2}", "text.add {after}", "@save"},
       "after", "EsGotoIfEnd Error! NotFound if.end Line"},
      {"the only if.end belongs to an inner condition",
       {"var {a} value {1}", "if.var {a} == {2}", "if.var {a} == {1}", "if.end",
        "text.add {after}", "@save"},
       "after", "EsGotoIfEnd Error! NotFound if.end Line"},
      {"an if.end above does not count",
       {"if.end", "var {a} value {1}", "if.var {a} == {2}", "text.add {after}", "@save"},
       "after", "EsGotoIfEnd Error! NotFound if.end Line"},
      {"a macro.begin in the way",
       {"var {a} value {1}", "if.var {a} == {2}", "text.add {x}", "@save", "macro.begin {m}",
        "if.end", "macro.end"},
       "x", "EsGotoIfEnd Error Find: macro.begin Line=9"},
      {"a macro.end in the way",
       {"var {a} value {1}", "if.var {a} == {2}", "text.add {x}", "@save", "macro.end",
        "if.end"},
       "x", "EsGotoIfEnd Error Find: macro.end Line=9"},
      {"a bare macro.begin line still counts by its first word",
       {"var {a} value {1}", "if.var {a} == {2}", "text.add {x}", "@save", "macro.begin",
        "if.end"},
       "x", "EsGotoIfEnd Error Find: macro.begin Line=9"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Seen s = RunLines(dir, c.lines);
    EXPECT_EQ(s.out, c.out);
    ASSERT_EQ(s.runErrors, 1);
    EXPECT_EQ(RunError(1), c.message);
    EXPECT_EQ(sgRun.GotoLine, 0);
  }
}

TEST(IfNesting, AnIfEndWithACommentAfterItIsNoTarget) {
  // The line does not match if.end, but its first word is if.end: the
  // search goes by first words.
  TempDir dir;
  Seen s = RunLines(dir, {"var {a} value {1}", "if.var {a} == {2}", "text.add {x}",
                          "if.end #done", "text.add {y}", "@save"});
  EXPECT_EQ(s.out, "y");
  EXPECT_EQ(s.runErrors, 0) << RunError(1);
}

// ---------------------------------------------------------------------------
// Loops

TEST(Loop, ACounterInAVariableEndsTheLoop) {
  TempDir dir;
  Seen s = RunLines(dir, {"var {i} value {0}", "loop.begin", "  var {i} add number {1}",
                          "  if.var {i} > {4}", "    loop.exit", "  if.end",
                          "  text.add {~i~,}", "loop.next", "text.add {never}", "loop.end",
                          "text.add {done}", "@save"});
  EXPECT_EQ(s.out, "1,2,3,4,done");
  EXPECT_EQ(s.runErrors, 0) << RunError(1);
  EXPECT_EQ(s.nmsErrors, 0);
  EXPECT_EQ(sgRun.LoopTimes, 5);
}

TEST(Loop, LoopEndGoesBackToItsBeginToo) {
  TempDir dir;
  Seen s = RunLines(dir, {"var {i} value {0}", "loop.begin", "  var {i} add number {1}",
                          "  text.add {~i~}", "  if.var {i} >= {3}", "    loop.exit",
                          "  if.end", "loop.end", "text.add {.}", "@save"});
  EXPECT_EQ(s.out, "123.");
  EXPECT_EQ(sgRun.LoopTimes, 3);
}

TEST(Loop, ExitFromTheInnerLoopLeavesOnlyThatLoop) {
  TempDir dir;
  Seen s = RunLines(dir, {"var {i} value {0}",
                          "loop.begin",
                          "  var {i} add number {1}",
                          "  if.var {i} > {3}",
                          "    loop.exit",
                          "  if.end",
                          "  var {j} value {0}",
                          "  loop.begin",
                          "    var {j} add number {1}",
                          "    if.var {j} > {2}",
                          "      loop.exit",
                          "    if.end",
                          "    text.add {~i~.~j~ }",
                          "  loop.next",
                          "  loop.end",
                          "  text.add {|}",
                          "loop.end",
                          "text.add {end}",
                          "@save"});
  EXPECT_EQ(s.out, "1.1 1.2 |2.1 2.2 |3.1 3.2 |end");
  EXPECT_EQ(s.runErrors, 0) << RunError(1);
  EXPECT_EQ(s.nmsErrors, 0) << NmsErrorText(1);
  // Four passes of the outer loop, three of the inner one in each of the
  // three full outer passes: one counter for all loops.
  EXPECT_EQ(sgRun.LoopTimes, 4 + 3 * 3);
}

TEST(Loop, SearchFailuresAreScriptErrorsAndTheNextLineRuns) {
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    const char* out;
    const char* message;
  } cases[] = {
      {"no loop.begin above", {"text.add {a}", "loop.next", "text.add {b}", "@save"}, "ab",
       "EsGotoLoopBegin Error NotFind loop.begin"},
      {"loop.end without a begin", {"loop.end", "text.add {b}", "@save"}, "b",
       "EsGotoLoopBegin Error NotFind loop.begin"},
      {"the begin above belongs to a closed loop",
       {"loop.begin", "loop.exit", "loop.end", "text.add {a}", "loop.next", "text.add {b}",
        "@save"},
       "ab", "EsGotoLoopBegin Error NotFind loop.begin"},
      {"a macro.begin in the way back",
       {"macro.call {m}", "@save", "loop.begin", "macro.begin {m}", "text.add {in}",
        "loop.next", "text.add {on}", "macro.end"},
       "inon", "EsGotoLoopBegin Error Find: macro.begin Line=8"},
      {"a macro.end in the way back",
       {"text.add {a}", "loop.begin", "macro.end", "loop.next", "text.add {b}", "@save"},
       "ab", "EsGotoLoopBegin Error Find: macro.end Line=3"},
      {"no loop.end below", {"text.add {a}", "loop.exit", "text.add {b}"}, "<not saved>",
       "EsGotoLoopEnd Error NotFind loop.end"},
      {"a run.end in the way", {"text.add {a}", "loop.exit", "text.add {b}", "@save", "loop.end"},
       "ab", "EsGotoLoopEnd Error Find: run.end Line=8"},
      {"a macro.begin in the way forward",
       {"text.add {a}", "loop.exit", "text.add {b}", "macro.begin {m}", "@save", "loop.end"},
       "ab", "EsGotoLoopEnd Error Find: macro.begin Line=4"},
      {"a macro.end in the way forward",
       {"text.add {a}", "loop.exit", "text.add {b}", "macro.end", "@save", "loop.end"}, "ab",
       "EsGotoLoopEnd Error Find: macro.end Line=4"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Seen s = RunLines(dir, c.lines);
    EXPECT_EQ(s.out, c.out);
    ASSERT_EQ(s.nmsErrors, 1);
    EXPECT_EQ(NmsErrorText(1), c.message);
    EXPECT_EQ(Var("nms.errors"), "1");
  }
}

TEST(Loop, ALoopSearchFailureIsNoRunError) {
  TempDir dir;
  tarvtest::Start(dir, "text.add {a}\nloop.next\n");
  EsRunNextStep();
  EsRunNextStep();
  EXPECT_EQ(sgRun.RunErrors, 0);
  EXPECT_EQ(sgRun.StepErrors, 0);
  EXPECT_EQ(sgNms.ErrorSteps[2], 0);
  EXPECT_EQ(sgRun.GotoLine, 0);
  EXPECT_EQ(sgNms.JumpCache[2], 0);
}

TEST(Loop, ARunawayLoopIsStoppedByTheMaximumRunTime) {
  TempDir dir;
  Seen s = RunLines(dir, {"text.add {x}", "run.set run.maxtime {1} seconds", "loop.begin",
                          "loop.next", "loop.end", "text.add {never}", "@save"},
                    1 << 30);
  EXPECT_EQ(s.out, "<not saved>");
  EXPECT_EQ(Var("run.end"), "MaxRunTime");
  EXPECT_EQ(s.runErrors, 0);
  EXPECT_GT(sgRun.LoopTimes, 1);
  EXPECT_EQ(sgRun.TextLen, 1);
}

TEST(Loop, ARunawayLoopInTheBinaryEndsWithExitCodeZero) {
  TempDir dir;
  const std::string out = dir.File("before.txt");
  std::string script = dir.Write(
      "runaway.nms", "text.add {started}\ntext.headpointer move to head\n"
                     "text.tailpointer move to tail\ntext.save to file {" + out + "}\n"
                     "run.set run.maxtime {1} seconds\nloop.begin\nloop.next\nloop.end\n");
  auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script}, dir.path().string(), 60);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(out), "started");
}

// ---------------------------------------------------------------------------
// Macros

// A chain of macros m1..m{n}: each adds "k,", calls the next one, then adds
// "<k"; m{n} calls nothing.  Macros sit below the calling lines.
std::vector<std::string> MacroChain(int n) {
  std::vector<std::string> lines = {"macro.call {m1}", "text.add {main}", "@save"};
  for (int k = 1; k <= n; k++) {
    const std::string ks = std::to_string(k);
    lines.push_back("macro.begin {m" + ks + "}");
    lines.push_back("text.add {" + ks + ",}");
    if (k < n) lines.push_back("macro.call {m" + std::to_string(k + 1) + "}");
    lines.push_back("text.add {<" + ks + "}");
    lines.push_back("macro.end");
  }
  return lines;
}

std::string ChainOutput(int entered) {
  std::string s;
  for (int k = 1; k <= entered; k++) s += std::to_string(k) + ",";
  for (int k = entered; k >= 1; k--) s += "<" + std::to_string(k);
  return s + "main";
}

TEST(Macro, CallsNestToDepthNineteen) {
  TempDir dir;
  Seen s = RunLines(dir, MacroChain(19));
  EXPECT_EQ(s.out, ChainOutput(19));
  EXPECT_EQ(s.runErrors, 0) << RunError(1);
  EXPECT_EQ(sgRun.MacroDepth, 0);
}

TEST(Macro, TheTwentiethCallIsRefusedAndDoesNotJump) {
  TempDir dir;
  Seen s = RunLines(dir, MacroChain(20));
  // m19's call of m20 is refused; m19 goes on with its next line.
  EXPECT_EQ(s.out, ChainOutput(19));
  ASSERT_EQ(s.runErrors, 1);
  EXPECT_EQ(RunError(1), "EsGotoMacroBegin Error, too many calls.");
  EXPECT_EQ(sgRun.MacroDepth, 0);
}

TEST(Macro, ARefusedCallServedFromTheCacheDoesNotJumpEither) {
  // m19 calls m20 three times from one line: the first search fills the
  // cache, the later calls take it, and every one is refused.
  std::vector<std::string> lines = MacroChain(18);
  lines.back() = "macro.end";
  // m18 calls m19 before its "<18".
  lines.insert(lines.end() - 2, "macro.call {m19}");
  for (const char* l : {"macro.begin {m19}", "text.add {19,}", "var {k} value {0}", "loop.begin",
                        "var {k} add number {1}", "if.var {k} > {3}", "loop.exit", "if.end",
                        "macro.call {m20}", "loop.next", "loop.end", "text.add {<19}",
                        "macro.end", "macro.begin {m20}", "text.add {20,}", "macro.end"})
    lines.push_back(l);
  TempDir dir;
  Seen s = RunLines(dir, lines);
  EXPECT_EQ(s.out, ChainOutput(19));
  ASSERT_EQ(s.runErrors, 3);
  for (int n = 1; n <= 3; n++) EXPECT_EQ(RunError(n), "EsGotoMacroBegin Error, too many calls.");
  EXPECT_EQ(sgRun.MacroDepth, 0);
}

TEST(Macro, DepthCheckComesBeforeTheJumpOnACacheHit) {
  TempDir dir;
  tarvtest::Start(dir, "macro.call {m}\nrun.end\nmacro.begin {m}\nmacro.end\n");
  sgNms.JumpCache[1] = 3;
  sgRun.MacroDepth = MACRO_DEPTH - 1;
  EsRunNextStep();
  EXPECT_EQ(sgRun.GotoLine, 0);
  EXPECT_EQ(sgRun.CurLine, 2);
  EXPECT_EQ(sgRun.MacroDepth, MACRO_DEPTH - 1);
  EXPECT_EQ(sgRun.RunErrors, 1);

  tarvtest::Start(dir, "macro.call {m}\nrun.end\nmacro.begin {m}\nmacro.end\n");
  sgNms.JumpCache[1] = 3;
  sgRun.MacroDepth = MACRO_DEPTH - 2;
  EsRunNextStep();
  EXPECT_EQ(sgRun.GotoLine, 3);
  EXPECT_EQ(sgRun.MacroDepth, MACRO_DEPTH - 1);
  EXPECT_EQ(sgRun.MacroStack[MACRO_DEPTH - 1], 1);
  EXPECT_EQ(sgRun.RunErrors, 0);
}

TEST(Macro, ReturnLeavesEarlyAndEndsWithoutACallAreRefused) {
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    const char* out;
    const char* message;  // the only run error, "" none
  } cases[] = {
      {"macro.return leaves the macro",
       {"macro.call {m}", "text.add {back}", "@save", "macro.begin {m}", "text.add {in,}",
        "macro.return", "text.add {never}", "macro.end"},
       "in,back", ""},
      {"macro.return at depth 0", {"macro.return", "text.add {next}", "@save"}, "next",
       "macro_return Error, no call."},
      {"macro.end at depth 0", {"macro.end", "text.add {next}", "@save"}, "next",
       "macro_end Error, no call."},
      {"a macro reached by ordinary flow runs",
       {"text.add {a}", "macro.begin {m}", "text.add {b}", "macro.end", "text.add {c}", "@save"},
       "abc", "macro_end Error, no call."},
      {"a call finds only macros below it",
       {"macro.begin {m}", "text.add {in}", "macro.call {m}", "text.add {after}", "@save"},
       "inafter", "EsGotoMacroBegin Error NotFind macro.begin {m}"},
      {"names are compared exactly",
       {"macro.call {M}", "text.add {next}", "@save", "macro.begin {m}", "text.add {in}",
        "macro.end"},
       "next", "EsGotoMacroBegin Error NotFind macro.begin {M}"},
      {"the first macro of the name wins",
       {"macro.call {m}", "@save", "macro.begin {m}", "text.add {1st}", "macro.end",
        "macro.begin {m}", "text.add {2nd}", "macro.end"},
       "1st", ""},
      {"a name built from a variable",
       {"var {n} value {mac}", "macro.call {~n~}", "@save", "macro.begin {mac}", "text.add {in}",
        "macro.end"},
       "in", ""},
      {"a macro.begin name is filled like an argument",
       {"var {n} value {mac}", "macro.call {mac}", "@save", "macro.begin {~n~}",
        "text.add {in}", "macro.end"},
       "in", ""},
      {"empty name", {"macro.call {}", "text.add {next}", "@save"}, "next",
       "Length of Arg 2 is :0  < 1 !"},
      {"name too long", {"macro.call {" + std::string(63, 'm') + "}", "text.add {next}", "@save"},
       "next", "Length of Arg 2 is :63 > 62 !"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Seen s = RunLines(dir, c.lines);
    EXPECT_EQ(s.out, c.out);
    if (*c.message) {
      ASSERT_EQ(s.runErrors, 1);
      EXPECT_EQ(RunError(1), c.message);
    } else {
      EXPECT_EQ(s.runErrors, 0) << RunError(1);
    }
    EXPECT_EQ(s.nmsErrors, 0) << NmsErrorText(1);
  }
}

TEST(Macro, ABareMacroBeginAsTheLastWordIsNoMatchAndNoScriptError) {
  // The word after the script's last word does not exist: the search must
  // not read it.
  TempDir dir;
  tarvtest::Run(dir, "macro.call {m}\nvar {after} value {1}\nmacro.begin");
  EXPECT_EQ(Var("after"), "1");
  EXPECT_EQ(sgRun.RunErrors, 1);
  EXPECT_EQ(RunError(1), "EsGotoMacroBegin Error NotFind macro.begin {m}");
  EXPECT_EQ(sgNms.ErrCount, 0) << NmsErrorText(1);
}

TEST(Macro, TheStackRecordsCallingLines) {
  TempDir dir;
  tarvtest::Start(dir, "macro.call {a}\nrun.end\nmacro.begin {a}\nmacro.call {b}\nmacro.end\n"
                       "macro.begin {b}\nmacro.end\n");
  EsRunNextStep();  // call a
  EXPECT_EQ(sgRun.GotoLine, 3);
  EXPECT_EQ(sgRun.MacroDepth, 1);
  EXPECT_EQ(sgRun.MacroStack[1], 1);
  EsRunNextStep();  // macro.begin a
  EsRunNextStep();  // call b
  EXPECT_EQ(sgRun.MacroDepth, 2);
  EXPECT_EQ(sgRun.MacroStack[2], 4);
  EXPECT_EQ(sgRun.MacroStack[0], 0);
  EsRunNextStep();  // macro.begin b
  EsRunNextStep();  // macro.end of b: back after line 4
  EXPECT_EQ(sgRun.GotoLine, 5);
  EXPECT_EQ(sgRun.MacroDepth, 1);
  EsRunNextStep();  // macro.end of a: back after line 1
  EXPECT_EQ(sgRun.GotoLine, 2);
  EXPECT_EQ(sgRun.MacroDepth, 0);
}

// ---------------------------------------------------------------------------
// The jump cache

TEST(JumpCache, ASecondPassIsServedFromTheCache) {
  // The called name changes after the first pass; the cached target stays.
  TempDir dir;
  Seen s = RunLines(dir, {"var {name} value {a}",      // 1
                          "var {k} value {0}",         // 2
                          "loop.begin",                // 3
                          "  var {k} add number {1}",  // 4
                          "  if.var {k} > {2}",        // 5
                          "    loop.exit",             // 6
                          "  if.end",                  // 7
                          "  macro.call {~name~}",     // 8
                          "  var {name} value {b}",    // 9
                          "loop.next",                 // 10
                          "loop.end",                  // 11
                          "@save",                     // 12..16
                          "macro.begin {a}", "text.add {A}", "macro.end",
                          "macro.begin {b}", "text.add {B}", "macro.end"});
  EXPECT_EQ(s.out, "AA");
  EXPECT_EQ(s.runErrors, 0) << RunError(1);
  EXPECT_EQ(sgNms.JumpCache[5], 7);    // if.var: its if.end
  EXPECT_EQ(sgNms.JumpCache[6], 11);   // loop.exit: the loop.end line itself
  EXPECT_EQ(sgNms.JumpCache[8], 17);   // macro.call {a}
  EXPECT_EQ(sgNms.JumpCache[10], 3);   // loop.next: its loop.begin
  EXPECT_EQ(sgNms.JumpCache[9], 0);    // no jump statement
}

TEST(JumpCache, ACachedTargetIsTakenWithoutASearch) {
  // A target placed in the cache is used as it stands, even where a search
  // would find another line.
  TempDir dir;
  tarvtest::Start(dir, Script(dir, {"var {a} value {1}", "if.var {a} == {2}", "text.add {x}",
                                    "text.add {y}", "if.end", "text.add {z}", "@save"}));
  sgNms.JumpCache[2] = 4;
  RunBounded();
  Seen s = Collect(dir);
  EXPECT_EQ(s.out, "yz");
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
// The debug log of a run at level 4

TEST(ControlFlowLog, TheDebugLogNamesTheJumps) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("log"));
  tarvtest::Run(dir,
                "var {v} value {abc}\nloop.begin\nif.var {v} contain {b}\nloop.exit\nif.end\n"
                "loop.next\nloop.end\nmacro.call {m}\nrun.end\nmacro.begin {m}\nmacro.end\n",
                "debug");
  std::string log;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("log")))
    log += tarvtest::ReadFile(e.path().string());
  for (const char* entry :
       {"loop_begin ,LoopTimes = 0,begin ...", "if_var_a2_contain_a4 return ture.",
        "loop_exit ,begin ...,LoopTimes=[1]", "EsGotoLoopEnd New Find Line=7 ret ok",
        "EsGotoMacroBegin New Find Line=10 ret ok", "macro_begin_a2 ,begin ...,call time=1,called step=8",
        "macro_end return."})
    EXPECT_NE(log.find(entry), std::string::npos) << entry;
}

}  // namespace

namespace {

// The benchmark scripts run through the binary: a pass is five steps, and
// the script saves how many steps came before its save.
TEST(ControlFlowBinary, TheBenchmarkLoopsCountTheirSteps) {
  struct Case {
    const char* script;
    int passes;
    int stepsBefore;  // steps outside the passes
    bool logs;
  } cases[] = {{"loop_hide.nms", 1000, 2, false}, {"loop_log4.nms", 50, 3, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    TempDir dir;
    std::filesystem::copy_file(tarvtest::TarvBinary(), dir.File("tarv"));
    std::filesystem::permissions(dir.File("tarv"), std::filesystem::perms::owner_all);
    std::filesystem::create_directory(dir.File("log"));
    const std::string script = std::string(TARV_SOURCE_DIR) + "/bench/scripts/" + c.script;
    auto r = tarvtest::RunProgram(dir.File("tarv"), {"hide", script, std::to_string(c.passes)},
                                  dir.path().string(), 120);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(tarvtest::ReadFile(dir.File("steps.txt")),
              std::to_string(5 * c.passes + c.stepsBefore) + " steps");
    std::string log;
    for (const auto& e : std::filesystem::directory_iterator(dir.File("log")))
      log += tarvtest::ReadFile(e.path().string());
    if (c.logs) {
      EXPECT_NE(log.find("loop_next ,LoopTimes=[" + std::to_string(c.passes - 1) + "],begin ..."),
                std::string::npos);
      EXPECT_NE(log.find("EsGotoLoopBegin Found Line="), std::string::npos);
    } else {
      EXPECT_EQ(log, "");
    }
  }
}

}  // namespace
