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
// An argument left out is an Error value, not an object.
Value IsObject(Interpreter&, Args a) { return Value::Boolean(a[0].kind() == Kind::Object && !IsMissing(a[0])); }

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
    case Kind::Currency: t = 6; break;
    case Kind::Date: t = 7; break;
    case Kind::String: t = 8; break;
    case Kind::Object: t = IsMissing(a[0]) ? 10 : 9; break;
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
  std::shared_ptr<Object> obj = in.MakeObject(prog_id);
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

// The engine a script may ask about: the last release of the language.
constexpr char kEngineName[] = "VBScript";

// Locales by id and by tag; SetLocale takes either and gives back the id
// that was in force.
struct LocaleName {
  std::int32_t id;
  std::string_view tag;
};
constexpr LocaleName kLocales[] = {
    {1028, "zh-tw"}, {1031, "de-de"}, {1033, "en-us"}, {1034, "es-es"}, {1036, "fr-fr"},
    {1040, "it-it"}, {1041, "ja-jp"}, {1042, "ko-kr"}, {1043, "nl-nl"}, {1046, "pt-br"},
    {1049, "ru-ru"}, {1053, "sv-se"}, {2052, "zh-cn"}, {2057, "en-gb"}, {3082, "es-es"},
};
constexpr std::int32_t kUserLocale = 1033;

Value GetLocale(Interpreter& in, Args) { return Value::Long(in.locale); }

Value SetLocale(Interpreter& in, Args a) {
  const std::int32_t before = in.locale;
  const Plain x(a[0]);
  std::int32_t id = -1;
  if ((*x).kind() == Kind::String && !ParseNumber((*x).str())) {
    const std::string tag = FoldCase((*x).str());
    if (tag.empty()) id = kUserLocale;
    for (const LocaleName& l : kLocales) {
      if (l.tag == tag) id = l.id;
    }
  } else {
    id = ToLong(*x);
    if (id == 0) id = kUserLocale;
    if (std::none_of(std::begin(kLocales), std::end(kLocales), [id](const LocaleName& l) { return l.id == id; })) id = -1;
  }
  if (id < 0) ThrowRuntime(kErrInvalidCall);
  in.locale = id;
  return Value::Long(before);
}

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

// The colours, the vbMsgBox options and the engine's version numbers are
// Longs whatever their value.
template <int N>
Value LongConst(Interpreter&, Args) {
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
    {"getlocale", 0, 0, GetLocale},
    {"getref", 1, 1, GetRef},
    {"inputbox", 0, 7, NoInterface<kInputBox>},
    {"isarray", 1, 1, IsArray},
    {"isempty", 1, 1, IsEmpty},
    {"isnull", 1, 1, IsNull},
    {"isobject", 1, 1, IsObject},
    {"lbound", 1, 2, Bound<false>},
    {"msgbox", 0, 5, NoInterface<kMsgBox>},
    {"scriptengine", 0, 0, TextConst<kEngineName>},
    {"scriptenginebuildversion", 0, 0, LongConst<16384>},
    {"scriptenginemajorversion", 0, 0, LongConst<5>},
    {"scriptengineminorversion", 0, 0, LongConst<8>},
    {"setlocale", 1, 1, SetLocale},
    {"typename", 1, 1, TypeNameOf},
    {"ubound", 1, 2, Bound<true>},
    {"vartype", 1, 1, VarType},
    {"wscript", 0, 0, WScriptOf},
    // named constants
    {"vbabort", 0, 0, IntConst<3>},
    {"vbabortretryignore", 0, 0, IntConst<2>},
    {"vbapplicationmodal", 0, 0, IntConst<0>},
    {"vbarray", 0, 0, IntConst<8192>},
    {"vbback", 0, 0, TextConst<kBack>},
    {"vbbinarycompare", 0, 0, IntConst<0>},
    {"vbblack", 0, 0, LongConst<0x000000>},
    {"vbblue", 0, 0, LongConst<0xFF0000>},
    {"vbboolean", 0, 0, IntConst<11>},
    {"vbbyte", 0, 0, IntConst<17>},
    {"vbcancel", 0, 0, IntConst<2>},
    {"vbcr", 0, 0, TextConst<kCr>},
    {"vbcritical", 0, 0, IntConst<16>},
    {"vbcrlf", 0, 0, TextConst<kCrLf>},
    {"vbcurrency", 0, 0, IntConst<6>},
    {"vbcyan", 0, 0, LongConst<0xFFFF00>},
    {"vbdatabasecompare", 0, 0, IntConst<2>},
    {"vbdataobject", 0, 0, IntConst<13>},
    {"vbdate", 0, 0, IntConst<7>},
    {"vbdecimal", 0, 0, IntConst<14>},
    {"vbdefaultbutton1", 0, 0, IntConst<0>},
    {"vbdefaultbutton2", 0, 0, IntConst<256>},
    {"vbdefaultbutton3", 0, 0, IntConst<512>},
    {"vbdefaultbutton4", 0, 0, IntConst<768>},
    {"vbdouble", 0, 0, IntConst<5>},
    {"vbempty", 0, 0, IntConst<0>},
    {"vberror", 0, 0, IntConst<10>},
    {"vbexclamation", 0, 0, IntConst<48>},
    {"vbfalse", 0, 0, IntConst<0>},
    {"vbfirstfourdays", 0, 0, IntConst<2>},
    {"vbfirstfullweek", 0, 0, IntConst<3>},
    {"vbfirstjan1", 0, 0, IntConst<1>},
    {"vbformfeed", 0, 0, TextConst<kFormFeed>},
    {"vbfriday", 0, 0, IntConst<6>},
    {"vbgeneraldate", 0, 0, IntConst<0>},
    {"vbgreen", 0, 0, LongConst<0x00FF00>},
    {"vbignore", 0, 0, IntConst<5>},
    {"vbinformation", 0, 0, IntConst<64>},
    {"vbinteger", 0, 0, IntConst<2>},
    {"vblf", 0, 0, TextConst<kLf>},
    {"vblong", 0, 0, IntConst<3>},
    {"vblongdate", 0, 0, IntConst<1>},
    {"vblongtime", 0, 0, IntConst<3>},
    {"vbmagenta", 0, 0, LongConst<0xFF00FF>},
    {"vbmonday", 0, 0, IntConst<2>},
    {"vbmsgboxhelpbutton", 0, 0, LongConst<16384>},
    {"vbmsgboxright", 0, 0, LongConst<524288>},
    {"vbmsgboxrtlreading", 0, 0, LongConst<1048576>},
    {"vbmsgboxsetforeground", 0, 0, LongConst<65536>},
    {"vbnewline", 0, 0, TextConst<kCrLf>},
    {"vbno", 0, 0, IntConst<7>},
    {"vbnull", 0, 0, IntConst<1>},
    {"vbnullchar", 0, 0, NullChar},
    {"vbnullstring", 0, 0, TextConst<kEmpty>},
    {"vbobject", 0, 0, IntConst<9>},
    {"vbobjecterror", 0, 0, IntConst<-2147221504>},
    {"vbok", 0, 0, IntConst<1>},
    {"vbokcancel", 0, 0, IntConst<1>},
    {"vbokonly", 0, 0, IntConst<0>},
    {"vbquestion", 0, 0, IntConst<32>},
    {"vbred", 0, 0, LongConst<0x0000FF>},
    {"vbretry", 0, 0, IntConst<4>},
    {"vbretrycancel", 0, 0, IntConst<5>},
    {"vbsaturday", 0, 0, IntConst<7>},
    {"vbshortdate", 0, 0, IntConst<2>},
    {"vbshorttime", 0, 0, IntConst<4>},
    {"vbsingle", 0, 0, IntConst<4>},
    {"vbstring", 0, 0, IntConst<8>},
    {"vbsunday", 0, 0, IntConst<1>},
    {"vbsystemmodal", 0, 0, IntConst<4096>},
    {"vbtab", 0, 0, TextConst<kTab>},
    {"vbtextcompare", 0, 0, IntConst<1>},
    {"vbthursday", 0, 0, IntConst<5>},
    {"vbtrue", 0, 0, IntConst<-1>},
    {"vbtuesday", 0, 0, IntConst<3>},
    {"vbusedefault", 0, 0, IntConst<-2>},
    {"vbusesystem", 0, 0, IntConst<0>},
    {"vbusesystemdayofweek", 0, 0, IntConst<0>},
    {"vbvariant", 0, 0, IntConst<12>},
    {"vbverticaltab", 0, 0, TextConst<kVerticalTab>},
    {"vbwednesday", 0, 0, IntConst<4>},
    {"vbwhite", 0, 0, LongConst<0xFFFFFF>},
    {"vbyellow", 0, 0, LongConst<0x00FFFF>},
    {"vbyes", 0, 0, IntConst<6>},
    {"vbyesno", 0, 0, IntConst<4>},
    {"vbyesnocancel", 0, 0, IntConst<3>},
};

}  // namespace

std::span<const Builtin> ScriptBuiltins() { return kScript; }

const Builtin* FindBuiltin(std::string_view key) {
  for (std::span<const Builtin> table :
       {TextBuiltins(), MathBuiltins(), DateBuiltins(), ScriptBuiltins(), ByteBuiltins()}) {
    for (const Builtin& b : table) {
      if (b.name == key) return &b;
    }
  }
  return nullptr;
}

}  // namespace tarv::vbs
