#include <cstdio>

#include "engine/log/log_sink.h"
#include "engine/util/util.h"

int TarvReadFile(const char* path, char* buf, int capacity) {
  std::FILE* f = std::fopen(path, "rbe");
  if (!f) return TarvReturn(-3, "Open File [%s] !", path);
  int n = capacity > 0 ? static_cast<int>(std::fread(buf, 1, capacity, f)) : 0;
  std::fclose(f);
  return TarvReturn(n, "TarvReadFile [%s] Len = [%d] bytes.", path, n);
}
