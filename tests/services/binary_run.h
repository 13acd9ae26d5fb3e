// A script run through the tarv binary that saves its text: the end-to-end
// check of a family against its real peer.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"

namespace tarvtest {

// kSanitized (tests/machine_wait.h): the sanitizer's shadow memory cannot
// live under an address-space limit.

// Writes `body` as dir/name, with the whole text saved to dir/out.txt after
// it, and runs it in the hide mode; the run must exit with 0 within
// `seconds` (by default the machine's deadline).  What it saved ("" when
// nothing).
// With `wrapper` the binary runs under that program ("/usr/bin/prlimit",
// "--as=N" ...), which is given the binary and its arguments last.
inline std::string RunSaved(const TempDir& dir, const std::string& name, const std::string& body,
                            int seconds = MachineSeconds(), const std::vector<std::string>& wrapper = {}) {
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
