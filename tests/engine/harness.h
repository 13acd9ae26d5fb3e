// Runs scripts inside the test process: the engine is reset for each run.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace tarvtest {

// A fresh directory under the system's temporary folder, removed on scope exit.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  // Writes bytes to a file in the directory and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);

// Writes the script into dir, starts the engine on "tarv MODE script" with
// the program's folder set to dir (so dir/log receives the log when it
// exists), without the run-error pause.  Does not run a step.
void Start(const TempDir& dir, const std::string& script, const std::string& mode = "hide");
// Start, then run every step and the end of run.
void Run(const TempDir& dir, const std::string& script, const std::string& mode = "hide");
// Value of a script variable, or "<missing>".
std::string Var(const std::string& name);
// The run errors recorded so far, each without its step and line heading.
std::vector<std::string> RunErrors();

// While alive, `hook` stands in front of every statement handler, so that a
// test can see what each step's handler returns; the hook runs the step's own
// handler through RunRealHandler.  One at a time.
class HandlerHook {
 public:
  explicit HandlerHook(int (*hook)());
  ~HandlerHook();
  HandlerHook(const HandlerHook&) = delete;
  HandlerHook& operator=(const HandlerHook&) = delete;
};
// Runs the current step's own handler under a HandlerHook; its result.
int RunRealHandler();

// Points the log at dir/log/run.htm, as start-up would, creating dir/log;
// the log file's path.
std::string LogInto(const TempDir& dir);

}  // namespace tarvtest
