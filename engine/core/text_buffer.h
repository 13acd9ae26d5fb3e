// The text buffer of a run (sgRun.Text, 1-based) and its append operations.
#pragma once
#include <cstdint>

inline constexpr int TEXT_ADD_LIMIT = 4194204;  // TextAdd keeps the text below this

// Appends len bytes at Text[TextLen+1]; returns len, or -1 (a run error) when
// the text would reach TEXT_ADD_LIMIT.
int TextAdd(const char* data, int len);
void TextPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Appends say what they change by the length alone; an edit inside the text
// (a replace, a cut) also records the lowest byte it may have changed, so
// that a copy of the text taken before is brought up to date by copying from
// there and the appended bytes only.
void TextMarkEdited(int64_t pos);
// The lowest byte edited since the last call (0 after a clear, TEXT_SIZE + 1
// when none), and forgets it.
int32_t TextTakeEdited();
// The selection that the save, line and byte-array statements need: at least
// two bytes, all within the text (0 <= headPointer < tailPointer <= TextLen).
bool TextSelectionInText();
