#include <algorithm>
#include <cstring>

#include "engine/log/log_sink.h"
#include "engine/util/util.h"

namespace {
constexpr int kLineMax = 1022;

// Copies the line's first 1022 bytes into work, a final newline made a blank
// and a blank added after them; returns the cut length (without that blank).
int PrepareLine(const char* line, char (&work)[1024]) {
  int len = static_cast<int>(strnlen(line, kLineMax));
  std::memcpy(work, line, len);
  if (len > 0 && work[len - 1] == '\n') work[len - 1] = ' ';
  work[len] = ' ';
  work[len + 1] = 0;
  return len;
}
}  // namespace

int TarvGetWord3(const char* line, int index, char* dest) {
  char work[1024];
  const int len = PrepareLine(line, work) + 1;
  int k = 0;
  for (int i = 0; i < len;) {
    while (i < len && TarvIsSpace(work[i])) i++;
    if (i >= len) break;
    const int start = i;
    while (i < len && !TarvIsSpace(work[i])) i++;
    if (++k == index) {
      std::memcpy(dest, work + start, i - start);
      return i - start;
    }
  }
  return -3;
}

int GetWord4(const char* line, int index, char* dest, char sep) {
  char work[1024];
  const int len = PrepareLine(line, work);
  TarvDebugLogEscaped("\nGetWord4 [%s],Index=%d", work, index);
  int prev = -1;  // the separator before the current field
  int splits = 0;
  for (int i = 0; i < len; i++) {
    if (work[i] != sep) continue;
    if (++splits == index) {
      const int n = i - prev - 1;
      std::memcpy(dest, work + (prev + 1), n);
      return TarvReturn(n, "GetWord4 ok p1=%d,p2", prev);
    }
    prev = i;
  }
  if (index >= 1 && splits == index - 1) {
    const int n = len - prev - 1;
    std::memcpy(dest, work + (prev + 1), n);
    return TarvReturn(n, "GetWord4: last word ok p=%d", prev);
  }
  return TarvReturn(-1, "GetWord4 Error index=%d,splits=%d", index, splits);
}

int TarvGetFirstWord4(const char* buf, int len, char* dest, int* outLen) {
  if (len < 1) {
    dest[0] = 0;
    *outLen = 0;
    return TarvReturn(0, "TarvGetFirstWord4 False,BufLen <= 0!");
  }
  const auto* b = reinterpret_cast<const unsigned char*>(buf);
  int i = 0;
  while (i < len && b[i] < 0x21) i++;
  if (i >= len) {
    dest[0] = 0;
    *outLen = 0;
    return TarvReturn(len, "TarvGetFirstWord4 False 2,BufLen=%d,p1=%d,p2=%d,All char is space!",
                      len, -1, len - 1);
  }
  const int start = i;
  while (i < len && b[i] >= 0x21) i++;
  // Only a word longer than 1024 bytes is cut; destinations hold 1024 bytes.
  const int n = i - start > 1024 ? kLineMax : i - start;
  std::memcpy(dest, buf + start, n);
  *outLen = n;
  // Past the separator that ended the word, or the end of the buffer.
  return i < len ? i + 1 : len;
}
