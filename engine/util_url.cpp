#include <cstdio>

#include "engine/util.h"

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
  unsigned last = 0;  // written again when a '%' is followed by no hex number
  for (int i = 0; i < len;) {
    char c = in[i++];
    if (c == '+') {
      c = ' ';
    } else if (c == '%') {
      // The two bytes after '%' (only those inside the input) read the way
      // sscanf's %x reads them: blanks, a sign or a lone digit are taken too.
      char hex[3] = {};
      for (int k = 0; k < 2 && i < len; k++) hex[k] = in[i++];
      unsigned v;
      if (std::sscanf(hex, "%x", &v) == 1) last = v;
      c = static_cast<char>(last & 0xFF);
    }
    dest[out++] = c;
    if (out >= capacity) return -1;
  }
  dest[out] = 0;
  return out;
}
