#include "services/scripthost/vbs_value.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tests/services/scripthost/vbs_test_util.h"

namespace {

using namespace tarv::vbs;

int ErrorOf(auto&& fn) {
  try {
    fn();
  } catch (const ScriptError& e) {
    return e.error().number;
  }
  return 0;
}

// scripts/numbers.tsv: numbers as text, text as numbers, and rounding.
TEST(VbsValue, NumbersAndTheirText) {
  for (const auto& row : vbstest::LoadRows("numbers.tsv")) {
    SCOPED_TRACE(row[0] + " [" + row[1] + "]");
    const double in = std::strtod(row[1].c_str(), nullptr);
    const std::optional<double> want =
        row[2] == "-" ? std::nullopt : std::optional<double>(std::strtod(row[2].c_str(), nullptr));
    if (row[0] == "format") EXPECT_EQ(FormatDouble(in), row[2]);
    else if (row[0] == "parse") EXPECT_EQ(ParseNumber(row[1]), want);
    else EXPECT_EQ(RoundHalfEven(in), want);
  }
  EXPECT_EQ(ErrorOf([] { ParseNumber("1e400"); }), kErrOverflow);
}

// Short makers for the tables below.
Value I(std::int16_t n) { return Value::Integer(n); }
Value L(std::int32_t n) { return Value::Long(n); }
Value D(double d) { return Value::Double(d); }
Value S(const char* s) { return Value::String(s); }

TEST(VbsValue, CoercionAndArithmeticFaults) {
  const struct { const char* what; std::function<void()> fn; int number; } faults[] = {
      {"text to number", [] { ToDouble(S("abc")); }, kErrTypeMismatch},
      {"Null to number", [] { ToDouble(Value::Null()); }, kErrInvalidUseOfNull},
      {"Null to text", [] { ToString(Value::Null()); }, kErrInvalidUseOfNull},
      {"Integer range", [] { ToInteger(L(32768)); }, kErrOverflow},
      {"Integer rounding", [] { ToInteger(D(32767.5)); }, kErrOverflow},
      {"Long range", [] { ToLong(D(2147483648.0)); }, kErrOverflow},
      {"Nothing", [] { ToDouble(Value::Object(nullptr)); }, kErrObjectNotSet},
      {"Boolean text", [] { ToBoolean(S("yes")); }, kErrTypeMismatch},
      {"1/0", [] { Divide(I(1), I(0)); }, kErrDivisionByZero},
      {"0/0", [] { Divide(I(0), I(0)); }, kErrOverflow},
      {"1\\0", [] { IntDivide(I(1), I(0)); }, kErrDivisionByZero},
      {"1 Mod 0.4", [] { Modulo(I(1), D(0.4)); }, kErrDivisionByZero},
      {"(-8)^0.5", [] { Power(I(-8), D(0.5)); }, kErrInvalidCall},
      {"0^-1", [] { Power(I(0), I(-1)); }, kErrDivisionByZero},
      {"\\ beyond Long", [] { IntDivide(D(3e9), I(2)); }, kErrOverflow},
      {"text beside a literal", [] { Compare(S("x"), I(1), false, true); }, kErrTypeMismatch},
  };
  for (const auto& f : faults) {
    SCOPED_TRACE(f.what);
    EXPECT_EQ(ErrorOf(f.fn), f.number);
  }
}

// Whole numbers widen instead of overflowing.
TEST(VbsValue, ArithmeticKinds) {
  const struct { const char* what; Value got; Kind kind; double number; } cases[] = {
      {"Integer overflow", Add(I(32767), I(1)), Kind::Long, 32768},
      {"Long overflow", Add(L(2147483647), I(1)), Kind::Double, 2147483648.0},
      {"Integer product", Multiply(I(200), I(200)), Kind::Long, 40000},
      {"Long product", Multiply(L(46341), L(46341)), Kind::Double, 2147488281.0},
      {"Long minus", Subtract(L(-2147483647), I(2)), Kind::Double, -2147483649.0},
      {"Boolean sum", Add(Value::Boolean(true), Value::Boolean(true)), Kind::Integer, -2},
      {"Empty sum", Add(Value(), Value()), Kind::Integer, 0},
      {"divide", Divide(I(7), I(2)), Kind::Double, 3.5},
      {"negate Integer min", Negate(I(-32768)), Kind::Long, 32768},
      {"negate Long min", Negate(L(INT32_MIN)), Kind::Double, 2147483648.0},
      {"negate True", Negate(Value::Boolean(true)), Kind::Integer, 1},
      {"int divide", IntDivide(I(-7), I(2)), Kind::Integer, -3},
      {"int divide rounds", IntDivide(D(7.5), I(2)), Kind::Long, 4},
      {"int divide widens", IntDivide(I(-32768), I(-1)), Kind::Long, 32768},
      {"mod sign", Modulo(I(-7), I(3)), Kind::Integer, -1},
      {"mod rounds", Modulo(D(5.5), I(4)), Kind::Long, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.got.kind(), c.kind);
    EXPECT_EQ(ToDouble(c.got), c.number);
  }
}

TEST(VbsValue, PlusJoinsStrings) {
  EXPECT_EQ(Add(S("3"), S("4")).str(), "34");
  EXPECT_EQ(Add(Value(), S("4")).kind(), Kind::String);
  EXPECT_EQ(Add(S("3"), I(4)).kind(), Kind::Double);
  EXPECT_EQ(Concat(I(1), Value::Boolean(true)).str(), "1True");
  EXPECT_EQ(Concat(Value::Null(), S("x")).str(), "x");
  EXPECT_EQ(Concat(Value::Null(), Value::Null()).kind(), Kind::Null);
  EXPECT_EQ(Add(Value::Null(), I(1)).kind(), Kind::Null);
}

TEST(VbsValue, Compare) {
  const struct { const char* what; Value a, b; bool a_lit, b_lit; std::optional<int> out; } cases[] = {
      {"numbers", I(1), D(1.5), false, false, -1}, {"strings by byte", S("B"), S("a"), false, false, -1},
      {"Empty and number", Value(), I(0), false, false, 0},
      {"Empty and string", Value(), S(""), false, false, 0},
      {"True is -1", Value::Boolean(true), I(-1), false, false, 0},
      {"number before string", I(9), S("1"), false, false, -1},
      {"string after number", S("1"), I(9), false, false, 1},
      {"numeric literal pulls", S("10"), I(9), false, true, 1},
      {"string literal pulls", I(10), S("9"), false, true, -1},
      {"Null", Value::Null(), I(1), false, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Compare(c.a, c.b, c.a_lit, c.b_lit), c.out);
  }
}

TEST(VbsValue, Logic) {
  const Value T = Value::Boolean(true), F = Value::Boolean(false), N = Value::Null();
  auto b = [](const Value& v) { return v.kind() == Kind::Boolean ? (v.boolean() ? -1 : 0) : ToLong(v); };
  const struct { const char* what; Value got; Kind kind; std::int32_t bits; /* -1/0 for Booleans */ } cases[] = {
      {"T And F", And(T, F), Kind::Boolean, 0},     {"T Or F", Or(T, F), Kind::Boolean, -1},
      {"T Xor T", Xor(T, T), Kind::Boolean, 0},     {"F Eqv F", Eqv(F, F), Kind::Boolean, -1},
      {"T Imp F", Imp(T, F), Kind::Boolean, 0},     {"Not T", Not(T), Kind::Boolean, 0},
      {"5 And 3", And(I(5), I(3)), Kind::Integer, 1}, {"5 Xor 3", Xor(I(5), I(3)), Kind::Integer, 6},
      {"T And 6", And(T, I(6)), Kind::Integer, 6},  {"Long Or", Or(L(65536), I(1)), Kind::Long, 65537},
      {"Double rounds", And(D(6.5), I(7)), Kind::Long, 6}, {"Not Empty", Not(Value()), Kind::Integer, -1},
      {"Null And F", And(N, F), Kind::Boolean, 0},  {"Null Or T", Or(N, T), Kind::Boolean, -1},
      {"F Imp Null", Imp(F, N), Kind::Boolean, -1}, {"Null Imp T", Imp(N, T), Kind::Boolean, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.got.kind(), c.kind);
    EXPECT_EQ(b(c.got), c.bits);
  }
  for (const Value& v : {And(N, T), Or(N, F), Xor(N, T), Eqv(T, N), Imp(T, N), Not(N)}) {
    EXPECT_EQ(v.kind(), Kind::Null);
  }
}

}  // namespace
