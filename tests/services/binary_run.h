// A script run through the tarv binary that saves its text: the end-to-end
// check of a family against its real peer.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"

namespace tarvtest {

// Whether the tests run under the address sanitizer, whose shadow memory
// cannot live under an address-space limit (gcc says so with a macro, clang
// with a feature).
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
inline constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
inline constexpr bool kSanitized = false;
#endif

// Writes `body` as dir/name, with the whole text saved to dir/out.txt after
// it, and runs it in the hide mode; the run must exit with 0 within
// `seconds`.  What it saved ("" when nothing).
// With `wrapper` the binary runs under that program ("/usr/bin/prlimit",
// "--as=N" ...), which is given the binary and its arguments last.
inline std::string RunSaved(const TempDir& dir, const std::string& name, const std::string& body,
                            int seconds = 60, const std::vector<std::string>& wrapper = {}) {
  const std::string out = dir.File("out.txt");
  const std::string script = dir.Write(name, body + "text.headpointer move to head\n"
                                                    "text.tailpointer move to tail\n"
                                                    "text.save to file {" + out + "}\nrun.end\n");
  std::vector<std::string> args(wrapper.begin() + (wrapper.empty() ? 0 : 1), wrapper.end());
  if (!wrapper.empty()) args.push_back(TarvBinary());
  args.insert(args.end(), {"hide", script});
  const auto r = RunProgram(wrapper.empty() ? TarvBinary() : wrapper.front(), args, dir.path().string(), seconds);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return ReadFile(out);
}

}  // namespace tarvtest
