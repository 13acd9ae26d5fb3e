// The variable store: named text values in one append-only pool.
#pragma once
#include <array>
#include <cstdint>
#include <string_view>

inline constexpr int VAR_NAME = 64;            // caller buffer for a name
inline constexpr int VAR_VAL = 1024;           // caller buffer for a value
inline constexpr int VAR_MAX = 4094;           // variables in one run
inline constexpr int VAR_POOL_LIMIT = 262064;  // pool bytes ever in use
inline constexpr int VAR_SLOTS = 16384;
inline constexpr int VAR_POOL_SIZE = 1048576;

struct VarStore {
  int32_t Fill;
  std::array<char, VAR_POOL_SIZE> Pool;
  std::array<int32_t, VAR_SLOTS> NameOff;
  std::array<int32_t, VAR_SLOTS> NameLen;
  std::array<int32_t, VAR_SLOTS> ValOff;
  std::array<int32_t, VAR_SLOTS> ValLen;
  std::array<int32_t, VAR_SLOTS> ValRoom;
  std::array<int32_t, VAR_SLOTS> editByStep;
  int32_t Count;
  // Counters (below) whose digits are not in the pool yet, one bit each:
  // their length, room and offset are exact, and VarValue and TarvGetVar4
  // write the digits before anything reads them.
  uint32_t Pending;
  // 1 + the counter that variable i is, or 0.
  std::array<uint8_t, VAR_SLOTS> CounterOf;
};

extern VarStore sgVar;

void VarStoreClear();

int TarvSetVar4(const char* name, int nameLen, const char* value, int valueLen);
int TarvSetVar3(const char* name, const char* value, int valueLen);
int TarvSetVar2(const char* name, const char* value);
int TarvSetVarInt2(const char* name, int value);

// Counters: integer variables published after every step (run.steps,
// step.line, ...), each in a fixed slot 0..VAR_COUNTERS - 1 under a fixed
// name.  A slot keeps its variable's number (numbers never change within a
// run, since no variable is ever removed; a clear forgets them).  While
// neither the log nor the screen shows the writes, an unchanged value only
// takes the step's mark, and a changed one takes its length, room and mark
// at once and its digits when something reads it.  It is TarvSetVarInt2 in
// every other respect.
inline constexpr int VAR_COUNTERS = 16;
// Slots first..first + count - 1 in turn, each value read when it is written
// (a write may grow the pool, whose fill is such a value).
void TarvSetCounters(int first, int count, const std::string_view* names,
                     const int32_t* const* values);
void TarvSetCounter(int slot, std::string_view name, int32_t value);
int TarvGetVar4(const char* name, int nameLen, char* dest, int capacity);
int TarvFindVar(const char* name, int nameLen);
int TarvZeroVar(const char* name);

// Writes the digits of every pending counter into the pool.
void VarStoreWritePending();

// Read access for the listings: name and value of variable i (1..Count).
inline const char* VarName(int i) { return sgVar.Pool.data() + sgVar.NameOff[i]; }
inline const char* VarValue(int i) {
  if (sgVar.Pending != 0 && sgVar.CounterOf[i] != 0) VarStoreWritePending();
  return sgVar.Pool.data() + sgVar.ValOff[i];
}
