// The checks and the filling that guard what script text may put into SQL.
#include "services/database/sql_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

TEST(SqlTextTest, OnlyPlainDecimalNumbersGoUnquoted) {
  const struct {
    std::string text;
    bool number;
  } cases[] = {
      {"12", true},      {"-3", true},     {"-3.5", true},   {" 7 ", true},  {"\t0\t", true},
      {".5", true},      {"5.", true},     {"-.5", true},    {"007", true},  {"", false},
      {"-", false},      {".", false},     {"-.", false},    {" ", false},   {"- 3", false},
      {"--3", false},    {"+3", false},    {"3-", false},    {"1.2.3", false}, {"1e3", false},
      {"0x1", false},    {"3 4", false},   {"3,5", false},   {"1\0"s, false}, {"1 or 1=1", false},
  };
  for (const auto& c : cases) EXPECT_EQ(SqlIsNumber(c.text), c.number) << "[" << c.text << "]";
}

TEST(SqlTextTest, MarksTakeTheValuesInOrderAndTheValuesAreNotScanned) {
  const auto quoted = [](std::string_view v) { return "<" + std::string(v) + ">"; };
  const struct {
    std::string sql;
    SqlValues values;
    std::string filled;
  } cases[] = {
      {"a=? and b=?", {"1", "2"}, "a=<1> and b=<2>"},
      {"a=?", {"?x?", "unused"}, "a=<?x?>"},
      {"a=? b=? c=?", {"1"}, "a=<1> b=? c=?"},
      {"no marks", {"1"}, "no marks"},
      {"v=?;", {"a\0b"sv}, "v=<a\0b>;"s},
      {"v=?", {""}, "v=<>"},
  };
  for (const auto& c : cases) EXPECT_EQ(SqlFill(c.sql, c.values, quoted), c.filled) << c.sql;
  EXPECT_EQ(SqlFill("v=?", {"it's ''"}, SqliteLiteral), "v='it''s '''''");
  EXPECT_EQ(SqlFill("v=?", {"a\0'"s}, SqliteLiteral), "v='a\0'''"s);
}

}  // namespace
