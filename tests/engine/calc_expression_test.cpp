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

// The result's length or code, then the bytes it says were written or its
// message; dest is pre-filled so that a terminator or a byte past the text
// shows.  "format:" inputs go to EsFormatNumber instead.
std::string Calc(const std::string& input) {
  std::array<char, 1100> dest;
  dest.fill(kFill);
  if (input.starts_with("format:")) {
    std::snprintf(dest.data(), dest.size(), "%s", input.c_str() + 7);
    return std::to_string(EsFormatNumber(dest.data())) + " " + dest.data();
  }
  const int rc = EsCalcExpression(input.c_str(), dest.data());
  const std::string all(dest.data(), dest.size());
  if (rc < 0) return std::to_string(rc) + " " + all.substr(0, all.find(kFill));
  EXPECT_EQ(dest[rc], kFill) << "terminator written after the value of " << input;
  return std::to_string(rc) + " " + all.substr(0, rc);
}

TEST(CalcExpression, ValuesFailuresAndNumberFormats) {
  tarvtest::ExpectLineCases("calc_expression.txt", Calc);
}

// The record is dumped before the first fold and after every applied operator.
TEST(CalcExpression, DumpsEveryStage) {
  TarvEngineReset();
  tarvtest::TempDir dir;
  const std::string path = tarvtest::LogInto(dir);
  TarvSetLogLevel(4);

  EXPECT_EQ(Calc("2+3*4"), "2 14");
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
