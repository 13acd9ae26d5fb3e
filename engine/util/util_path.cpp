#include <cstring>

#include "engine/util/util.h"

namespace {
constexpr int kPathMax = 1023;

// Position of the last separator, or -1.
int LastSeparator(const char* path, int len) {
  for (int i = len - 1; i >= 0; i--)
    if (path[i] == '/') return i;
  return -1;
}
}  // namespace

// A separator only at the first byte gives no directory part.
int PathDirectory(const char* path, char* dest) {
  const int len = static_cast<int>(strnlen(path, kPathMax));
  const int p = LastSeparator(path, len);
  if (p <= 0) {
    dest[0] = 0;
    return 0;
  }
  std::memcpy(dest, path, p + 1);
  dest[p + 1] = 0;
  return p + 1;
}

int PathFileName(const char* path, char* dest) {
  const int len = static_cast<int>(strnlen(path, kPathMax));
  const int p = LastSeparator(path, len);
  const int from = p <= 0 ? 0 : p + 1;
  std::memcpy(dest, path + from, len - from);
  dest[len - from] = 0;
  return len - from;
}
