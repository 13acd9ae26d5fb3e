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

// The report text of a failure, as the run-error log shows it.
std::string FailureReport(const vbs::Error& error);

}  // namespace tarv::scripthost

// Evaluates `expr` with the arithmetic template within the step time-out and
// copies the result text with its NUL into `dest` (1024 bytes). Returns the
// text's length, or a negative value after reporting the failure as a run
// error; `dest` is then left untouched.
int vbscript_caluate(const char* expr, char* dest);

struct Family;
const Family* ScriptHostFamily();
