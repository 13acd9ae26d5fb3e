#include "engine/statements/scramble.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "engine/log/hex_dump.h"
#include "engine/log/log_sink.h"
#include "engine/util/util.h"

namespace {

constexpr int KEY_LEN = 32;
constexpr int WORK = 1024;
// "Len<nnn>" in front of the value.
constexpr int HEADER_LEN = 8;

// Four copies of one printable group.  Changing it makes every scrambled text
// written before unreadable.
constexpr std::string_view kKey = "t4R!v9Kqt4R!v9Kqt4R!v9Kqt4R!v9Kq";
static_assert(kKey.size() == KEY_LEN);

// Past the key's end the key counts as zero bytes: those bytes stay as they are.
void XorWithKey(char* data, int len) {
  for (int i = 0; i < len && i < KEY_LEN; i++) data[i] = static_cast<char>(data[i] ^ kKey[i]);
}

}  // namespace

int TarvEncrypt(char* buf, int n) {
  if (n < 0 || n > SCRAMBLE_MAX_VALUE) return TarvReturn(-1, "TarvEncrypt, Len<%d> >20 Err", n);

  char plain[HEADER_LEN + SCRAMBLE_MAX_VALUE + 1] = {};
  std::snprintf(plain, sizeof plain, "Len<%03d>", n);
  if (n > 0) std::memcpy(plain + HEADER_LEN, buf, n);
  const int plainLen = HEADER_LEN + n;
  HexLog(plain, plainLen);

  XorWithKey(plain, plainLen);
  HexLog(plain, plainLen);

  // The encoder wants spare room before each byte, so it works in an area
  // wider than the caller's guaranteed SCRAMBLE_TEXT_ROOM; every result fits
  // that room (three bytes per input byte and a NUL).
  char encoded[128] = {};
  int len = TarvUrlEncode(plain, plainLen, encoded, static_cast<int>(sizeof encoded));
  if (len < 0 || len >= SCRAMBLE_TEXT_ROOM) return TarvReturn(-1, "TarvEncrypt, encode Err");
  std::memcpy(buf, encoded, len + 1);
  return len;
}

int TarvDecrypt(char* buf, int len) {
  if (len > 1022) return TarvReturn(-1, "TarvDecrypt,Len<%d> >1K-2 Err", len);
  if (len < 0) return TarvReturn(-1, "TarvDecrypt,Len<%d> <0 Err", len);

  HexLog(buf, len);
  char work[WORK] = {};
  int d = TarvUrlDecode(buf, len, work, WORK);
  if (d < 0) return TarvReturn(-1, "TarvDecrypt, decode Err");
  HexLog(work, d);

  XorWithKey(work, d);
  HexLog(work, static_cast<int>(strnlen(work, WORK)));

  if (d < 3 || std::memcmp(work, "Len", 3) != 0) return TarvReturn(-1, "TarvDecrypt, not Begin:Len");

  // Only the three digits and the '>' are read, never the value behind them.
  char digits[5] = {};
  std::memcpy(digits, work + 4, 4);
  const int m = TarvAtoi(digits);
  // The declared length must lie within what was decoded.
  if (m < 0 || static_cast<int64_t>(m) > static_cast<int64_t>(d) - HEADER_LEN)
    return TarvReturn(-1, "TarvDecrypt, Len<%d> not in decoded data<%d> Err", m, d);

  std::memmove(buf, work + HEADER_LEN, m);
  buf[m] = 0;
  return m;
}
