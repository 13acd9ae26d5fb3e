#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine/util/util.h"

void TarvGetDateTime(char* dest) {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  // Formatted wide first: the compiler cannot know the fields stay small.
  char work[80];
  std::snprintf(work, sizeof work, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  const size_t n = strnlen(work, 29);
  std::memcpy(dest, work, n);
  dest[n] = 0;
}
