#include <cstdio>
#include <cstring>

#include "engine/util/util.h"

int TarvUrlEncode(const char* in, int len, char* dest, int capacity) {
  static constexpr char kHex[] = "0123456789abcdef";
  int out = 0;
  for (int i = 0; i < len; i++) {
    // Room for the widest form plus a terminator, with a margin.
    if (capacity - out < 5) return -1;
    const auto c = static_cast<unsigned char>(in[i]);
    if (c == ' ') {
      dest[out++] = '+';
    } else if (c < 0x21 || c > 0x7E || c == '%' || c == '=' || c == '+') {
      dest[out++] = '%';
      dest[out++] = kHex[c >> 4];
      dest[out++] = kHex[c & 15];
    } else {
      dest[out++] = static_cast<char>(c);
    }
  }
  if (out >= capacity) return -1;
  dest[out] = 0;
  return out;
}

int TarvUrlDecode(const char* in, int len, char* dest, int capacity) {
  if (capacity < 1) return -1;
  int out = 0;
  int last = 0;  // written again when a '%' is followed by no hex number
  for (int i = 0; i < len;) {
    char c = in[i++];
    if (c == '+') {
      c = ' ';
    } else if (c == '%') {
      // Only the bytes after '%' that lie inside the input are read.
      const int avail = len - i < 2 ? len - i : 2;
      const int v = TarvHexPair(in + i, avail);
      i += avail;
      if (v >= 0) last = v;
      c = static_cast<char>(last);
    }
    dest[out++] = c;
    if (out >= capacity) return -1;
  }
  dest[out] = 0;
  return out;
}

int TarvHexPair(const char* s, int n) {
  char two[3] = {};
  if (n <= 0) return -1;
  std::memcpy(two, s, n < 2 ? n : 2);
  unsigned int v;
  if (std::sscanf(two, "%x", &v) != 1) return -1;
  return static_cast<int>(v & 0xFF);
}
