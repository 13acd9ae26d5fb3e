// The var statements: a variable's value from text, numbers and arithmetic,
// the clock, scrambled text and other variables, and edits of it in place.
// Those that compute a whole new value put it into slot 4 and finish through
// "var {A2} value {A4}", so each such set passes the same checks.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "engine/statements/arg_checks.h"
#include "engine/core/handlers.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/statements/scramble.h"
#include "engine/core/step_args.h"
#include "engine/util/util.h"
#include "engine/core/var_store.h"
#include "engine/statements/evaluator.h"
#include "engine/core/handler.h"

namespace {

// The checks answer the run error's code (never 0) when the argument is
// refused.  A plain int in a register: an optional<int> came back through a
// byte store and a wider load, which stalls.
struct Refusal {
  int code = 0;
  explicit operator bool() const { return code != 0; }
  int operator*() const { return code; }
};

// Refuses argument `pos` when its length lies outside lowest..highest.  The
// low message names `shownLow`, which is not always the bound itself.
Refusal LengthFault(int pos, int lowest, int highest, int shownLow = 1) {
  const int len = igL[pos];
  if (len < lowest)
    return {NmsRunError(-pos, "Length of Arg %d is :%d  < %d !", pos, len, shownLow)};
  if (len > highest)
    return {NmsRunError(-pos, "Length of Arg %d is :%d > %d !", pos, len, highest)};
  return {};
}

// Every statement names its variable in word 2.
Refusal VarNameFault() { return LengthFault(2, 1, VAR_NAME - 2); }

// Takes argument `pos` as a decimal number into igV[pos].
Refusal IntegerFault(int pos) {
  return {ArgCheckInteger(pos)};
}

// The value of the variable named by argument `pos` into dest (1024 bytes,
// NUL-terminated); its length, or -1 when it is missing or longer than a
// slot's 1022 bytes.
int ReadVar(int pos, char* dest, int* index = nullptr) {
  const int i = TarvFindVar(agA[pos], igL[pos]);
  // A missing variable is refused (and logged) as TarvGetVar4 does.
  const int len = i < 0 ? TarvGetVar4(agA[pos], igL[pos], dest, ARG_ROOM)
                        : TarvGetVarAt(i, agA[pos], igL[pos], dest, ARG_ROOM);
  dest[len < 0 ? 0 : len] = 0;
  if (index != nullptr) *index = i;
  return len < 0 ? -1 : len;
}

// Slot 4 receives the computed value; the first statement then sets it.
int SetThroughValueA4(const char* value, int len, bool newline) {
  if (len >= 0) {
    if (value != agA[4]) std::memmove(agA[4], value, len);
    agA[4][len] = 0;
  }
  igL[4] = len;
  TarvDebugLogEscaped(newline ? "\nL[4]=%d,A[4]=<%s>,redirect call var_a2_value_a4"
                              : "L[4]=%d,A[4]=<%s>,redirect call var_a2_value_a4",
                      igL[4], agA[4]);
  return var_a2_value_a4();
}

// The arithmetic host's answer for A5 into dest (1024 bytes, NUL-terminated);
// false when the expression could not be evaluated.
bool Evaluate(char* dest) {
  std::memset(dest, 0, VAR_VAL);
  const int r = TarvEvaluate(agA[5], dest);
  dest[VAR_VAL - 1] = 0;
  return r >= 0;
}

int ExpressionError() {
  return NmsRunError(-17, "var_a2_value_number_a5,vbscript_caluate [%s] 表达式错误!", agA[5]);
}

}  // namespace

int var_a2_value_a4() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nvar_a2_value_a4 ,begin ...");
  if (auto e = VarNameFault()) return *e;
  if (auto e = LengthFault(4, 0, ARG_ROOM)) return *e;
  if (TarvSetVar4(agA[2], igL[2], agA[4], igL[4]) < 0)
    return NmsRunError(-11, "var_a2_value_a4: SetVar Error!");
  return TarvReturn(0, "var_a2_value_a4 return.");
}

int var_a2_value_number_a5() {
  HandlerBegin();
  if (auto e = VarNameFault()) return *e;
  if (auto e = LengthFault(5, 1, ARG_ROOM)) return *e;

  char value[VAR_VAL];
  if (TarvIsNumber2(agA[5], igL[5]) == 0) {
    // A plain number keeps only its integer part: '3.7' is 3.
    int n = std::snprintf(value, sizeof value, "%d", TarvAtoi(agA[5]));
    return SetThroughValueA4(value, n, true);
  }
  if (!Evaluate(value)) return ExpressionError();
  return SetThroughValueA4(value, static_cast<int>(std::strlen(value)), false);
}

int var_a2_value_datetime() {
  HandlerBegin();
  if (auto e = VarNameFault()) return *e;
  char now[30] = {};
  TarvGetDateTime(now);
  return SetThroughValueA4(now, static_cast<int>(strnlen(now, sizeof now - 1)), false);
}

int var_a2_value_encrypt_a5() {
  HandlerBegin();
  if (auto e = VarNameFault()) return *e;
  if (auto e = LengthFault(5, 1, ARG_ROOM)) return *e;
  std::memcpy(agA[4], agA[5], igL[5]);
  agA[4][igL[5]] = 0;
  // A value too long to scramble leaves -1 as the length, which the set
  // refuses with its own length message.
  return SetThroughValueA4(agA[4], TarvEncrypt(agA[4], igL[5]), false);
}

int var_a2_value_decrypt_a5() {
  HandlerBegin();
  if (auto e = VarNameFault()) return *e;
  if (auto e = LengthFault(5, 1, ARG_ROOM)) return *e;
  char work[ARG_SIZE];
  std::memcpy(work, agA[5], igL[5]);
  work[igL[5]] = 0;
  const int m = TarvDecrypt(work, igL[5]);
  if (m < 1) return NmsRunError(-5, "var_a2_value_decrypt_a5:, len=%d <=0 !", m);
  return SetThroughValueA4(work, m, false);
}

int var_a2_add_number_a5() {
  HandlerBegin();
  if (auto e = VarNameFault()) return *e;
  if (auto e = LengthFault(5, 1, ARG_ROOM)) return *e;

  char old[VAR_VAL];
  int var = -1;
  if (ReadVar(2, old, &var) < 0) return NmsRunError(-4, "Arg:2, 变量[%s]不存在!", agA[2]);
  TarvDebugLogEscaped("Var2.value =[%s]", old);

  int64_t sum;
  if (TarvIsNumber2(agA[5], igL[5]) == 0) {
    int32_t before;
    if (!VarIntOf(var, &before)) before = TarvAtoi(old);
    sum = static_cast<int64_t>(TarvAtoi(agA[5])) + before;
  } else {
    char result[VAR_VAL];
    if (!Evaluate(result)) return ExpressionError();
    // Nearest integer, halves away from zero: 0 + (-3) stays -3.  Text that
    // is no number reads as 0, as atof reads it.
    const double exact = std::strtod(old, nullptr) + std::strtod(result, nullptr);
    const double rounded = std::round(exact);
    // Written so that NaN fails too.
    if (!(rounded >= INT32_MIN && rounded <= INT32_MAX))
      return NmsRunError(-17, "var_a2_add_number_a5,[%s] + [%s] out of range!", old, result);
    sum = static_cast<int64_t>(rounded);
  }
  if (sum < INT32_MIN || sum > INT32_MAX)
    return NmsRunError(-17, "var_a2_add_number_a5,[%s] + [%s] out of range!", old, agA[5]);

  char value[32];
  const auto end = std::to_chars(value, value + sizeof value, static_cast<int32_t>(sum)).ptr;
  const int len = static_cast<int>(end - value);
  const int rc = SetThroughValueA4(value, len, true);
  // The next sum (or comparison) of this variable takes the number as is.
  VarNoteInt(var, static_cast<int32_t>(sum), value, len);
  return rc;
}

int var_a2_copy_var_a5() {
  HandlerBegin();
  if (auto e = VarNameFault()) return *e;
  if (auto e = LengthFault(5, 1, ARG_ROOM)) return *e;
  char value[VAR_VAL];
  const int len = ReadVar(5, value);
  if (len < 0) return NmsRunError(-5, "Arg:5, 变量不存在!");
  return SetThroughValueA4(value, len, false);
}

int var_a2_copy_var_a5_after_a7_bytes_length_a10() {
  HandlerBegin();
  if (auto e = VarNameFault()) return *e;
  if (auto e = LengthFault(5, 1, ARG_ROOM)) return *e;
  if (auto e = LengthFault(7, 1, ARG_ROOM)) return *e;
  if (auto e = LengthFault(10, 1, ARG_ROOM)) return *e;
  if (auto e = IntegerFault(7)) return *e;
  if (auto e = IntegerFault(10)) return *e;

  char value[VAR_VAL];
  const int len = ReadVar(5, value);
  if (len < 0) return NmsRunError(-5, "Arg:5, 变量不存在!");
  // Both numbers may be near the 32-bit limit: their sum is taken in 64 bits.
  const int64_t offset = igV[7];
  const int64_t count = igV[10];
  if (offset < 0 || count < 0 || offset + count > len)
    return NmsRunError(-11, "var_a2_copy_var_a5_after_a7_bytes_length_a10,length is too big  !");
  return SetThroughValueA4(value + offset, static_cast<int>(count), true);
}

int var_a2_add_a4() {
  HandlerBegin();
  if (auto e = VarNameFault()) return *e;
  if (auto e = LengthFault(4, 1, ARG_ROOM)) return *e;
  char value[VAR_VAL];
  const int len = ReadVar(2, value);
  if (len < 0) return NmsRunError(-4, "Arg:2, 变量不存在!");
  TarvDebugLogEscaped("Var2.value L=%d,<%s>", len, value);
  if (len + igL[4] > ARG_ROOM)
    return NmsRunError(-4, "Var2.value L + Length of Arg 4 is :%d > 1022 !", igL[4]);
  std::memcpy(value + len, agA[4], igL[4]);
  if (TarvSetVar4(agA[2], igL[2], value, len + igL[4]) < 0)
    return NmsRunError(-11, "var_a2_add_a4: SetVar Error!");
  return TarvReturn(0, "var_a2_add_a4 return.");
}

int var_a2_replace_a4_with_a6() {
  HandlerBegin();
  if (auto e = VarNameFault()) return *e;
  char value[VAR_VAL];
  int len = ReadVar(2, value);
  if (len < 0) return NmsRunError(-4, "Arg:2, 变量不存在!");
  TarvDebugLogEscaped("Var2.value L=%d,<%s>", len, value);
  if (auto e = LengthFault(4, 1, 1020)) return *e;
  if (auto e = LengthFault(6, 0, 1020, 0)) return *e;
  // No match, or a result over 1022 bytes, leaves the value as it was; it is
  // still set again, which marks it as changed by this step.
  TarvMemReplace6(value, &len, agA[4], igL[4], agA[6], igL[6]);
  if (TarvSetVar4(agA[2], igL[2], value, len) < 0)
    return NmsRunError(-11, "var_a2_replace_a4_with_a6: SetVar Error!");
  return TarvReturn(0, "var_a2_replace_a4_with_a6 return.");
}

int var_a2_adjust_length_a5_align_a7() {
  HandlerBegin();
  if (auto e = VarNameFault()) return *e;
  if (auto e = LengthFault(5, 1, ARG_ROOM)) return *e;
  if (auto e = LengthFault(7, 1, ARG_ROOM)) return *e;
  if (auto e = IntegerFault(5)) return *e;
  const int n = igV[5];
  // The longest value a variable can hold.
  if (n > VAR_VAL - 1)
    return NmsRunError(-5, "var_a2_adjust_length_a5_align_a7,Arg:5 <%d> > %d !", n, VAR_VAL - 1);

  char value[VAR_VAL];
  const int len = ReadVar(2, value);
  if (len < 0) return NmsRunError(-7, "Arg:2, 变量不存在!");
  TarvDebugLogEscaped("\nVar2.value L=%d,<%s>", len, value);
  const int pad = n > len ? n - len : 0;

  // len + pad is at most max(len, n), so the padded text fits; a longer value
  // is cut to its first n bytes whatever the alignment.
  char out[VAR_VAL];
  if (!ArgAlignInto(7, value, len, pad, out))
    return NmsRunError(-7, "var_a2_adjust_length_a5_align_a7->A:7(%s) is not support!", agA[7]);
  if (TarvSetVar4(agA[2], igL[2], out, n) < 0)
    return NmsRunError(-11, "var_a2_adjust_length_a5_align_a7: SetVar Error!");
  return TarvReturn(0, "var_a2_adjust_length_a5_align_a7 return.");
}
