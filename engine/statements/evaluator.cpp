#include "engine/statements/evaluator.h"

namespace {
Evaluator gEvaluator = nullptr;
}

void TarvSetEvaluator(Evaluator evaluator) { gEvaluator = evaluator; }

int TarvEvaluate(const char* expr, char* dest) {
  return gEvaluator ? gEvaluator(expr, dest) : -1;
}
