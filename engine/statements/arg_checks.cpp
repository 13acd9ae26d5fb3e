#include "engine/statements/arg_checks.h"

#include <cstring>

#include "engine/log/reporters.h"
#include "engine/core/step_args.h"
#include "engine/util/util.h"

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

int ArgCheckInteger(int w) {
  if (!ArgReadInteger(w)) return NmsRunError(-w, "Arg:%d is not integer !", w);
  return 0;
}

int ArgCheckRange(int w, int lo, int hi) {
  if (const int rc = ArgCheckInteger(w)) return rc;
  if (igV[w] < lo) return NmsRunError(-w, "Arg:%d=%d  < %d !", w, igV[w], lo);
  if (igV[w] > hi) return NmsRunError(-w, "Arg:%d=%d > %d !", w, igV[w], hi);
  return 0;
}

bool ArgAlignInto(int w, const char* value, int len, int pad, char* out) {
  int before;
  if (CurStepIsArg3(w, "left", 4) == 0)
    before = 0;
  else if (CurStepIsArg3(w, "middle", 6) == 0)
    before = pad / 2;
  else if (CurStepIsArg3(w, "right", 5) == 0)
    before = pad;
  else
    return false;
  std::memset(out, ' ', before);
  std::memcpy(out + before, value, len);
  std::memset(out + before + len, ' ', pad - before);
  return true;
}
