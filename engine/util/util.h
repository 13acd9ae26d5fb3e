// Small shared functions over byte buffers with explicit lengths.  Most copy
// without a terminator: callers clear their buffers or use the returned length.
#pragma once
#include <cstdint>
#include <cstring>

// 0-based offset of the first / last occurrence of pat; -1 when pat is longer
// than buf, -2 when it does not occur.  An empty pattern is found at 0 / len.
int TarvMemFind4(const char* buf, int len, const char* pat, int patLen);
int TarvMemFindLast4(const char* buf, int len, const char* pat, int patLen);

// Word `index` (from 1) of the line's first 1022 bytes; -3 when there is none.
// dest needs 1022 bytes; the word is copied without a terminator.
int TarvGetWord3(const char* line, int index, char* dest);
// Field `index` (from 1) between `sep` bytes; -1 when too few fields.
// dest needs 1022 bytes; no terminator.
int GetWord4(const char* line, int index, char* dest, char sep);
// First run of bytes above 0x20 (a word over 1024 bytes is cut to 1022) into
// dest (1024 bytes), its length into
// *outLen; returns the position just after where the scan stopped.
int TarvGetFirstWord4(const char* buf, int len, char* dest, int* outLen);

// Form encoding; the result is NUL-terminated, -1 when it does not fit.
int TarvUrlEncode(const char* in, int len, char* dest, int capacity);
int TarvUrlDecode(const char* in, int len, char* dest, int capacity);
// The n (0..2) bytes at s read the way sscanf's "%x" reads them (blanks, a
// sign or a lone digit are taken too): the number's low byte, or -1 when they
// hold no hexadecimal number.  Both '%' escapes of script text and of forms
// are read with it.
int TarvHexPair(const char* s, int n);

// Replaces every key in text (in place, result at most 1022 bytes): the count,
// 0 none, -1 key longer than the text (or empty), -2 result too long.
int TarvMemReplace6(char* text, int* textLen, const char* key, int keyLen, const char* rep,
                    int repLen);

// 0 when the text passes, else -1.  Blank is every byte up to 0x20 and every
// byte from 0x80 up; an empty text passes.
int TarvIsInteger2(const char* buf, int len);
int TarvIsNumber2(const char* buf, int len);

void TarvEscapeQuotes(const char* in, char* dest /* >= 1023 bytes */);
// printf into dest without a terminator; 0 and nothing written when the result
// is empty or longer than 1021 bytes.
int TarvFormatInto(char* dest, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Bytes read (no terminator), -3 when the file cannot be opened.
int TarvReadFile(const char* path, char* buf, int capacity);
// As TarvReadFile, and *fileBytes tells how much the file holds: its size
// when it holds more than capacity (INT64_MAX when it is no regular file and
// its size cannot be told), else the bytes read.
int TarvReadFileSized(const char* path, char* buf, int capacity, int64_t* fileBytes);
// Paths use '/'.  The directory part keeps its trailing separator.  Both read
// at most 1023 bytes of path and NUL-terminate dest (1024 bytes).
int PathDirectory(const char* path, char* dest);
int PathFileName(const char* path, char* dest);
// Local time as "YYYY-MM-DD hh:mm:ss".
void TarvGetDateTime(char* dest /* 30 bytes */);

enum class HashAlg { MD5, SHA1 };
// Upper-case hexadecimal digest, NUL-terminated: the number of digits, or
// -1, -2, -3 on failures.
int HashToHex(const void* data, int len, HashAlg alg, char* dest /* 41 bytes */);

// The C locale's whitespace; bytes from 0x80 never are (they belong to UTF-8
// words).
// Copies n bytes (n >= 0, no overlap).  Names, counters and small values
// are copied in a few moves of fixed size, which need no call; every byte
// read lies within the n.
inline void TarvCopyBytes(char* dest, const char* src, int n) {
  if (n > 16) {
    std::memcpy(dest, src, static_cast<size_t>(n));
  } else if (n >= 8) {
    std::memcpy(dest, src, 8);
    std::memcpy(dest + n - 8, src + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(dest, src, 4);
    std::memcpy(dest + n - 4, src + n - 4, 4);
  } else if (n > 0) {
    dest[0] = src[0];
    dest[n / 2] = src[n / 2];
    dest[n - 1] = src[n - 1];
  }
}

// Whether n bytes are the same; names and keys are short, and are compared
// eight bytes at a time without a call.
inline bool TarvSameBytes(const char* a, const char* b, int n) {
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a + k, 8);
    std::memcpy(&y, b + k, 8);
    if (x != y) return false;
  }
  for (; k < n; k++)
    if (a[k] != b[k]) return false;
  return true;
}

constexpr bool TarvIsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Decimal value of script text, the way atoi reads it (blanks, an optional
// sign, digits), saturated at the 32-bit range instead of overflowing.
int32_t TarvAtoi(const char* text);
