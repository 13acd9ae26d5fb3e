#include "engine/arg_checks.h"

#include "engine/log.h"
#include "engine/step_args.h"
#include "engine/util.h"

int ArgCheckLength(int w, int hi, int code) {
  if (igL[w] < 1) return NmsRunError(code, "Length of Arg %d is :%d  < 1 !", w, igL[w]);
  if (igL[w] > hi) return NmsRunError(code, "Length of Arg %d is :%d > %d !", w, igL[w], hi);
  return 0;
}

bool ArgReadInteger(int w) {
  if (TarvIsInteger2(agA[w], igL[w]) != 0) return false;
  igV[w] = TarvAtoi(agA[w]);
  return true;
}
