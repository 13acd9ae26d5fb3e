#include "platform/zero_record.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

// The program's zero-initialised static storage, as the linker marks it.
// Only there does a page handed back come back as zeros: a page of
// initialised data would come back as the file's bytes.
extern "C" char __bss_start[];
extern "C" char _end[];

void ZeroRecord(void* record, size_t size) {
  static const uintptr_t kPage = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<uintptr_t>(record);
  const uintptr_t end = begin + size;
  const uintptr_t first = (begin + kPage - 1) & ~(kPage - 1);
  const uintptr_t last = end & ~(kPage - 1);
  const bool inBss = begin >= reinterpret_cast<uintptr_t>(__bss_start) &&
                     end <= reinterpret_cast<uintptr_t>(_end);
  if (!inBss || last <= first ||
      madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED) != 0) {
    std::memset(record, 0, size);
    return;
  }
  std::memset(record, 0, first - begin);
  std::memset(reinterpret_cast<void*>(last), 0, end - last);
}
