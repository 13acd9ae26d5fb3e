// tarv.createsource: a statement pattern written after the keyword becomes
// the skeleton of its handler, appended to the text buffer.
#pragma once
#include <cstdint>

inline constexpr int SOURCE_MAX_WORDS = 19;  // pattern words: argument slots 1..19
inline constexpr int SOURCE_MAX_TEXT = 1023;  // bytes of one word, and of the name

struct SourceGenState {
  int32_t ArgCount;  // words of the pattern being generated
  int32_t NextId;    // statement id of the next generated function
};

extern SourceGenState sgSource;

// Initialisation: the generated ids continue the statement table.
void EsCreateSourceInit();
// Builds the handler names from pattern word w on (agA[0] holds the name so
// far) and writes one function per complete name.
int EsCreateSource(int w);
// Writes the function named in agA[0] to the text buffer.
int EsWriteSource();
