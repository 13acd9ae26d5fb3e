// Runs VBScript: keeps the procedures of the code added to it, its global
// variables, the Err state and the limits of the run (time, stack depth).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
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

class ClassInstance;
struct ClassRuntime;

// Copy-on-write: an array shared with another variable is copied before
// one of them changes it, so that arrays behave as values.
Array& Writable(Value& v);
// A fixed or locked array given to another variable (or a ByVal parameter)
// becomes that variable's own dynamic copy: only the declared one refuses
// ReDim, and only the one passed sees its ByRef elements change.
void Unfix(Value& v);
std::shared_ptr<Array> NewArray(std::span<const Value> bounds, bool fixed);

class Interpreter {
 public:
  // Without a factory, CreateObject and New fail: the script can make no
  // object.
  explicit Interpreter(ObjectFactory* factory = nullptr);
  ~Interpreter();

  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;

  // Past this moment the run stops with kErrTimeout, which no On Error
  // catches. Checked at the first statement of every entry, then every few
  // hundred statements; built-ins that wait check it too.
  void SetDeadline(std::optional<Clock::time_point> deadline) { deadline_ = deadline; }
  void CheckDeadline() const;
  std::optional<Clock::time_point> deadline() const { return deadline_; }

  ObjectFactory* factory() const { return factory_; }
  // An object of the factory's (null when none is known by that name),
  // kept in mind until the interpreter ends: then every one still alive
  // gives up what it holds, so that objects holding one another (in any mix
  // with arrays and class instances) do not outlive the run.
  std::shared_ptr<Object> MakeObject(std::string_view prog_id);

  // How much the process may grow while this interpreter runs; 0: no budget
  // beyond the size limits of single pieces.
  void SetMemoryBudget(std::uint64_t bytes) { memory_budget_ = bytes; }

  // Compiles the code, keeps its procedures, then runs its statements that
  // stand outside any procedure. Throws ScriptError.
  void AddCode(std::string_view source);
  void AddProgram(std::unique_ptr<Program> program);

  // One expression, evaluated at global scope. Throws ScriptError.
  Value Eval(std::string_view expression);
  Value Evaluate(const ExpressionUnit& unit);

  // A procedure of the added code; a missing one is "Type mismatch", as in
  // a script. Throws ScriptError.
  Value CallFunction(std::string_view name, std::span<const Value> args);

  // A global variable's value; Empty for a name never assigned.
  Value Global(std::string_view name) const;

  // What the built-ins Eval, Execute, ExecuteGlobal and GetRef do: they work
  // in the scope of the running procedure.
  Value EvalHere(std::string_view expression);
  void ExecuteHere(std::string_view code, bool global);
  Value ProcedureReference(std::string_view name);

  // The Err object's state.
  Error& err() { return err_; }
  Value ErrObject();

  // Rnd's generator.
  std::uint32_t rnd_seed = 0x50000;
  // SetLocale's choice (a Windows locale id); text keeps US English forms.
  std::int32_t locale = 1033;

 private:
  struct GlobalEntry {
    std::string name;
    Value value;
    ProcDecl* proc = nullptr;
    bool defined = false;   // holds a variable
    bool declared = false;  // declared with Dim or Const
    bool is_const = false;
  };

  struct Frame {
    // Set field by field: zeroing the whole with one block write costs a
    // call more than the call's own work.
    Frame() noexcept {}
    const ProcDecl* proc = nullptr;  // null outside procedures
    std::string_view source;         // for the text of error lines
    bool strict = false;             // Option Explicit
    bool resume_next = false;
    // A procedure's slots, taken from the slot stack while it runs.
    Value* own = nullptr;
    Value** slots = nullptr;
    std::vector<Value> with;
    std::shared_ptr<ClassInstance> me;  // in a method: its instance
  };

  // The slots of the procedures running, taken and given back in call
  // order, in blocks that never move: a ByRef parameter points into the
  // frame of a caller, and a call costs no allocation once a block is there.
  struct SlotBlock {
    std::unique_ptr<Value[]> own;
    std::unique_ptr<Value*[]> slots;
    std::size_t size = 0;
    std::size_t used = 0;
  };
  class FrameSlots;
  [[gnu::noinline]] std::size_t SlotBlockFor(std::size_t n);

  enum class Flow : std::uint8_t { Normal, ExitDo, ExitFor, ExitProc };

  // One argument of a call: a value, or the variable it names for ByRef.
  struct Arg {
    Value value;
    Value* ref = nullptr;
  };

  class FrameScope;
  class EntryScope;

  // ---- binding names ----
  int Intern(const std::string& key);
  void BindProgram(Program& p, const ProcDecl* scope);
  void BindBlock(Block& b, ProcDecl* proc, const ProcDecl* scope, bool strict);
  void BindStmt(Stmt& s, ProcDecl* proc, const ProcDecl* scope, bool strict);
  void BindExpr(Expr& e, ProcDecl* proc, const ProcDecl* scope, bool strict);
  void BindName(Expr& e, ProcDecl* proc, const ProcDecl* scope, bool strict);
  bool Pure(const Expr& e) const;

  // ---- statements ----
  // Those marked hot run on every turn of a loop; the compiler keeps them
  // side by side, away from the code that runs once.
  [[gnu::hot]] Flow ExecBlock(const Block& b);
  Flow Exec(const Stmt& s);
  Flow ExecStmt(const Stmt& s);
  [[gnu::hot]] void ExecAssign(const Stmt& s);
  [[gnu::noinline, gnu::hot]] void AssignLocal(Value* slot, const Expr& value);
  [[gnu::hot]] bool TextOfWhole(Value* slot, const Expr& arg);
  [[gnu::hot]] bool AppendChar(const Stmt& s);
  [[gnu::noinline]] void ExecAssignGeneral(const Stmt& s);
  void ExecDim(const Stmt& s);
  void ExecCall(const Stmt& s);
  [[gnu::always_inline]] inline Flow ExecIf(const Stmt& s);
  [[gnu::hot]] Flow ExecFor(const Stmt& s);
  Flow ExecForEach(const Stmt& s);
  Flow ExecDo(const Stmt& s);
  Flow ExecSelect(const Stmt& s);
  Flow ExecWith(const Stmt& s);
  void Tick();

  // ---- expressions ----
  Value EvalExpr(const Expr& e);
  Value EvalName(const Expr& e);
  Value EvalCall(const Expr& e);
  Value EvalMember(const Expr& e);
  Value EvalBinary(const Expr& e);
  [[gnu::always_inline]] const Value* Peek(const Expr& e) const;
  [[gnu::always_inline]] bool TryWhole(const Expr& e, std::int64_t* v, bool* small) const;
  [[gnu::noinline, gnu::hot]] bool TryWholeSteps(const Expr& e, std::int64_t* v, bool* small) const;
  [[gnu::hot]] bool TryLen(const Expr& e, std::int64_t* v, bool* small) const;
  Value EvalNew(const Expr& e);
  bool Condition(const Expr& e);
  // Argument values of a call to an object or of an index, held in place
  // when there are few.
  class ArgValues;
  [[gnu::noinline]] Value CallObject(const std::shared_ptr<Object>& obj, const Expr& e);
  [[gnu::noinline]] Value IndexVariable(const Value& v, const std::vector<ExprPtr>& args, std::size_t from);
  std::vector<Value> EvalArgs(const std::vector<ExprPtr>& args);
  std::vector<Value> EvalArgs(const std::vector<ExprPtr>& args, std::size_t from);
  Value Index(const Value& container, std::span<const Value> args);
  std::shared_ptr<Object> RequireObject(const Expr& e);
  Value WithObject(const Expr& e);

  // ---- names and calls ----
  // The storage of a variable, or null when the name stands for a procedure,
  // a built-in, or nothing yet.
  Value* Variable(const NameRef& r);
  Value* StoreTarget(const Expr& name);
  ProcDecl* ProcedureOf(const NameRef& r);
  Value CallNamed(const Expr& e, const std::vector<ExprPtr>& args, std::size_t from, bool statement);
  Value CallProcedure(const ProcDecl& p, std::span<Arg> args, std::shared_ptr<ClassInstance> me = nullptr);
  [[gnu::always_inline]] inline Value RunFrame(const ProcDecl& p, Frame& f, FrameSlots& slots);
  Value CallProcedure(const ProcDecl& p, const std::vector<ExprPtr>& args, std::size_t from,
                      std::shared_ptr<ClassInstance> me = nullptr);
  // An array element passed ByRef: the parameter is the element itself.
  // Until the call ends the array is held, so the element stays where it
  // is whatever happens to the variable, and locked against ReDim and Erase.
  struct ElementArg {
    std::shared_ptr<Array> pinned;
    std::size_t offset = 0;
  };
  struct ElementLocks {
    std::vector<ElementArg> held;
    ~ElementLocks() {
      for (ElementArg& h : held) --h.pinned->locks;
    }
  };
  bool ElementOf(const Expr& a, ElementArg* arg);
  [[gnu::hot]] Value CallBuiltin(const Builtin& b, std::span<const Value> args, bool statement = false);
  [[gnu::hot]] Value CallBuiltinWith(const Builtin& b, const std::vector<ExprPtr>& args, std::size_t from,
                                     bool statement = false);
  Value CallBuiltinLent(const Builtin& b, const std::vector<ExprPtr>& args, std::size_t from, bool statement);
  bool Quiet(const Expr& e) const;
  void CheckStack() const;

  // ---- classes (vbs_class.cpp) ----
  void RegisterClasses(Program& p);
  Value NewInstance(const ClassDecl& cls);
  const ClassMember& FindMember(const ClassInstance& inst, std::string_view name) const;
  Value MemberGet(ClassInstance& inst, std::string_view name, std::span<const Value> args);
  Value MemberCall(ClassInstance& inst, const Expr& e, const std::vector<ExprPtr>& args, std::size_t from);
  void MemberAssign(ClassInstance& inst, std::string_view name, std::span<const Value> args, const Value& v,
                    bool set);
  void RunTerminations();
  Value* FieldOf(const NameRef& r);

  void Locate(ScriptError& err, Pos pos) const;
  Value RunTopLevel(const Program& p, bool strict, const ProcDecl* scope);

  ObjectFactory* factory_;
  std::optional<Clock::time_point> deadline_;
  std::vector<std::unique_ptr<Program>> programs_;
  std::deque<GlobalEntry> globals_;
  // Where each entry is, by its index: an entry never moves once made, and
  // reaching it costs one load where the deque's own index costs several.
  std::vector<GlobalEntry*> global_at_;
  GlobalEntry& GlobalAt(int i) const { return *global_at_[static_cast<std::size_t>(i)]; }
  std::unordered_map<std::string, int> global_index_;
  Frame* frame_ = nullptr;
  int tick_ = 0;
  unsigned memory_ticks_ = 0;
  std::uint64_t memory_budget_ = kMemoryBudget;
  std::uint64_t memory_base_ = 0;  // resident size at the first entry
  const char* stack_base_ = nullptr;
  Error err_;
  std::shared_ptr<Object> err_object_;
  std::shared_ptr<Object> wscript_;
  std::unordered_map<std::string, const ClassDecl*> classes_;
  std::shared_ptr<ClassRuntime> class_runtime_;
  std::vector<std::weak_ptr<Object>> made_;  // MakeObject's, for the end
  std::size_t made_bound_ = 1024;  // past this many the expired ones are dropped
  std::vector<SlotBlock> slot_blocks_;
  std::size_t slot_top_ = 0;  // the block frames take their slots from
  friend class ProcRef;
  friend class ClassInstance;
  friend class ErrObj;
};

// A literal or a local variable holding a number or text, read in place:
// nothing that runs script code can happen while it is being looked at.
inline const Value* Interpreter::Peek(const Expr& e) const {
  const Value* v;
  if (e.kind == ExprKind::Literal) v = &e.value;
  else if (e.kind == ExprKind::Name && e.ref.where == NameRef::Where::Local) v = frame_->slots[static_cast<std::size_t>(e.ref.slot)];
  else return nullptr;
  return v->kind() == Kind::Object || v->kind() == Kind::Array ? nullptr : v;
}

// n + 1, n - 2: the commonest tree, counted here without the call and the
// stack of the general way.
inline bool Interpreter::TryWhole(const Expr& e, std::int64_t* v, bool* small) const {
  const WholeStep* w = e.steps.data();
  if (e.steps.size() != 3 || w[0].kind != WholeStep::Local || w[1].kind != WholeStep::Literal ||
      (static_cast<BinaryOp>(w[2].op) != BinaryOp::Add && static_cast<BinaryOp>(w[2].op) != BinaryOp::Subtract)) {
    return TryWholeSteps(e, v, small);
  }
  const Value& x = *frame_->slots[static_cast<std::size_t>(w[0].slot)];
  std::int64_t a;
  if (x.kind() == Kind::Integer) a = x.integer();
  else if (x.kind() == Kind::Long) a = x.long_value();
  else return false;
  const std::int64_t b = w[1].value;
  const std::int64_t r = static_cast<BinaryOp>(w[2].op) == BinaryOp::Add ? a + b : a - b;
  if (r < INT32_MIN || r > INT32_MAX) return false;
  *v = r;
  *small = x.kind() == Kind::Integer && w[1].small && r >= INT16_MIN && r <= INT16_MAX;
  return true;
}

inline ProcDecl* Interpreter::ProcedureOf(const NameRef& r) {
  if (r.where != NameRef::Where::Global && r.where != NameRef::Where::Dynamic) return nullptr;
  GlobalEntry& g = GlobalAt(r.global);
  return g.defined ? nullptr : g.proc;
}

}  // namespace tarv::vbs
