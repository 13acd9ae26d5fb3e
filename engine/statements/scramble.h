// Value scrambling: a short value turned into printable text and back.
#pragma once

// Values longer than this are refused by TarvEncrypt.
inline constexpr int SCRAMBLE_MAX_VALUE = 20;
// Room TarvEncrypt needs in its buffer: the longest scrambled text and a NUL.
inline constexpr int SCRAMBLE_TEXT_ROOM = 85;

// Scrambles the n bytes at buf in place.  buf holds at least
// SCRAMBLE_TEXT_ROOM bytes; afterwards it holds the scrambled text with a NUL.
// Returns the text's length, or -1 when n is above SCRAMBLE_MAX_VALUE.
int TarvEncrypt(char* buf, int n);

// Unscrambles the len bytes at buf in place: buf receives the value and a
// NUL.  Returns the value's length, or -1 for a text that does not hold one.
int TarvDecrypt(char* buf, int len);
