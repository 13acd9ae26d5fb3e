// The parsed script: its bytes, its words and its lines.
#pragma once
#include <array>
#include <cstdint>

inline constexpr int MAXWORDS = 1024;       // per-line tables; lines 1..1023
inline constexpr int MAX_LINES = MAXWORDS - 1;
inline constexpr int WORD_RECORDS = 4096;
inline constexpr int MAX_SCRIPT_WORDS = 4091;
inline constexpr int SCRIPT_SIZE = 65536;
inline constexpr int SCRIPT_MAX_BYTES = 65531;
inline constexpr int FUN_NAME_SIZE = 1024;
inline constexpr int LONGEST_PATTERN_WORDS = 15;

inline constexpr int WORD_KEY = 1;
inline constexpr int WORD_ARG = 2;
inline constexpr int WORD_COMMENT = 4;

struct NmsWord {
  int32_t Offset;  // first byte in Script
  int32_t Length;
  int32_t Kind;    // WORD_KEY, WORD_ARG or WORD_COMMENT
  int32_t Line;    // 1-based
  int32_t Pos;     // position in its line, 1-based
};

struct NmsScript {
  char FileName[512];
  std::array<NmsWord, WORD_RECORDS> Words;  // 1..WordCount
  int32_t WordCount;
  int32_t LineCount;
  std::array<int32_t, MAXWORDS> FunID;
  std::array<int32_t, MAXWORDS> FirstWord;
  std::array<int32_t, MAXWORDS> LineWords;
  std::array<int32_t, MAXWORDS> JumpCache;
  std::array<int32_t, MAXWORDS> RunCount;
  std::array<int32_t, MAXWORDS> ErrorSteps;
  int32_t ErrCount;
  int32_t ScriptLen;
  std::array<char, SCRIPT_SIZE> Script;  // byte 0 is a blank; the file from byte 1
};

extern NmsScript sgNms;

// Text of word w (1..WordCount).
inline const char* WordText(int w) { return sgNms.Script.data() + sgNms.Words[w].Offset; }

int TarvLoadParserScript(const char* path);
int ParserWord();
int ParserLine();
int TarvGetLineFunctionName(int line, int lines, char* name /* FUN_NAME_SIZE */, int* words);
int GetCallFunction(const char* name, int len, int words);
// The parser report of the loaded script (debug log).
int NmsParserReport();
