// Small shared functions over byte buffers with explicit lengths.
#pragma once
#include <cstdint>

int TarvMemFind4(const char* buf, int len, const char* pat, int patLen);
int TarvMemFindLast4(const char* buf, int len, const char* pat, int patLen);
// dest needs 1023 bytes; the word is copied without a terminator.
int TarvGetWord3(const char* line, int index, char* dest);
int GetWord4(const char* line, int index, char* dest, char sep);
int TarvGetFirstWord4(const char* buf, int len, char* dest, int* outLen);
int TarvUrlEncode(const char* in, int len, char* dest, int capacity);
int TarvUrlDecode(const char* in, int len, char* dest, int capacity);
int TarvMemReplace6(char* text, int* textLen, const char* key, int keyLen, const char* rep,
                    int repLen);
int TarvIsInteger2(const char* buf, int len);
int TarvIsNumber2(const char* buf, int len);
void TarvEscapeQuotes(const char* in, char* dest /* >= 1023 bytes */);
int TarvFormatInto(char* dest, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int TarvReadFile(const char* path, char* buf, int capacity);
// Paths use '/'.  The directory part keeps its trailing separator.
int PathDirectory(const char* path, char* dest);
int PathFileName(const char* path, char* dest);
void TarvGetDateTime(char* dest /* 30 bytes */);

enum class HashAlg { MD5, SHA1 };
int HashToHex(const void* data, int len, HashAlg alg, char* dest /* 41 bytes */);

// Decimal value of script text, the way atoi reads it (blanks, an optional
// sign, digits), saturated at the 32-bit range instead of overflowing.
int32_t TarvAtoi(const char* text);
