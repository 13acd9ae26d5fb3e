// Clears a large process-wide record without touching pages that were never
// used: whole pages of zero-initialised static storage are handed back to the
// system, which maps them as zero again on the next touch.
#pragma once
#include <cstddef>

void ZeroRecord(void* record, size_t size);
