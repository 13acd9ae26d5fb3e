// Conditions, loops and macros: real scripts in the hide mode that write what
// they saw with text.save, and a few direct looks at the jump records.
#include <gtest/gtest.h>

#include <cstring>
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

// The lines joined, run through the shared runner.
tarvtest::Outcome RunLines(const TempDir& dir, const std::vector<std::string>& lines,
                           long maxSteps = 100000) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return tarvtest::RunCase(dir, s, {}, "hide", maxSteps);
}

// ---------------------------------------------------------------------------
// if.var (its comparisons, searches and argument errors: tests/e2e/scripts/if_var*.nms)

TEST(IfVarCompare, AValueLongerThanASlotIsAnArgumentError) {
  // Statements cannot build a 1023-byte value; the store can.
  TempDir dir;
  const std::string big(1023, '1');
  auto s = tarvtest::RunCase(dir, "if.var {v} == {1}\ntext.add {next}\nif.end\n",
                             [&] { ASSERT_EQ(TarvSetVar4("v", 1, big.data(), 1023), 0); });
  EXPECT_EQ(s.text, "next");
  EXPECT_EQ(s.errors, Errs{"Arg:2, GetVar len=-3  < 0 !"});
}

// The other selections: tests/e2e/scripts/if_text.nms.  No statement sets a
// negative head.
TEST(IfText, ANegativeHeadIsASelectionError) {
  TempDir dir;
  auto s = tarvtest::RunCase(dir, "if.text contain {bcd}\ntext.add {TRUE}\nif.end\n", [] {
    std::memcpy(sgRun.Text.data() + 1, "abcdef", 6);
    sgRun.TextLen = 6;
    sgRun.headPointer = -1;
    sgRun.tailPointer = 6;
  });
  EXPECT_EQ(s.text, "abcdef");
  EXPECT_EQ(s.errors, Errs{"sgRun.headPointer <0 || sgRun.tailPointer <0 || "
                           "sgRun.tailPointer > sgRun.TextLen !"});
}

// ---------------------------------------------------------------------------
// Loops (nested loops and the debug log's jump entries: tests/e2e/scripts/loops.nms;
// nesting, the if.end search and the loop searches: flow_*.nms)

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

// Calls nesting to the deepest and one past it: cases/macros.cases.
TEST(Macro, Cases) { tarvtest::ExpectCaseFile("macros.cases"); }

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

TEST(JumpCache, FailedSearchesLeaveTheCacheEmpty) {
  TempDir dir;
  tarvtest::Run(dir, "var {a} value {1}\nif.var {a} == {2}\nloop.next\nloop.exit\n"
                     "macro.call {m}\n");
  for (int line = 1; line <= 5; line++) EXPECT_EQ(sgNms.JumpCache[line], 0) << line;
  EXPECT_EQ(sgRun.RunErrors, 2);
  EXPECT_EQ(sgNms.ErrCount, 2);
}

}  // namespace
