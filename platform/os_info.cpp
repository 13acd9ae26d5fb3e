#include "platform/os_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int OsVersion(char* dest, int room) {
  struct utsname u;
  int major = 0, minor = 0;
  if (uname(&u) == 0) std::sscanf(u.release, "%d.%d", &major, &minor);
  int n = std::snprintf(dest, room, "%d.%d", major, minor);
  return n < room ? n : room - 1;
}

int ProgramPath(char* dest, int room) {
  ssize_t n = readlink("/proc/self/exe", dest, room - 1);
  if (n < 0) return -1;
  dest[n] = 0;
  return static_cast<int>(n);
}

int ProcessId() { return static_cast<int>(getpid()); }
