// Runs VBScript: keeps the procedures of the code added to it, its global
// variables, and the time limit of the run.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "services/scripthost/vbs_object.h"
#include "services/scripthost/vbs_parser.h"
#include "services/scripthost/vbs_value.h"

namespace tarv::vbs {

using Clock = std::chrono::steady_clock;

class Interpreter {
 public:
  // Without a factory, CreateObject fails: the script can make no object.
  explicit Interpreter(ObjectFactory* factory = nullptr);

  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;

  // Past this moment the run stops with kErrTimeout. Checked before every
  // statement and before an expression evaluated on its own; loops and
  // built-ins that wait are to check it too.
  void SetDeadline(std::optional<Clock::time_point> deadline) { deadline_ = deadline; }
  void CheckDeadline() const;

  ObjectFactory* factory() const { return factory_; }

  // Compiles the code, keeps its procedures, then runs its statements that
  // stand outside any procedure. Throws ScriptError.
  void AddCode(std::string_view source);
  void AddProgram(std::unique_ptr<Program> program);

  // One expression, evaluated at global scope. Throws ScriptError.
  Value Eval(std::string_view expression);
  Value Evaluate(const ExpressionUnit& unit);

  // A function of the added code; a missing one is "Type mismatch", as in a
  // script. Throws ScriptError.
  Value CallFunction(std::string_view name, std::span<const Value> args);

  // A global variable's value; Empty for a name never assigned.
  Value Global(std::string_view name) const;

 private:
  struct Procedure {
    const FunctionDecl* decl;
    const Program* program;
  };

  struct Frame {
    const FunctionDecl* function = nullptr;  // null outside procedures
    std::string_view source;                 // for the text of error lines
    std::unordered_map<std::string, Value> locals;
    Value result;
    bool exiting = false;
  };

  class DepthGuard;
  class FrameScope;

  void Exec(const Stmt& s);
  void ExecAssign(const AssignStmt& a);
  void ExecCall(const CallStmt& c);

  Value EvalExpr(const Expr& e);
  Value EvalNode(const Expr& e);
  Value EvalName(const NameExpr& n);
  Value EvalCall(const CallExpr& c);
  Value EvalMember(const MemberExpr& m);
  Value EvalBinary(const BinaryExpr& b);
  std::vector<Value> EvalArgs(const std::vector<ExprPtr>& args);

  // A function, a built-in, or an object variable's default member.
  Value CallByName(const std::string& key, std::span<const Value> args);
  Value CallProcedure(const Procedure& p, std::span<const Value> args);
  std::shared_ptr<Object> RequireObject(const Expr& e);

  Value* FindVariable(const std::string& key, bool with_result);
  void Store(const std::string& key, Value v);
  bool IsProcedureName(const std::string& key) const;

  void Locate(ScriptError& err, Pos pos) const;

  ObjectFactory* factory_;
  std::optional<Clock::time_point> deadline_;
  std::vector<std::unique_ptr<Program>> programs_;
  std::unordered_map<std::string, Procedure> procedures_;
  std::unordered_map<std::string, Value> globals_;
  Frame* frame_ = nullptr;
  int depth_ = 0;
};

}  // namespace tarv::vbs
