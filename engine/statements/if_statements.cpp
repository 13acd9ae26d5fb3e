// The condition statements: if.var comparisons and searches, if.text searches
// in the selected text, and if.end.  A true condition runs the next line; a
// false one jumps to its if.end.  There is no else.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/statements/arg_checks.h"
#include "engine/core/handlers.h"
#include "engine/statements/jump_search.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/step_args.h"
#include "engine/util/util.h"
#include "engine/core/var_store.h"
#include "engine/core/handler.h"

namespace {

constexpr int kNameMax = VAR_NAME - 2;

// The variable name in A2: 0, or the code of the run error it recorded.
int NameFault() { return ArgCheckLength(2, kNameMax, -2); }

// Replaces the name in slot 2 by the variable's value: the value's length,
// or the store's negative answer (missing, or longer than a slot's room).
int LoadVarIntoSlot2(int* index = nullptr) {
  char value[ARG_ROOM];
  const int i = TarvFindVar(agA[2], igL[2]);
  // A missing variable is refused (and logged) as TarvGetVar4 does.
  const int n = i < 0 ? TarvGetVar4(agA[2], igL[2], value, ARG_ROOM)
                      : TarvGetVarAt(i, agA[2], igL[2], value, ARG_ROOM);
  if (index != nullptr) *index = i;
  if (n < 0) return n;
  std::copy_n(value, n, agA[2]);
  agA[2][n] = 0;
  igL[2] = n;
  return n;
}

// Length of argument slot k: 0, or the code of the run error it recorded.
int ArgLengthFault(int k) { return ArgCheckLength(k, ARG_ROOM, -4); }

// Operators are one or two bytes: a loop beats a call.
bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); k++)
    if (a[k] != b[k]) return false;
  return true;
}

bool OperatorIs(std::string_view op) {
  return CurStepIsKey3(3, op.data(), static_cast<int>(op.size())) == 0;
}

std::string_view Slot(int k) { return {agA[k], static_cast<size_t>(igL[k] > 0 ? igL[k] : 0)}; }

// The four searches between a variable and an argument.
struct VarSearch {
  const char* begin;      // the begin entry
  int slot;               // the argument's word position
  bool valueInArg;        // "in": the value is looked for in the argument
  bool negated;           // "not in", "not contain"
  bool showArg;           // the argument is written to the debug log too
  const char* trueDebug;  // nullptr: none
  const char* trueReturn; // nullptr: a plain 0
  const char* falseDebug;
};

constexpr VarSearch kContain{"\nif_var_a2_contain_a4 ,begin ...",
                             4,
                             false,
                             false,
                             true,
                             "\nif_var_a2_contain_a4 return ture.",
                             "if_var_a2_contain_a4 return ture.",
                             "\nif_var_a2_contain_a4 is false."};
constexpr VarSearch kNotContain{"\nif_var_a2_not_contain_a5 ,begin ...",
                                5,
                                false,
                                true,
                                true,
                                nullptr,
                                nullptr,
                                "\nif_var_a2_not_contain_a5 is false."};
constexpr VarSearch kIn{"\nif_var_a2_in_a4 ,begin ...",
                        4,
                        true,
                        false,
                        false,
                        "\nif_var_a2_in_a4 return ture.",
                        "if_var_a2_in_a4 return ture.",
                        "\nif_var_a2_in_a4 is false."};
constexpr VarSearch kNotIn{"\nif_var_a2_not_in_a5 ,begin ...",
                           5,
                           true,
                           true,
                           false,
                           nullptr,
                           "if_var_a2_not_in_a5 return ture.",
                           "\nif_var_a2_not_in_a5 is false."};

int RunVarSearch(const VarSearch& s) {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("%s", s.begin);
  // Argument errors count as a false condition.
  int code = NameFault();
  if (code == 0 && LoadVarIntoSlot2() < 0) code = NmsRunError(-4, "Arg:2, 变量不存在!");
  if (code != 0) {
    EsGotoIfEnd();
    return code;
  }
  if (s.showArg) {
    TarvDebugLogEscaped("\nL[2]=%d,A[2]=[%s]", igL[2], agA[2]);
    TarvDebugLogEscaped("\nL[%d]=%d,A[%d]=[%s]", s.slot, igL[s.slot], s.slot, agA[s.slot]);
  } else {
    TarvDebugLogEscaped("\nL[2]=%d,A[2]=<%s>", igL[2], agA[2]);
  }
  const std::string_view value = Slot(2);
  const std::string_view arg = Slot(s.slot);
  const std::string_view hay = s.valueInArg ? arg : value;
  const std::string_view needle = s.valueInArg ? value : arg;
  const bool found = TarvMemFind4(hay.data(), static_cast<int>(hay.size()), needle.data(),
                                  static_cast<int>(needle.size())) >= 0;
  if (found == s.negated) {
    TarvDebugLog("%s", s.falseDebug);
    return EsGotoIfEnd();
  }
  if (s.trueDebug) TarvDebugLog("%s", s.trueDebug);
  return s.trueReturn ? TarvReturn(0, "%s", s.trueReturn) : 0;
}

enum class Selection { Invalid, Short, Found, NotFound };

// Looks for argument slot k in the selected text.  An occurrence must end
// before tailPointer, so the byte at tailPointer is never part of one.
Selection SearchSelection(int k) {
  TarvDebugLog("\nsgRun. text.headpointer=[%d],sgRun.tailPointer=%d,sgRun.TextLen=%d",
               sgRun.headPointer, sgRun.tailPointer, sgRun.TextLen);
  const int64_t head = sgRun.headPointer;
  const int64_t tail = sgRun.tailPointer;
  if (head < 0 || tail < 0 || tail > sgRun.TextLen) return Selection::Invalid;
  if (tail - head < igL[k]) return Selection::Short;
  const std::string_view selected(sgRun.Text.data() + head, static_cast<size_t>(tail - head));
  return selected.find(Slot(k)) != std::string_view::npos ? Selection::Found
                                                          : Selection::NotFound;
}

}  // namespace

int if_var_a2_vs_a4() {
  HandlerBegin();
  // Argument errors are recorded and the next line runs, as if true.
  if (int code = NameFault()) return code;
  int var = -1;
  if (int n = LoadVarIntoSlot2(&var); n < 0)
    return NmsRunError(-4, "Arg:2, GetVar len=%d  < 0 !", n);
  TarvDebugLogEscaped("L[2]=%d,A[2]=<%s>", igL[2], agA[2]);
  // A number known for the text is its reading; only a negative one's sign
  // is refused below, as the text check refuses it.
  int32_t number;
  const bool isKnown = VarIntOf(var, &number) && number >= 0;
  if (!isKnown && TarvIsInteger2(agA[2], igL[2]) != 0)
    return NmsRunError(-5, "Arg:2 is not integer !");
  if (int code = ArgLengthFault(4)) return code;
  if (TarvIsInteger2(agA[4], igL[4]) != 0) return NmsRunError(-4, "Arg:4 is not integer !");
  igV[2] = isKnown ? number : TarvAtoi(agA[2]);
  igV[4] = TarvAtoi(agA[4]);
  const int32_t a = igV[2];
  const int32_t b = igV[4];

  // The operator word is one of the six (the table routes only those here);
  // the key check itself runs for the word found, as it writes the match.
  struct Op {
    std::string_view word;
    bool holds;
    const char* ok;
  };
  const Op ops[] = {{"<>", a != b, "if_var_a2_vs_a4->A:4(<> OK)."},
                    {"==", a == b, "if_var_a2_vs_a4->A:4(== OK)."},
                    {">=", a >= b, "if_var_a2_vs_a4->A:4(>= OK)."},
                    {"<=", a <= b, "if_var_a2_vs_a4->A:4(<= OK)."},
                    {">", a > b, "if_var_a2_vs_a4->A:4(> OK)."},
                    {"<", a < b, "if_var_a2_vs_a4->A:4(< OK)."}};
  const int w = sgNms.FirstWord[sgRun.CurLine] + 2;
  // A line without a third word leaves every operator to the key check.
  const bool known = w >= 1 && w <= sgNms.WordCount;
  const std::string_view word =
      known ? std::string_view(WordText(w), static_cast<size_t>(sgNms.Words[w].Length))
            : std::string_view();
  for (const Op& op : ops) {
    if (known && !SameWord(word, op.word)) continue;
    if (!OperatorIs(op.word)) continue;
    if (op.holds) return TarvReturn(0, "%s", op.ok);
    return EsGotoIfEnd();
  }
  // The table routes only the six operators here; anything else is false.
  return EsGotoIfEnd();
}

int if_var_a2_in_a4() { return RunVarSearch(kIn); }
int if_var_a2_not_in_a5() { return RunVarSearch(kNotIn); }
int if_var_a2_contain_a4() { return RunVarSearch(kContain); }
int if_var_a2_not_contain_a5() { return RunVarSearch(kNotContain); }

int if_text_contain_a3() {
  HandlerBegin();
  if (int code = ArgLengthFault(3)) {
    EsGotoIfEnd();
    return code;
  }
  switch (SearchSelection(3)) {
    case Selection::Found:
      TarvDebugLog("\nif_text_contain_a3 return ture.");
      return TarvReturn(0, "if_text_contain_a3 return ture.");
    case Selection::Invalid: {
      const int code = NmsRunError(
          -5, "sgRun.headPointer <0 || sgRun.tailPointer <0 || sgRun.tailPointer > sgRun.TextLen !");
      EsGotoIfEnd();
      return code;
    }
    case Selection::Short:
    case Selection::NotFound:
      break;
  }
  TarvDebugLog("\nif_text_contain_a3 is false.");
  return EsGotoIfEnd();
}

int if_text_not_contain_a4() {
  HandlerBegin();
  if (int code = ArgLengthFault(4)) {
    EsGotoIfEnd();
    return code;
  }
  switch (SearchSelection(4)) {
    case Selection::Invalid:
      return TarvReturn(0, "if_text_not_contain_a4 return ture 1.（选定文本区间有误）");
    case Selection::Short:
      return TarvReturn(0, "if_text_not_contain_a4 return ture 2.（选定文本区长度小于字符串长度）");
    case Selection::Found:
      TarvDebugLog("\nif_text_not_contain_a4,发现字符串.");
      return EsGotoIfEnd();
    case Selection::NotFound:
      break;
  }
  TarvDebugLog("\nif_text_not_contain_a4,ture 3.（未发现字符串）.");
  return TarvReturn(0, "if_text_not_contain_a4 return ture 3.（未发现字符串）");
}

int if_end() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nif_end ,begin ... ,run next step.");
  return TarvReturn(0, "if_end return.");
}
