#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
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

int TarvReadFileSized(const char* path, char* buf, int capacity, int64_t* fileBytes) {
  *fileBytes = 0;
  std::FILE* f = std::fopen(path, "rbe");
  if (!f) return TarvReturn(-3, "Open File [%s] !", path);
  const int n = capacity > 0 ? static_cast<int>(std::fread(buf, 1, capacity, f)) : 0;
  *fileBytes = n;
  // One byte more, read aside, tells whether the file was cut.
  char more;
  if (std::fread(&more, 1, 1, f) == 1) {
    struct stat st {};
    const bool sized = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
    *fileBytes = sized ? std::max<int64_t>(st.st_size, int64_t{n} + 1) : INT64_MAX;
  }
  std::fclose(f);
  return TarvReturn(n, "TarvReadFile [%s] Len = [%d] bytes.", path, n);
}
