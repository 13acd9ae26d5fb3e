// The script host's expressions, through the arithmetic entry the engine
// uses, within a short deadline.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "services/scripthost/script_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2000) return 0;
  const std::string_view expr(reinterpret_cast<const char*>(data), size);
  tarv::scripthost::RunArithmetic(expr, tarv::vbs::Clock::now() + std::chrono::milliseconds(200));
  return 0;
}
