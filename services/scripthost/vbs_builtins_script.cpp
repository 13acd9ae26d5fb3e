// Functions about values and the script itself: kinds, arrays, objects,
// Eval and Execute, the Err and WScript objects, and the named constants.
#include <algorithm>
#include <initializer_list>
#include <thread>

#include "services/scripthost/vbs_builtins.h"
#include "services/scripthost/vbs_eval.h"

namespace tarv::vbs {

namespace {

using Args = std::span<const Value>;

Value IsEmpty(Interpreter&, Args a) { return Value::Boolean(a[0].kind() == Kind::Empty); }
Value IsNull(Interpreter&, Args a) { return Value::Boolean(a[0].kind() == Kind::Null); }
Value IsArray(Interpreter&, Args a) { return Value::Boolean(a[0].kind() == Kind::Array); }
Value IsObject(Interpreter&, Args a) { return Value::Boolean(a[0].kind() == Kind::Object); }

Value TypeNameOf(Interpreter&, Args a) { return Value::String(TypeName(a[0])); }

Value VarType(Interpreter&, Args a) {
  int t = 0;
  switch (a[0].kind()) {
    case Kind::Empty: t = 0; break;
    case Kind::Null: t = 1; break;
    case Kind::Integer: t = 2; break;
    case Kind::Long: t = 3; break;
    case Kind::Single: t = 4; break;
    case Kind::Double: t = 5; break;
    case Kind::Date: t = 7; break;
    case Kind::String: t = 8; break;
    case Kind::Object: t = 9; break;
    case Kind::Boolean: t = 11; break;
    case Kind::Byte: t = 17; break;
    case Kind::Array: t = 8192 + 12; break;
  }
  return Value::Integer(static_cast<std::int16_t>(t));
}

// UBound(array[, dimension]) and LBound: dimensions count from 1.
template <bool kUpper>
Value Bound(Interpreter&, Args a) {
  if (a[0].kind() != Kind::Array) ThrowRuntime(kErrTypeMismatch);
  const Array& arr = *a[0].array();
  const std::int32_t dim = HasArg(a, 1) ? ToLong(a[1]) : 1;
  if (dim < 1 || static_cast<std::size_t>(dim) > arr.upper.size()) ThrowRuntime(kErrSubscriptOutOfRange);
  return Value::Long(kUpper ? arr.upper[static_cast<std::size_t>(dim - 1)] : 0);
}

Value ArrayOf(Interpreter&, Args a) {
  return Value::Array(Array::Of(std::vector<Value>(a.begin(), a.end())));
}

Value CreateObject(Interpreter& in, Args a) {
  const std::string prog_id = ToString(a[0]);
  std::shared_ptr<Object> obj = in.factory() ? in.factory()->Create(prog_id) : nullptr;
  if (!obj) ThrowRuntime(kErrCannotCreateObject);
  return Value::Object(std::move(obj));
}

Value EvalText(Interpreter& in, Args a) { return in.EvalHere(ToString(a[0])); }
Value Execute(Interpreter& in, Args a) {
  in.ExecuteHere(ToString(a[0]), false);
  return Value();
}
Value ExecuteGlobal(Interpreter& in, Args a) {
  in.ExecuteHere(ToString(a[0]), true);
  return Value();
}
Value GetRef(Interpreter& in, Args a) { return in.ProcedureReference(ToString(a[0])); }

// No dialog can be shown: the script runs without a user interface.
template <const char* kName>
Value NoInterface(Interpreter&, Args) {
  ThrowRuntime(kErrPermissionDenied, std::string("Permission denied: '") + kName +
                                         "' (the script host has no user interface)");
}
constexpr char kMsgBox[] = "MsgBox";
constexpr char kInputBox[] = "InputBox";

Value ErrOf(Interpreter& in, Args) { return in.ErrObject(); }

// WScript.Sleep waits, but never past the run's time limit.
class WScriptObj : public Object {
 public:
  explicit WScriptObj(Interpreter& in) : in_(in) {}
  std::string TypeName() const override { return "Object"; }
  Value GetProperty(std::string_view name, std::span<const Value> args) override { return Call(name, args); }
  void SetProperty(std::string_view, std::span<const Value>, const Value&) override {
    ThrowRuntime(kErrNoSuchMember);
  }
  Value Call(std::string_view name, std::span<const Value> args) override {
    if (!EqualsNoCase(name, "sleep")) ThrowRuntime(kErrNoSuchMember);
    if (args.size() != 1) ThrowRuntime(kErrWrongArgCount);
    const std::int32_t ms = ToLong(args[0]);
    if (ms < 0) ThrowRuntime(kErrInvalidCall);
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    const auto limit = in_.deadline();
    if (limit && *limit < until) {
      std::this_thread::sleep_until(*limit);
      in_.CheckDeadline();
    }
    std::this_thread::sleep_until(until);
    return Value();
  }

 private:
  Interpreter& in_;
};

Value WScriptOf(Interpreter& in, Args) { return Value::Object(std::make_shared<WScriptObj>(in)); }

template <int N>
Value IntConst(Interpreter&, Args) {
  if (N >= INT16_MIN && N <= INT16_MAX) return Value::Integer(static_cast<std::int16_t>(N));
  return Value::Long(N);
}

template <const char* kText>
Value TextConst(Interpreter&, Args) {
  return Value::String(kText);
}
constexpr char kCrLf[] = "\r\n";
constexpr char kCr[] = "\r";
constexpr char kLf[] = "\n";
constexpr char kTab[] = "\t";
constexpr char kEmpty[] = "";
constexpr char kBack[] = "\b";
constexpr char kFormFeed[] = "\f";
constexpr char kVerticalTab[] = "\v";
Value NullChar(Interpreter&, Args) { return Value::String(std::string(1, '\0')); }

constexpr Builtin kScript[] = {
    {"array", 0, 255, ArrayOf},
    {"createobject", 1, 2, CreateObject},
    {"err", 0, 0, ErrOf},
    {"eval", 1, 1, EvalText},
    {"execute", 1, 1, Execute},
    {"executeglobal", 1, 1, ExecuteGlobal},
    {"getref", 1, 1, GetRef},
    {"inputbox", 0, 7, NoInterface<kInputBox>},
    {"isarray", 1, 1, IsArray},
    {"isempty", 1, 1, IsEmpty},
    {"isnull", 1, 1, IsNull},
    {"isobject", 1, 1, IsObject},
    {"lbound", 1, 2, Bound<false>},
    {"msgbox", 0, 5, NoInterface<kMsgBox>},
    {"typename", 1, 1, TypeNameOf},
    {"ubound", 1, 2, Bound<true>},
    {"vartype", 1, 1, VarType},
    {"wscript", 0, 0, WScriptOf},
    // named constants
    {"vbarray", 0, 0, IntConst<8192>},
    {"vbback", 0, 0, TextConst<kBack>},
    {"vbbinarycompare", 0, 0, IntConst<0>},
    {"vbboolean", 0, 0, IntConst<11>},
    {"vbbyte", 0, 0, IntConst<17>},
    {"vbcr", 0, 0, TextConst<kCr>},
    {"vbcrlf", 0, 0, TextConst<kCrLf>},
    {"vbdate", 0, 0, IntConst<7>},
    {"vbdouble", 0, 0, IntConst<5>},
    {"vbempty", 0, 0, IntConst<0>},
    {"vbfalse", 0, 0, IntConst<0>},
    {"vbformfeed", 0, 0, TextConst<kFormFeed>},
    {"vbfriday", 0, 0, IntConst<6>},
    {"vbgeneraldate", 0, 0, IntConst<0>},
    {"vbinteger", 0, 0, IntConst<2>},
    {"vblf", 0, 0, TextConst<kLf>},
    {"vblong", 0, 0, IntConst<3>},
    {"vblongdate", 0, 0, IntConst<1>},
    {"vblongtime", 0, 0, IntConst<3>},
    {"vbmonday", 0, 0, IntConst<2>},
    {"vbnewline", 0, 0, TextConst<kCrLf>},
    {"vbnull", 0, 0, IntConst<1>},
    {"vbnullchar", 0, 0, NullChar},
    {"vbnullstring", 0, 0, TextConst<kEmpty>},
    {"vbobject", 0, 0, IntConst<9>},
    {"vbobjecterror", 0, 0, IntConst<-2147221504>},
    {"vbsaturday", 0, 0, IntConst<7>},
    {"vbshortdate", 0, 0, IntConst<2>},
    {"vbshorttime", 0, 0, IntConst<4>},
    {"vbsingle", 0, 0, IntConst<4>},
    {"vbstring", 0, 0, IntConst<8>},
    {"vbsunday", 0, 0, IntConst<1>},
    {"vbtab", 0, 0, TextConst<kTab>},
    {"vbtextcompare", 0, 0, IntConst<1>},
    {"vbthursday", 0, 0, IntConst<5>},
    {"vbtrue", 0, 0, IntConst<-1>},
    {"vbtuesday", 0, 0, IntConst<3>},
    {"vbusedefault", 0, 0, IntConst<-2>},
    {"vbusesystemdayofweek", 0, 0, IntConst<0>},
    {"vbvariant", 0, 0, IntConst<12>},
    {"vbverticaltab", 0, 0, TextConst<kVerticalTab>},
    {"vbwednesday", 0, 0, IntConst<4>},
};

}  // namespace

std::span<const Builtin> ScriptBuiltins() { return kScript; }

const Builtin* FindBuiltin(std::string_view key) {
  for (std::span<const Builtin> table : {TextBuiltins(), MathBuiltins(), DateBuiltins(), ScriptBuiltins()}) {
    for (const Builtin& b : table) {
      if (b.name == key) return &b;
    }
  }
  return nullptr;
}

}  // namespace tarv::vbs
