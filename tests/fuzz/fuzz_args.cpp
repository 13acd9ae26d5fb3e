// Argument substitution (~name~ and %hh) and the getters of words and
// fields, on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/util/util.h"
#include "tests/fuzz/fuzz_runner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = false;
  if (!started) {
    fuzzrun::Run("run.end\n");
    started = true;
  }
  VarStoreClear();
  TarvSetVar2("a", "alpha");
  TarvSetVar2("long", std::string(1000, 'x').c_str());
  TarvSetVar2("", "empty name");

  const char* in = reinterpret_cast<const char*>(data);
  const int len = size > 4000 ? 4000 : static_cast<int>(size);
  char dest[ARG_SIZE];
  TarvReplaceVar(in, len, dest, ARG_ROOM);
  EsDecodeEscapes(in, len, dest, ARG_ROOM);

  // The getters read NUL-terminated lines of at most 1023 bytes.
  char line[1024] = {};
  std::memcpy(line, in, len < 1023 ? len : 1023);
  char out[1024];
  const int index = size > 0 ? data[0] % 8 : 1;
  TarvGetWord3(line, index, out);
  GetWord4(line, index, out, ',');
  int outLen = 0;
  TarvGetFirstWord4(in, len, out, &outLen);
  TarvUrlDecode(in, len, out, sizeof out);
  TarvUrlEncode(in, len < 300 ? len : 300, out, sizeof out);
  return 0;
}
