// The script host: runs the fixed VBScript templates of the statements in our
// own interpreter and hands back the value of their function TarvMain.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "services/scripthost/vbs_eval.h"
#include "services/scripthost/vbs_value.h"

namespace tarv::scripthost {

// Room for an assembled script, its closing NUL included.
inline constexpr std::size_t kScriptRoom = 2044;
inline constexpr std::size_t kResultRoom = 1024;  // the caller's destination
inline constexpr std::size_t kErrorRoom = 1020;   // of a report text

// The arithmetic template around `expression`; nothing when it would not fit
// kScriptRoom.
std::optional<std::string> BuildArithmeticScript(std::string_view expression);

struct ScriptOutcome {
  bool ok = false;
  std::string text;   // the result as text, when ok
  vbs::Error error;   // what failed, when not ok
};

// Runs the arithmetic template on `expression` and gives the rounded result
// as text. The expression is pasted into program text, so it must be one
// expression and nothing else (no ':' or line end with more code after it),
// and the run can create no object. No logging here.
ScriptOutcome RunArithmetic(std::string_view expression,
                            std::optional<vbs::Clock::time_point> deadline);

// Runs a user's script (sys.vbscript): compiles it, runs its top-level code,
// then evaluates TarvMain. Objects come from the standard set (Dictionary,
// FileSystemObject, RegExp). A failure while compiling or running the
// top-level code is flagged `compile_stage`; one in TarvMain, or in turning
// its value into text, is not.
struct UserOutcome : ScriptOutcome {
  bool compile_stage = false;
};
UserOutcome RunUserScript(std::string_view script, std::optional<vbs::Clock::time_point> deadline);

// The value of the loaded script's TarvMain as text. What has no text (Null,
// an array, an object without a default value) throws a type mismatch.
std::string TarvMainText(vbs::Interpreter& vm);

// The report text of a failure, as the run-error log shows it.
std::string FailureReport(const vbs::Error& error);

}  // namespace tarv::scripthost

// Evaluates `expr` with the arithmetic template within the step time-out and
// copies the result text with its NUL into `dest` (1024 bytes). Returns the
// text's length, or a negative value after reporting the failure as a run
// error; `dest` is then left untouched.
int vbscript_caluate(const char* expr, char* dest);

// sys.vbscript {A2}: runs the script and sets vbscript.return to the value of
// its TarvMain.
int sys_vbscript_a2();

// Copies `src` into `dest` (1024 bytes) for a VBScript string literal: each
// line feed becomes "&chr(10)&" and each carriage return "&chr(13)&", both
// closed and reopened by double quotes. Reads at most 1012 bytes of the
// source and stops once more than 1012 bytes are written; returns the bytes
// written (at most 1023), the destination ending in NUL.
int vbscript_escape_crlf(const char* src, char* dest);

struct Family;
const Family* ScriptHostFamily();
