// VBScript values: the variant kinds, script errors, coercions between kinds,
// number text, and the operators that work on values.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarv::vbs {

class Object;
struct Array;

// Error numbers as VBScript reports them.
enum ErrorNumber : int {
  kErrInvalidCall = 5,
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrSubscriptOutOfRange = 9,
  kErrArrayFixed = 10,
  kErrDivisionByZero = 11,
  kErrTypeMismatch = 13,
  kErrOutOfStack = 28,
  kErrSubNotDefined = 35,
  kErrBadFileName = 52,
  kErrFileNotFound = 53,
  kErrBadFileMode = 54,
  kErrFileExists = 58,
  kErrInputPastEnd = 62,
  kErrPermissionDenied = 70,
  kErrPathNotFound = 76,
  kErrObjectNotSet = 91,
  kErrInvalidUseOfNull = 94,
  kErrObjectRequired = 424,
  kErrCannotCreateObject = 429,
  kErrNoAutomation = 430,
  kErrNoSuchMember = 438,
  kErrActionNotSupported = 445,
  kErrWrongArgCount = 450,
  kErrNotACollection = 451,
  kErrKeyExists = 457,
  kErrBadVarType = 458,
  kErrVariableUndefined = 500,
  kErrIllegalAssignment = 501,
  kErrClassNotDefined = 506,
  kErrSyntax = 1002,
  kErrExpectedRParen = 1006,
  kErrExpectedIdentifier = 1010,
  kErrExpectedEquals = 1011,
  kErrExpectedTo = 1013,
  kErrExpectedEnd = 1014,
  kErrExpectedFunction = 1015,
  kErrExpectedSub = 1016,
  kErrExpectedThen = 1017,
  kErrExpectedWend = 1018,
  kErrExpectedLoop = 1019,
  kErrExpectedNext = 1020,
  kErrExpectedCase = 1021,
  kErrExpectedSelect = 1022,
  kErrExpectedExpression = 1023,
  kErrExpectedStatement = 1024,
  kErrExpectedEndOfStatement = 1025,
  kErrExpectedWith = 1029,
  kErrIdentifierTooLong = 1030,
  kErrInvalidNumber = 1031,
  kErrInvalidCharacter = 1032,
  kErrUnterminatedString = 1033,
  kErrInvalidExit = 1039,
  kErrInvalidForVariable = 1040,
  kErrNameRedefined = 1041,
  kErrExpectedIn = 1046,
  kErrRegexpSyntax = 5017,
  kErrElementNotFound = 32811,
  // The run was stopped by its time limit (the HRESULT E_ABORT).
  kErrTimeout = static_cast<int>(0x80004004u),
};

// Short English text for an error number.
std::string_view ErrorDescription(int number);

struct Error {
  int number = 0;
  std::string description;
  int line = 0;    // 1-based; 0 while the position is not known yet
  int column = 0;  // 1-based
  std::string source_text;  // the script line the error points at
  std::string source;       // set by Err.Raise; else the kind of error shows
  std::string help_file;    // set by Err.Raise
  std::int32_t help_context = 0;
  bool compile = false;     // found while compiling rather than running
  // The run's own time limit, which no On Error catches (a script may raise
  // the same number itself, and that it may catch).
  bool time_limit = false;
};

class ScriptError : public std::exception {
 public:
  explicit ScriptError(Error error) : error_(std::move(error)) {}
  const Error& error() const { return error_; }
  Error& error() { return error_; }
  const char* what() const noexcept override { return error_.description.c_str(); }

 private:
  Error error_;
};

[[noreturn]] void ThrowRuntime(int number);
// A run-time error with a description of its own.
[[noreturn]] void ThrowRuntime(int number, std::string description);

// Memory the script may take in one piece: longer text or larger arrays fail
// with "Out of memory" instead of exhausting the process.
inline constexpr std::size_t kMaxTextBytes = 32u << 20;
inline constexpr std::size_t kMaxArrayElements = 4u << 20;
// Throws "Out of memory" when text of `bytes` exceeds kMaxTextBytes, or when
// the process is past its memory budget (CheckMemory, asked once for every
// few megabytes of new text). `fresh` is how much of it is newly made.
void CheckTextSize(std::uint64_t bytes, std::uint64_t fresh);
inline void CheckTextSize(std::uint64_t bytes) { CheckTextSize(bytes, bytes); }

// The memory a run may add to the process: many pieces that each pass the
// size limits still fail with "Out of memory" once the process holds this
// much more than when the run began.
inline constexpr std::uint64_t kMemoryBudget = 512u << 20;
// The resident size of the process in bytes (0 when it cannot be read).
std::uint64_t ResidentBytes();
// Sets the ceiling for this thread's runs (0: none) and returns the old one.
std::uint64_t SetMemoryCeiling(std::uint64_t bytes);
// Throws "Out of memory" when the process is past the ceiling.
void CheckMemory();

// The order matches the payloads of Value.
enum class Kind : std::uint8_t { Empty, Null, Boolean, Integer, Long, Double, String, Object, Date, Array, Byte, Single, Currency };

class Value {
 public:
  Value() noexcept {}  // Empty
  static Value Null() { return Of(Kind::Null); }
  static Value Boolean(bool b) {
    Value v = Of(Kind::Boolean);
    v.u_.b = b;
    return v;
  }
  static Value Integer(std::int16_t i) {
    Value v = Of(Kind::Integer);
    v.u_.i = i;
    return v;
  }
  static Value Long(std::int32_t l) {
    Value v = Of(Kind::Long);
    v.u_.l = l;
    return v;
  }
  static Value Double(double d) {
    Value v = Of(Kind::Double);
    v.u_.d = d;
    return v;
  }
  static Value String(std::string s) {
    Value v;
    new (&v.u_.s) std::string(std::move(s));
    v.kind_ = Kind::String;
    return v;
  }
  // A null pointer is the object reference Nothing.
  static Value Object(std::shared_ptr<vbs::Object> o) {
    Value v;
    new (&v.u_.o) std::shared_ptr<vbs::Object>(std::move(o));
    v.kind_ = Kind::Object;
    return v;
  }
  // Days since 30 December 1899; the fraction is the time of day.
  static Value Date(double serial) {
    Value v = Of(Kind::Date);
    v.u_.d = serial;
    return v;
  }
  static Value Array(std::shared_ptr<vbs::Array> a) {
    Value v;
    new (&v.u_.a) std::shared_ptr<vbs::Array>(std::move(a));
    v.kind_ = Kind::Array;
    return v;
  }
  static Value Byte(std::uint8_t b) {
    Value v = Of(Kind::Byte);
    v.u_.by = b;
    return v;
  }
  static Value Single(float f) {
    Value v = Of(Kind::Single);
    v.u_.f = f;
    return v;
  }
  // A Currency in ten-thousandths: four fixed decimals.
  static Value Currency(std::int64_t units) {
    Value v = Of(Kind::Currency);
    v.u_.cur = units;
    return v;
  }

  // Numbers and the other kinds without storage of their own are copied as
  // bits; only text, objects and arrays take the longer way.
  [[gnu::always_inline]] Value(const Value& o) {
    if (Owns(o.kind_)) CopyOwned(o);
    else Bits(o);
  }
  [[gnu::always_inline]] Value(Value&& o) noexcept {
    if (Owns(o.kind_)) MoveOwned(o);
    else Bits(o);
  }
  [[gnu::always_inline]] Value& operator=(const Value& o) {
    if (!EitherOwns(kind_, o.kind_)) Bits(o);
    else CopyAssign(o);
    return *this;
  }
  [[gnu::always_inline]] Value& operator=(Value&& o) noexcept {
    if (!EitherOwns(kind_, o.kind_)) Bits(o);
    else MoveAssign(o);
    return *this;
  }
  [[gnu::always_inline]] ~Value() {
    if (Owns(kind_)) Release();
  }

  Kind kind() const { return kind_; }
  bool IsNumeric() const;  // Boolean, Byte, Integer, Long, Single, Double, Currency

  // Raw payloads; each must only be asked of a value of that kind.
  bool boolean() const { return Check(Kind::Boolean).u_.b; }
  std::int16_t integer() const { return Check(Kind::Integer).u_.i; }
  std::int32_t long_value() const { return Check(Kind::Long).u_.l; }
  double dbl() const { return Check(Kind::Double).u_.d; }
  const std::string& str() const { return Check(Kind::String).u_.s; }
  const std::shared_ptr<vbs::Object>& object() const { return Check(Kind::Object).u_.o; }
  double date() const { return Check(Kind::Date).u_.d; }
  const std::shared_ptr<vbs::Array>& array() const { return Check(Kind::Array).u_.a; }
  std::uint8_t byte() const { return Check(Kind::Byte).u_.by; }
  float single() const { return Check(Kind::Single).u_.f; }
  std::int64_t currency_units() const { return Check(Kind::Currency).u_.cur; }
  // The text of a String value, to be changed in place.
  std::string& mutable_str() {
    Check(Kind::String);
    ascii_ = 0;
    return u_.s;
  }
  // Appends to the text of a String value, keeping what is known of it.
  void AppendStr(std::string_view add) {
    Check(Kind::String);
    if (ascii_ == u_.s.size()) {
      std::size_t k = 0;
      while (k < add.size() && static_cast<unsigned char>(add[k]) < 0x80) ++k;
      ascii_ += static_cast<std::uint32_t>(k);
    }
    u_.s.append(add);
  }
  // How many bytes at the start of a String value are ASCII, so that text
  // positions there are byte offsets: learnt once, then kept while the text
  // only grows at its end.
  std::size_t AsciiPrefix() const {
    const std::string& s = str();
    std::size_t k = ascii_;
    while (k < s.size() && static_cast<unsigned char>(s[k]) < 0x80) ++k;
    ascii_ = static_cast<std::uint32_t>(k);
    return k;
  }
  // A whole number stored without going through the general assignment
  // when the value holds one of that kind already.
  void SetWhole(std::int32_t n, bool integer) {
    if (Owns(kind_)) Release();
    if (integer) {
      kind_ = Kind::Integer;
      u_.i = static_cast<std::int16_t>(n);
    } else {
      kind_ = Kind::Long;
      u_.l = n;
    }
  }

 private:
  // The kinds with storage of their own, as bits: one test for two values.
  static constexpr unsigned kOwning = 1u << static_cast<unsigned>(Kind::String) |
                                      1u << static_cast<unsigned>(Kind::Object) |
                                      1u << static_cast<unsigned>(Kind::Array);
  static constexpr unsigned Bit(Kind k) { return 1u << static_cast<unsigned>(k); }
  static constexpr bool Owns(Kind k) { return (Bit(k) & kOwning) != 0; }
  static constexpr bool EitherOwns(Kind a, Kind b) { return ((Bit(a) | Bit(b)) & kOwning) != 0; }
  static Value Of(Kind k) {
    Value v;
    v.kind_ = k;
    return v;
  }
  const Value& Check(Kind k) const {
    if (kind_ != k) [[unlikely]] BadKind();
    return *this;
  }
  [[noreturn]] static void BadKind();
  void Bits(const Value& o) {
    kind_ = o.kind_;
    u_.bits = o.u_.bits;
  }
  void CopyOwned(const Value& o);
  // Leaves o's storage as a moved-from one of its kind: empty text, a null
  // pointer (as a moved-from variant is).
  void MoveOwned(Value& o) noexcept;
  void CopyAssign(const Value& o);
  void MoveAssign(Value& o) noexcept;
  // Gives up the text, object or array held; the value is Empty after.
  void Release() noexcept;

  // Wider than any payload but the text, so that copying a number copies
  // every byte of it.
  union Payload {
    Payload() : bits{} {}
    ~Payload() {}
    std::uint64_t bits;
    bool b;
    std::int16_t i;
    std::int32_t l;
    double d;  // Double and Date
    std::uint8_t by;
    float f;
    std::int64_t cur;
    std::string s;
    std::shared_ptr<vbs::Object> o;
    std::shared_ptr<vbs::Array> a;
  };
  Kind kind_ = Kind::Empty;
  mutable std::uint32_t ascii_ = 0;  // String: its first bytes known to be ASCII
  Payload u_;
};

// Arrays and objects nest as deep as a script makes them (each holding the
// next); freeing one inside the destructor of the one that held it would
// recurse that deep. A holder's destructor instead hands each value it held
// last to ReleaseLater and then calls ReleaseNow: the outermost ReleaseNow
// frees them one after another, so the stack stays flat at any depth.
void ReleaseLater(Value& v);
void ReleaseNow();

// A VBScript array: every dimension counts from 0; the first index runs
// fastest in `items`, so growing the last dimension keeps every element.
struct Array {
  Array() = default;
  Array(const Array&) = default;
  Array& operator=(const Array&) = default;
  ~Array();

  std::vector<std::int32_t> upper;  // upper bound of each dimension; -1: none
  std::vector<Value> items;
  bool fixed = false;  // declared with its size: no ReDim
  // Elements of it passed ByRef to calls still running: no ReDim or Erase.
  std::uint32_t locks = 0;

  // Throws "Subscript out of range" for wrong indices or count.
  std::size_t Offset(std::span<const Value> indices) const;
  // A one-dimensional array of the values.
  static std::shared_ptr<Array> Of(std::vector<Value> values);
};

// The VBScript name of the value's kind, as TypeName gives it.
std::string TypeName(const Value& v);

// An object stands for its default property wherever a plain value is needed.
Value Unwrap(const Value& v);

// What a procedure receives for an argument left out of a call, f(a, , c):
// TypeName calls it "Error"; a built-in treats it as not given.
Value MissingArgument();
bool IsMissing(const Value& v);

// The plain value of v without copying it when it is not an object.
class Plain {
 public:
  explicit Plain(const Value& v) : p_(&v) {
    if (v.kind() == Kind::Object) p_ = &own_.emplace(Unwrap(v));
  }
  Plain(const Plain&) = delete;
  Plain& operator=(const Plain&) = delete;
  const Value& operator*() const { return *p_; }

 private:
  const Value* p_;
  std::optional<Value> own_;  // only objects need one: most values pass without
};

// Coercions as CDbl, CInt, CLng, CBool and CStr do them.
double ToDouble(const Value& v);
std::int16_t ToInteger(const Value& v);
std::int32_t ToLongOf(const Value& v);
// A Long or an Integer is its own number; only other kinds are converted.
inline std::int32_t ToLong(const Value& v) {
  if (v.kind() == Kind::Long) return v.long_value();
  if (v.kind() == Kind::Integer) return v.integer();
  return ToLongOf(v);
}
bool ToBoolean(const Value& v);
std::string ToString(const Value& v);
// The date's serial number of a value, as CDate converts it.
double ToDate(const Value& v);
// Ten-thousandths, as CCur converts: half-way cases to even, Overflow past
// the Currency range.
std::int64_t ToCurrencyUnits(const Value& v);
inline constexpr std::int64_t kCurrencyScale = 10000;
// Number text of a Currency: at most four decimals, no trailing zeros.
std::string FormatCurrencyUnits(std::int64_t units);

// Number text of a Single: up to 7 significant digits.
std::string FormatSingle(float f);
// Number text of a Double: up to 15 significant digits, the exponent form
// ("1E+16", "1E-05") from 1E+15 up and below 0.0001.
std::string FormatDouble(double d);
// Text that VBScript accepts as a number: blanks around it, a sign, digits with
// a decimal point and exponent, or &H / &O forms; the whole part may be
// grouped by thousands with ',' ("1,234,567.5"). Nothing for other text;
// throws Overflow for a number beyond the Double range.
std::optional<double> ParseNumber(std::string_view text);
// Half-way cases go to the even neighbour.
double RoundHalfEven(double d);

// Operators.
Value Negate(const Value& a);
Value Identity(const Value& a);  // unary plus
Value Power(const Value& a, const Value& b);
Value Multiply(const Value& a, const Value& b);
Value Divide(const Value& a, const Value& b);
Value IntDivide(const Value& a, const Value& b);
Value Modulo(const Value& a, const Value& b);
Value Add(const Value& a, const Value& b);
Value Subtract(const Value& a, const Value& b);
Value Concat(const Value& a, const Value& b);

// Comparison: negative, zero or positive; nothing when either side is Null.
// A side written as a literal in the script pulls the other side to its kind
// when a number meets a string; otherwise a number sorts before any string.
std::optional<int> Compare(const Value& a, const Value& b, bool a_literal = false,
                           bool b_literal = false);

Value Not(const Value& a);
Value And(const Value& a, const Value& b);
Value Or(const Value& a, const Value& b);
Value Xor(const Value& a, const Value& b);
Value Eqv(const Value& a, const Value& b);
Value Imp(const Value& a, const Value& b);

// Names are matched without regard to ASCII case.
std::string FoldCase(std::string_view name);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace tarv::vbs
