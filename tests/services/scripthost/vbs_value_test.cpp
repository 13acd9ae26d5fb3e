#include "services/scripthost/vbs_value.h"

#include <gtest/gtest.h>

#include <cstdint>
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
Value D(double d) { return Value::Double(d); }
Value S(const char* s) { return Value::String(s); }

// The kinds that arithmetic, joining and logic give, and their faults, are
// rows of scripts/expressions.tsv.

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
  EXPECT_EQ(ErrorOf([] { Compare(S("x"), I(1), false, true); }), kErrTypeMismatch);  // text beside a literal
}

}  // namespace
