#include <cstdint>

#include "engine/util/util.h"

namespace {
// Bytes compared as signed: everything up to 0x20 and every byte from 0x80.
constexpr bool IsBlank(char c) { return static_cast<signed char>(c) <= 0x20; }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

int TarvIsInteger2(const char* buf, int len) {
  for (int i = 0; i < len; i++)
    if (!IsDigit(buf[i]) && !IsBlank(buf[i])) return -1;
  return 0;
}

int TarvIsNumber2(const char* buf, int len) {
  int minus = 0;
  int dots = 0;
  bool digitSeen = false;
  bool minusAfterDigit = false;
  for (int i = 0; i < len; i++) {
    const char c = buf[i];
    if (c == '-') {
      minus++;
      minusAfterDigit = minusAfterDigit || digitSeen;
    } else if (c == '.') {
      dots++;
    } else if (IsDigit(c)) {
      digitSeen = true;
    } else if (!IsBlank(c)) {
      return -1;
    }
  }
  return minus > 1 || dots > 1 || minusAfterDigit ? -1 : 0;
}

int32_t TarvAtoi(const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (TarvIsSpace(*p)) p++;
  bool neg = false;
  if (*p == '-' || *p == '+') neg = (*p++ == '-');
  // Eighteen digits cannot overflow: they are summed without the cap, which
  // caps the same once taken after them.
  int64_t v = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9' && digits < 18; p++, digits++) v = v * 10 + (*p - '0');
  if (v > INT64_C(2147483648)) v = INT64_C(2147483648);
  for (; *p >= '0' && *p <= '9'; p++) {
    v = v * 10 + (*p - '0');
    if (v > INT64_C(2147483648)) v = INT64_C(2147483648);
  }
  if (neg) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  return static_cast<int32_t>(v);
}
