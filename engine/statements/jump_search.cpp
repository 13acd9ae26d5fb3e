// Target searches of the condition, loop and macro statements.  Lines are
// told apart by their first word alone, whatever statement they matched;
// nested openers and closers are counted so that an inner block is skipped
// whole.  A block may not span a macro boundary: meeting macro.begin or
// macro.end ends a search with an error.
#include "engine/statements/jump_search.h"

#include <algorithm>

#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/step_args.h"

namespace {

bool FirstWordIs(int line, const char* key) { return EsStepIsKey2(line, key) == 0; }

int LastLine() { return std::min(sgNms.LineCount, MAX_LINES); }

// The macro.begin below `from` named `name`, or 0.  The name is the word
// after macro.begin, filled like an argument; a script whose last word is a
// bare macro.begin has no such word.
int FindMacro(int from, const char* name, int len) {
  for (int L = from + 1; L <= LastLine(); L++) {
    if (!FirstWordIs(L, "macro.begin")) continue;
    const int w = sgNms.FirstWord[L] + 1;
    if (w > sgNms.WordCount) continue;
    if (EsIsArg3(w, name, len) == 0) return L;
  }
  return 0;
}

}  // namespace

int EsGotoIfEnd() {
  const int cur = sgRun.CurLine;
  if (sgNms.JumpCache[cur] > 0) {
    sgRun.GotoLine = sgNms.JumpCache[cur];
    TarvDebugLog("\nGoto if.end Line=%d ......", sgRun.GotoLine);
    return TarvReturn(0, "EsGotoIfEnd Found Line=%d ret ok", sgRun.GotoLine);
  }
  int n = 0;
  for (int L = cur + 1; L <= LastLine(); L++) {
    if (FirstWordIs(L, "if.end")) {
      if (n == 0) {
        sgRun.GotoLine = L;
        sgNms.JumpCache[cur] = L;
        TarvDebugLog("\nFind if.end, Line=%d ,Goto if.end ......", L);
        return TarvReturn(0, "EsGotoIfEnd New Find Line=%d ret ok", L);
      }
      n--;
      TarvDebugLog("\n\r\n Find New If.end Line=%d,IfCount = %d", L, n);
    } else if (FirstWordIs(L, "if.var") || FirstWordIs(L, "if.text")) {
      n++;
      TarvDebugLog("\n\r\n Find New if.var/if.text Line=%d,IfCount = %d", L, n);
    } else if (FirstWordIs(L, "macro.begin")) {
      TarvDebugLog("\n\r\n Find macro.begin Line=%d,IfCount = %d", L, n);
      return NmsRunError(-2, "EsGotoIfEnd Error Find: macro.begin Line=%d", L);
    } else if (FirstWordIs(L, "macro.end")) {
      TarvDebugLog("\n\r\n Find macro.end Line=%d,IfCount = %d", L, n);
      return NmsRunError(-3, "EsGotoIfEnd Error Find: macro.end Line=%d", L);
    }
  }
  return NmsRunError(-9, "EsGotoIfEnd Error! NotFound if.end Line");
}

void EsGotoLoopBegin() {
  const int cur = sgRun.CurLine;
  if (sgNms.JumpCache[cur] > 0) {
    sgRun.GotoLine = sgNms.JumpCache[cur];
    TarvDebugLog("\n\r\nEsGotoLoopBegin Found Line=%d ret ok", sgRun.GotoLine);
    TarvReturn(0, "EsGotoLoopBegin Found Line=%d ret ok", sgRun.GotoLine);
    return;
  }
  int n = 0;
  for (int L = std::min(cur - 1, LastLine()); L >= 1; L--) {
    if (FirstWordIs(L, "loop.begin")) {
      if (n == 0) {
        sgRun.GotoLine = L;
        sgNms.JumpCache[cur] = L;
        TarvDebugLog("\n\r\nEsGotoLoopBegin New Find Line=%d ret ok", L);
        TarvReturn(0, "EsGotoLoopBegin New Find Line=%d ret ok", L);
        return;
      }
      n--;
      TarvDebugLog("\n\r\n Find New Loop.begin Line=%d,LoopCount = %d", L, n);
    } else if (FirstWordIs(L, "loop.end")) {
      n++;
      TarvDebugLog("\n\r\n Find New loop.end Line=%d,LoopCount = %d", L, n);
    } else if (FirstWordIs(L, "macro.begin")) {
      TarvDebugLog("\n\r\n Find macro.begin Line=%d,LoopCount = %d", L, n);
      NmsError(-2, "EsGotoLoopBegin Error Find: macro.begin Line=%d", L);
      return;
    } else if (FirstWordIs(L, "macro.end")) {
      TarvDebugLog("\n\r\n Find macro.end Line=%d,LoopCount = %d", L, n);
      NmsError(-3, "EsGotoLoopBegin Error Find: macro.end Line=%d", L);
      return;
    }
  }
  NmsError(-9, "EsGotoLoopBegin Error NotFind loop.begin");
}

void EsGotoLoopEnd() {
  const int cur = sgRun.CurLine;
  if (sgNms.JumpCache[cur] > 0) {
    // The cache holds the loop.end line; the run goes on after it.
    sgRun.GotoLine = sgNms.JumpCache[cur] + 1;
    TarvDebugLog("\n\r\nEsGotoLoopEnd Found Line=%d ret ok", sgNms.JumpCache[cur]);
    TarvReturn(0, "EsGotoLoopEnd Found Line=%d ret ok", sgNms.JumpCache[cur]);
    return;
  }
  int n = 0;
  for (int L = cur + 1; L <= LastLine(); L++) {
    if (FirstWordIs(L, "loop.end")) {
      if (n == 0) {
        sgRun.GotoLine = L + 1;
        sgNms.JumpCache[cur] = L;
        TarvDebugLog("\n\r\nEsGotoLoopEnd New Find Line=%d ret ok", L);
        TarvReturn(0, "EsGotoLoopEnd New Find Line=%d ret ok", L);
        return;
      }
      n--;
      TarvDebugLog("\n\r\n Find New loop.end Line=%d,LoopCount = %d", L, n);
    } else if (FirstWordIs(L, "loop.begin")) {
      n++;
      TarvDebugLog("\n\r\n Find New loop.begin Line=%d,LoopCount = %d", L, n);
    } else if (FirstWordIs(L, "run.end")) {
      TarvDebugLog("\n\r\n Find run.end Line=%d,LoopCount = %d", L, n);
      NmsError(-1, "EsGotoLoopEnd Error Find: run.end Line=%d", L);
      return;
    } else if (FirstWordIs(L, "macro.begin")) {
      TarvDebugLog("\n\r\n Find macro.begin Line=%d,LoopCount = %d", L, n);
      NmsError(-2, "EsGotoLoopEnd Error Find: macro.begin Line=%d", L);
      return;
    } else if (FirstWordIs(L, "macro.end")) {
      TarvDebugLog("\n\r\n Find macro.end Line=%d,LoopCount = %d", L, n);
      NmsError(-3, "EsGotoLoopEnd Error Find: macro.end Line=%d", L);
      return;
    }
  }
  NmsError(-9, "EsGotoLoopEnd Error NotFind loop.end");
}

int EsGotoMacroBegin(const char* name, int len) {
  const int cur = sgRun.CurLine;
  int target = sgNms.JumpCache[cur];
  if (target > 0) {
    TarvDebugLog("\n\r\nEsGotoMacroBegin Found Line=%d ret ok", target);
    TarvReturn(0, "EsGotoMacroBegin Found Line=%d ret ok", target);
  } else {
    target = FindMacro(cur, name, len);
    if (target == 0)
      return NmsRunError(-9, "EsGotoMacroBegin Error NotFind macro.begin {%.*s}", len, name);
    sgNms.JumpCache[cur] = target;
    TarvDebugLog("\nEsGotoMacroBegin Match L%d", target);
    TarvReturn(0, "EsGotoMacroBegin New Find Line=%d ret ok", target);
  }
  // The depth is checked before the jump is set, so a refused call does not
  // enter the macro: it would never find its way back.
  if (sgRun.MacroDepth >= MACRO_DEPTH - 1)
    return NmsRunError(-9, "EsGotoMacroBegin Error, too many calls.");
  sgRun.GotoLine = target;
  sgRun.MacroDepth++;
  sgRun.MacroStack[sgRun.MacroDepth] = cur;
  return 0;
}
