// The variable store: named text values in one append-only pool.
#pragma once
#include <array>
#include <cstdint>

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
int TarvGetVar4(const char* name, int nameLen, char* dest, int capacity);
int TarvFindVar(const char* name, int nameLen);
int TarvZeroVar(const char* name);

// Read access for the listings: name and value of variable i (1..Count).
inline const char* VarName(int i) { return sgVar.Pool.data() + sgVar.NameOff[i]; }
inline const char* VarValue(int i) { return sgVar.Pool.data() + sgVar.ValOff[i]; }
