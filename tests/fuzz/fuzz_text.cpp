// The text statements against a text buffer: the input's first line is the
// buffer, the rest is the script run over it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tests/fuzz/fuzz_runner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const size_t nl = in.find('\n');
  if (nl == std::string_view::npos) return 0;
  fuzzrun::Run(in.substr(nl + 1), in.substr(0, nl));
  return 0;
}
