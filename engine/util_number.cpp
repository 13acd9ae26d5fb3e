#include <cctype>
#include <cstdint>

#include "engine/util.h"

int32_t TarvAtoi(const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p && *p < 0x80 && std::isspace(*p)) p++;
  bool neg = false;
  if (*p == '-' || *p == '+') neg = (*p++ == '-');
  int64_t v = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    v = v * 10 + (*p - '0');
    if (v > INT64_C(2147483648)) v = INT64_C(2147483648);
  }
  if (neg) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  return static_cast<int32_t>(v);
}
