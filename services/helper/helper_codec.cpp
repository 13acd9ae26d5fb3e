#include "services/helper/helper_codec.h"

#include <cstdint>
#include <cstring>

#include "engine/log/log.h"

namespace {

constexpr int kNameDigits = 2;
constexpr int kValueDigits = 4;
constexpr int kFrame = kNameDigits + kValueDigits;

// The decimal value of n digits, or -1 when one of them is no digit.
int Digits(const char* p, int n) {
  int v = 0;
  for (int i = 0; i < n; i++) {
    if (p[i] < '0' || p[i] > '9') return -1;
    v = v * 10 + (p[i] - '0');
  }
  return v;
}

// Writes v as exactly n decimal digits, without a terminator.
void PutDigits(char* p, int n, int v) {
  for (int i = n - 1; i >= 0; i--, v /= 10) p[i] = static_cast<char>('0' + v % 10);
}

}  // namespace

int HelperSetVar(char* out, int room, const char* name, int nameLen, const char* value,
                 int valueLen) {
  if (nameLen <= 0) return TarvReturn(-1, "HelperSetVar Name Len <=0");
  if (nameLen > HELPER_NAME_MAX)
    return TarvReturn(-2, "HelperSetVar Name Len >= %d", HELPER_NAME_MAX + 1);
  if (valueLen > HELPER_VALUE_MAX)
    return TarvReturn(-3, "HelperSetVar Val Len >= %d", HELPER_VALUE_MAX + 1);
  if (valueLen < 0) return TarvReturn(-4, "HelperSetVar Val Len <0");
  const int64_t need = int64_t{nameLen} + valueLen + kFrame;
  if (need > room) return TarvReturn(-5, "HelperSetVar Buf Len too small");
  PutDigits(out, kNameDigits, nameLen);
  std::memcpy(out + kNameDigits, name, nameLen);
  PutDigits(out + kNameDigits + nameLen, kValueDigits, valueLen);
  if (valueLen > 0) std::memcpy(out + kFrame + nameLen, value, valueLen);
  return static_cast<int>(need);
}

int HelperGetFirstVar(const char* in, int inLen, char* name, int* nameLen, char* value,
                      int* valueLen) {
  *nameLen = *valueLen = 0;
  name[0] = value[0] = 0;
  if (inLen <= 0) return TarvReturn(0, "HelperGetFirstVar empty");
  if (inLen < kNameDigits)
    return TarvReturn(-3, "HelperGetFirstVar BufLen.n [%d]<[%d] Not Enough!", inLen, kNameDigits);
  const int nl = Digits(in, kNameDigits);
  if (nl < 0) return TarvReturn(-103, "HelperGetFirstVar NameLen digits Error!");
  TarvDebugLog("\nHelperGetVar,nl=%d ....", nl);
  if (nl < 1) return TarvReturn(-101, "HelperGetFirstVar NameLen<=0 Error!");
  if (nl > HELPER_NAME_MAX) return TarvReturn(-102, "HelperGetFirstVar NameLen>=VAR_NAME-2 Error!");
  if (nl + kFrame > inLen)
    return TarvReturn(-3, "HelperGetFirstVar BufLen.n [%d]<[%d] Not Enough!", inLen, nl + kFrame);
  std::memcpy(name, in + kNameDigits, nl);
  name[nl] = 0;
  *nameLen = nl;
  const int vl = Digits(in + kNameDigits + nl, kValueDigits);
  if (vl < 0) return TarvReturn(-106, "HelperGetFirstVar vl digits Error!");
  TarvDebugLog("\nHelperGetVar,vl=%d ....", vl);
  if (int64_t{nl} + vl + kFrame > inLen)
    return TarvReturn(-4, "HelperGetVar BufLen.v [%d]<[%d] Not Enough!", inLen, nl + kFrame);
  if (vl > HELPER_VALUE_MAX) return TarvReturn(-105, "HelperGetFirstVar vl>=VAR_VAL-2 Error!");
  // An empty value is a whole entry: it is taken, so that a reader's loop
  // moves on to the next entry.
  if (vl == 0) return TarvReturn(nl + kFrame, "HelperGetFirstVar vl<=0, vl =%d!", vl);
  std::memcpy(value, in + kFrame + nl, vl);
  value[vl] = 0;
  *valueLen = vl;
  return TarvReturn(nl + vl + kFrame, "HelperGetFirstVar ok");
}
