#include "services/scripthost/vbs_eval.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <typeinfo>

#include "services/scripthost/vbs_builtins.h"
#include "services/scripthost/vbs_class.h"
#include "services/scripthost/vbs_text.h"

namespace tarv::vbs {

namespace {

// Procedure calls recurse on the native stack; past this much stack below
// the entry (half of the usual 8 MB thread stack) the run fails as "Out of
// stack space" instead of crashing.
constexpr std::ptrdiff_t kStackBudget = 4 << 20;
constexpr int kTickStatements = 256;  // statements between clock readings
constexpr int kTicksPerMemoryCheck = 16;  // clock readings between memory checks

// The instance of a script's class an object is, or null. The class is
// final, so its exact type tells without walking the hierarchy as a
// dynamic_cast does on every member call.
ClassInstance* InstanceOf(Object* o) {
  return o && typeid(*o) == typeid(ClassInstance) ? static_cast<ClassInstance*>(o) : nullptr;
}

[[gnu::always_inline]] inline bool IsWhole(const Value& v) { return v.kind() == Kind::Integer || v.kind() == Kind::Long; }
[[gnu::always_inline]] inline std::int64_t WholeOf(const Value& v) {
  return v.kind() == Kind::Integer ? v.integer() : v.long_value();
}

Value FitWhole(std::int64_t r, bool may_be_integer) {
  if (may_be_integer && r >= INT16_MIN && r <= INT16_MAX) return Value::Integer(static_cast<std::int16_t>(r));
  if (r >= INT32_MIN && r <= INT32_MAX) return Value::Long(static_cast<std::int32_t>(r));
  return Value::Double(static_cast<double>(r));
}

// The quotient of \ is an Integer or a Long: past a Long (-2147483648 \ -1)
// it overflows rather than becoming a Double.
Value WholeQuotient(std::int64_t q, bool may_be_integer) {
  if (q > INT32_MAX) ThrowRuntime(kErrOverflow);
  return FitWhole(q, may_be_integer);
}

// An Integer, a Long or a Double as a double.
bool Number(const Value& v, double* d) {
  switch (v.kind()) {
    case Kind::Integer: *d = v.integer(); return true;
    case Kind::Long: *d = v.long_value(); return true;
    case Kind::Double: *d = v.dbl(); return true;
    default: return false;
  }
}

Value FiniteDouble(double d) {
  if (!std::isfinite(d)) ThrowRuntime(kErrOverflow);
  return Value::Double(d);
}

std::optional<int> CompareFast(const Value& x, const Value& y, bool xl, bool yl) {
  if (IsWhole(x) && IsWhole(y)) {
    const std::int64_t a = WholeOf(x), b = WholeOf(y);
    return a < b ? -1 : (a > b ? 1 : 0);
  }
  return Compare(x, y, xl, yl);
}

[[gnu::always_inline]] inline bool Test(BinaryOp op, int c) {
  switch (op) {
    case BinaryOp::Eq: return c == 0;
    case BinaryOp::Ne: return c != 0;
    case BinaryOp::Lt: return c < 0;
    case BinaryOp::Gt: return c > 0;
    case BinaryOp::Le: return c <= 0;
    case BinaryOp::Ge: return c >= 0;
    default: return false;
  }
}

}  // namespace

Array& Writable(Value& v) {
  // Each ByRef element of a call still running holds the array once more.
  if (v.array().use_count() > 1 + static_cast<long>(v.array()->locks)) {
    v = Value::Array(std::make_shared<Array>(*v.array()));
    v.array()->locks = 0;  // a copy is not what was passed
  }
  return *v.array();
}

void Unfix(Value& v) {
  // A locked array has parameters writing into it: the copy must not see them.
  if (v.kind() != Kind::Array || (!v.array()->fixed && v.array()->locks == 0)) return;
  auto copy = std::make_shared<Array>(*v.array());
  copy->fixed = false;
  copy->locks = 0;
  v = Value::Array(std::move(copy));
}

std::shared_ptr<Array> NewArray(std::span<const Value> bounds, bool fixed) {
  auto a = std::make_shared<Array>();
  a->fixed = fixed;
  std::uint64_t total = 1;
  for (const Value& b : bounds) {
    const std::int32_t ub = ToLong(b);
    if (ub < -1) ThrowRuntime(kErrSubscriptOutOfRange);
    a->upper.push_back(ub);
    total *= static_cast<std::uint64_t>(ub) + 1;
    if (total > kMaxArrayElements) ThrowRuntime(kErrOutOfMemory);
  }
  if (total > 65536) CheckMemory();
  if (bounds.empty()) total = 0;
  a->items.resize(total);
  return a;
}

namespace {

// The error Err.Raise raises for a number. A number of 1 to 65535 is the
// error itself; a larger one is no error number (Invalid procedure call). A
// negative one is an HRESULT: of FACILITY_CONTROL it carries the language's
// number in its low word; a system code the language has a number of its
// own for becomes that number (E_OUTOFMEMORY is Out of memory); any other
// (vbObjectError + n among them) stays as it is.
std::int32_t RaisedNumber(std::int32_t n) {
  if (n > 0) return n <= 0xFFFF ? n : kErrInvalidCall;
  const std::uint32_t h = static_cast<std::uint32_t>(n);
  if ((h >> 16) == 0x800Au && (h & 0xFFFFu) != 0) return static_cast<std::int32_t>(h & 0xFFFFu);
  static constexpr struct {
    std::uint32_t hresult;
    std::int32_t number;
  } kKnown[] = {
      {0x80004001u, kErrActionNotSupported},   // E_NOTIMPL
      {0x80004002u, kErrNoAutomation},         // E_NOINTERFACE
      {0x80020003u, kErrNoSuchMember},         // DISP_E_MEMBERNOTFOUND
      {0x80020005u, kErrTypeMismatch},         // DISP_E_TYPEMISMATCH
      {0x80020006u, kErrNoSuchMember},         // DISP_E_UNKNOWNNAME
      {0x80020008u, kErrBadVarType},           // DISP_E_BADVARTYPE
      {0x8002000Au, kErrOverflow},             // DISP_E_OVERFLOW
      {0x8002000Bu, kErrSubscriptOutOfRange},  // DISP_E_BADINDEX
      {0x8002000Du, kErrArrayFixed},           // DISP_E_ARRAYISLOCKED
      {0x8002000Eu, kErrWrongArgCount},        // DISP_E_BADPARAMCOUNT
      {0x80020012u, kErrDivisionByZero},       // DISP_E_DIVBYZERO
      {0x80040154u, kErrCannotCreateObject},   // REGDB_E_CLASSNOTREG
      {0x80070002u, kErrFileNotFound},         // FACILITY_WIN32: ERROR_FILE_NOT_FOUND
      {0x80070003u, kErrPathNotFound},         // ERROR_PATH_NOT_FOUND
      {0x80070005u, kErrPermissionDenied},     // ERROR_ACCESS_DENIED
      {0x80070008u, kErrOutOfMemory},          // ERROR_NOT_ENOUGH_MEMORY
      {0x8007000Eu, kErrOutOfMemory},          // E_OUTOFMEMORY
      {0x80070050u, kErrFileExists},           // ERROR_FILE_EXISTS
      {0x80070057u, kErrInvalidCall},          // E_INVALIDARG
      {0x800700B7u, kErrFileExists},           // ERROR_ALREADY_EXISTS
  };
  for (const auto& k : kKnown) {
    if (k.hresult == h) return k.number;
  }
  return n;
}

// The objects every script has.
class ErrObj : public Object {
 public:
  explicit ErrObj(Interpreter& in) : in_(in) {}
  std::string TypeName() const override { return "ErrObject"; }
  Value GetProperty(std::string_view name, std::span<const Value> args) override {
    if (!args.empty()) return Call(name, args);
    const Error& e = in_.err();
    if (name.empty() || EqualsNoCase(name, "number")) return Value::Long(e.number);
    if (EqualsNoCase(name, "description")) return Value::String(e.description);
    if (EqualsNoCase(name, "source")) return Value::String(e.source);
    if (EqualsNoCase(name, "helpfile")) return Value::String(e.help_file);
    if (EqualsNoCase(name, "helpcontext")) return Value::Long(e.help_context);
    return Call(name, args);
  }
  void SetProperty(std::string_view name, std::span<const Value>, const Value& v) override {
    Error& e = in_.err();
    if (name.empty() || EqualsNoCase(name, "number")) e.number = ToLong(v);
    else if (EqualsNoCase(name, "description")) e.description = ToString(v);
    else if (EqualsNoCase(name, "source")) e.source = ToString(v);
    else if (EqualsNoCase(name, "helpfile")) e.help_file = ToString(v);
    else if (EqualsNoCase(name, "helpcontext")) e.help_context = ToLong(v);
    else ThrowRuntime(kErrNoSuchMember);
  }
  Value Call(std::string_view name, std::span<const Value> args) override {
    if (EqualsNoCase(name, "clear")) {
      in_.err() = Error{};
      return Value();
    }
    if (EqualsNoCase(name, "raise")) {
      if (args.empty() || args.size() > 5) ThrowRuntime(kErrWrongArgCount);
      Error e;
      const std::int32_t asked = ToLong(args[0]);
      if (asked == 0) ThrowRuntime(kErrInvalidCall);
      e.number = RaisedNumber(asked);
      // What the call leaves out is what Err still holds, unless cleared.
      const Error& held = in_.err();
      auto given = [&](std::size_t i) {
        return args.size() > i && args[i].kind() != Kind::Empty && !IsMissing(args[i]);
      };
      e.source = given(1) ? ToString(args[1]) : held.source;
      e.description = given(2) ? ToString(args[2])
                      : held.description.empty() ? std::string(ErrorDescription(e.number))
                                                 : held.description;
      e.help_file = given(3) ? ToString(args[3]) : held.help_file;
      e.help_context = given(4) ? ToLong(args[4]) : held.help_context;
      throw ScriptError(std::move(e));
    }
    if (name.empty() && args.empty()) return GetProperty(name, args);
    ThrowRuntime(kErrNoSuchMember);
  }

 private:
  Interpreter& in_;
};

}  // namespace

// A procedure taken by GetRef: calling its default member calls it.
class ProcRef : public Object {
 public:
  ProcRef(Interpreter& in, const ProcDecl* p) : in_(in), p_(p) {}
  std::string TypeName() const override { return "Object"; }
  Value GetProperty(std::string_view name, std::span<const Value> args) override {
    return Call(name, args);
  }
  void SetProperty(std::string_view, std::span<const Value>, const Value&) override {
    ThrowRuntime(kErrNoSuchMember);
  }
  Value Call(std::string_view name, std::span<const Value> args) override {
    if (!name.empty()) ThrowRuntime(kErrNoSuchMember);
    std::vector<Interpreter::Arg> a(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) a[i].value = args[i];
    return in_.CallProcedure(*p_, a);
  }

 private:
  Interpreter& in_;
  const ProcDecl* p_;
};

class Interpreter::ArgValues {
 public:
  ArgValues(Interpreter& in, const std::vector<ExprPtr>& args, std::size_t from = 0) : n_(args.size() - from) {
    // One literal, or a local's number or text, is read where it is: the
    // object given it runs no script code that could change that local.
    if (n_ == 1) {
      if (const Value* p = in.Peek(*args[from])) {
        data_ = p;
        return;
      }
    }
    if (n_ <= kInPlace) {
      for (std::size_t i = 0; i < n_; ++i) in_place_[i] = in.EvalExpr(*args[from + i]);
      data_ = in_place_;
    } else {
      more_ = in.EvalArgs(args, from);
      data_ = more_.data();
    }
  }
  ArgValues(const ArgValues&) = delete;
  ArgValues& operator=(const ArgValues&) = delete;
  operator std::span<const Value>() const { return {data_, n_}; }

 private:
  static constexpr std::size_t kInPlace = 3;
  Value in_place_[kInPlace];
  std::vector<Value> more_;
  const Value* data_ = nullptr;
  std::size_t n_;
};

// ---- scopes and limits ----------------------------------------------------

class Interpreter::FrameScope {
 public:
  FrameScope(Interpreter& in, Frame& f) : in_(in), saved_(in.frame_) { in_.frame_ = &f; }
  ~FrameScope() { in_.frame_ = saved_; }
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;

 private:
  Interpreter& in_;
  Frame* saved_;
};

// Marks the stack depth where a call from outside began and makes the first
// statement read the clock.
class Interpreter::EntryScope {
 public:
  explicit EntryScope(Interpreter& in) : in_(in), outer_(in.stack_base_ == nullptr) {
    if (outer_) {
      in_.stack_base_ = static_cast<const char*>(__builtin_frame_address(0));
      // The budget counts from the first entry: what the top-level code
      // still holds when TarvMain runs is part of the same run.
      if (in_.memory_budget_ != 0 && in_.memory_base_ == 0) in_.memory_base_ = ResidentBytes();
      const std::uint64_t base = in_.memory_budget_ == 0 ? 0 : in_.memory_base_;
      saved_ceiling_ = SetMemoryCeiling(base == 0 ? 0 : base + in_.memory_budget_);
    }
    in_.tick_ = 0;
  }
  ~EntryScope() {
    if (outer_) {
      in_.stack_base_ = nullptr;
      SetMemoryCeiling(saved_ceiling_);
    }
  }
  EntryScope(const EntryScope&) = delete;
  EntryScope& operator=(const EntryScope&) = delete;

 private:
  Interpreter& in_;
  bool outer_;
  std::uint64_t saved_ceiling_ = 0;
};

Interpreter::Interpreter(ObjectFactory* factory) : factory_(factory), class_runtime_(NewClassRuntime(this)) {}
Interpreter::~Interpreter() {
  CloseClassRuntime(class_runtime_);
  // Whatever an object still holds goes now: a cycle among objects made by
  // this run is broken, and freeing what it held may free later ones.
  for (const std::weak_ptr<Object>& w : made_) {
    if (const std::shared_ptr<Object> obj = w.lock()) obj->GiveUpValues();
  }
}

std::shared_ptr<Object> Interpreter::MakeObject(std::string_view prog_id) {
  std::shared_ptr<Object> obj = factory_ ? factory_->Create(prog_id) : nullptr;
  if (!obj) return obj;
  if (made_.size() >= made_bound_) {
    std::erase_if(made_, [](const std::weak_ptr<Object>& w) { return w.expired(); });
    // Dropping them again only once as many again have been made keeps
    // each object's cost constant however many stay alive.
    made_bound_ = std::max<std::size_t>(1024, 2 * made_.size());
  }
  made_.push_back(obj);
  return obj;
}

void Interpreter::CheckDeadline() const {
  if (!deadline_ || Clock::now() < *deadline_) return;
  Error e;
  e.number = kErrTimeout;
  e.description = std::string(ErrorDescription(kErrTimeout));
  e.time_limit = true;
  throw ScriptError(std::move(e));
}

void Interpreter::CheckStack() const {
  const char* here = static_cast<const char*>(__builtin_frame_address(0));
  if (stack_base_ && stack_base_ - here > kStackBudget) ThrowRuntime(kErrOutOfStack);
}

void Interpreter::Tick() {
  tick_ = kTickStatements;
  CheckDeadline();
  if (++memory_ticks_ % kTicksPerMemoryCheck == 0) CheckMemory();
}

void Interpreter::Locate(ScriptError& err, Pos pos) const {
  Error& e = err.error();
  if (e.line != 0) return;
  e.line = pos.line;
  e.column = pos.column;
  if (frame_) e.source_text = SourceLine(frame_->source, pos.line);
}

Value Interpreter::ErrObject() {
  if (!err_object_) err_object_ = std::make_shared<ErrObj>(*this);
  return Value::Object(err_object_);
}

// ---- binding names --------------------------------------------------------

namespace {

// Every Const statement inside the blocks of `b` (not those of `b` itself).
template <typename Fn>
void ForNestedConsts(const Block& b, Fn&& fn, bool nested = false) {
  for (const Stmt& s : b) {
    if (nested && s.kind == StmtKind::Const) fn(s);
    for (const Arm& arm : s.arms) ForNestedConsts(arm.body, fn, true);
    ForNestedConsts(s.body, fn, true);
  }
}

}  // namespace

int Interpreter::Intern(const std::string& key) {
  auto [it, fresh] = global_index_.try_emplace(key, static_cast<int>(globals_.size()));
  if (fresh) {
    global_at_.push_back(&globals_.emplace_back());
    global_at_.back()->name = key;
  }
  return it->second;
}

void Interpreter::BindName(Expr& e, ProcDecl* proc, const ProcDecl* scope, bool strict) {
  NameRef& r = e.ref;
  r.strict = strict;
  const ProcDecl* local = proc ? proc : scope;
  if (local) {
    if (auto it = local->slots.find(e.key); it != local->slots.end()) {
      // A function's own name with arguments calls it again.
      if (!(e.kind == ExprKind::Call && it->second == local->result_slot)) {
        r.where = NameRef::Where::Local;
        r.slot = it->second;
        r.is_const = local->const_slot[static_cast<std::size_t>(it->second)];
        return;
      }
    }
    if (local->owner) {
      // A method sees the variables and procedures of its class.
      if (auto it = local->owner->members.find(e.key); it != local->owner->members.end()) {
        r.where = it->second.field >= 0 ? NameRef::Where::Field : NameRef::Where::Member;
        r.slot = it->second.field;
        r.member = &it->second;
        return;
      }
    }
    if (!proc) {
      // Code run by Execute inside a procedure sees the names it uses undeclared.
      if (auto it = local->implicit_slots.find(e.key); it != local->implicit_slots.end()) {
        r.where = NameRef::Where::Dynamic;
        r.slot = it->second;
        r.global = Intern(e.key);
        return;
      }
    }
  }
  r.global = Intern(e.key);
  r.builtin = FindBuiltin(e.key);
  const GlobalEntry& g = GlobalAt(r.global);
  if (!proc || g.declared || g.proc || r.builtin) {
    r.where = NameRef::Where::Global;
    return;
  }
  // Neither declared by the procedure nor a global known yet: the global if
  // one exists when this runs, else a local of the procedure.
  r.where = NameRef::Where::Dynamic;
  auto [it, fresh] = proc->implicit_slots.try_emplace(e.key, proc->slot_count);
  if (fresh) {
    ++proc->slot_count;
    proc->const_slot.push_back(false);
  }
  r.slot = it->second;
}

void Interpreter::BindExpr(Expr& e, ProcDecl* proc, const ProcDecl* scope, bool strict) {
  if (e.kind == ExprKind::Name || e.kind == ExprKind::Call) BindName(e, proc, scope, strict);
  if (e.lhs) BindExpr(*e.lhs, proc, scope, strict);
  if (e.rhs) BindExpr(*e.rhs, proc, scope, strict);
  for (ExprPtr& a : e.args) BindExpr(*a, proc, scope, strict);
  bool whole = false;
  switch (e.kind) {
    case ExprKind::Literal: whole = IsWhole(e.value); break;
    case ExprKind::Name: whole = e.ref.where == NameRef::Where::Local; break;
    case ExprKind::Call:
      // Len of a local or a literal: counted in place, like the numbers.
      whole = e.key == "len" && e.ref.builtin && e.ref.where == NameRef::Where::Global && e.args.size() == 1 &&
              (e.args[0]->kind == ExprKind::Literal ||
               (e.args[0]->kind == ExprKind::Name && e.args[0]->ref.where == NameRef::Where::Local));
      e.text_of_whole = e.key == "cstr" && e.ref.builtin && e.ref.where == NameRef::Where::Global &&
                        e.args.size() == 1 &&
                        (e.args[0]->kind == ExprKind::Literal ||
                         (e.args[0]->kind == ExprKind::Name && e.args[0]->ref.where == NameRef::Where::Local));
      e.char_of_whole = e.key == "chr" && e.ref.builtin && e.ref.where == NameRef::Where::Global && e.args.size() == 1;
      break;
    case ExprKind::Binary:
      switch (static_cast<BinaryOp>(e.op)) {
        case BinaryOp::Add:
        case BinaryOp::Subtract:
        case BinaryOp::Multiply:
        case BinaryOp::IntDivide:
        case BinaryOp::Modulo: whole = e.lhs->whole && e.rhs->whole; break;
        default: break;
      }
      break;
    default: break;
  }
  e.whole = whole;
  if (!whole || e.kind != ExprKind::Binary) return;
  // The top of the tree so far: its parts give their steps to it.
  e.steps.clear();
  for (Expr* side : {e.lhs.get(), e.rhs.get()}) {
    WholeStep w;
    switch (side->kind) {
      case ExprKind::Literal:
        w.kind = WholeStep::Literal;
        w.value = WholeOf(side->value);
        w.small = side->value.kind() == Kind::Integer;
        e.steps.push_back(w);
        break;
      case ExprKind::Name:
        w.kind = WholeStep::Local;
        w.slot = side->ref.slot;
        e.steps.push_back(w);
        break;
      case ExprKind::Call:
        w.kind = WholeStep::Len;
        w.len = side;
        e.steps.push_back(w);
        break;
      default:
        e.steps.insert(e.steps.end(), side->steps.begin(), side->steps.end());
        side->steps.clear();
        break;
    }
  }
  WholeStep w;
  w.kind = WholeStep::Op;
  w.op = e.op;
  e.steps.push_back(w);
  if (e.steps.size() > kMaxWholeSteps) {
    e.whole = false;
    e.steps.clear();
  }
}

// Len(text) of a `whole` tree, unless a script defined something named Len.
bool Interpreter::TryLen(const Expr& e, std::int64_t* v, bool* small) const {
  const GlobalEntry& g = GlobalAt(e.ref.global);
  if (g.defined || g.proc) return false;
  const Expr& a = *e.args[0];
  const Value& text = a.kind == ExprKind::Literal ? a.value : *frame_->slots[static_cast<std::size_t>(a.ref.slot)];
  if (text.kind() != Kind::String) return false;
  *v = Units(text.str(), text.AsciiPrefix()) - (EndsWithHalfUnit(text.str()) ? 1 : 0);
  *small = false;
  return *v <= INT32_MAX;
}

// The value of a `whole` tree when every leaf holds an Integer or a Long and
// no step leaves 32 bits or divides by zero; `small` says it is an Integer.
// Otherwise false, and the tree is evaluated the usual way (it has no side
// effects, so nothing happens twice).
bool Interpreter::TryWholeSteps(const Expr& e, std::int64_t* v, bool* small) const {
  std::array<std::int64_t, kMaxWholeSteps> num;
  // A part is an Integer when its own parts are and it fits 16 bits, so the
  // whole is one when every leaf is and every step's result fits.
  bool all_small = true;
  std::size_t top = 0;
  for (const WholeStep& w : e.steps) {
    switch (w.kind) {
      case WholeStep::Literal:
        num[top++] = w.value;
        all_small = all_small && w.small;
        continue;
      case WholeStep::Local: {
        const Value& x = *frame_->slots[static_cast<std::size_t>(w.slot)];
        if (x.kind() == Kind::Integer) {
          num[top++] = x.integer();
        } else if (x.kind() == Kind::Long) {
          num[top++] = x.long_value();
          all_small = false;
        } else {
          return false;
        }
        continue;
      }
      case WholeStep::Len: {
        bool is_small;
        if (!TryLen(*w.len, &num[top], &is_small)) return false;
        ++top;
        all_small = all_small && is_small;
        continue;
      }
      case WholeStep::Op: break;
    }
    --top;
    const std::int64_t a = num[top - 1], b = num[top];
    std::int64_t r;
    switch (static_cast<BinaryOp>(w.op)) {
      case BinaryOp::Add: r = a + b; break;
      case BinaryOp::Subtract: r = a - b; break;
      case BinaryOp::Multiply: r = a * b; break;
      // Both sides hold 32 bits, and dividing in 32 bits is quicker; only
      // -2147483648 / -1 does not fit (the CPU traps): its 2147483648 leaves
      // 32 bits below, and the usual way raises the overflow.
      case BinaryOp::IntDivide:
        if (b == 0) return false;
        r = b == -1 ? -a : static_cast<std::int32_t>(a) / static_cast<std::int32_t>(b);
        break;
      case BinaryOp::Modulo:
        if (b == 0) return false;
        r = b == -1 ? 0 : static_cast<std::int32_t>(a) % static_cast<std::int32_t>(b);
        break;
      default: return false;
    }
    if (r < INT32_MIN || r > INT32_MAX) return false;
    all_small = all_small && r >= INT16_MIN && r <= INT16_MAX;
    num[top - 1] = r;
  }
  *v = num[0];
  *small = all_small;
  return true;
}

// An expression that can neither run script code nor change a variable.
bool Interpreter::Pure(const Expr& e) const {
  switch (e.kind) {
    case ExprKind::Literal: return true;
    case ExprKind::Name:
      if (e.ref.where == NameRef::Where::Local) return true;
      return e.ref.where == NameRef::Where::Global && !e.ref.builtin &&
             !GlobalAt(e.ref.global).proc;
    case ExprKind::Unary: return Pure(*e.lhs);
    case ExprKind::Binary: return Pure(*e.lhs) && Pure(*e.rhs);
    case ExprKind::Call: {
      if (e.ref.where != NameRef::Where::Global || !e.ref.builtin) return false;
      if (GlobalAt(e.ref.global).proc) return false;
      if (e.key.starts_with("exec") || e.key == "eval" || e.key == "getref") return false;
      return std::all_of(e.args.begin(), e.args.end(), [this](const ExprPtr& a) { return Pure(*a); });
    }
    default: return false;
  }
}

void Interpreter::BindStmt(Stmt& s, ProcDecl* proc, const ProcDecl* scope, bool strict) {
  auto bind = [&](ExprPtr& e) {
    if (e) BindExpr(*e, proc, scope, strict);
  };
  bind(s.target);
  bind(s.value);
  bind(s.from);
  bind(s.to);
  bind(s.step);
  bind(s.cond);
  for (ExprPtr& a : s.args) bind(a);
  for (DimItem& item : s.items) {
    bind(item.target);
    bind(item.value);
    for (ExprPtr& b : item.bounds) bind(b);
  }
  for (Arm& arm : s.arms) {
    bind(arm.cond);
    for (CaseTest& t : arm.tests) {
      bind(t.lo);
      bind(t.hi);
    }
    BindBlock(arm.body, proc, scope, strict);
  }
  BindBlock(s.body, proc, scope, strict);
  if (s.kind == StmtKind::Assign && s.target->kind == ExprKind::Name &&
      s.value->kind == ExprKind::Binary && static_cast<BinaryOp>(s.value->op) == BinaryOp::Concat) {
    const Expr& left = *s.value->lhs;
    const NameRef& a = s.target->ref;
    const NameRef& b = left.ref;
    s.append = left.kind == ExprKind::Name && a.where == b.where && a.slot == b.slot &&
               a.global == b.global && a.where != NameRef::Where::Unbound && !a.is_const &&
               Pure(*s.value->rhs);
  }
}

void Interpreter::BindBlock(Block& b, ProcDecl* proc, const ProcDecl* scope, bool strict) {
  for (Stmt& s : b) BindStmt(s, proc, scope, strict);
}

void Interpreter::BindProgram(Program& p, const ProcDecl* scope) {
  // Every clash is found before anything is registered, so that a program
  // that fails leaves nothing half-bound behind.
  auto declared_here = [&](auto&& each) {
    for (const Stmt& s : p.code) {
      if (s.kind != StmtKind::Dim && s.kind != StmtKind::Const) continue;
      for (const DimItem& item : s.items) {
        if (!(scope && scope->slots.contains(item.target->key))) each(s, item.target->key);
      }
    }
    // A Const inside a block of the top-level code exists before it runs.
    ForNestedConsts(p.code, [&](const Stmt& s) {
      for (const DimItem& item : s.items) {
        if (!(scope && scope->slots.contains(item.target->key))) each(s, item.target->key);
      }
    });
  };
  for (const auto& proc : p.procs) {
    if (GlobalAt(Intern(proc->key)).defined) ThrowRuntime(kErrNameRedefined);
  }
  declared_here([&](const Stmt&, const std::string& key) {
    if (GlobalAt(Intern(key)).proc) ThrowRuntime(kErrNameRedefined);
  });
  for (auto& proc : p.procs) GlobalAt(Intern(proc->key)).proc = proc.get();
  declared_here([&](const Stmt& s, const std::string& key) {
    GlobalEntry& g = GlobalAt(Intern(key));
    g.defined = g.declared = true;
    g.is_const = s.kind == StmtKind::Const;
  });
  RegisterClasses(p);
  BindBlock(p.code, nullptr, scope, p.option_explicit);
  for (auto& proc : p.procs) BindBlock(proc->body, proc.get(), nullptr, p.option_explicit);
}

// ---- public entry points --------------------------------------------------

void Interpreter::AddCode(std::string_view source) { AddProgram(ParseProgram(source)); }

void Interpreter::AddProgram(std::unique_ptr<Program> program) {
  EntryScope entry(*this);
  Program& p = *program;
  programs_.push_back(std::move(program));
  BindProgram(p, nullptr);
  RunTopLevel(p, p.option_explicit, nullptr);
}

Value Interpreter::RunTopLevel(const Program& p, bool strict, const ProcDecl*) {
  Frame top;
  top.source = p.source;
  top.strict = strict;
  FrameScope scope(*this, top);
  ForNestedConsts(p.code, [&](const Stmt& s) { Exec(s); });
  ExecBlock(p.code);
  return Value();
}

Value Interpreter::Eval(std::string_view expression) {
  EntryScope entry(*this);
  const ExpressionUnit unit = ParseExpression(expression);
  return Evaluate(unit);
}

Value Interpreter::Evaluate(const ExpressionUnit& unit) {
  EntryScope entry(*this);
  BindExpr(*unit.root, nullptr, nullptr, false);
  Frame top;
  top.source = unit.source;
  FrameScope scope(*this, top);
  try {
    CheckDeadline();
  } catch (ScriptError& err) {
    Locate(err, unit.root->pos);
    throw;
  }
  return EvalExpr(*unit.root);
}

Value Interpreter::CallFunction(std::string_view name, std::span<const Value> args) {
  EntryScope entry(*this);
  const auto it = global_index_.find(FoldCase(name));
  if (it == global_index_.end() || !GlobalAt(it->second).proc) {
    ThrowRuntime(kErrTypeMismatch);
  }
  std::vector<Arg> a(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) a[i].value = args[i];
  return CallProcedure(*GlobalAt(it->second).proc, a);
}

Value Interpreter::Global(std::string_view name) const {
  const auto it = global_index_.find(FoldCase(name));
  if (it == global_index_.end()) return Value();
  const GlobalEntry& g = GlobalAt(it->second);
  return g.defined ? g.value : Value();
}

Value Interpreter::EvalHere(std::string_view expression) {
  CheckStack();
  ExpressionUnit unit = ParseExpression(expression);
  const ProcDecl* scope = frame_ ? frame_->proc : nullptr;
  BindExpr(*unit.root, nullptr, scope, false);
  Frame* saved = frame_;
  const std::string_view saved_source = frame_ ? frame_->source : std::string_view();
  if (frame_) frame_->source = unit.source;
  try {
    Value v = EvalExpr(*unit.root);
    if (saved) saved->source = saved_source;
    return v;
  } catch (...) {
    if (saved) saved->source = saved_source;
    throw;
  }
}

void Interpreter::ExecuteHere(std::string_view code, bool global) {
  CheckStack();
  std::unique_ptr<Program> program = ParseProgram(code);
  Program& p = *program;
  const ProcDecl* scope = (!global && frame_) ? frame_->proc : nullptr;
  // Procedures and classes are registered while binding, so a program that
  // has any is kept before binding can fail half-way; one without is dropped
  // after its run.
  if (!p.procs.empty() || !p.classes.empty()) programs_.push_back(std::move(program));
  BindProgram(p, scope);
  if (global || !frame_) {
    RunTopLevel(p, p.option_explicit, nullptr);
  } else {
    const std::string_view saved_source = frame_->source;
    frame_->source = p.source;
    try {
      ExecBlock(p.code);
    } catch (...) {
      frame_->source = saved_source;
      throw;
    }
    frame_->source = saved_source;
  }
}

Value Interpreter::ProcedureReference(std::string_view name) {
  const auto it = global_index_.find(FoldCase(name));
  if (it == global_index_.end() || !GlobalAt(it->second).proc) {
    ThrowRuntime(kErrInvalidCall);
  }
  return Value::Object(std::make_shared<ProcRef>(*this, GlobalAt(it->second).proc));
}

// ---- statements -----------------------------------------------------------

Interpreter::Flow Interpreter::ExecBlock(const Block& b) {
  for (const Stmt& s : b) {
    Flow f = Flow::Normal;
    try {
      // What Exec does, without a call of its own for every statement.
      if (--tick_ < 0) Tick();
      if (s.kind == StmtKind::Assign) ExecAssign(s);
      else if (s.kind == StmtKind::If) f = ExecIf(s);
      else f = ExecStmt(s);
      if (!class_runtime_->pending.empty()) RunTerminations();
    } catch (ScriptError& err) {
      Locate(err, s.pos);
      // The time limit ends the run whatever the script asked for.
      if (!frame_->resume_next || err.error().time_limit) throw;
      err_ = err.error();
      if (err_.source.empty()) err_.source = "Microsoft VBScript runtime error";
      continue;
    }
    if (f != Flow::Normal) return f;
  }
  return Flow::Normal;
}

Interpreter::Flow Interpreter::Exec(const Stmt& s) {
  try {
    if (--tick_ < 0) Tick();
    const Flow f = ExecStmt(s);
    if (!class_runtime_->pending.empty()) RunTerminations();
    return f;
  } catch (ScriptError& err) {
    Locate(err, s.pos);
    throw;
  }
}

Interpreter::Flow Interpreter::ExecStmt(const Stmt& s) {
  switch (s.kind) {
    case StmtKind::Assign:
    case StmtKind::Set: ExecAssign(s); return Flow::Normal;
    case StmtKind::Call: ExecCall(s); return Flow::Normal;
    case StmtKind::Dim:
    case StmtKind::ReDim:
    case StmtKind::Const: ExecDim(s); return Flow::Normal;
    case StmtKind::If: return ExecIf(s);
    case StmtKind::For: return ExecFor(s);
    case StmtKind::ForEach: return ExecForEach(s);
    case StmtKind::Do: return ExecDo(s);
    case StmtKind::Select: return ExecSelect(s);
    case StmtKind::With: return ExecWith(s);
    case StmtKind::Exit:
      switch (s.exit) {
        case ExitKind::Do: return Flow::ExitDo;
        case ExitKind::For: return Flow::ExitFor;
        default: return Flow::ExitProc;
      }
    case StmtKind::OnError:
      frame_->resume_next = s.flag;
      err_ = Error{};
      return Flow::Normal;
    case StmtKind::Erase:
      for (std::size_t i = 0; i <= s.args.size(); ++i) {
        Value* v = StoreTarget(i == 0 ? *s.target : *s.args[i - 1]);
        if (v->kind() != Kind::Array) ThrowRuntime(kErrTypeMismatch);
        if (v->array()->locks > 0) ThrowRuntime(kErrArrayFixed);
        if (v->array()->fixed) {
          Array& a = Writable(*v);
          std::fill(a.items.begin(), a.items.end(), Value());
        } else {
          *v = Value::Array(std::make_shared<Array>());
        }
      }
      return Flow::Normal;
    case StmtKind::Nothing: return Flow::Normal;
  }
  return Flow::Normal;
}

// The commonest statement, a local variable given a plain value, kept small;
// whatever needs a Value of its own is done out of line.
void Interpreter::ExecAssign(const Stmt& s) {
  const Expr& target = *s.target;
  if (!(target.kind == ExprKind::Name && target.ref.where == NameRef::Where::Local && !target.ref.is_const &&
        s.kind == StmtKind::Assign && !s.append)) {
    ExecAssignGeneral(s);
    return;
  }
  Value* slot = frame_->slots[static_cast<std::size_t>(target.ref.slot)];
  const Expr& value = *s.value;
  std::int64_t n;
  bool small;
  if (!value.steps.empty() && TryWhole(value, &n, &small)) {
    slot->SetWhole(static_cast<std::int32_t>(n), small);
    return;
  }
  if (const Value* v = Peek(value)) {
    // A literal or another local's number or text, copied as it is.
    *slot = *v;
    return;
  }
  AssignLocal(slot, value);
}

void Interpreter::AssignLocal(Value* slot, const Expr& value) {
  if (value.kind == ExprKind::Call && value.ref.builtin && value.ref.where == NameRef::Where::Global) {
    // x = Builtin(...): straight to the built-in unless a script defined that name.
    const GlobalEntry& g = GlobalAt(value.ref.global);
    if (!g.defined && !g.proc) {
      if (value.text_of_whole && TextOfWhole(slot, *value.args[0])) return;
      // Made by the call itself: a Value declared first and assigned after
      // costs a clearing of its storage on every statement.
      Value v = [&] {
        try {
          return CallBuiltinWith(*value.ref.builtin, value.args, 0);
        } catch (ScriptError& err) {
          Locate(err, value.pos);
          throw;
        }
      }();
      if (v.kind() == Kind::Object) v = Unwrap(v);
      *slot = std::move(v);
      return;
    }
  }
  Value v = EvalExpr(value);
  if (v.kind() == Kind::Object && !IsMissing(v)) v = Unwrap(v);  // an argument left out is copied as it is
  if (v.kind() == Kind::Array) Unfix(v);
  *slot = std::move(v);
}

// x = x & Chr(n) for a whole n below 128 that a literal or locals give:
// its byte goes onto the end of x's text. False, with nothing done, for
// anything else, which then takes the general way.
bool Interpreter::AppendChar(const Stmt& s) {
  const Expr& call = *s.value->rhs;
  const GlobalEntry& g = GlobalAt(call.ref.global);
  if (g.defined || g.proc) return false;
  const Expr& arg = *call.args[0];
  std::int64_t code;
  bool small;
  if (!arg.steps.empty()) {
    if (!TryWhole(arg, &code, &small)) return false;
  } else if (const Value* v = Peek(arg); v && IsWhole(*v)) {
    code = WholeOf(*v);
  } else {
    return false;
  }
  if (code < 0 || code > 127) return false;
  Value* slot = StoreTarget(*s.target);
  if (slot->kind() != Kind::String || EndsWithHalfUnit(slot->str())) return false;
  CheckTextSize(static_cast<std::uint64_t>(slot->str().size()) + 1, 1);
  const char c = static_cast<char>(code);
  slot->AppendStr(std::string_view(&c, 1));
  return true;
}

// x = CStr(n) for an Integer or a Long n: its digits written into x, in
// the text x already holds when it is one. False for any other kind of n.
bool Interpreter::TextOfWhole(Value* slot, const Expr& arg) {
  const Value& n = arg.kind == ExprKind::Literal ? arg.value : *frame_->slots[static_cast<std::size_t>(arg.ref.slot)];
  std::int32_t whole;
  if (n.kind() == Kind::Integer) whole = n.integer();
  else if (n.kind() == Kind::Long) whole = n.long_value();
  else return false;
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, whole).ptr;
  const std::size_t size = static_cast<std::size_t>(end - digits);
  if (slot->kind() == Kind::String) slot->mutable_str().assign(digits, size);
  else *slot = Value::String(std::string(digits, size));
  return true;
}

void Interpreter::ExecAssignGeneral(const Stmt& s) {
  const Expr& target = *s.target;
  if (s.append) {
    if (s.value->rhs->char_of_whole && AppendChar(s)) return;
    // x = x & e: append to the text in place instead of copying it.
    Value tail = EvalExpr(*s.value->rhs);
    Value* slot = StoreTarget(target);
    if (slot->kind() == Kind::String && !EndsWithHalfUnit(slot->str())) {
      if (tail.kind() != Kind::Null) {
        const Plain plain(tail);
        const std::string& add = (*plain).kind() == Kind::String ? (*plain).str() : ToString(*plain);
        CheckTextSize(static_cast<std::uint64_t>(slot->str().size()) + add.size(), add.size());
        slot->AppendStr(add);
      }
      return;
    }
    *slot = Concat(*slot, tail);
    return;
  }
  Value v = EvalExpr(*s.value);
  if (s.kind == StmtKind::Set) {
    if (v.kind() != Kind::Object || IsMissing(v)) ThrowRuntime(kErrObjectRequired);
  } else if (v.kind() == Kind::Object && !IsMissing(v)) {
    v = Unwrap(v);  // without Set an object gives its default value
  }
  Unfix(v);
  try {
    if ((target.kind == ExprKind::Name || target.kind == ExprKind::Call) &&
        target.ref.where == NameRef::Where::Member) {
      // A property of the instance whose method runs, named alone.
      const std::vector<Value> args = EvalArgs(target.args);
      MemberAssign(*frame_->me, target.name, args, v, s.kind == StmtKind::Set);
      return;
    }
    switch (target.kind) {
      case ExprKind::Name: *StoreTarget(target) = std::move(v); return;
      case ExprKind::Call: {
        if (ProcedureOf(target.ref)) ThrowRuntime(kErrIllegalAssignment);
        Value* var = Variable(target.ref);
        if (!var) ThrowRuntime(target.ref.builtin ? kErrIllegalAssignment : kErrTypeMismatch);
        const ArgValues args(*this, target.args);
        if (var->kind() == Kind::Array) {
          Array& a = Writable(*var);
          a.items[a.Offset(args)] = std::move(v);
          return;
        }
        if (var->kind() != Kind::Object) ThrowRuntime(kErrTypeMismatch);
        if (!var->object()) ThrowRuntime(kErrObjectNotSet);
        if (var->object()->Inert()) {
          var->object()->SetProperty("", args, v);
          return;
        }
        const std::shared_ptr<Object> obj = var->object();
        obj->SetProperty("", args, v);
        return;
      }
      case ExprKind::Member: {
        if (target.name.empty()) {
          // x(a)(b) = v: the default member of the object x(a) gave.
          const Value base = EvalExpr(*target.lhs);
          if (base.kind() != Kind::Object) ThrowRuntime(kErrIllegalAssignment);
          if (!base.object()) ThrowRuntime(kErrObjectNotSet);
          const std::vector<Value> args = EvalArgs(target.args);
          base.object()->SetProperty("", args, v);
          return;
        }
        const std::shared_ptr<Object> obj = RequireObject(*target.lhs);
        const std::vector<Value> args = EvalArgs(target.args);
        if (ClassInstance* inst = InstanceOf(obj.get())) {
          MemberAssign(*inst, target.name, args, v, s.kind == StmtKind::Set);
          return;
        }
        obj->SetProperty(target.name, args, v);
        return;
      }
      default: ThrowRuntime(kErrIllegalAssignment);
    }
  } catch (ScriptError& err) {
    Locate(err, target.pos);
    throw;
  }
}

void Interpreter::ExecDim(const Stmt& s) {
  for (const DimItem& item : s.items) {
    const Expr& name = *item.target;
    if (s.kind == StmtKind::Const) {
      Value v = EvalExpr(*item.value);
      if (name.ref.where == NameRef::Where::Local) {
        *frame_->slots[static_cast<std::size_t>(name.ref.slot)] = std::move(v);
      } else {
        GlobalAt(name.ref.global).value = std::move(v);
      }
      continue;
    }
    if (s.kind == StmtKind::Dim) {
      if (!item.is_array) continue;  // the variable exists from the start
      const std::vector<Value> bounds = EvalArgs(item.bounds);
      Value* slot = name.ref.where == NameRef::Where::Local
                        ? frame_->slots[static_cast<std::size_t>(name.ref.slot)]
                        : StoreTarget(name);
      *slot = Value::Array(NewArray(bounds, !bounds.empty()));
      continue;
    }
    // ReDim: a fixed array refuses before its new bounds are made numbers;
    // with Preserve the bounds are numbers first, so a bad bound is a Type
    // mismatch even for an array that cannot be resized.
    std::vector<Value> bounds = EvalArgs(item.bounds);
    auto refuse_fixed = [&] {
      const Value* slot = StoreTarget(name);
      if (slot->kind() == Kind::Array && (slot->array()->fixed || slot->array()->locks > 0)) {
        ThrowRuntime(kErrArrayFixed);
      }
    };
    if (!s.flag) refuse_fixed();
    for (Value& b : bounds) b = Value::Long(ToLong(b));
    if (s.flag) refuse_fixed();
    Value* slot = StoreTarget(name);
    std::shared_ptr<Array> fresh = NewArray(bounds, false);
    if (s.flag && slot->kind() == Kind::Array && !slot->array()->upper.empty()) {
      const Array& old = *slot->array();
      // Only the last dimension may change; the first index runs fastest,
      // so the kept elements stay where they are.
      if (old.upper.size() != fresh->upper.size()) ThrowRuntime(kErrSubscriptOutOfRange);
      for (std::size_t d = 0; d + 1 < old.upper.size(); ++d) {
        if (old.upper[d] != fresh->upper[d]) ThrowRuntime(kErrSubscriptOutOfRange);
      }
      if (slot->array().use_count() == 1) {
        // Not shared: grow or shrink it where it is, moving nothing.
        Array& own = *slot->array();
        own.upper = std::move(fresh->upper);
        own.items.resize(fresh->items.size());
        continue;
      }
      const std::size_t keep = std::min(old.items.size(), fresh->items.size());
      std::copy(old.items.begin(), old.items.begin() + static_cast<std::ptrdiff_t>(keep), fresh->items.begin());
    }
    *slot = Value::Array(std::move(fresh));
  }
}

void Interpreter::ExecCall(const Stmt& s) {
  const Expr& c = *s.target;
  switch (c.kind) {
    case ExprKind::Name: CallNamed(c, s.args, 0, true); return;
    case ExprKind::Call: CallNamed(c, c.args, 0, true); return;
    case ExprKind::Member:
      if (!c.has_args && !c.name.empty()) {
        // obj.Method args: a method call even without an argument list.
        const std::shared_ptr<Object> obj = RequireObject(*c.lhs);
        if (ClassInstance* inst = InstanceOf(obj.get())) {
          try {
            MemberCall(*inst, c, s.args, 0);
          } catch (ScriptError& err) {
            Locate(err, c.pos);
            throw;
          }
          return;
        }
        const std::vector<Value> args = EvalArgs(s.args);
        try {
          obj->Call(c.name, args);
        } catch (ScriptError& err) {
          Locate(err, c.pos);
          throw;
        }
        return;
      }
      EvalExpr(c);
      return;
    default: ThrowRuntime(kErrExpectedStatement);
  }
}

inline Interpreter::Flow Interpreter::ExecIf(const Stmt& s) {
  for (const Arm& arm : s.arms) {
    if (arm.is_else || Condition(*arm.cond)) return ExecBlock(arm.body);
  }
  return Flow::Normal;
}

namespace {

// A bound of a For loop, taken once when the loop starts: text is read as
// the number it holds, so that the counter counts rather than joins text.
Value LoopBound(Value v) {
  v = Unwrap(v);
  if (v.kind() == Kind::String) return Value::Double(ToDouble(v));
  return v;
}

}  // namespace

Interpreter::Flow Interpreter::ExecFor(const Stmt& s) {
  const Value from = LoopBound(EvalExpr(*s.from));
  const Value to = LoopBound(EvalExpr(*s.to));
  const Value step = s.step ? LoopBound(EvalExpr(*s.step)) : Value::Integer(1);
  Value* var = StoreTarget(*s.target);
  bool counting = false;  // the whole-number loop below went past 32 bits
  if (IsWhole(from) && IsWhole(to) && IsWhole(step)) {
    // Whole numbers: counted in 64 bits; the counter keeps the kind that
    // adding would give it.
    const bool small = from.kind() == Kind::Integer && step.kind() == Kind::Integer;
    const std::int64_t end = WholeOf(to);
    const std::int64_t inc = WholeOf(step);
    std::int64_t i = WholeOf(from);
    *var = from;
    for (;;) {
      if (inc >= 0 ? i > end : i < end) return Flow::Normal;
      if (--tick_ < 0) Tick();
      const Flow f = ExecBlock(s.body);
      if (f == Flow::ExitFor) return Flow::Normal;
      if (f != Flow::Normal) return f;
      var = s.target->ref.where == NameRef::Where::Local && !s.target->ref.is_const
                ? frame_->slots[static_cast<std::size_t>(s.target->ref.slot)]
                : StoreTarget(*s.target);
      if (!IsWhole(*var)) {
        *var = Add(*var, step);
        i = static_cast<std::int64_t>(ToDouble(*var));
        counting = !IsWhole(*var);
        if (counting) break;  // went past 32 bits: carry on in Doubles
        continue;
      }
      i = WholeOf(*var) + inc;
      if (i >= INT32_MIN && i <= INT32_MAX) {
        var->SetWhole(static_cast<std::int32_t>(i),
                      small && var->kind() == Kind::Integer && i >= INT16_MIN && i <= INT16_MAX);
      } else {
        *var = FitWhole(i, false);
      }
      counting = var->kind() == Kind::Double;
      if (counting) break;
    }
  }
  const double end = ToDouble(to);
  const double inc = ToDouble(step);
  if (!counting) *var = from;
  for (;;) {
    const double i = ToDouble(*var);
    if (inc >= 0 ? i > end : i < end) return Flow::Normal;
    if (--tick_ < 0) Tick();
    const Flow f = ExecBlock(s.body);
    if (f == Flow::ExitFor) return Flow::Normal;
    if (f != Flow::Normal) return f;
    var = StoreTarget(*s.target);
    *var = Add(*var, step);
  }
}

Interpreter::Flow Interpreter::ExecForEach(const Stmt& s) {
  const Value coll = EvalExpr(*s.value);
  std::vector<Value> items;
  const std::vector<Value>* walk = &items;
  if (coll.kind() == Kind::Array) {
    walk = &coll.array()->items;  // `coll` holds the array, so it cannot change under us
  } else if (coll.kind() == Kind::Object && coll.object()) {
    if (!coll.object()->Enumerate(items)) ThrowRuntime(kErrNotACollection);
  } else {
    ThrowRuntime(coll.kind() == Kind::Object ? kErrObjectNotSet : kErrNotACollection);
  }
  for (const Value& item : *walk) {
    if (--tick_ < 0) Tick();
    *StoreTarget(*s.target) = item;
    const Flow f = ExecBlock(s.body);
    if (f == Flow::ExitFor) return Flow::Normal;
    if (f != Flow::Normal) return f;
  }
  return Flow::Normal;
}

Interpreter::Flow Interpreter::ExecDo(const Stmt& s) {
  for (;;) {
    if (--tick_ < 0) Tick();
    if (s.cond && !s.post && Condition(*s.cond) == s.flag) return Flow::Normal;
    const Flow f = ExecBlock(s.body);
    if (f == Flow::ExitDo) return Flow::Normal;
    if (f != Flow::Normal) return f;
    if (s.cond && s.post && Condition(*s.cond) == s.flag) return Flow::Normal;
  }
}

Interpreter::Flow Interpreter::ExecSelect(const Stmt& s) {
  const Value v = EvalExpr(*s.value);
  const bool v_literal = IsLiteral(*s.value);
  for (const Arm& arm : s.arms) {
    bool hit = arm.is_else;
    for (const CaseTest& t : arm.tests) {
      const Value lo = EvalExpr(*t.lo);
      const std::optional<int> c = CompareFast(v, lo, v_literal, IsLiteral(*t.lo));
      if (t.is_op) {
        hit = c && Test(t.op, *c);
      } else if (t.hi) {
        const Value hi = EvalExpr(*t.hi);
        const std::optional<int> d = CompareFast(v, hi, v_literal, IsLiteral(*t.hi));
        hit = c && d && *c >= 0 && *d <= 0;
      } else {
        hit = c && *c == 0;
      }
      if (hit) break;
    }
    if (hit) return ExecBlock(arm.body);
  }
  return Flow::Normal;
}

Interpreter::Flow Interpreter::ExecWith(const Stmt& s) {
  Value v = EvalExpr(*s.value);
  if (v.kind() != Kind::Object || IsMissing(v)) ThrowRuntime(kErrObjectRequired);
  frame_->with.push_back(std::move(v));
  struct Pop {
    std::vector<Value>& with;
    ~Pop() { with.pop_back(); }
  } pop{frame_->with};
  return ExecBlock(s.body);
}

// ---- expressions ----------------------------------------------------------

Value Interpreter::EvalExpr(const Expr& e) {
  try {
    switch (e.kind) {
      case ExprKind::Literal: return e.value;
      case ExprKind::Name:
        if (e.ref.where == NameRef::Where::Local) return *frame_->slots[static_cast<std::size_t>(e.ref.slot)];
        return EvalName(e);
      case ExprKind::Call:
        // A procedure of the script, called straight away.
        if (e.ref.where == NameRef::Where::Global && !e.ref.builtin) {
          if (const ProcDecl* p = ProcedureOf(e.ref)) return CallProcedure(*p, e.args, 0);
        }
        return EvalCall(e);
      case ExprKind::Member: return EvalMember(e);
      case ExprKind::Unary: {
        const Value v = EvalExpr(*e.lhs);
        switch (static_cast<UnaryOp>(e.op)) {
          case UnaryOp::Negate: return Negate(v);
          case UnaryOp::Plus: return Identity(v);
          case UnaryOp::Not: return Not(v);
        }
        return Value();
      }
      case ExprKind::Binary:
        if (!e.steps.empty()) {
          std::int64_t v;
          bool small;
          if (TryWhole(e, &v, &small)) {
            return small ? Value::Integer(static_cast<std::int16_t>(v)) : Value::Long(static_cast<std::int32_t>(v));
          }
        }
        return EvalBinary(e);
      case ExprKind::With: return WithObject(e);
      case ExprKind::New: return EvalNew(e);
      case ExprKind::Me:
        if (!frame_ || !frame_->me) ThrowRuntime(kErrObjectRequired);
        return Value::Object(frame_->me);
      case ExprKind::Omitted: return MissingArgument();
    }
    return Value();
  } catch (ScriptError& err) {
    Locate(err, e.pos);
    throw;
  }
}

bool Interpreter::Condition(const Expr& e) {
  if (e.kind == ExprKind::Binary && static_cast<BinaryOp>(e.op) >= BinaryOp::Eq &&
      static_cast<BinaryOp>(e.op) <= BinaryOp::Ge) {
    // n < 2 and the like: two whole numbers read in place.
    const Expr& l = *e.lhs;
    const Expr& r = *e.rhs;
    if (l.kind == ExprKind::Name && l.ref.where == NameRef::Where::Local && r.kind == ExprKind::Literal) {
      const Value& x = *frame_->slots[static_cast<std::size_t>(l.ref.slot)];
      if (IsWhole(x) && IsWhole(r.value)) {
        const std::int64_t a = WholeOf(x), b = WholeOf(r.value);
        return Test(static_cast<BinaryOp>(e.op), a < b ? -1 : (a > b ? 1 : 0));
      }
    }
    const Value* x = Peek(*e.lhs);
    const Value* y = x ? Peek(*e.rhs) : nullptr;
    if (y && IsWhole(*x) && IsWhole(*y)) {
      const std::int64_t a = WholeOf(*x), b = WholeOf(*y);
      return Test(static_cast<BinaryOp>(e.op), a < b ? -1 : (a > b ? 1 : 0));
    }
  }
  const Value v = EvalExpr(e);
  switch (v.kind()) {
    case Kind::Boolean: return v.boolean();
    case Kind::Null: return false;
    default: return ToBoolean(v);
  }
}

Value Interpreter::EvalName(const Expr& e) {
  const NameRef& r = e.ref;
  if (r.where == NameRef::Where::Member) return MemberCall(*frame_->me, e, e.args, 0);
  if (Value* v = Variable(r)) return *v;
  if (ProcDecl* p = ProcedureOf(r)) return CallProcedure(*p, e.args, 0);
  if (r.builtin) return CallBuiltin(*r.builtin, {});
  if (r.strict) ThrowRuntime(kErrVariableUndefined);
  return Value();  // an unknown name is an empty variable
}

Value Interpreter::EvalCall(const Expr& e) {
  if (e.ref.where == NameRef::Where::Local) {
    const Value& v = *frame_->slots[static_cast<std::size_t>(e.ref.slot)];
    if (v.kind() == Kind::Array && e.args.size() == 1) {
      const Value i = EvalExpr(*e.args[0]);
      const Array& a = *frame_->slots[static_cast<std::size_t>(e.ref.slot)]->array();
      return a.items[a.Offset({&i, 1})];
    }
  }
  return CallNamed(e, e.args, 0, false);
}

Value Interpreter::EvalMember(const Expr& e) {
  if (e.name.empty()) {  // x(...)(...): index what the left side gave
    const Value base = EvalExpr(*e.lhs);
    const std::vector<Value> args = EvalArgs(e.args);
    return Index(base, args);
  }
  if (e.lhs->kind == ExprKind::Name && e.lhs->ref.where == NameRef::Where::Local) {
    // A local holding an object that runs no script code, given arguments
    // that run none either: nothing can change the local during the call.
    const Value& holder = *frame_->slots[static_cast<std::size_t>(e.lhs->ref.slot)];
    if (holder.kind() == Kind::Object && holder.object() && holder.object()->Inert() &&
        std::all_of(e.args.begin(), e.args.end(), [this](const ExprPtr& a) { return Quiet(*a); })) {
      Object& obj = *holder.object();
      const ArgValues args(*this, e.args);
      return e.has_args ? obj.Call(e.name, args) : obj.GetProperty(e.name, args);
    }
  }
  const std::shared_ptr<Object> obj = RequireObject(*e.lhs);
  if (ClassInstance* inst = InstanceOf(obj.get())) return MemberCall(*inst, e, e.args, 0);
  return CallObject(obj, e);
}

// obj.name or obj.name(args) of an object the script host makes.
Value Interpreter::CallObject(const std::shared_ptr<Object>& obj, const Expr& e) {
  const ArgValues args(*this, e.args);
  return e.has_args ? obj->Call(e.name, args) : obj->GetProperty(e.name, args);
}

// v(args) of a variable: its element, or its object's default member.
Value Interpreter::IndexVariable(const Value& v, const std::vector<ExprPtr>& args, std::size_t from) {
  const ArgValues values(*this, args, from);
  if (v.kind() == Kind::Object && v.object() && v.object()->Inert()) return v.object()->Call("", values);
  const Value container = v;
  return Index(container, values);
}

Value Interpreter::WithObject(const Expr& e) {
  if (!frame_ || frame_->with.empty()) ThrowRuntime(kErrObjectRequired);
  (void)e;
  return frame_->with.back();
}

Value Interpreter::EvalNew(const Expr& e) {
  if (const auto it = classes_.find(e.key); it != classes_.end()) return NewInstance(*it->second);
  std::shared_ptr<Object> obj;
  if (e.key == "regexp") obj = MakeObject("VBScript.RegExp");
  if (!obj) ThrowRuntime(kErrClassNotDefined);
  return Value::Object(std::move(obj));
}

Value Interpreter::EvalBinary(const Expr& e) {
  const BinaryOp op = static_cast<BinaryOp>(e.op);
  // The left side is read in place only when reading the right side cannot
  // change it.
  Value own_x, own_y;
  const Value* py = Peek(*e.rhs);
  const Value* px = py ? Peek(*e.lhs) : nullptr;
  if (!px) {
    own_x = EvalExpr(*e.lhs);
    px = &own_x;
    if (py) py = Peek(*e.rhs);  // the left side may have changed its kind
  }
  if (!py) {
    own_y = EvalExpr(*e.rhs);
    py = &own_y;
  }
  const Value& x = *px;
  const Value& y = *py;
  if (op == BinaryOp::Is) {
    if (x.kind() != Kind::Object || y.kind() != Kind::Object) ThrowRuntime(kErrObjectRequired);
    return Value::Boolean(x.object() == y.object());
  }
  if (IsWhole(x) && IsWhole(y)) {
    const std::int64_t a = WholeOf(x), b = WholeOf(y);
    const bool small = x.kind() == Kind::Integer && y.kind() == Kind::Integer;
    switch (op) {
      case BinaryOp::Add: return FitWhole(a + b, small);
      case BinaryOp::Subtract: return FitWhole(a - b, small);
      case BinaryOp::Multiply: return FitWhole(a * b, small);
      case BinaryOp::Eq: return Value::Boolean(a == b);
      case BinaryOp::Ne: return Value::Boolean(a != b);
      case BinaryOp::Lt: return Value::Boolean(a < b);
      case BinaryOp::Gt: return Value::Boolean(a > b);
      case BinaryOp::Le: return Value::Boolean(a <= b);
      case BinaryOp::Ge: return Value::Boolean(a >= b);
      case BinaryOp::Modulo:
        if (b == 0) ThrowRuntime(kErrDivisionByZero);
        return FitWhole(a % b, small);
      case BinaryOp::IntDivide:
        if (b == 0) ThrowRuntime(kErrDivisionByZero);
        return WholeQuotient(a / b, small);
      default: break;
    }
  }
  double p, q;
  if (Number(x, &p) && Number(y, &q)) {
    // Doubles, or a Double and a whole number, or two whole numbers divided:
    // as the general operators count them, without their conversions.
    switch (op) {
      case BinaryOp::Add: return FiniteDouble(p + q);
      case BinaryOp::Subtract: return FiniteDouble(p - q);
      case BinaryOp::Multiply: return FiniteDouble(p * q);
      case BinaryOp::Divide:
        if (q == 0) ThrowRuntime(p == 0 ? kErrOverflow : kErrDivisionByZero);
        return FiniteDouble(p / q);
      case BinaryOp::Eq: return Value::Boolean(p == q);
      case BinaryOp::Ne: return Value::Boolean(p != q);
      case BinaryOp::Lt: return Value::Boolean(p < q);
      case BinaryOp::Gt: return Value::Boolean(p > q);
      case BinaryOp::Le: return Value::Boolean(p <= q);
      case BinaryOp::Ge: return Value::Boolean(p >= q);
      default: break;
    }
  }
  if (x.kind() == Kind::String && y.kind() == Kind::String && op >= BinaryOp::Eq && op <= BinaryOp::Ge) {
    // Two texts compare by their bytes.
    const int c = x.str().compare(y.str());
    return Value::Boolean(Test(op, c < 0 ? -1 : (c > 0 ? 1 : 0)));
  }
  if (op == BinaryOp::Concat && ((x.kind() == Kind::String && IsWhole(y)) || (IsWhole(x) && y.kind() == Kind::String))) {
    // "k" & n: the number's digits joined to the text without a text made
    // of the number first.
    const bool number_first = IsWhole(x);
    const std::string& text = number_first ? y.str() : x.str();
    if (number_first || !EndsWithHalfUnit(text)) {
      char digits[16];
      const auto end = std::to_chars(digits, digits + sizeof digits, WholeOf(number_first ? x : y)).ptr;
      const std::size_t n = static_cast<std::size_t>(end - digits);
      CheckTextSize(static_cast<std::uint64_t>(text.size()) + n);
      std::string joined;
      joined.reserve(text.size() + n);
      if (number_first) joined.append(digits, n).append(text);
      else joined.append(text).append(digits, n);
      return Value::String(std::move(joined));
    }
  }
  if (op == BinaryOp::Concat && x.kind() == Kind::String && y.kind() == Kind::String && !EndsWithHalfUnit(x.str())) {
    CheckTextSize(static_cast<std::uint64_t>(x.str().size()) + y.str().size());
    if (px != &own_x) own_x = x;
    own_x.mutable_str().append(y.str());
    return own_x;
  }
  switch (op) {
    case BinaryOp::Power: return Power(x, y);
    case BinaryOp::Multiply: return Multiply(x, y);
    case BinaryOp::Divide: return Divide(x, y);
    case BinaryOp::IntDivide: return IntDivide(x, y);
    case BinaryOp::Modulo: return Modulo(x, y);
    case BinaryOp::Add: return Add(x, y);
    case BinaryOp::Subtract: return Subtract(x, y);
    case BinaryOp::Concat: return Concat(x, y);
    case BinaryOp::Eq:
    case BinaryOp::Ne:
    case BinaryOp::Lt:
    case BinaryOp::Gt:
    case BinaryOp::Le:
    case BinaryOp::Ge: {
      const std::optional<int> c = Compare(x, y, IsLiteral(*e.lhs), IsLiteral(*e.rhs));
      return c ? Value::Boolean(Test(op, *c)) : Value::Null();
    }
    case BinaryOp::And: return And(x, y);
    case BinaryOp::Or: return Or(x, y);
    case BinaryOp::Xor: return Xor(x, y);
    case BinaryOp::Eqv: return Eqv(x, y);
    case BinaryOp::Imp: return Imp(x, y);
    case BinaryOp::Is: break;
  }
  return Value();
}

std::vector<Value> Interpreter::EvalArgs(const std::vector<ExprPtr>& args) { return EvalArgs(args, 0); }

std::vector<Value> Interpreter::EvalArgs(const std::vector<ExprPtr>& args, std::size_t from) {
  std::vector<Value> out;
  out.reserve(args.size() - from);
  for (std::size_t i = from; i < args.size(); ++i) out.push_back(EvalExpr(*args[i]));
  return out;
}

Value Interpreter::Index(const Value& container, std::span<const Value> args) {
  if (container.kind() == Kind::Array) {
    const Array& a = *container.array();
    return a.items[a.Offset(args)];
  }
  if (container.kind() == Kind::Object) {
    // Every caller holds the container in a value of its own, which keeps
    // the object alive through the call.
    if (!container.object()) ThrowRuntime(kErrObjectNotSet);
    return container.object()->Call("", args);
  }
  // x() or x(1) on a plain value: no call and no element.
  ThrowRuntime(kErrTypeMismatch);
}

std::shared_ptr<Object> Interpreter::RequireObject(const Expr& e) {
  if (e.kind == ExprKind::Name && e.ref.where == NameRef::Where::Local) {
    // A local read in place: the one copy made is the one returned.
    const Value& v = *frame_->slots[static_cast<std::size_t>(e.ref.slot)];
    if (v.kind() == Kind::Object && !IsMissing(v) && v.object()) return v.object();
  }
  const Value v = EvalExpr(e);
  try {
    if (v.kind() != Kind::Object || IsMissing(v)) ThrowRuntime(kErrObjectRequired);
    if (!v.object()) ThrowRuntime(kErrObjectNotSet);
  } catch (ScriptError& err) {
    Locate(err, e.pos);
    throw;
  }
  return v.object();
}

// ---- names and calls ------------------------------------------------------

Value* Interpreter::Variable(const NameRef& r) {
  switch (r.where) {
    case NameRef::Where::Local: return frame_->slots[static_cast<std::size_t>(r.slot)];
    case NameRef::Where::Global: {
      GlobalEntry& g = GlobalAt(r.global);
      return g.defined ? &g.value : nullptr;
    }
    case NameRef::Where::Dynamic: {
      GlobalEntry& g = GlobalAt(r.global);
      if (g.defined) return &g.value;
      if (g.proc) return nullptr;
      if (r.strict) ThrowRuntime(kErrVariableUndefined);
      return frame_->slots[static_cast<std::size_t>(r.slot)];
    }
    case NameRef::Where::Field: return FieldOf(r);
    case NameRef::Where::Member:
    case NameRef::Where::Unbound: break;
  }
  return nullptr;
}

Value* Interpreter::FieldOf(const NameRef& r) {
  return &frame_->me->fields[static_cast<std::size_t>(r.slot)];
}

Value* Interpreter::StoreTarget(const Expr& name) {
  const NameRef& r = name.ref;
  if (name.kind != ExprKind::Name) ThrowRuntime(kErrIllegalAssignment);
  switch (r.where) {
    case NameRef::Where::Local:
      if (r.is_const) ThrowRuntime(kErrIllegalAssignment);
      return frame_->slots[static_cast<std::size_t>(r.slot)];
    case NameRef::Where::Global: {
      GlobalEntry& g = GlobalAt(r.global);
      if (g.is_const) ThrowRuntime(kErrIllegalAssignment);
      if (!g.defined) {
        if (g.proc || r.builtin) ThrowRuntime(kErrIllegalAssignment);
        if (r.strict && !g.declared) ThrowRuntime(kErrVariableUndefined);
        g.defined = true;
      }
      return &g.value;
    }
    case NameRef::Where::Dynamic: {
      GlobalEntry& g = GlobalAt(r.global);
      if (g.defined) {
        if (g.is_const) ThrowRuntime(kErrIllegalAssignment);
        return &g.value;
      }
      if (g.proc) ThrowRuntime(kErrIllegalAssignment);
      if (r.strict) ThrowRuntime(kErrVariableUndefined);
      return frame_->slots[static_cast<std::size_t>(r.slot)];
    }
    case NameRef::Where::Field: return FieldOf(r);
    case NameRef::Where::Member:
    case NameRef::Where::Unbound: break;
  }
  ThrowRuntime(kErrIllegalAssignment);
}

Value Interpreter::CallNamed(const Expr& e, const std::vector<ExprPtr>& args, std::size_t from,
                             bool statement) {
  const NameRef& r = e.ref;
  if (r.builtin && r.where == NameRef::Where::Global) {
    const GlobalEntry& g = GlobalAt(r.global);
    if (!g.defined && !g.proc) return CallBuiltinWith(*r.builtin, args, from, statement);
  }
  if (ProcDecl* p = ProcedureOf(r)) return CallProcedure(*p, args, from);
  if (r.where == NameRef::Where::Member) return MemberCall(*frame_->me, e, args, from);
  if (Value* v = Variable(r)) {
    if (e.kind == ExprKind::Name && args.size() == from) return *v;
    return IndexVariable(*v, args, from);
  }
  if (r.builtin) return CallBuiltinWith(*r.builtin, args, from, statement);
  if (e.kind == ExprKind::Name && args.size() == from && !statement) {
    if (r.strict) ThrowRuntime(kErrVariableUndefined);
    return Value();
  }
  // Calling a name nothing defines fails the way a script sees it.
  ThrowRuntime(kErrTypeMismatch);
}

Value Interpreter::CallBuiltinWith(const Builtin& b, const std::vector<ExprPtr>& args, std::size_t from,
                                   bool statement) {
  const std::size_t n = args.size() - from;
  if (n == 1) {
    if (const Value* p = Peek(*args[from])) return CallBuiltin(b, std::span<const Value>(p, 1), statement);
  }
  // Up to three arguments are evaluated, left to right, straight into place.
  auto arg = [&](std::size_t i) { return EvalExpr(*args[from + i]); };
  switch (n) {
    case 0: return CallBuiltin(b, {}, statement);
    case 1: {
      const Value one[1] = {arg(0)};
      return CallBuiltin(b, one, statement);
    }
    case 2:
    case 3: return CallBuiltinLent(b, args, from, statement);
    default: break;
  }
  const std::vector<Value> values = EvalArgs(args, from);
  return CallBuiltin(b, values, statement);
}

// Whether evaluating e can run no script code: literals and local numbers
// or text, and operators between them.
bool Interpreter::Quiet(const Expr& e) const {
  switch (e.kind) {
    case ExprKind::Literal:
    case ExprKind::Name: return Peek(e) != nullptr;
    case ExprKind::Unary: return Quiet(*e.lhs);
    case ExprKind::Binary: return Quiet(*e.lhs) && Quiet(*e.rhs);
    default: return false;
  }
}

// Two or three arguments of a built-in. A local variable's text is lent to
// the call rather than copied (Mid(s, i, 1) of a long s costs no copy of s),
// and given back after it: only while nothing evaluated after it can run
// script code, and only to a call that is given no object, which might.
// Built-ins that run script code themselves take one argument.
Value Interpreter::CallBuiltinLent(const Builtin& b, const std::vector<ExprPtr>& args, std::size_t from,
                                   bool statement) {
  const std::size_t n = args.size() - from;
  Value own[3];
  Value* lent[3] = {nullptr, nullptr, nullptr};  // the variable each argument is, if lent
  bool any = false;
  for (std::size_t i = 0; i < n; ++i) {
    const Expr& a = *args[from + i];
    if (any && !Quiet(a)) {
      // Code may run: what was read in place is copied first.
      for (std::size_t k = 0; k < i; ++k) {
        if (lent[k]) own[k] = *lent[k];
        lent[k] = nullptr;
      }
      any = false;
    }
    if (a.kind == ExprKind::Name && a.ref.where == NameRef::Where::Local) {
      Value* v = frame_->slots[static_cast<std::size_t>(a.ref.slot)];
      if (v->kind() == Kind::String) {
        lent[i] = v;
        any = true;
        continue;
      }
    }
    own[i] = EvalExpr(a);
  }
  if (any) {
    bool objects = false;
    for (std::size_t i = 0; i < n; ++i) objects = objects || (!lent[i] && own[i].kind() == Kind::Object);
    for (std::size_t i = 0; i < n; ++i) {
      if (!lent[i]) continue;
      // The same variable twice is lent once and copied after.
      std::size_t k = 0;
      while (k < i && lent[k] != lent[i]) ++k;
      if (objects || k < i) {
        own[i] = k < i ? own[k] : *lent[i];
        lent[i] = nullptr;
      } else {
        own[i] = std::move(*lent[i]);
      }
    }
  }
  struct GiveBack {
    Value* (&lent)[3];
    Value (&own)[3];
    ~GiveBack() {
      for (std::size_t i = 0; i < 3; ++i) {
        if (lent[i]) *lent[i] = std::move(own[i]);
      }
    }
  } give_back{lent, own};
  return CallBuiltin(b, std::span<const Value>(own, n), statement);
}

Value Interpreter::CallBuiltin(const Builtin& b, std::span<const Value> args, bool statement) {
  if (args.size() < b.min_args || args.size() > b.max_args) ThrowRuntime(kErrWrongArgCount);
  if (b.use != Builtin::Use::Any && (b.use == Builtin::Use::Statement) != statement) [[unlikely]] {
    if (!statement) ThrowRuntime(kErrTypeMismatch);
    // A conversion's own error (of its argument) comes before the refusal
    // of a conversion standing as a statement.
    b.fn(*this, args);
    ThrowRuntime(kErrBadVarType);
  }
  return b.fn(*this, args);
}

// A procedure's frame: its own slots, each parameter's slot first pointing
// at its own value (a ByRef argument points it elsewhere). Given back
// emptied when the call ends, however it ends.
class Interpreter::FrameSlots {
 public:
  [[gnu::always_inline]] FrameSlots(Interpreter& in, Frame& f, const ProcDecl& p)
      : in_(in), n_(static_cast<std::size_t>(p.slot_count)), params_(p.params.size()) {
    f.proc = &p;
    f.source = p.program->source;
    f.strict = p.program->option_explicit;
    std::size_t b = in_.slot_top_;
    if (b >= in_.slot_blocks_.size() || in_.slot_blocks_[b].used + n_ > in_.slot_blocks_[b].size) {
      b = in_.SlotBlockFor(n_);
    }
    SlotBlock& block = in_.slot_blocks_[b];
    block_ = b;
    f.own = block.own.get() + block.used;
    f.slots = block.slots.get() + block.used;
    block.used += n_;
    // Each slot points at its own value already; only a parameter is ever
    // pointed elsewhere, and put back when the frame ends.
    own_ = f.own;
    slots_ = f.slots;
  }
  ~FrameSlots() { Release(); }
  FrameSlots(const FrameSlots&) = delete;
  FrameSlots& operator=(const FrameSlots&) = delete;

  [[gnu::always_inline]] void Release() {
    if (!own_) return;
    for (std::size_t i = 0; i < n_; ++i) own_[i] = Value();
    for (std::size_t i = 0; i < params_; ++i) slots_[i] = &own_[i];
    own_ = nullptr;
    std::vector<SlotBlock>& blocks = in_.slot_blocks_;
    blocks[block_].used -= n_;
    while (in_.slot_top_ > 0 && blocks[in_.slot_top_].used == 0) --in_.slot_top_;
  }

 private:
  Interpreter& in_;
  std::size_t n_;
  std::size_t params_;
  std::size_t block_ = 0;
  Value* own_ = nullptr;
  Value** slots_ = nullptr;
};

// The block past the one in use, made big enough for n slots when it is
// not: a block above the one in use holds no frame.
std::size_t Interpreter::SlotBlockFor(std::size_t n) {
  std::size_t b = slot_top_;
  if (b < slot_blocks_.size()) ++b;
  if (b == slot_blocks_.size()) slot_blocks_.emplace_back();
  SlotBlock& block = slot_blocks_[b];
  if (block.used + n > block.size) {
    const std::size_t size = std::max<std::size_t>(n, 1024);
    block.own = std::make_unique<Value[]>(size);
    block.slots = std::make_unique<Value*[]>(size);
    block.size = size;
    for (std::size_t i = 0; i < size; ++i) block.slots[i] = &block.own[i];
  }
  slot_top_ = b;
  return b;
}

// Runs p's body in the frame its arguments were put in: its result. The
// frame is emptied before any Class_Terminate its values left pending runs.
Value Interpreter::RunFrame(const ProcDecl& p, Frame& f, FrameSlots& slots) {
  {
    FrameScope scope(*this, f);
    ExecBlock(p.body);
  }
  Value result = p.result_slot >= 0 ? std::move(f.own[static_cast<std::size_t>(p.result_slot)]) : Value();
  slots.Release();
  f.with.clear();
  if (f.me) f.me.reset();
  if (!class_runtime_->pending.empty()) RunTerminations();
  return result;
}

Value Interpreter::CallProcedure(const ProcDecl& p, const std::vector<ExprPtr>& args, std::size_t from,
                                 std::shared_ptr<ClassInstance> me) {
  if (args.size() - from != p.params.size()) ThrowRuntime(kErrWrongArgCount);
  CheckStack();
  Frame f;
  FrameSlots slots(*this, f, p);
  if (me) f.me = std::move(me);
  ElementLocks elements;
  const std::size_t n = p.params.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Expr& a = *args[from + i];
    // n - 1 and the like (never a variable alone nor an element): the whole
    // number goes straight into the slot.
    std::int64_t whole;
    bool small;
    if (!a.steps.empty() && TryWhole(a, &whole, &small)) {
      f.own[i].SetWhole(static_cast<std::int32_t>(whole), small);
      continue;
    }
    const bool by_ref = !p.by_val[i] && !a.parenthesized;
    // ByRef (the default): a variable written alone is passed itself.
    if (by_ref && a.kind == ExprKind::Name) {
      if (Value* ref = Variable(a.ref)) {
        if (!a.ref.is_const) {
          f.slots[i] = ref;
          continue;
        }
      }
    }
    if (by_ref && a.kind == ExprKind::Call) {
      ElementArg element;
      if (ElementOf(a, &element)) {
        f.slots[i] = &element.pinned->items[element.offset];
        elements.held.push_back(std::move(element));
        continue;
      }
    }
    f.own[i] = EvalExpr(a);
    if (f.own[i].kind() == Kind::Array) Unfix(f.own[i]);
  }
  return RunFrame(p, f, slots);
}

// `a` names an element of an array variable: the array, held and locked,
// and the element's place in it.
bool Interpreter::ElementOf(const Expr& a, ElementArg* arg) {
  if (ProcedureOf(a.ref) || a.ref.where == NameRef::Where::Member) return false;
  Value* var = Variable(a.ref);
  if (!var || var->kind() != Kind::Array) return false;
  const std::vector<Value> indices = EvalArgs(a.args);
  var = Variable(a.ref);  // an index may have run code that changed it
  if (!var || var->kind() != Kind::Array) ThrowRuntime(kErrTypeMismatch);
  const std::size_t offset = var->array()->Offset(indices);
  Array& own = Writable(*var);  // not a copy that another variable shares
  ++own.locks;
  arg->pinned = var->array();
  arg->offset = offset;
  return true;
}

Value Interpreter::CallProcedure(const ProcDecl& p, std::span<Arg> args, std::shared_ptr<ClassInstance> me) {
  if (args.size() != p.params.size()) ThrowRuntime(kErrWrongArgCount);
  CheckStack();
  Frame f;
  FrameSlots slots(*this, f, p);
  if (me) f.me = std::move(me);
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i].ref && !p.by_val[i]) f.slots[i] = args[i].ref;
    else f.own[i] = args[i].value;
  }
  return RunFrame(p, f, slots);
}

}  // namespace tarv::vbs
