#include "services/scripthost/script_host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>

#include <stdexcept>

#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "services/scripthost/vbs_objects.h"
#include "services/scripthost/vbs_parser.h"

namespace tarv::scripthost {

namespace {

constexpr std::string_view kExprPrefix = "Ret = ";
constexpr int kExprLine = 3;  // the template line that holds the expression

// Appends one line of the template if it fits the room left, NUL included.
bool Append(std::string& script, std::string_view text) {
  if (script.size() + text.size() >= kScriptRoom) return false;
  script.append(text);
  return true;
}

vbs::Error CompileFault(int number, std::string description) {
  vbs::Error e;
  e.number = number;
  e.description = std::move(description);
  e.compile = true;
  return e;
}

// The parsed template must be exactly what the text says: one function that
// declares Ret, assigns the expression to it and returns its rounded value.
bool HasTemplateShape(const vbs::Program& p) {
  if (!p.code.empty() || p.procs.size() != 1) return false;
  const vbs::ProcDecl& fn = *p.procs.front();
  if (fn.is_sub || fn.key != "tarvmain" || !fn.params.empty() || fn.body.size() != 3) return false;
  auto assigns_to = [](const vbs::Stmt& s, std::string_view key) {
    return s.kind == vbs::StmtKind::Assign && s.target->kind == vbs::ExprKind::Name &&
           s.target->key == key;
  };
  return fn.body[0].kind == vbs::StmtKind::Dim && assigns_to(fn.body[1], "ret") &&
         assigns_to(fn.body[2], "tarvmain");
}

}  // namespace

std::optional<std::string> BuildArithmeticScript(std::string_view expression) {
  std::string script;
  const bool fits = Append(script, "Private Function TarvMain()\n") &&
                    Append(script, "Dim Ret \n") && Append(script, kExprPrefix) &&
                    Append(script, expression) && Append(script, " \n") &&
                    Append(script, "TarvMain = Round(Ret, 0) \n") &&
                    Append(script, "End Function\n");
  if (!fits) return std::nullopt;
  return script;
}

ScriptOutcome RunArithmetic(std::string_view expression,
                            std::optional<vbs::Clock::time_point> deadline) {
  ScriptOutcome out;
  const std::optional<std::string> script = BuildArithmeticScript(expression);
  if (!script) {
    out.error = CompileFault(vbs::kErrOutOfMemory, "Script too long");
    return out;
  }
  // The expression alone must be one expression with nothing after it;
  // otherwise text from a variable could add statements to the program.
  try {
    vbs::ParseExpression(expression);
  } catch (const vbs::ScriptError& err) {
    out.error = err.error();
    // Point at the place in the assembled script, which is what the log shows.
    if (out.error.line == 1) out.error.column += static_cast<int>(kExprPrefix.size());
    out.error.line += kExprLine - 1;
    out.error.source_text = vbs::SourceLine(*script, out.error.line);
    return out;
  }
  try {
    std::unique_ptr<vbs::Program> program = vbs::ParseProgram(*script);
    if (!HasTemplateShape(*program)) {
      out.error = CompileFault(vbs::kErrSyntax, std::string(vbs::ErrorDescription(vbs::kErrSyntax)));
      return out;
    }
    vbs::Interpreter vm;  // no object factory: CreateObject fails
    vm.SetDeadline(deadline);
    vm.SetMemoryBudget(0);  // one expression: its pieces' own limits bound it
    vm.AddProgram(std::move(program));
    out.text = vbs::ToString(vm.Eval("TarvMain"));
    out.ok = true;
  } catch (const vbs::ScriptError& err) {
    out.error = err.error();
  }
  return out;
}

std::string TarvMainText(vbs::Interpreter& vm) {
  const vbs::Value v = vm.Eval("TarvMain");
  if (v.kind() == vbs::Kind::Null || v.kind() == vbs::Kind::Array) vbs::ThrowRuntime(vbs::kErrTypeMismatch);
  return vbs::ToString(v);
}

UserOutcome RunUserScript(std::string_view script, std::optional<vbs::Clock::time_point> deadline) {
  UserOutcome out;
  vbs::StandardObjects objects;
  vbs::Interpreter vm(&objects);
  objects.SetInterpreter(&vm);
  vm.SetDeadline(deadline);
  try {
    vm.AddCode(script);
  } catch (const vbs::ScriptError& err) {
    out.error = err.error();
    out.compile_stage = true;
    return out;
  }
  try {
    out.text = TarvMainText(vm);
    out.ok = true;
  } catch (const vbs::ScriptError& err) {
    out.error = err.error();
  }
  return out;
}

std::string FailureReport(const vbs::Error& e) {
  std::string r = "exception :{" + e.description + ",ErrorMessage:Exception occurred.}";
  r += "COM Error:{ Line " + std::to_string(e.line) + ",Column " + std::to_string(e.column);
  r += ",Source [";
  if (!e.source.empty()) r += e.source;
  else r += e.compile ? "VBScript compilation error" : "VBScript runtime error";
  r += "] Description:" + e.description + ",GetText:" + e.source_text;
  r += ",GetNumber:" + std::to_string(e.number) + "}.";
  return r;
}

}  // namespace tarv::scripthost

namespace {

std::optional<tarv::vbs::Clock::time_point> StepDeadline() {
  if (sgRun.StepTimeout <= 0) return std::nullopt;
  return tarv::vbs::Clock::now() + std::chrono::seconds(sgRun.StepTimeout);
}

}  // namespace

int sys_vbscript_a2() {
  using namespace tarv;
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nsys_vbscript_a2 ,begin ...");
  if (const int r = ArgCheckLength(2, 1022, -2)) return r;
  scripthost::UserOutcome out;
  try {
    out = scripthost::RunUserScript(std::string_view(agA[2], static_cast<std::size_t>(igL[2])), StepDeadline());
  } catch (const std::exception&) {
    NmsRunError(-9, "sys_vbscript_a2 COM Error.");
    return TarvReturn(0, "sys_vbscript_a2 return");
  }
  if (out.compile_stage) {
    // A script that does not compile (or fails before TarvMain) is not
    // reported here: it leaves the statement, and the step's guard records it.
    const std::string report = scripthost::FailureReport(out.error).substr(0, scripthost::kErrorRoom);
    TarvDebugLogEscaped("\nsys_vbscript_a2 %s", report.c_str());
    throw std::runtime_error(report);
  }
  if (!out.ok) {
    const std::string report = scripthost::FailureReport(out.error).substr(0, scripthost::kErrorRoom);
    NmsRunError(-1, "vbscript %s", report.c_str());
    return TarvReturn(0, "sys_vbscript_a2 return");
  }
  // A result the variable store refuses is an error of the statement, not
  // a success with the old value left in place.
  if (TarvSetVar3("vbscript.return", out.text.c_str(), static_cast<int>(std::min<std::size_t>(out.text.size(), INT32_MAX))) < 0) {
    return NmsRunError(-1, "sys_vbscript_a2 vbscript.return refused the result of %d bytes",
                       static_cast<int>(std::min<std::size_t>(out.text.size(), INT32_MAX)));
  }
  return TarvReturn(0, "sys_vbscript_a2 return");
}

int vbscript_escape_crlf(const char* src, char* dest) {
  constexpr std::size_t kSourceMax = 1012;
  constexpr std::size_t kWrittenMax = 1012;
  if (!dest) return 0;
  const std::size_t n = src ? strnlen(src, kSourceMax) : 0;
  std::size_t w = 0;
  for (std::size_t i = 0; i < n && w <= kWrittenMax; ++i) {
    const char c = src[i];
    if (c == '\n' || c == '\r') {
      const char* piece = c == '\n' ? "\"&chr(10)&\"" : "\"&chr(13)&\"";
      std::memcpy(dest + w, piece, 11);
      w += 11;
    } else {
      dest[w++] = c;
    }
  }
  dest[w] = 0;
  return static_cast<int>(w);
}

int vbscript_caluate(const char* expr, char* dest) {
  using namespace tarv;
  TarvDebugLog("\nvbscript_caluate ,begin ...");
  try {
    if (!expr || !dest) return NmsRunError(-9, "vbscript_caluate  COM Error.");
    if (const auto script = scripthost::BuildArithmeticScript(expr)) {
      TarvDebugLog("\nVbs.Len=%d", static_cast<int>(script->size()));
      TarvDebugLogEscaped("\n%s", script->c_str());
    }
    scripthost::ScriptOutcome out = scripthost::RunArithmetic(expr, StepDeadline());
    if (out.ok && out.text.size() >= scripthost::kResultRoom) {
      out.ok = false;
      out.error.number = vbs::kErrOverflow;
      out.error.description = "Result too long";
    }
    if (!out.ok) {
      const std::string description = out.error.description.substr(0, scripthost::kErrorRoom);
      const std::string report = scripthost::FailureReport(out.error).substr(0, scripthost::kErrorRoom);
      NmsRunError(-1, "vbscript_caluate, exception.Description:[%s]", description.c_str());
      HtmlLogError("%s", report.c_str());
      return -1;
    }
    std::memcpy(dest, out.text.c_str(), out.text.size() + 1);
    return static_cast<int>(out.text.size());
  } catch (const std::exception&) {
    return NmsRunError(-9, "vbscript_caluate  COM Error.");
  }
}
