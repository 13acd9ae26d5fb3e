#include "services/scripthost/vbs_value.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

TEST(VbsValue, FormatDouble) {
  struct Case {
    double in;
    const char* out;
  };
  const std::vector<Case> cases = {
      {0.0, "0"},
      {-0.0, "0"},
      {3.0, "3"},
      {-2.5, "-2.5"},
      {0.1 + 0.2, "0.3"},
      {1.0 / 3.0, "0.333333333333333"},
      {2147483648.0, "2147483648"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E+15"},
      {1e16, "1E+16"},
      {1234567890123456.0, "1.23456789012346E+15"},
      {-1.5e300, "-1.5E+300"},
      {0.0001, "0.0001"},
      {0.00001, "1E-05"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    EXPECT_EQ(FormatDouble(c.in), c.out);
  }
}

TEST(VbsValue, ParseNumberAcceptsWhatScriptsAccept) {
  struct Case {
    const char* in;
    std::optional<double> out;
  };
  const std::vector<Case> cases = {
      {"3", 3},          {" 42 ", 42},     {"-7", -7},         {"+7", 7},
      {"2.5", 2.5},      {".5", 0.5},      {"5.", 5},          {"1e3", 1000},
      {"1E-2", 0.01},    {"&HFF", 255},    {"&hff", 255},      {"&HFFFF", -1},
      {"&O17", 15},      {"", std::nullopt}, {"  ", std::nullopt}, {"abc", std::nullopt},
      {"1e", std::nullopt}, {"1.2.3", std::nullopt}, {"--1", std::nullopt},
      {"5-3", std::nullopt}, {"&H", std::nullopt}, {"&HG", std::nullopt}, {"1e-400", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(ParseNumber(c.in), c.out);
  }
  EXPECT_EQ(ErrorOf([] { ParseNumber("1e400"); }), kErrOverflow);
}

TEST(VbsValue, RoundHalfEven) {
  struct Case {
    double in, out;
  };
  const std::vector<Case> cases = {
      {0.5, 0},   {1.5, 2},   {2.5, 2},   {3.5, 4},   {-0.5, 0},  {-1.5, -2},
      {-2.5, -2}, {2.4, 2},   {2.6, 3},   {-2.6, -3}, {7, 7},     {1e300, 1e300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(RoundHalfEven(c.in), c.out);
  }
}

TEST(VbsValue, Coercions) {
  EXPECT_EQ(ToDouble(Value()), 0);
  EXPECT_EQ(ToDouble(Value::Boolean(true)), -1);
  EXPECT_EQ(ToDouble(Value::String(" 2.5 ")), 2.5);
  EXPECT_EQ(ToLong(Value::Double(2.5)), 2);
  EXPECT_EQ(ToLong(Value::Double(3.5)), 4);
  EXPECT_EQ(ToInteger(Value::String("-32768")), -32768);
  EXPECT_EQ(ToString(Value::Boolean(true)), "True");
  EXPECT_EQ(ToString(Value::Boolean(false)), "False");
  EXPECT_EQ(ToString(Value()), "");
  EXPECT_EQ(ToString(Value::Integer(-5)), "-5");
  EXPECT_TRUE(ToBoolean(Value::String("TRUE")));
  EXPECT_FALSE(ToBoolean(Value::String("0")));

  struct Fault {
    const char* what;
    std::function<void()> fn;
    int number;
  };
  const std::vector<Fault> faults = {
      {"text to number", [] { ToDouble(Value::String("abc")); }, kErrTypeMismatch},
      {"Null to number", [] { ToDouble(Value::Null()); }, kErrInvalidUseOfNull},
      {"Null to text", [] { ToString(Value::Null()); }, kErrInvalidUseOfNull},
      {"Integer range", [] { ToInteger(Value::Long(32768)); }, kErrOverflow},
      {"Integer rounding", [] { ToInteger(Value::Double(32767.5)); }, kErrOverflow},
      {"Long range", [] { ToLong(Value::Double(2147483648.0)); }, kErrOverflow},
      {"Nothing", [] { ToDouble(Value::Object(nullptr)); }, kErrObjectNotSet},
      {"Boolean text", [] { ToBoolean(Value::String("yes")); }, kErrTypeMismatch},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.what);
    EXPECT_EQ(ErrorOf(f.fn), f.number);
  }
}

// Result kinds of arithmetic: whole numbers widen instead of overflowing.
TEST(VbsValue, ArithmeticKinds) {
  struct Case {
    const char* what;
    Value got;
    Kind kind;
    double number;
  };
  const std::vector<Case> cases = {
      {"Integer+Integer", Add(Value::Integer(1), Value::Integer(2)), Kind::Integer, 3},
      {"Integer overflow", Add(Value::Integer(32767), Value::Integer(1)), Kind::Long, 32768},
      {"Long overflow", Add(Value::Long(2147483647), Value::Integer(1)), Kind::Double, 2147483648.0},
      {"Integer product", Multiply(Value::Integer(200), Value::Integer(200)), Kind::Long, 40000},
      {"Long product", Multiply(Value::Long(46341), Value::Long(46341)), Kind::Double, 2147488281.0},
      {"Long minus", Subtract(Value::Long(-2147483647), Value::Integer(2)), Kind::Double, -2147483649.0},
      {"Boolean sum", Add(Value::Boolean(true), Value::Boolean(true)), Kind::Integer, -2},
      {"Empty sum", Add(Value(), Value()), Kind::Integer, 0},
      {"text times", Multiply(Value::String("3"), Value::Integer(2)), Kind::Double, 6},
      {"divide", Divide(Value::Integer(7), Value::Integer(2)), Kind::Double, 3.5},
      {"power", Power(Value::Integer(2), Value::Integer(10)), Kind::Double, 1024},
      {"negate Integer min", Negate(Value::Integer(-32768)), Kind::Long, 32768},
      {"negate Long min", Negate(Value::Long(INT32_MIN)), Kind::Double, 2147483648.0},
      {"negate True", Negate(Value::Boolean(true)), Kind::Integer, 1},
      {"int divide", IntDivide(Value::Integer(-7), Value::Integer(2)), Kind::Integer, -3},
      {"int divide rounds", IntDivide(Value::Double(7.5), Value::Integer(2)), Kind::Long, 4},
      {"int divide widens", IntDivide(Value::Integer(-32768), Value::Integer(-1)), Kind::Long, 32768},
      {"mod sign", Modulo(Value::Integer(-7), Value::Integer(3)), Kind::Integer, -1},
      {"mod rounds", Modulo(Value::Double(5.5), Value::Integer(4)), Kind::Long, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.got.kind(), c.kind);
    EXPECT_EQ(ToDouble(c.got), c.number);
  }
}

TEST(VbsValue, PlusJoinsStrings) {
  EXPECT_EQ(Add(Value::String("3"), Value::String("4")).str(), "34");
  EXPECT_EQ(Add(Value(), Value::String("4")).kind(), Kind::String);
  EXPECT_EQ(Add(Value::String("3"), Value::Integer(4)).kind(), Kind::Double);
  EXPECT_EQ(Concat(Value::Integer(1), Value::Boolean(true)).str(), "1True");
  EXPECT_EQ(Concat(Value::Null(), Value::String("x")).str(), "x");
  EXPECT_EQ(Concat(Value::Null(), Value::Null()).kind(), Kind::Null);
  EXPECT_EQ(Add(Value::Null(), Value::Integer(1)).kind(), Kind::Null);
}

TEST(VbsValue, ArithmeticFaults) {
  struct Fault {
    const char* what;
    std::function<void()> fn;
    int number;
  };
  const std::vector<Fault> faults = {
      {"1/0", [] { Divide(Value::Integer(1), Value::Integer(0)); }, kErrDivisionByZero},
      {"0/0", [] { Divide(Value::Integer(0), Value::Integer(0)); }, kErrOverflow},
      {"1\\0", [] { IntDivide(Value::Integer(1), Value::Integer(0)); }, kErrDivisionByZero},
      {"1 Mod 0.4", [] { Modulo(Value::Integer(1), Value::Double(0.4)); }, kErrDivisionByZero},
      {"huge product", [] { Multiply(Value::Double(1e308), Value::Integer(10)); }, kErrOverflow},
      {"(-8)^0.5", [] { Power(Value::Integer(-8), Value::Double(0.5)); }, kErrInvalidCall},
      {"0^-1", [] { Power(Value::Integer(0), Value::Integer(-1)); }, kErrDivisionByZero},
      {"text minus", [] { Subtract(Value::String("a"), Value::Integer(1)); }, kErrTypeMismatch},
      {"\\ beyond Long", [] { IntDivide(Value::Double(3e9), Value::Integer(2)); }, kErrOverflow},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.what);
    EXPECT_EQ(ErrorOf(f.fn), f.number);
  }
}

TEST(VbsValue, Compare) {
  struct Case {
    const char* what;
    Value a, b;
    bool a_lit, b_lit;
    std::optional<int> out;
  };
  const std::vector<Case> cases = {
      {"numbers", Value::Integer(1), Value::Double(1.5), false, false, -1},
      {"Long and Double", Value::Long(100000), Value::Double(100000), false, false, 0},
      {"strings by byte", Value::String("B"), Value::String("a"), false, false, -1},
      {"Empty and number", Value(), Value::Integer(0), false, false, 0},
      {"Empty and string", Value(), Value::String(""), false, false, 0},
      {"True is -1", Value::Boolean(true), Value::Integer(-1), false, false, 0},
      {"number before string", Value::Integer(9), Value::String("1"), false, false, -1},
      {"string after number", Value::String("1"), Value::Integer(9), false, false, 1},
      {"numeric literal pulls", Value::String("10"), Value::Integer(9), false, true, 1},
      {"string literal pulls", Value::Integer(10), Value::String("9"), false, true, -1},
      {"Null", Value::Null(), Value::Integer(1), false, false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Compare(c.a, c.b, c.a_lit, c.b_lit), c.out);
  }
  EXPECT_EQ(ErrorOf([] { Compare(Value::String("x"), Value::Integer(1), false, true); }),
            kErrTypeMismatch);
}

TEST(VbsValue, Logic) {
  const Value T = Value::Boolean(true);
  const Value F = Value::Boolean(false);
  const Value N = Value::Null();
  struct Case {
    const char* what;
    Value got;
    Kind kind;
    std::int32_t bits;  // -1/0 for Booleans
  };
  auto b = [](const Value& v) { return v.kind() == Kind::Boolean ? (v.boolean() ? -1 : 0) : ToLong(v); };
  const std::vector<Case> cases = {
      {"T And F", And(T, F), Kind::Boolean, 0},
      {"T Or F", Or(T, F), Kind::Boolean, -1},
      {"T Xor T", Xor(T, T), Kind::Boolean, 0},
      {"F Eqv F", Eqv(F, F), Kind::Boolean, -1},
      {"T Imp F", Imp(T, F), Kind::Boolean, 0},
      {"F Imp F", Imp(F, F), Kind::Boolean, -1},
      {"Not T", Not(T), Kind::Boolean, 0},
      {"5 And 3", And(Value::Integer(5), Value::Integer(3)), Kind::Integer, 1},
      {"5 Or 3", Or(Value::Integer(5), Value::Integer(3)), Kind::Integer, 7},
      {"5 Xor 3", Xor(Value::Integer(5), Value::Integer(3)), Kind::Integer, 6},
      {"T And 6", And(T, Value::Integer(6)), Kind::Integer, 6},
      {"Long Or", Or(Value::Long(65536), Value::Integer(1)), Kind::Long, 65537},
      {"Double rounds", And(Value::Double(6.5), Value::Integer(7)), Kind::Long, 6},
      {"Not 0", Not(Value::Integer(0)), Kind::Integer, -1},
      {"Not Empty", Not(Value()), Kind::Integer, -1},
      {"Null And F", And(N, F), Kind::Boolean, 0},
      {"Null Or T", Or(N, T), Kind::Boolean, -1},
      {"F Imp Null", Imp(F, N), Kind::Boolean, -1},
      {"Null Imp T", Imp(N, T), Kind::Boolean, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.got.kind(), c.kind);
    EXPECT_EQ(b(c.got), c.bits);
  }
  for (const Value& v : {And(N, T), Or(N, F), Xor(N, T), Eqv(T, N), Imp(T, N), Not(N)}) {
    EXPECT_EQ(v.kind(), Kind::Null);
  }
}

TEST(VbsValue, TypeNames) {
  EXPECT_EQ(TypeName(Value()), "Empty");
  EXPECT_EQ(TypeName(Value::Null()), "Null");
  EXPECT_EQ(TypeName(Value::Boolean(false)), "Boolean");
  EXPECT_EQ(TypeName(Value::Integer(1)), "Integer");
  EXPECT_EQ(TypeName(Value::Long(1)), "Long");
  EXPECT_EQ(TypeName(Value::Double(1)), "Double");
  EXPECT_EQ(TypeName(Value::String("")), "String");
  EXPECT_EQ(TypeName(Value::Object(nullptr)), "Nothing");
}

}  // namespace
