// The helper's variable codec: a record of entries, each two decimal digits
// of name length, the name, four decimal digits of value length and the
// value, with no separator and no terminator.
#pragma once

inline constexpr int HELPER_NAME_MAX = 61;     // name bytes of one entry
inline constexpr int HELPER_VALUE_MAX = 1021;  // value bytes of one entry

// Writes one entry into out (room bytes): the bytes written (name + value +
// 6); -1/-2 name length outside 1..61, -3/-4 value length outside 0..1021,
// -5 not enough room.  Nothing is written past the entry.
int HelperSetVar(char* out, int room, const char* name, int nameLen, const char* value,
                 int valueLen);
// Reads the first entry of in: the bytes it takes (name + value + 6), its
// name into name (at least 62 bytes) and its value into value (at least
// 1022 bytes), both NUL-terminated, their lengths into *nameLen and
// *valueLen.  0 for an empty input; negative for a malformed or cut entry:
// -101/-102/-103 name length below 1, above 61 or not digits, -3 name cut,
// -4 value cut, -105 value length above 1021, -106 value length not digits.
int HelperGetFirstVar(const char* in, int inLen, char* name, int* nameLen, char* value,
                      int* valueLen);
