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
};

extern VarStore sgVar;

void VarStoreClear();

int TarvSetVar4(const char* name, int nameLen, const char* value, int valueLen);
int TarvSetVar3(const char* name, const char* value, int valueLen);
int TarvSetVar2(const char* name, const char* value);
int TarvSetVarInt2(const char* name, int value);

// A variable written often by its number rather than its name (the step's
// counters).  Numbers never change within a run, since no variable is ever
// removed; the generation tells a handle from before a clear.
struct VarHandle {
  int32_t Index = 0;
  uint32_t Generation = 0;
  // The variable's write count after the handle's last write, and the value
  // and its length in text then: while nothing else wrote it, an unchanged
  // value needs neither formatting nor comparing.
  uint32_t Writes = 0;
  int32_t Value = 0;
  int32_t Length = 0;
};
// TarvSetVarInt2 through a handle, which it fills on first use.
int TarvSetVarInt(VarHandle& handle, std::string_view name, int value);
// TarvSetVarInt of count variables in turn, each value read when it is
// written (a write may grow the pool, whose fill is such a value).
void TarvSetVarInts(VarHandle* handles, const std::string_view* names,
                    const int32_t* const* values, int count);
int TarvGetVar4(const char* name, int nameLen, char* dest, int capacity);
int TarvFindVar(const char* name, int nameLen);
int TarvZeroVar(const char* name);

// Read access for the listings: name and value of variable i (1..Count).
inline const char* VarName(int i) { return sgVar.Pool.data() + sgVar.NameOff[i]; }
inline const char* VarValue(int i) { return sgVar.Pool.data() + sgVar.ValOff[i]; }
