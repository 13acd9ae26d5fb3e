// Date serials and their text; UTF-8 text counted in UTF-16 units and its
// case folding.
#include <gtest/gtest.h>

#include <string>

#include "services/scripthost/vbs_date.h"
#include "services/scripthost/vbs_text.h"
#include "services/scripthost/vbs_value.h"
#include "tests/services/scripthost/vbs_test_util.h"

namespace {

using namespace tarv::vbs;

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
