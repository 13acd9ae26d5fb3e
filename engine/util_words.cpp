#include <cctype>
#include <cstring>

#include "engine/log.h"
#include "engine/util.h"

namespace {
inline bool IsSpace(unsigned char c) { return c < 0x80 && std::isspace(c); }
}  // namespace

int TarvGetWord3(const char* line, int index, char* dest) {
  char work[1024];
  int len = static_cast<int>(strnlen(line, 1022));
  std::memcpy(work, line, len);
  if (len > 0 && work[len - 1] == '\n') work[len - 1] = ' ';
  work[len++] = ' ';
  int k = 0;
  for (int i = 0; i < len;) {
    while (i < len && IsSpace(work[i])) i++;
    if (i >= len) break;
    int start = i;
    while (i < len && !IsSpace(work[i])) i++;
    if (++k == index) {
      std::memcpy(dest, work + start, i - start);
      return i - start;
    }
  }
  return -3;
}
