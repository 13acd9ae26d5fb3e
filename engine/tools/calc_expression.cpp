// Integer arithmetic without the script host: operands and operators are
// split into a small record, products and quotients are folded first, then
// sums and differences, each left to right.
#include "engine/tools/calc_expression.h"

#include <cstdint>
#include <cstring>

#include "engine/log/log_sink.h"
#include "engine/util/util.h"

namespace {

constexpr bool IsOperatorChar(char c) { return c == '*' || c == '+' || c == '-' || c == '/'; }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool Allowed(char c) { return c == ' ' || c == '.' || IsDigit(c) || IsOperatorChar(c); }
constexpr bool FitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// The operand's value the way atoi reads it (a sign, then digits up to the
// first other byte, so "2.9" is 2), but refusing a value beyond 32 bits
// instead of wrapping.
bool ReadOperand(const char* text, int len, int32_t* value) {
  int i = 0;
  bool negative = false;
  if (i < len && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t v = 0;
  for (; i < len && IsDigit(text[i]); i++) {
    v = v * 10 + (text[i] - '0');
    if (v > int64_t{INT32_MAX} + 1) return false;
  }
  if (negative) v = -v;
  if (!FitsInt32(v)) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

// Applies the operators of one precedence level, left to right; 0, or the
// failure code with its message in dest.
int Fold(EsCalcRecord* r, char first, char second, char* dest) {
  for (int i = 1; i <= r->Count;) {
    const char op = r->Ops[i];
    if (op != first && op != second) {
      i++;
      continue;
    }
    const int64_t a = r->Values[i];
    const int64_t b = r->Values[i + 1];
    int64_t v = 0;
    switch (op) {
      case '*': v = a * b; break;
      case '+': v = a + b; break;
      case '-': v = a - b; break;
      default:
        // Any divisor below one is refused, negative ones included.
        if (b < 1) {
          TarvFormatInto(dest, "v[%d]=%.2f,div<0!", i + 1, static_cast<double>(b));
          return CALC_DIVISION;
        }
        v = a / b;
        break;
    }
    if (!FitsInt32(v)) {
      TarvFormatInto(dest, "v[%d]%cv[%d]=%lld,overflow!", i, op, i + 1, static_cast<long long>(v));
      return CALC_OVERFLOW;
    }
    r->Values[i] = static_cast<int32_t>(v);
    EsCalcRemoveItem(r, i);
    EsCalcDump(r);
  }
  return 0;
}

}  // namespace

void EsCalcRemoveItem(EsCalcRecord* r, int index) {
  if (index < 1 || index > r->Count) return;
  for (int k = index; k < r->Count; k++) r->Ops[k] = r->Ops[k + 1];
  for (int k = index + 1; k <= r->Count; k++) {
    r->Begin[k] = r->Begin[k + 1];
    r->End[k] = r->End[k + 1];
    r->Values[k] = r->Values[k + 1];
  }
  r->Count--;
}

void EsCalcDump(const EsCalcRecord* r) {
  if (TarvLogLevel() < 4) return;
  TarvDebugLog("\n\r\n c = %d : ", r->Count);
  for (int i = 1; i <= r->Count; i++) TarvDebugLog("\n%d%c", r->Values[i], r->Ops[i]);
  TarvDebugLog("\n%d", r->Values[r->Count + 1]);
}

int EsCalcExpression(const char* expression, char* dest) {
  const int len = static_cast<int>(strnlen(expression, CALC_MAX_EXPRESSION + 1));
  if (len > CALC_MAX_EXPRESSION) {
    TarvFormatInto(dest, "len>%d,too long!", CALC_MAX_EXPRESSION);
    return CALC_BAD_CHAR;
  }

  char text[CALC_MAX_EXPRESSION + 1];
  int n = 0;
  for (int i = 0; i < len; i++) {
    const char c = expression[i];
    if (!Allowed(c)) {
      TarvFormatInto(dest, "i=%d %c,ill char!", i, c);
      return CALC_BAD_CHAR;
    }
    if (c != ' ') text[n++] = c;
  }

  EsCalcRecord r{};
  r.Begin[1] = 0;
  for (int j = 1; j < n; j++) {
    const char c = text[j];
    // A '-' right after another operator byte is the next operand's sign.
    const bool op = c == '*' || c == '+' || c == '/' || (c == '-' && !IsOperatorChar(text[j - 1]));
    if (!op) continue;
    if (r.Count == CALC_MAX_OPS) {
      TarvFormatInto(dest, "c=%d,>18,too many +-*/!", r.Count + 1);
      return CALC_TOO_MANY;
    }
    r.End[r.Count + 1] = j - 1;
    r.Count++;
    r.Ops[r.Count] = c;
    r.Begin[r.Count + 1] = j + 1;
  }
  r.End[r.Count + 1] = n - 1;

  for (int i = 1; i <= r.Count + 1; i++) {
    if (r.End[i] < r.Begin[i]) {
      TarvFormatInto(dest, "v[i],b=%d,e=%d len<0!", r.Begin[i], r.End[i]);
      return CALC_EMPTY_OPERAND;
    }
    if (!ReadOperand(text + r.Begin[i], r.End[i] - r.Begin[i] + 1, &r.Values[i])) {
      TarvFormatInto(dest, "v[%d]=%.*s,overflow!", i, r.End[i] - r.Begin[i] + 1,
                     text + r.Begin[i]);
      return CALC_OVERFLOW;
    }
  }
  EsCalcDump(&r);

  if (int rc = Fold(&r, '*', '/', dest); rc < 0) return rc;
  if (int rc = Fold(&r, '+', '-', dest); rc < 0) return rc;
  return TarvFormatInto(dest, "%d", r.Values[1]);
}

int EsFormatNumber(char* text) {
  const int len = static_cast<int>(std::strlen(text));
  TarvDebugLogEscaped("\nEsFormatNumber [%s] len=%d", text, len);
  if (len < 1) return -1;

  // The text is rewritten in place; the log still names the original.
  const bool logging = TarvLogLevel() >= 4;
  char old[1024] = {};
  if (logging) std::memcpy(old, text, len < 1023 ? len : 1023);

  int k = 0;
  for (int i = 0; i < len; i++) {
    const char c = text[i];
    if (IsDigit(c) || c == '.' || (c == '-' && k == 0))
      text[k++] = c;
    else if (logging)
      TarvDebugLogEscaped("\nEsFormatNumber [%s] i=%d,Ignore", old, i);
  }
  if (std::memchr(text, '.', k))
    while (k > 0 && text[k - 1] == '0') k--;
  text[k] = 0;
  if (logging) TarvDebugLogEscaped("\nEsFormatNumber [%s]=[%s]", old, text);
  return k;
}
