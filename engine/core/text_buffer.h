// The text buffer of a run (sgRun.Text, 1-based) and its append operations.
#pragma once

inline constexpr int TEXT_ADD_LIMIT = 4194204;  // TextAdd keeps the text below this

// Appends len bytes at Text[TextLen+1]; returns len, or -1 (a run error) when
// the text would reach TEXT_ADD_LIMIT.
int TextAdd(const char* data, int len);
void TextPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The selection that the save, line and byte-array statements need: at least
// two bytes, all within the text (0 <= headPointer < tailPointer <= TextLen).
bool TextSelectionInText();
