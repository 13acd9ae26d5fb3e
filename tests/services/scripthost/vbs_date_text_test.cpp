// Date serials and their text; UTF-8 text counted in UTF-16 units and its
// case folding.
#include <gtest/gtest.h>

#include <string>

#include "services/scripthost/vbs_date.h"
#include "services/scripthost/vbs_text.h"
#include "services/scripthost/vbs_value.h"

namespace {

using namespace tarv::vbs;

TEST(VbsDate, SerialsAndText) {
  const struct { double serial; const char* text; int weekday; } cases[] = {
      {0, "12:00:00 AM", 7},  // 30 December 1899, a Saturday: the time alone
      {1, "12/31/1899", 1},
      {2, "1/1/1900", 2},
      {36526, "1/1/2000", 7},
      {46362.5, "12/6/2026 12:00:00 PM", 1},
      {46362.999988426, "12/6/2026 11:59:59 PM", 1},
      {46362.9999999, "12/7/2026", 2},  // rounds to the next midnight
      {-1.25, "12/29/1899 6:00:00 AM", 6},  // days back, time forward
      {0.75, "6:00:00 PM", 7},
      {2958465, "12/31/9999", 6},
      {-657434, "1/1/100", 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatDate(c.serial), c.text);
    EXPECT_EQ(PartsOf(c.serial).weekday, c.weekday);
  }
  EXPECT_EQ(SerialFromDate(2026, 12, 6), 46362);
  EXPECT_EQ(SerialFromDate(2026, 0, 1), SerialFromDate(2025, 12, 1));
  EXPECT_EQ(SerialFromDate(2026, -11, 1), SerialFromDate(2025, 1, 1));
  EXPECT_EQ(SerialFromDate(29, 1, 1), SerialFromDate(2029, 1, 1));
  EXPECT_EQ(SerialFromDate(30, 1, 1), SerialFromDate(1930, 1, 1));
  EXPECT_THROW(SerialFromDate(10000, 1, 1), ScriptError);
  EXPECT_THROW(PartsOf(3e6), ScriptError);
}

TEST(VbsDate, ParsesWhatScriptsWrite) {
  const struct { const char* text; const char* shown; } cases[] = {
      {"2026-12-06", "12/6/2026"},          {"12/6/2026", "12/6/2026"},
      {"2026/1/2 3:04", "1/2/2026 3:04:00 AM"}, {" 12-31-99 ", "12/31/1999"},
      {"6 Dec 2026", "12/6/2026"},          {"December 6, 2026", "12/6/2026"},
      {"Dec 2026", "12/1/2026"},            {"23:59:58", "11:59:58 PM"},
      {"11:05 pm", "11:05:00 PM"},          {"12:00 AM", "12:00:00 AM"},
      {"10 PM", "10:00:00 PM"},             {"2026-12-06 7:08:09 AM", "12/6/2026 7:08:09 AM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto d = ParseDate(c.text);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(FormatDate(*d), c.shown);
  }
  for (const char* bad : {"", "hello", "2026-02-30", "13/1/2026", "25:00", "1:2:3:4", "12/6/2026 x",
                          "13 PM", "2026-12-06 12:00 XM", "1.5", "99999999999"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseDate(bad).has_value());
  }
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
