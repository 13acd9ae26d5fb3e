// The loader, the parser and the step runner on arbitrary script bytes.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_runner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzrun::Run({reinterpret_cast<const char*>(data), size});
  return 0;
}
