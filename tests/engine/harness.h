// Runs scripts inside the test process: the engine is reset for each run.
#pragma once
#include <filesystem>
#include <functional>
#include <map>
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

// Script lines that save the variable `a` as "kept" in dir/t.db, change it
// and load it back: a run that loads the database module leaves a = kept.
std::string SqliteKeptLines(const TempDir& dir);

// Writes the script into dir, starts the engine on "tarv MODE script" with
// the program's folder set to dir (so dir/log receives the log when it
// exists), without the run-error pause.  Does not run a step.
void Start(const TempDir& dir, const std::string& script, const std::string& mode = "hide");
// Start, then run every step and the end of run.
void Run(const TempDir& dir, const std::string& script, const std::string& mode = "hide");
// Value of a script variable, or "<missing>".
std::string Var(const std::string& name);
// The text buffer's bytes, from its first byte to its length.
std::string Text();
// The run errors recorded so far, each without its step and line heading.
std::vector<std::string> RunErrors();
// How often `what` occurs in `text`.
int Count(const std::string& text, const std::string& what);

// While alive, `hook` stands in front of every statement handler, so that a
// test can see what each step's handler returns; the hook runs the step's own
// handler through RunRealHandler.  One at a time (RunCase holds one while it
// runs).
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

// What a script run left behind.
struct Outcome {
  std::map<int, int> codes;         // by line: its handler's last result
  std::vector<std::string> errors;  // the run errors, as RunErrors gives them
  std::vector<int> errorLines;      // the line of each
  std::string text;                 // the text buffer
  int nmsErrors = 0;                // script errors
  static constexpr int kNotRun = 12345;
  // The line's handler result; kNotRun when its handler never ran.
  int Code(int line) const;
  // The line's first run error; "" when it has none.
  std::string ErrorOn(int line) const;
};

// The one runner of script cases: starts `script` in `mode`, runs `prepare`
// (after start-up, before the first step), then every step with each
// handler's result recorded.  A run still going after maxSteps steps fails
// the test and is stopped there.
Outcome RunCase(const TempDir& dir, const std::string& script,
                const std::function<void()>& prepare = {}, const std::string& mode = "hide",
                long maxSteps = 100000);

// The bytes of a log with what changes from run to run masked: local times
// become TIME, thread ids TID, process ids PID, and `dir` (when given) DIR.
std::string MaskLog(std::string log, const std::string& dir = "");
// The text of every file in dir/log, masked.
std::string LogsIn(const TempDir& dir);

// Compares `actual` with the file tests/golden/<name>.  With the environment
// variable TARV_UPDATE_GOLDEN=1 the file is written instead (review the
// difference before committing it).
void ExpectGolden(const std::string& name, const std::string& actual);
// Whether text has the shape: in it '9' stands for one digit, '#' for one or
// more, and every other byte for itself.
bool Shaped(const std::string& text, const std::string& shape);

// "== title ==\n" + text + "\n": a part of a golden file holding several cases.
std::string Section(const std::string& title, const std::string& text);

// Bytes as one line of a case file: control bytes, '%' and a final blank as %xx, a run of
// eight or more equal bytes (but '*', '{' and '}') as {{B*N}}.
std::string Shown(const std::string& bytes);

// Script cases kept in a data file (tests/engine/cases/NAME), each followed
// by what its run must leave:
//   === TITLE [| VAR...]   a case; VARs: built-in variables to show as well
//   the script's lines     ({{X*N}} stands for X N times, DIR for its folder)
//   ---
//   the outcome           (handler results by line, run and script errors,
//                          text and pointers, run settings, the script's
//                          variables, the files written), up to a blank line
// Lines before a "===" line are comments.  Each case runs through RunCase in
// a fresh folder, and the file must equal itself with every outcome rendered
// anew; TARV_UPDATE_GOLDEN=1 rewrites the outcomes instead.
void ExpectCaseFile(const std::string& name);

// Cases of one line each, kept in tests/engine/cases/NAME: "INPUT => OUTPUT",
// both as Shown gives them (" =>" alone for no output), OUTPUT being what
// `fn` makes of INPUT's bytes.
// Other lines are comments.  TARV_UPDATE_GOLDEN=1 rewrites the outputs.
void ExpectLineCases(const std::string& name,
                     const std::function<std::string(const std::string&)>& fn);

}  // namespace tarvtest
