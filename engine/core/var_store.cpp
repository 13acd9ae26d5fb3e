#include "engine/core/var_store.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "engine/log/log_sink.h"
#include "engine/core/run_state.h"
#include "engine/core/observer.h"

VarStore sgVar;

// The store's semantics are a linear search by creation order; the index
// below only makes that search constant-time.  Names are unique, so a hash of
// the name to its variable number gives the same first match.
namespace {
constexpr uint32_t INDEX_SLOTS = 8192;  // power of two, > 2 * VAR_MAX
std::array<int32_t, INDEX_SLOTS> gIndex;  // variable number, 0 empty

uint32_t HashName(const char* name, int len) {
  uint32_t h = 2166136261u;
  for (int i = 0; i < len; i++) {
    h ^= static_cast<unsigned char>(name[i]);
    h *= 16777619u;
  }
  return h;
}

bool NameIs(int i, const char* name, int len) {
  return sgVar.NameLen[i] == len && std::memcmp(VarName(i), name, len) == 0;
}

// Slot of the name in gIndex: where it is, or the empty slot it would take.
uint32_t IndexSlot(const char* name, int len) {
  uint32_t s = HashName(name, len) & (INDEX_SLOTS - 1);
  while (gIndex[s] != 0 && !NameIs(gIndex[s], name, len)) s = (s + 1) & (INDEX_SLOTS - 1);
  return s;
}
}  // namespace

void VarStoreClear() {
  std::memset(&sgVar, 0, sizeof sgVar);
  gIndex.fill(0);
}

int TarvFindVar(const char* name, int nameLen) {
  if (nameLen < 1 || nameLen >= VAR_NAME || sgVar.Count == 0) return -1;
  int i = gIndex[IndexSlot(name, nameLen)];
  return i == 0 ? -1 : i;
}

int TarvSetVar4(const char* name, int nameLen, const char* value, int valueLen) {
  if (nameLen < 1 || nameLen > VAR_NAME - 1 || static_cast<unsigned>(valueLen) > VAR_VAL - 1)
    return TarvReturn(-1, "SetVar Err,Name.l=%d[1-%d], Val.l=%d[0-%d]", nameLen, VAR_NAME,
                      valueLen, VAR_VAL);
  char n[VAR_NAME];
  char v[VAR_VAL];
  std::memcpy(n, name, nameLen);
  n[nameLen] = 0;
  if (valueLen > 0) std::memcpy(v, value, valueLen);
  v[valueLen] = 0;
  TarvDebugLogEscaped("\nSetVar [%s] value [%s] len [%d]", n, v, valueLen);
  if (ScreenActive()) ScreenPrintf("\r\n    SetVar\t[%s]\t=[%s]", n, v);

  if (static_cast<int64_t>(sgVar.Fill) + nameLen + valueLen > VAR_POOL_LIMIT)
    return TarvReturn(-2, "SetVar Buf End.<%s>", n);

  uint32_t slot = IndexSlot(name, nameLen);
  int i = gIndex[slot];
  if (i != 0) {
    sgVar.editByStep[i] = sgRun.RunSteps;
    if (valueLen > sgVar.ValRoom[i]) {
      sgVar.ValOff[i] = sgVar.Fill;
      sgVar.ValRoom[i] = valueLen;
      sgVar.Fill += valueLen;
    }
    sgVar.ValLen[i] = valueLen;
    if (valueLen > 0) std::memcpy(sgVar.Pool.data() + sgVar.ValOff[i], value, valueLen);
    return 0;
  }
  if (sgVar.Count >= VAR_MAX) return TarvReturn(-3, "SetVar too much<%s>", n);
  i = ++sgVar.Count;
  gIndex[slot] = i;
  sgVar.editByStep[i] = sgRun.RunSteps;
  sgVar.NameOff[i] = sgVar.Fill;
  sgVar.NameLen[i] = nameLen;
  std::memcpy(sgVar.Pool.data() + sgVar.Fill, name, nameLen);
  sgVar.Fill += nameLen;
  sgVar.ValOff[i] = sgVar.Fill;
  sgVar.ValLen[i] = valueLen;
  sgVar.ValRoom[i] = valueLen;
  if (valueLen > 0) std::memcpy(sgVar.Pool.data() + sgVar.Fill, value, valueLen);
  sgVar.Fill += valueLen;
  return 0;
}

int TarvSetVar3(const char* name, const char* value, int valueLen) {
  return TarvSetVar4(name, static_cast<int>(strnlen(name, VAR_VAL)), value, valueLen);
}

int TarvSetVar2(const char* name, const char* value) {
  return TarvSetVar3(name, value, static_cast<int>(strnlen(value, VAR_VAL)));
}

int TarvSetVarInt2(const char* name, int value) {
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return TarvSetVar3(name, buf, static_cast<int>(r.ptr - buf));
}

int TarvGetVar4(const char* name, int nameLen, char* dest, int capacity) {
  int i = TarvFindVar(name, nameLen);
  char n[VAR_NAME] = {};
  if (nameLen > 0) std::memcpy(n, name, nameLen < VAR_NAME - 1 ? nameLen : VAR_NAME - 1);
  if (i < 0) return TarvReturn(-2, "GetVar4(%s) NotFound", n);
  int len = sgVar.ValLen[i];
  if (len > capacity) return TarvReturn(-3, "GetVar4(%s) Buf too small", n);
  if (len > 0) std::memcpy(dest, VarValue(i), len);
  return TarvReturn(len, "GetVar4(%s)=<%.*s>", n, len, VarValue(i));
}

int TarvZeroVar(const char* name) {
  int len = static_cast<int>(strnlen(name, VAR_VAL));
  int i = TarvFindVar(name, len);
  if (i < 0) return TarvReturn(-1, "TarvZeroVar,Var [%s] Not exist!", name);
  sgVar.ValLen[i] = 0;
  return 0;
}
