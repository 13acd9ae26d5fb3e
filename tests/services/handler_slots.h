// Calling a handler directly: its argument slots filled by word position,
// and the last run error it recorded.
#pragma once
#include <cstring>
#include <string>

#include "engine/core/step_args.h"
#include "tests/engine/harness.h"

namespace tarvtest {

inline void SetArg(int w, const std::string& v) {
  std::memcpy(agA[w], v.data(), v.size());
  agA[w][v.size()] = 0;
  igL[w] = static_cast<int>(v.size());
}

inline std::string LastRunError() {
  const auto e = RunErrors();
  return e.empty() ? "" : e.back();
}

}  // namespace tarvtest
