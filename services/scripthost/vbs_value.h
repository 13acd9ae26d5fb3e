// VBScript values: the variant kinds, script errors, coercions between kinds,
// number text, and the operators that work on values.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace tarv::vbs {

class Object;

// Error numbers as VBScript reports them.
enum ErrorNumber : int {
  kErrInvalidCall = 5,
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrDivisionByZero = 11,
  kErrTypeMismatch = 13,
  kErrOutOfStack = 28,
  kErrObjectNotSet = 91,
  kErrInvalidUseOfNull = 94,
  kErrObjectRequired = 424,
  kErrCannotCreateObject = 429,
  kErrNoSuchMember = 438,
  kErrWrongArgCount = 450,
  kErrIllegalAssignment = 501,
  kErrSyntax = 1002,
  kErrExpectedRParen = 1006,
  kErrExpectedIdentifier = 1010,
  kErrExpectedEquals = 1011,
  kErrExpectedEnd = 1014,
  kErrExpectedFunction = 1015,
  kErrExpectedExpression = 1023,
  kErrExpectedStatement = 1024,
  kErrExpectedEndOfStatement = 1025,
  kErrIdentifierTooLong = 1030,
  kErrInvalidNumber = 1031,
  kErrInvalidCharacter = 1032,
  kErrUnterminatedString = 1033,
  kErrInvalidExit = 1039,
  kErrNameRedefined = 1041,
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
  bool compile = false;     // found while compiling rather than running
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

enum class Kind { Empty, Null, Boolean, Integer, Long, Double, String, Object };

class Value {
 public:
  Value() = default;  // Empty
  static Value Null();
  static Value Boolean(bool b);
  static Value Integer(std::int16_t i);
  static Value Long(std::int32_t l);
  static Value Double(double d);
  static Value String(std::string s);
  // A null pointer is the object reference Nothing.
  static Value Object(std::shared_ptr<vbs::Object> o);

  Kind kind() const { return static_cast<Kind>(data_.index()); }
  bool IsNumeric() const;  // Boolean, Integer, Long or Double

  // Raw payloads; each must only be asked of a value of that kind.
  bool boolean() const { return std::get<bool>(data_); }
  std::int16_t integer() const { return std::get<std::int16_t>(data_); }
  std::int32_t long_value() const { return std::get<std::int32_t>(data_); }
  double dbl() const { return std::get<double>(data_); }
  const std::string& str() const { return std::get<std::string>(data_); }
  const std::shared_ptr<vbs::Object>& object() const {
    return std::get<std::shared_ptr<vbs::Object>>(data_);
  }

 private:
  struct NullTag {};
  // The value holding exactly this payload.
  template <typename T>
  static Value Of(T payload) {
    Value v;
    v.data_ = std::move(payload);
    return v;
  }
  // Order matches Kind.
  std::variant<std::monostate, NullTag, bool, std::int16_t, std::int32_t, double, std::string,
               std::shared_ptr<vbs::Object>>
      data_;
};

// The VBScript name of the value's kind, as TypeName gives it.
std::string TypeName(const Value& v);

// An object stands for its default property wherever a plain value is needed.
Value Unwrap(const Value& v);

// Coercions as CDbl, CInt, CLng, CBool and CStr do them.
double ToDouble(const Value& v);
std::int16_t ToInteger(const Value& v);
std::int32_t ToLong(const Value& v);
bool ToBoolean(const Value& v);
std::string ToString(const Value& v);

// Number text of a Double: up to 15 significant digits, the exponent form
// ("1E+16", "1E-05") from 1E+15 up and below 0.0001.
std::string FormatDouble(double d);
// Text that VBScript accepts as a number: blanks around it, a sign, digits with
// a decimal point and exponent, or &H / &O forms. Nothing for other text;
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
