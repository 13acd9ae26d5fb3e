// The argument slots of the current step, and how a line's words fill them.
#pragma once
#include <array>
#include <cstdint>

inline constexpr int ARG_SLOTS = 20;     // word positions 0..19
inline constexpr int ARG_SIZE = 1024;
inline constexpr int ARG_ROOM = 1022;    // a value holds at most 1021 bytes

extern char agA[ARG_SLOTS][ARG_SIZE];
extern int32_t igL[ARG_SLOTS];
extern int32_t igV[ARG_SLOTS];
extern char agV[ARG_SLOTS][ARG_SIZE];

int EsPrepareStep();
int TarvReplaceVar(const char* src, int len, char* dest, int room);
int EsDecodeEscapes(const char* src, int len, char* dest, int room);
int EsGetArg(int w, char* dest, int room);
int CurStepIsArg3(int n, const char* text, int len);
int EsIsArg3(int w, const char* text, int len);
int CurStepIsKey3(int n, const char* text, int len);
int EsStepIsKey2(int line, const char* key);

// Clears the slots (engine reset).
void StepArgsClear();
// Forgets what was learnt of the script's words (a new script is parsed).
void StepArgsForgetWords();
