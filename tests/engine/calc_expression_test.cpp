#include "engine/tools/calc_expression.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/log/log.h"
#include "tests/engine/harness.h"

namespace {

constexpr char kFill = '#';

struct Outcome {
  int rc;
  std::string text;  // the bytes the result says were written, or the message
};

// dest is pre-filled so that a terminator or a byte past the text shows.
Outcome Calc(const std::string& expression) {
  std::array<char, 1100> dest;
  dest.fill(kFill);
  const int rc = EsCalcExpression(expression.c_str(), dest.data());
  const std::string all(dest.data(), dest.size());
  if (rc >= 0) {
    EXPECT_EQ(dest[rc], kFill) << "terminator written after the value of " << expression;
    return {rc, all.substr(0, rc)};
  }
  return {rc, all.substr(0, all.find(kFill))};
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; i++) out += s;
  return out;
}

TEST(CalcExpression, ValuesAndPrecedence) {
  struct Case {
    std::string expression, value;
  };
  const std::vector<Case> cases = {
      {"2+3*4", "14"},
      {"10-2-3", "5"},
      {"-4*2", "-8"},
      {"7/2", "3"},
      {"6/4*2", "2"},  // left to right: (6/4)*2
      {"2*3/4", "1"},
      {" 2 + 3 ", "5"},
      {"2.9+1", "3"},  // an operand counts up to its first non-digit
      {"5--3", "8"},
      {"5*-3", "-15"},
      {"-5-3", "-8"},
      {"+5", "5"},
      {"0", "0"},
      {"2147483647", "2147483647"},
      {"-2147483648", "-2147483648"},
      {"-2147483647-1", "-2147483648"},
      {"1+2*3-4/2+10*10", "105"},
      {Repeat("1+", 18) + "1", "19"},  // 18 operators: the most there may be
      // Operand positions well past 255 bytes of compacted text.
      {std::string(300, '0') + "1+2", "3"},
      {"1+" + std::string(300, ' ') + "2*3", "7"},
      {std::string(260, '0') + "7*" + std::string(260, '0') + "6", "42"},
  };
  for (const auto& c : cases) {
    const Outcome o = Calc(c.expression);
    EXPECT_EQ(o.rc, static_cast<int>(c.value.size())) << c.expression;
    EXPECT_EQ(o.text, c.value) << c.expression;
  }
}

TEST(CalcExpression, Failures) {
  struct Case {
    std::string expression;
    int rc;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"2+a", CALC_BAD_CHAR, "i=2 a,ill char!"},
      {"2 +\t3", CALC_BAD_CHAR, "i=3 \t,ill char!"},
      {std::string(300, ' ') + "x", CALC_BAD_CHAR, "i=300 x,ill char!"},
      {std::string(1024, '1'), CALC_BAD_CHAR, "len>1023,too long!"},
      {Repeat("1+", 19) + "1", CALC_TOO_MANY, "c=19,>18,too many +-*/!"},
      {"8/0", CALC_DIVISION, "v[2]=0.00,div<0!"},
      {"8/-2", CALC_DIVISION, "v[2]=-2.00,div<0!"},
      {"1+8/0", CALC_DIVISION, "v[3]=0.00,div<0!"},
      {"2+*3", CALC_EMPTY_OPERAND, "v[i],b=2,e=1 len<0!"},
      {"2+", CALC_EMPTY_OPERAND, "v[i],b=2,e=1 len<0!"},
      {"", CALC_EMPTY_OPERAND, "v[i],b=0,e=-1 len<0!"},
      {"   ", CALC_EMPTY_OPERAND, "v[i],b=0,e=-1 len<0!"},
      {"2147483647+1", CALC_OVERFLOW, "v[1]+v[2]=2147483648,overflow!"},
      {"-2147483648-1", CALC_OVERFLOW, "v[1]-v[2]=-2147483649,overflow!"},
      {"65536*65536", CALC_OVERFLOW, "v[1]*v[2]=4294967296,overflow!"},
      {"2+65536*65536", CALC_OVERFLOW, "v[2]*v[3]=4294967296,overflow!"},
      {"2147483648", CALC_OVERFLOW, "v[1]=2147483648,overflow!"},
      {"1+99999999999999999999", CALC_OVERFLOW, "v[2]=99999999999999999999,overflow!"},
  };
  for (const auto& c : cases) {
    const Outcome o = Calc(c.expression);
    EXPECT_EQ(o.rc, c.rc) << c.expression;
    EXPECT_EQ(o.text, c.message) << c.expression;
  }
}

TEST(CalcExpression, FormatNumber) {
  struct Case {
    std::string in;
    int rc;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"-012.500x", 6, "-012.5"},
      {"", -1, ""},
      {"1.000", 2, "1."},
      {"100", 3, "100"},
      {"100.", 4, "100."},
      {"a-5", 2, "-5"},  // nothing kept before the '-'
      {"5-3", 2, "53"},
      {"--5", 2, "-5"},
      {"1.2.30", 5, "1.2.3"},
      {" 1 000,50 ", 6, "100050"},
      {"abc", 0, ""},
  };
  for (const auto& c : cases) {
    std::array<char, 64> buf;
    buf.fill(kFill);
    std::snprintf(buf.data(), buf.size(), "%s", c.in.c_str());
    EXPECT_EQ(EsFormatNumber(buf.data()), c.rc) << c.in;
    EXPECT_EQ(std::string(buf.data()), c.rc < 0 ? c.in : c.out) << c.in;
  }
}

// The record is dumped before the first fold and after every applied operator.
TEST(CalcExpression, DumpsEveryStage) {
  TarvEngineReset();
  tarvtest::TempDir dir;
  const std::string path = tarvtest::LogInto(dir);
  TarvSetLogLevel(4);

  const Outcome o = Calc("2+3*4");
  EXPECT_EQ(o.text, "14");
  TarvFlushLog();
  const std::string log = tarvtest::ReadFile(path);
  const std::string expected =
      "\n\r\n c = 2 : \n2+\n3*\n4"
      "\n\r\n c = 1 : \n2+\n12"
      "\n\r\n c = 0 : \n14";
  EXPECT_NE(log.find(expected), std::string::npos) << log;
  TarvEngineReset();
}

}  // namespace
