#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/util/util.h"

void TarvEscapeQuotes(const char* in, char* dest) {
  constexpr int kInMax = 1000;
  constexpr int kOutMax = 1020;
  const int len = static_cast<int>(strnlen(in, kInMax));
  int out = 0;
  // At most two bytes per input byte after the check: 1022 and a terminator.
  for (int i = 0; i < len && out <= kOutMax; i++) {
    const char c = in[i];
    if (c == '\\' || c == '\'' || c == '"') dest[out++] = '\\';
    dest[out++] = c;
  }
  dest[out] = 0;
}

int TarvFormatInto(char* dest, const char* fmt, ...) {
  constexpr int kMax = 1021;
  if (!fmt || !*fmt) return 0;
  char work[1024];
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(work, kMax + 1, fmt, ap);
  va_end(ap);
  if (n <= 0 || n > kMax) return 0;
  std::memcpy(dest, work, n);
  return n;
}
