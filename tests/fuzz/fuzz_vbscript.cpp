// libFuzzer target: the script host's lexer and parser on arbitrary bytes,
// as a whole program and as a lone expression. Any failure must come back
// as a ScriptError; a crash, a leak or undefined behaviour is a fault.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "services/scripthost/vbs_lexer.h"
#include "services/scripthost/vbs_parser.h"

namespace {
// Scripts reach the host through a statement argument of at most 1022
// bytes; a few times that still covers every construct.
constexpr std::size_t kMaxInput = 8192;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    tarv::vbs::Tokenize(text);
  } catch (const tarv::vbs::ScriptError&) {
  }
  try {
    tarv::vbs::ParseProgram(text);
  } catch (const tarv::vbs::ScriptError&) {
  }
  try {
    tarv::vbs::ParseExpression(text);
  } catch (const tarv::vbs::ScriptError&) {
  }
  return 0;
}
