#include "window/screen/screen_args.h"

#include <cstdarg>
#include <cstdio>

#include "engine/core/step_args.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"

namespace {

int Fail(ArgFailure how, int code, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

int Fail(ArgFailure how, int code, const char* fmt, ...) {
  char text[256];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  if (how == ArgFailure::Count)
    NmsRunError(code, "%s", text);
  else
    TarvReturn(code, "%s", text);
  return code;
}

}  // namespace

int ScreenIntArg(int w, int lo, int hi, ArgFailure how) {
  if (!ArgReadInteger(w)) return Fail(how, -w, "Arg:%d is not integer !", w);
  if (igV[w] < lo) return Fail(how, -w, "Arg:%d=%d  < %d !", w, igV[w], lo);
  if (hi >= lo && igV[w] > hi) return Fail(how, -w, "Arg:%d=%d > %d !", w, igV[w], hi);
  return 0;
}

int ScreenLengthArg(int w, int lo, int hi, ArgFailure how) {
  if (igL[w] < lo) return Fail(how, -w, "Length of Arg %d is :%d  < %d !", w, igL[w], lo);
  if (igL[w] > hi) return Fail(how, -w, "Length of Arg %d is :%d > %d !", w, igL[w], hi);
  return 0;
}
