// The integer evaluator on arbitrary expressions.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/tools/calc_expression.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char expr[CALC_MAX_EXPRESSION + 1] = {};
  std::memcpy(expr, data, size < CALC_MAX_EXPRESSION ? size : CALC_MAX_EXPRESSION);
  char dest[1024];
  EsCalcExpression(expr, dest);
  char number[1024] = {};
  std::memcpy(number, expr, sizeof number - 1);
  EsFormatNumber(number);
  return 0;
}
