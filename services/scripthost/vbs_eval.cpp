#include "services/scripthost/vbs_eval.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace tarv::vbs {

namespace {

// Expression nesting and procedure calls both recurse on the native stack;
// past this budget the run fails as "Out of stack space" instead of crashing.
constexpr int kMaxDepth = 1200;
constexpr int kCallCost = 8;  // a call holds several native frames

// ---- built-in functions ---------------------------------------------------

using BuiltinFn = Value (*)(Interpreter&, std::span<const Value>);

struct Builtin {
  std::string_view name;  // lower case
  std::size_t min_args;
  std::size_t max_args;
  BuiltinFn fn;
};

// Round(x, n): to n decimal places, half-way cases to even. The scaled value
// is first taken to 15 significant digits so that 2.675 rounds as written
// rather than as its nearest binary fraction.
double RoundDigits(double d, std::int32_t digits) {
  if (digits == 0) return RoundHalfEven(d);
  if (digits > 15) return d;
  const double scale = std::pow(10.0, digits);
  const double y = d * scale;
  if (!std::isfinite(y) || std::fabs(y) >= 4503599627370496.0) return d;
  char buf[64];
  auto w = std::to_chars(buf, buf + sizeof buf, y, std::chars_format::general, 15);
  double shown = y;
  std::from_chars(buf, w.ptr, shown, std::chars_format::general);
  return RoundHalfEven(shown) / scale;
}

// Whole-number kinds pass unchanged (Empty and Boolean as Integers); any
// other value goes through f as a Double.
template <typename F>
Value KeepWholeKinds(const Value& x, F f) {
  switch (x.kind()) {
    case Kind::Null:
    case Kind::Integer:
    case Kind::Long: return x;
    case Kind::Empty: return Value::Integer(0);
    case Kind::Boolean: return Value::Integer(x.boolean() ? -1 : 0);
    default: return Value::Double(f(ToDouble(x)));
  }
}

Value Round(Interpreter&, std::span<const Value> a) {
  const Value x = Unwrap(a[0]);
  const std::int32_t digits = a.size() > 1 ? ToLong(a[1]) : 0;
  if (digits < 0) ThrowRuntime(kErrInvalidCall);
  return KeepWholeKinds(x, [digits](double d) { return RoundDigits(d, digits); });
}

// Int rounds down, Fix toward zero.
template <double (*F)(double)>
Value WholePart(Interpreter&, std::span<const Value> a) {
  return KeepWholeKinds(Unwrap(a[0]), F);
}

double Floor(double d) { return std::floor(d); }
double Trunc(double d) { return std::trunc(d); }

Value Abs(Interpreter&, std::span<const Value> a) {
  const Value x = Unwrap(a[0]);
  switch (x.kind()) {
    case Kind::Null: return x;
    case Kind::Empty: return Value::Integer(0);
    case Kind::Boolean: return Value::Integer(x.boolean() ? 1 : 0);
    case Kind::Integer: return x.integer() < 0 ? Negate(x) : x;
    case Kind::Long: return x.long_value() < 0 ? Negate(x) : x;
    default: return Value::Double(std::fabs(ToDouble(x)));
  }
}

Value Sgn(Interpreter&, std::span<const Value> a) {
  const Value x = Unwrap(a[0]);
  if (x.kind() == Kind::Null) return x;
  const double d = ToDouble(x);
  return Value::Integer(static_cast<std::int16_t>(d < 0 ? -1 : (d > 0 ? 1 : 0)));
}

Value Sqr(Interpreter&, std::span<const Value> a) {
  const Value x = Unwrap(a[0]);
  if (x.kind() == Kind::Null) return x;
  const double d = ToDouble(x);
  if (d < 0) ThrowRuntime(kErrInvalidCall);
  return Value::Double(std::sqrt(d));
}

Value Exp(Interpreter&, std::span<const Value> a) {
  const Value x = Unwrap(a[0]);
  if (x.kind() == Kind::Null) return x;
  const double r = std::exp(ToDouble(x));
  if (!std::isfinite(r)) ThrowRuntime(kErrOverflow);
  return Value::Double(r);
}

Value Log(Interpreter&, std::span<const Value> a) {
  const Value x = Unwrap(a[0]);
  if (x.kind() == Kind::Null) return x;
  const double d = ToDouble(x);
  if (d <= 0) ThrowRuntime(kErrInvalidCall);
  return Value::Double(std::log(d));
}

Value CInt(Interpreter&, std::span<const Value> a) { return Value::Integer(ToInteger(a[0])); }
Value CLng(Interpreter&, std::span<const Value> a) { return Value::Long(ToLong(a[0])); }
Value CDbl(Interpreter&, std::span<const Value> a) { return Value::Double(ToDouble(a[0])); }
Value CStr(Interpreter&, std::span<const Value> a) { return Value::String(ToString(a[0])); }
Value CBool(Interpreter&, std::span<const Value> a) { return Value::Boolean(ToBoolean(a[0])); }

// Length in UTF-16 units, as a script counts characters.
Value Len(Interpreter&, std::span<const Value> a) {
  const Value x = Unwrap(a[0]);
  if (x.kind() == Kind::Null) return x;
  std::int32_t n = 0;
  for (unsigned char c : ToString(x)) {
    if ((c & 0xC0) != 0x80) ++n;  // not a continuation byte
    if (c >= 0xF0) ++n;           // outside the BMP: a surrogate pair
  }
  return Value::Long(n);
}

// Negative numbers show their two's complement: 4 digits for an Integer,
// 8 for a Long.
Value Hex(Interpreter&, std::span<const Value> a) {
  const Value x = Unwrap(a[0]);
  std::uint32_t bits;
  switch (x.kind()) {
    case Kind::Null: return x;
    case Kind::Empty: bits = 0; break;
    case Kind::Boolean:
    case Kind::Integer: bits = static_cast<std::uint16_t>(ToInteger(x)); break;
    default: bits = static_cast<std::uint32_t>(ToLong(x)); break;
  }
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, bits, 16);
  std::string out(buf, r.ptr);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return (c >= 'a' && c <= 'f') ? static_cast<char>(c - 32) : c; });
  return Value::String(std::move(out));
}

Value TypeNameOf(Interpreter&, std::span<const Value> a) { return Value::String(TypeName(a[0])); }

Value CreateObject(Interpreter& in, std::span<const Value> a) {
  const std::string prog_id = ToString(a[0]);
  std::shared_ptr<Object> obj = in.factory() ? in.factory()->Create(prog_id) : nullptr;
  if (!obj) ThrowRuntime(kErrCannotCreateObject);
  return Value::Object(std::move(obj));
}

constexpr Builtin kBuiltins[] = {
    {"abs", 1, 1, Abs},
    {"cbool", 1, 1, CBool},
    {"cdbl", 1, 1, CDbl},
    {"cint", 1, 1, CInt},
    {"clng", 1, 1, CLng},
    {"createobject", 1, 1, CreateObject},
    {"cstr", 1, 1, CStr},
    {"exp", 1, 1, Exp},
    {"fix", 1, 1, WholePart<Trunc>},
    {"hex", 1, 1, Hex},
    {"int", 1, 1, WholePart<Floor>},
    {"len", 1, 1, Len},
    {"log", 1, 1, Log},
    {"round", 1, 2, Round},
    {"sgn", 1, 1, Sgn},
    {"sqr", 1, 1, Sqr},
    {"typename", 1, 1, TypeNameOf},
};

const Builtin* FindBuiltin(std::string_view key) {
  for (const Builtin& b : kBuiltins) {
    if (b.name == key) return &b;
  }
  return nullptr;
}

}  // namespace

// ---- scopes and limits ----------------------------------------------------

class Interpreter::DepthGuard {
 public:
  DepthGuard(Interpreter& in, int cost) : in_(in), cost_(cost) {
    in_.depth_ += cost_;
    if (in_.depth_ > kMaxDepth) {
      in_.depth_ -= cost_;
      ThrowRuntime(kErrOutOfStack);
    }
  }
  ~DepthGuard() { in_.depth_ -= cost_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  Interpreter& in_;
  int cost_;
};

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

Interpreter::Interpreter(ObjectFactory* factory) : factory_(factory) {}

void Interpreter::CheckDeadline() const {
  if (deadline_ && Clock::now() >= *deadline_) ThrowRuntime(kErrTimeout);
}

void Interpreter::Locate(ScriptError& err, Pos pos) const {
  Error& e = err.error();
  if (e.line != 0) return;
  e.line = pos.line;
  e.column = pos.column;
  if (frame_) e.source_text = SourceLine(frame_->source, pos.line);
}

// ---- public entry points --------------------------------------------------

void Interpreter::AddCode(std::string_view source) { AddProgram(ParseProgram(source)); }

void Interpreter::AddProgram(std::unique_ptr<Program> program) {
  const Program& p = *program;
  programs_.push_back(std::move(program));
  for (const FunctionDecl& fn : p.functions) procedures_[fn.key] = Procedure{&fn, &p};
  Frame top;
  top.source = p.source;
  FrameScope scope(*this, top);
  for (const Stmt& s : p.code) Exec(s);
}

Value Interpreter::Eval(std::string_view expression) {
  const ExpressionUnit unit = ParseExpression(expression);
  return Evaluate(unit);
}

Value Interpreter::Evaluate(const ExpressionUnit& unit) {
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
  const auto it = procedures_.find(FoldCase(name));
  if (it == procedures_.end()) ThrowRuntime(kErrTypeMismatch);
  return CallProcedure(it->second, args);
}

Value Interpreter::Global(std::string_view name) const {
  const auto it = globals_.find(FoldCase(name));
  return it == globals_.end() ? Value() : it->second;
}

// ---- statements -----------------------------------------------------------

void Interpreter::Exec(const Stmt& s) {
  try {
    CheckDeadline();
    if (std::holds_alternative<DimStmt>(s.node)) {
      // Outside procedures Dim makes the global; inside, the parser has
      // already listed the names and the call made them.
      if (!frame_->function) {
        for (const std::string& key : std::get<DimStmt>(s.node).keys) globals_.try_emplace(key);
      }
    } else if (const auto* a = std::get_if<AssignStmt>(&s.node)) {
      ExecAssign(*a);
    } else if (const auto* c = std::get_if<CallStmt>(&s.node)) {
      ExecCall(*c);
    } else if (std::holds_alternative<ExitFunctionStmt>(s.node)) {
      frame_->exiting = true;
    }
  } catch (ScriptError& err) {
    Locate(err, s.pos);
    throw;
  }
}

void Interpreter::ExecAssign(const AssignStmt& a) {
  Value v = EvalExpr(*a.value);
  if (a.is_set) {
    if (v.kind() != Kind::Object) ThrowRuntime(kErrObjectRequired);
  } else {
    v = Unwrap(v);  // without Set an object gives its default value
  }
  const Expr& target = *a.target;
  try {
    if (const auto* n = std::get_if<NameExpr>(&target.node)) {
      Store(n->key, std::move(v));
    } else if (const auto* m = std::get_if<MemberExpr>(&target.node)) {
      const std::shared_ptr<Object> obj = RequireObject(*m->object);
      const std::vector<Value> args = EvalArgs(m->args);
      obj->SetProperty(m->member, args, v);
    } else if (const auto* c = std::get_if<CallExpr>(&target.node)) {
      // name(args) = v sets the default member of an object variable.
      Value* var = FindVariable(c->key, false);
      if (!var || var->kind() != Kind::Object) ThrowRuntime(kErrTypeMismatch);
      if (!var->object()) ThrowRuntime(kErrObjectNotSet);
      const std::shared_ptr<Object> obj = var->object();
      const std::vector<Value> args = EvalArgs(c->args);
      obj->SetProperty("", args, v);
    } else {
      ThrowRuntime(kErrIllegalAssignment);
    }
  } catch (ScriptError& err) {
    Locate(err, target.pos);
    throw;
  }
}

void Interpreter::ExecCall(const CallStmt& c) {
  const Expr& callee = *c.callee;
  if (const auto* n = std::get_if<NameExpr>(&callee.node)) {
    const std::vector<Value> args = EvalArgs(c.args);
    try {
      CallByName(n->key, args);
    } catch (ScriptError& err) {
      Locate(err, callee.pos);
      throw;
    }
  } else if (const auto* m = std::get_if<MemberExpr>(&callee.node); m && !m->has_args) {
    // obj.Method args: a method call even without an argument list.
    const std::shared_ptr<Object> obj = RequireObject(*m->object);
    const std::vector<Value> args = EvalArgs(c.args);
    try {
      obj->Call(m->member, args);
    } catch (ScriptError& err) {
      Locate(err, callee.pos);
      throw;
    }
  } else {
    EvalExpr(callee);
  }
}

// ---- expressions ----------------------------------------------------------

Value Interpreter::EvalExpr(const Expr& e) {
  try {
    DepthGuard guard(*this, 1);
    return EvalNode(e);
  } catch (ScriptError& err) {
    Locate(err, e.pos);
    throw;
  }
}

Value Interpreter::EvalNode(const Expr& e) {
  if (const auto* lit = std::get_if<LiteralExpr>(&e.node)) return lit->value;
  if (const auto* n = std::get_if<NameExpr>(&e.node)) return EvalName(*n);
  if (const auto* c = std::get_if<CallExpr>(&e.node)) return EvalCall(*c);
  if (const auto* m = std::get_if<MemberExpr>(&e.node)) return EvalMember(*m);
  if (const auto* u = std::get_if<UnaryExpr>(&e.node)) {
    const Value v = EvalExpr(*u->operand);
    switch (u->op) {
      case UnaryOp::Negate: return Negate(v);
      case UnaryOp::Plus: return Identity(v);
      case UnaryOp::Not: return Not(v);
    }
  }
  return EvalBinary(std::get<BinaryExpr>(e.node));
}

Value Interpreter::EvalName(const NameExpr& n) {
  if (const Value* v = FindVariable(n.key, true)) return *v;
  if (IsProcedureName(n.key)) return CallByName(n.key, {});
  return Value();  // an unknown name is an empty variable
}

Value Interpreter::EvalCall(const CallExpr& c) {
  const std::vector<Value> args = EvalArgs(c.args);
  return CallByName(c.key, args);
}

Value Interpreter::EvalMember(const MemberExpr& m) {
  const std::shared_ptr<Object> obj = RequireObject(*m.object);
  const std::vector<Value> args = EvalArgs(m.args);
  return m.has_args ? obj->Call(m.member, args) : obj->GetProperty(m.member, args);
}

Value Interpreter::EvalBinary(const BinaryExpr& b) {
  const Value x = EvalExpr(*b.lhs);
  const Value y = EvalExpr(*b.rhs);
  auto compare = [&] { return Compare(x, y, IsLiteral(*b.lhs), IsLiteral(*b.rhs)); };
  auto test = [&](bool (*pred)(int)) {
    const std::optional<int> c = compare();
    return c ? Value::Boolean(pred(*c)) : Value::Null();
  };
  switch (b.op) {
    case BinaryOp::Power: return Power(x, y);
    case BinaryOp::Multiply: return Multiply(x, y);
    case BinaryOp::Divide: return Divide(x, y);
    case BinaryOp::IntDivide: return IntDivide(x, y);
    case BinaryOp::Modulo: return Modulo(x, y);
    case BinaryOp::Add: return Add(x, y);
    case BinaryOp::Subtract: return Subtract(x, y);
    case BinaryOp::Concat: return Concat(x, y);
    case BinaryOp::Eq: return test([](int c) { return c == 0; });
    case BinaryOp::Ne: return test([](int c) { return c != 0; });
    case BinaryOp::Lt: return test([](int c) { return c < 0; });
    case BinaryOp::Gt: return test([](int c) { return c > 0; });
    case BinaryOp::Le: return test([](int c) { return c <= 0; });
    case BinaryOp::Ge: return test([](int c) { return c >= 0; });
    case BinaryOp::And: return And(x, y);
    case BinaryOp::Or: return Or(x, y);
    case BinaryOp::Xor: return Xor(x, y);
    case BinaryOp::Eqv: return Eqv(x, y);
    case BinaryOp::Imp: return Imp(x, y);
  }
  return Value();
}

std::vector<Value> Interpreter::EvalArgs(const std::vector<ExprPtr>& args) {
  std::vector<Value> out;
  out.reserve(args.size());
  for (const ExprPtr& a : args) out.push_back(EvalExpr(*a));
  return out;
}

std::shared_ptr<Object> Interpreter::RequireObject(const Expr& e) {
  const Value v = EvalExpr(e);
  try {
    if (v.kind() != Kind::Object) ThrowRuntime(kErrObjectRequired);
    if (!v.object()) ThrowRuntime(kErrObjectNotSet);
  } catch (ScriptError& err) {
    Locate(err, e.pos);
    throw;
  }
  return v.object();
}

// ---- names and calls ------------------------------------------------------

Value* Interpreter::FindVariable(const std::string& key, bool with_result) {
  if (frame_ && frame_->function) {
    // Inside a function its own name, read without arguments, is the value
    // it will return.
    if (with_result && key == frame_->function->key) return &frame_->result;
    if (auto it = frame_->locals.find(key); it != frame_->locals.end()) return &it->second;
  }
  if (auto it = globals_.find(key); it != globals_.end()) return &it->second;
  return nullptr;
}

bool Interpreter::IsProcedureName(const std::string& key) const {
  return procedures_.contains(key) || FindBuiltin(key) != nullptr;
}

void Interpreter::Store(const std::string& key, Value v) {
  if (Value* slot = FindVariable(key, true)) {
    *slot = std::move(v);
    return;
  }
  if (IsProcedureName(key)) ThrowRuntime(kErrIllegalAssignment);
  // A name assigned without Dim belongs to the scope that assigns it.
  if (frame_ && frame_->function) {
    frame_->locals[key] = std::move(v);
  } else {
    globals_[key] = std::move(v);
  }
}

Value Interpreter::CallByName(const std::string& key, std::span<const Value> args) {
  if (Value* var = FindVariable(key, false)) {
    if (var->kind() != Kind::Object) ThrowRuntime(kErrTypeMismatch);
    if (!var->object()) ThrowRuntime(kErrObjectNotSet);
    const std::shared_ptr<Object> obj = var->object();
    return obj->Call("", args);
  }
  if (auto it = procedures_.find(key); it != procedures_.end()) {
    return CallProcedure(it->second, args);
  }
  if (const Builtin* b = FindBuiltin(key)) {
    if (args.size() < b->min_args || args.size() > b->max_args) ThrowRuntime(kErrWrongArgCount);
    return b->fn(*this, args);
  }
  // Calling a name nothing defines fails the way a script sees it.
  ThrowRuntime(kErrTypeMismatch);
}

Value Interpreter::CallProcedure(const Procedure& p, std::span<const Value> args) {
  const FunctionDecl& fn = *p.decl;
  if (args.size() != fn.params.size()) ThrowRuntime(kErrWrongArgCount);
  DepthGuard guard(*this, kCallCost);
  Frame f;
  f.function = &fn;
  f.source = p.program->source;
  for (std::size_t i = 0; i < args.size(); ++i) f.locals[fn.params[i]] = args[i];
  for (const std::string& key : fn.locals) f.locals.try_emplace(key);
  FrameScope scope(*this, f);
  for (const Stmt& s : fn.body) {
    Exec(s);
    if (f.exiting) break;
  }
  return std::move(f.result);
}

}  // namespace tarv::vbs
