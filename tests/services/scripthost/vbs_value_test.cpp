// The script host's values: numbers and their text, comparison, dates, and
// UTF-8 text counted in UTF-16 units.
#include "services/scripthost/vbs_value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "services/scripthost/vbs_date.h"
#include "services/scripthost/vbs_text.h"
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
      {"text that is no number stays after a literal", S("x"), I(1), false, true, 1},
      {"a literal stays before text that is no number", I(1), S("x"), true, false, -1},
      {"Null", Value::Null(), I(1), false, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Compare(c.a, c.b, c.a_lit, c.b_lit), c.out);
  }
}


// scripts/dates.tsv: serials as text and weekday, and texts scripts write.
TEST(VbsDate, SerialsAndText) {
  for (const auto& row : vbstest::LoadRows("dates.tsv")) {
    SCOPED_TRACE(row[1]);
    if (row[0] == "serial") {
      const double serial = std::strtod(row[1].c_str(), nullptr);
      EXPECT_EQ(FormatDate(serial), row[2]);
      EXPECT_EQ(PartsOf(serial).weekday, std::stoi(row[3]));
    } else {
      const auto d = ParseDate(row[1]);
      EXPECT_EQ(d ? FormatDate(*d) : "-", row[2]);
    }
  }
  EXPECT_EQ(SerialFromDate(2026, 12, 6), 46362);
  EXPECT_EQ(SerialFromDate(2026, 0, 1), SerialFromDate(2025, 12, 1));
  EXPECT_EQ(SerialFromDate(2026, -11, 1), SerialFromDate(2025, 1, 1));
  EXPECT_EQ(SerialFromDate(29, 1, 1), SerialFromDate(2029, 1, 1));
  EXPECT_EQ(SerialFromDate(30, 1, 1), SerialFromDate(1930, 1, 1));
  EXPECT_THROW(SerialFromDate(10000, 1, 1), ScriptError);
  EXPECT_THROW(PartsOf(3e6), ScriptError);
}

TEST(VbsText, UnitsOffsetsAndCase) {
  const std::string s = "a\xC3\xA9\xE4\xBD\xA0\xF0\x9F\x98\x80z";  // a é 你 😀 z
  EXPECT_EQ(Units(s), 6);
  const struct { std::int64_t unit; std::size_t byte; } offsets[] = {
      {0, 0}, {1, 1}, {2, 3}, {3, 6}, {4, 10}, {5, 10}, {6, 11}, {9, 11},
  };
  for (const auto& o : offsets) EXPECT_EQ(ByteAt(s, o.unit), o.byte) << o.unit;
  EXPECT_EQ(Units("\x80\x80"), 2);  // stray continuation bytes count alone
  EXPECT_EQ(UpperText("abz \xC3\xA9\xC3\xBF \xCE\xB1 \xD0\xB6 \xD1\x91 \xC3\xB7"),
            "ABZ \xC3\x89\xC3\xBF \xCE\x91 \xD0\x96 \xD0\x81 \xC3\xB7");
  EXPECT_EQ(LowerText("ABZ \xC3\x89 \xCE\x91 \xD0\x96 \xD0\x81 \xC3\x97"),
            "abz \xC3\xA9 \xCE\xB1 \xD0\xB6 \xD1\x91 \xC3\x97");
  EXPECT_EQ(UpperText("\xFF\xC3"), "\xFF\xC3");  // broken bytes pass unchanged
  EXPECT_EQ(CompareMode("abc", "ABD", true), -1);
  EXPECT_EQ(CompareMode("abc", "ABD", false), 1);
  EXPECT_EQ(FindMode("xxHELLO", "hello", 0, true), 2u);
  EXPECT_EQ(FindMode("xxHELLO", "hello", 0, false), std::string::npos);
  EXPECT_EQ(FindMode("ab", "b", 5, false), std::string::npos);
}

}  // namespace
