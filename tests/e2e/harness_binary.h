// Runs the real tarv binary as a child process.
#pragma once
#include <string>
#include <vector>

#include "tests/machine_wait.h"

namespace tarvtest {

struct BinaryRun {
  int exitCode = -1;   // -1 when it did not exit normally
  int signal = 0;      // the signal that ended it, if any
  bool timedOut = false;
  std::string output;  // standard output and standard error
};

// Runs `program args...` in `cwd` and waits at most timeoutSeconds (then
// kills it); by default as long as the suite waits for the machine.
BinaryRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& cwd, int timeoutSeconds = MachineSeconds());

// The built tarv binary.
std::string TarvBinary();

// A copy of the built program as `folder`/tarv, with the build's modules
// reachable beside it as the program looks for them; returns its path.
std::string CopyProgram(const std::string& folder);

}  // namespace tarvtest
