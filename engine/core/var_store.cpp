#include "engine/core/var_store.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/log/log_sink.h"
#include "engine/core/run_state.h"
#include "engine/core/observer.h"
#include "engine/core/secret_words.h"
#include "engine/util/util.h"

VarStore sgVar;

// The store's semantics are a linear search by creation order; the index
// below only makes that search constant-time.  Names are unique, so a hash of
// the name to its variable number gives the same first match.
namespace {
constexpr uint32_t INDEX_SLOTS = 8192;  // power of two, > 2 * VAR_MAX
std::array<int32_t, INDEX_SLOTS> gIndex;  // variable number, 0 empty

void ForgetCounters() {
  for (VarCounter& c : sgVar.Counters) c = VarCounter{};
}

// Any write of variable i but a counter's own by number: the number known
// for its text is gone; a counter's pending value is replaced, and the
// counter's next write goes by name.
inline void ValueRewritten(int i) {
  sgVar.IntKnown[i] = 0;
  if (sgVar.CounterOf[i] == 0) return;
  const int k = sgVar.CounterOf[i] - 1;
  sgVar.Pending &= ~(1u << k);
  sgVar.Counters[k].ready = false;
}
uint32_t HashName(const char* name, int len) {
  uint32_t h = 2166136261u;
  for (int i = 0; i < len; i++) {
    h ^= static_cast<unsigned char>(name[i]);
    h *= 16777619u;
  }
  return h;
}

[[gnu::always_inline]] inline bool NameIs(int i, const char* name, int len) {
  return sgVar.NameLen[i] == len && TarvSameBytes(VarName(i), name, len);
}

// The variables found last by name: a name looked up again and again (a
// loop's counter) is compared with them before it is hashed.
constexpr int kRecent = 2;
std::array<int32_t, kRecent> gRecent;
int gRecentNext;

inline int RecentVar(const char* name, int len) {
  for (const int i : gRecent)
    if (i != 0 && NameIs(i, name, len)) return i;
  return 0;
}

inline void NoteRecent(int i) {
  gRecent[gRecentNext] = i;
  gRecentNext = (gRecentNext + 1) % kRecent;
}

// Slot of the name in gIndex: where it is, or the empty slot it would take.
uint32_t IndexSlot(const char* name, int len) {
  uint32_t s = HashName(name, len) & (INDEX_SLOTS - 1);
  while (gIndex[s] != 0 && !NameIs(gIndex[s], name, len)) s = (s + 1) & (INDEX_SLOTS - 1);
  return s;
}
}  // namespace

void VarStoreClear() {
  // Only what a run used holds anything: the pool up to its fill and the
  // records up to the count (the rest is zero from the start of the process).
  std::memset(sgVar.Pool.data(), 0, static_cast<size_t>(sgVar.Fill));
  const size_t used = static_cast<size_t>(sgVar.Count) + 1;
  for (auto* column : {&sgVar.NameOff, &sgVar.NameLen, &sgVar.ValOff, &sgVar.ValLen,
                       &sgVar.ValRoom, &sgVar.editByStep})
    std::fill_n(column->begin(), std::min(used, column->size()), 0);
  std::fill_n(sgVar.CounterOf.begin(), std::min(used, sgVar.CounterOf.size()), uint8_t{0});
  std::fill_n(sgVar.IntKnown.begin(), std::min(used, sgVar.IntKnown.size()), uint8_t{0});
  sgVar.Pending = 0;
  ForgetCounters();
  if (sgVar.Count > 0) gIndex.fill(0);
  gRecent.fill(0);
  sgVar.Fill = 0;
  sgVar.Count = 0;
  sgVar.Generation++;
}

int TarvFindVar(const char* name, int nameLen) {
  if (nameLen < 1 || nameLen >= VAR_NAME || sgVar.Count == 0) return -1;
  if (const int recent = RecentVar(name, nameLen)) return recent;
  const int i = gIndex[IndexSlot(name, nameLen)];
  if (i == 0) return -1;
  NoteRecent(i);
  return i;
}

namespace {
// A new value for variable i, which exists: the value was checked for length
// and the pool for room.  The value is written over the old one when it fits
// its room, else appended to the pool.
void WriteValue(int i, const char* value, int valueLen) {
  ValueRewritten(i);
  sgVar.editByStep[i] = sgRun.RunSteps;
  if (valueLen > sgVar.ValRoom[i]) {
    sgVar.ValOff[i] = sgVar.Fill;
    sgVar.ValRoom[i] = valueLen;
    sgVar.Fill += valueLen;
  }
  sgVar.ValLen[i] = valueLen;
  TarvCopyBytes(sgVar.Pool.data() + sgVar.ValOff[i], value, valueLen);
}
}  // namespace

namespace {
// TarvSetVar4; `recent` when the name may be one of the recent variables
// and is to become one (the counters' own writes by name are neither).
int SetVar(const char* name, int nameLen, const char* value, int valueLen, bool recent) {
  if (nameLen < 1 || nameLen > VAR_NAME - 1 || static_cast<unsigned>(valueLen) > VAR_VAL - 1)
    return TarvReturn(-1, "SetVar Err,Name.l=%d[1-%d], Val.l=%d[0-%d]", nameLen, VAR_NAME,
                      valueLen, VAR_VAL);
  // A name or value stops at its first NUL in the log and on the screen.
  TarvDebugLogEscaped("\nSetVar [%.*s] value [%.*s] len [%d]", nameLen, name, valueLen, value,
                      valueLen);
  if (ScreenActive()) ScreenPrintf("\r\n    SetVar\t[%.*s]\t=[%.*s]", nameLen, name, valueLen, value);

  if (static_cast<int64_t>(sgVar.Fill) + nameLen + valueLen > VAR_POOL_LIMIT)
    return TarvReturn(-2, "SetVar Buf End.<%.*s>", nameLen, name);

  int i = recent ? RecentVar(name, nameLen) : 0;
  if (i != 0) {
    WriteValue(i, value, valueLen);
    return 0;
  }
  const uint32_t slot = IndexSlot(name, nameLen);
  i = gIndex[slot];
  if (i != 0) {
    if (recent) NoteRecent(i);
    WriteValue(i, value, valueLen);
    return 0;
  }
  if (sgVar.Count >= VAR_MAX) return TarvReturn(-3, "SetVar too much<%.*s>", nameLen, name);
  i = ++sgVar.Count;
  gIndex[slot] = i;
  sgVar.IntKnown[i] = 0;
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
}  // namespace

int TarvSetVar4(const char* name, int nameLen, const char* value, int valueLen) {
  return SetVar(name, nameLen, value, valueLen, true);
}

namespace {
// The values with the text length of v, from 1 digit to 10 and a sign; the
// length itself is returned.
int LengthRange(int32_t v, int32_t* low, int32_t* high) {
  constexpr int32_t kTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000,
                              1000000000};
  if (v == INT32_MIN) {
    *low = *high = v;
    return 11;
  }
  const int32_t a = v < 0 ? -v : v;
  int d = 1;
  while (d < 10 && a >= kTen[d]) d++;
  const int32_t lo = d == 1 ? 0 : kTen[d - 1];
  const int32_t hi = d == 10 ? INT32_MAX : kTen[d] - 1;
  if (v < 0) {
    *low = -hi;
    *high = lo == 0 ? -1 : -lo;
  } else {
    *low = lo;
    *high = hi;
  }
  return d + (v < 0 ? 1 : 0);
}

}  // namespace

void VarSetCounterByName(int k, std::string_view name, int32_t value) {
  VarCounter& c = sgVar.Counters[k];
  if (sgVar.Pending != 0) VarStoreWritePending();
  char buf[16];
  const int len = static_cast<int>(std::to_chars(buf, buf + sizeof buf, value).ptr - buf);
  const int nameLen = static_cast<int>(name.size());
  const int rc = SetVar(name.data(), nameLen, buf, len, false);
  if (c.index == 0) {
    const int found = TarvFindVar(name.data(), nameLen);
    if (found > 0) {
      c.index = found;
      sgVar.CounterOf[found] = static_cast<uint8_t>(k + 1);
    }
  }
  // A write that failed leaves the counter to this way again.
  c.ready = rc == 0 && c.index != 0;
  c.value = value;
  // The range of the value's length is taken when a write by number first
  // needs it (VarSetCounterLength): writes shown in the log may never do.
  c.low = c.high = value;
}

void VarSetCounterLength(int k, int32_t value) {
  VarCounter& c = sgVar.Counters[k];
  const int i = c.index;
  const int len = LengthRange(value, &c.low, &c.high);
  if (len > sgVar.ValRoom[i]) {
    sgVar.ValOff[i] = sgVar.Fill;
    sgVar.ValRoom[i] = len;
    sgVar.Fill += len;
  }
  sgVar.ValLen[i] = len;
}

void VarNoteInt(int i, int32_t value, const char* digits, int len) {
  if (i < 1 || i > sgVar.Count || sgVar.CounterOf[i] != 0) return;
  if (sgVar.ValLen[i] != len || std::memcmp(VarValue(i), digits, static_cast<size_t>(len)) != 0)
    return;
  sgVar.IntOf[i] = value;
  sgVar.IntKnown[i] = 1;
}

void VarStoreWritePending() {
  for (int k = 0; k < VAR_COUNTERS; k++) {
    if ((sgVar.Pending & (1u << k)) == 0) continue;
    const VarCounter& c = sgVar.Counters[k];
    // The length is the one of the value's range: the digits fill it exactly.
    char* dest = sgVar.Pool.data() + sgVar.ValOff[c.index];
    std::to_chars(dest, dest + sgVar.ValLen[c.index], c.value);
  }
  sgVar.Pending = 0;
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

int TarvGetVar4(const char* name, int nameLen, char* dest, int capacity, bool secret) {
  const int i = TarvFindVar(name, nameLen);
  if (i < 0) {
    // The name as the log shows it: at most VAR_NAME - 1 bytes, up to a NUL.
    const int shown = nameLen < 0 ? 0 : (nameLen < VAR_NAME - 1 ? nameLen : VAR_NAME - 1);
    return TarvReturn(-2, "GetVar4(%.*s) NotFound", shown, name);
  }
  return TarvGetVarAt(i, name, nameLen, dest, capacity, secret);
}

int TarvGetVarAt(int i, const char* name, int nameLen, char* dest, int capacity, bool secret) {
  const int shown = nameLen < VAR_NAME - 1 ? nameLen : VAR_NAME - 1;
  const int len = sgVar.ValLen[i];
  if (len > capacity) return TarvReturn(-3, "GetVar4(%.*s) Buf too small", shown, name);
  const char* value = VarValue(i);
  TarvCopyBytes(dest, value, len);
  if (secret) return TarvReturn(len, "GetVar4(%.*s)=<%s>", shown, name, kMaskedValue.data());
  if (TarvLogLevel() < 4) return len;
  std::string room;
  const std::string_view traced = UrlSecretsMasked({value, static_cast<size_t>(len)}, room);
  return TarvReturn(len, "GetVar4(%.*s)=<%.*s>", shown, name, static_cast<int>(traced.size()),
                    traced.data());
}

int TarvZeroVar(const char* name) {
  int len = static_cast<int>(strnlen(name, VAR_VAL));
  int i = TarvFindVar(name, len);
  if (i < 0) return TarvReturn(-1, "TarvZeroVar,Var [%s] Not exist!", name);
  ValueRewritten(i);
  sgVar.ValLen[i] = 0;
  return 0;
}

int TarvRemoveVars(const std::string_view* names, int count) {
  const int32_t before = sgVar.Count;
  std::vector<int32_t> newIndex(static_cast<size_t>(before) + 1, 1);
  int removed = 0;
  for (int n = 0; n < count; n++) {
    const int i = TarvFindVar(names[n].data(), static_cast<int>(names[n].size()));
    if (i > 0 && newIndex[i] != 0) {
      newIndex[i] = 0;
      removed++;
    }
  }
  if (removed == 0) return 0;
  // Counter digits still pending must be in the pool before it is rebuilt.
  if (sgVar.Pending != 0) VarStoreWritePending();
  const std::vector<char> old(sgVar.Pool.begin(), sgVar.Pool.begin() + sgVar.Fill);
  const int32_t oldFill = sgVar.Fill;
  int32_t j = 0;
  int32_t fill = 0;
  for (int32_t i = 1; i <= before; i++) {
    if (newIndex[i] == 0) continue;
    newIndex[i] = ++j;
    const int32_t nl = sgVar.NameLen[i];
    const int32_t vl = sgVar.ValLen[i];
    std::memcpy(sgVar.Pool.data() + fill, old.data() + sgVar.NameOff[i], static_cast<size_t>(nl));
    std::memcpy(sgVar.Pool.data() + fill + nl, old.data() + sgVar.ValOff[i], static_cast<size_t>(vl));
    sgVar.NameOff[j] = fill;
    sgVar.NameLen[j] = nl;
    sgVar.ValOff[j] = fill + nl;
    sgVar.ValLen[j] = vl;
    sgVar.ValRoom[j] = vl;
    sgVar.editByStep[j] = sgVar.editByStep[i];
    sgVar.CounterOf[j] = sgVar.CounterOf[i];
    sgVar.IntOf[j] = sgVar.IntOf[i];
    sgVar.IntKnown[j] = sgVar.IntKnown[i];
    fill += nl + vl;
  }
  // Past the count and the fill everything is zero again, as a clear expects.
  std::memset(sgVar.Pool.data() + fill, 0, static_cast<size_t>(oldFill - fill));
  for (int32_t i = j + 1; i <= before; i++) {
    sgVar.NameOff[i] = sgVar.NameLen[i] = sgVar.ValOff[i] = sgVar.ValLen[i] = 0;
    sgVar.ValRoom[i] = sgVar.editByStep[i] = 0;
    sgVar.CounterOf[i] = sgVar.IntKnown[i] = 0;
  }
  for (VarCounter& c : sgVar.Counters) {
    if (c.index == 0) continue;
    if (newIndex[c.index] == 0)
      c = VarCounter{};
    else
      c.index = newIndex[c.index];
  }
  sgVar.Count = j;
  sgVar.Fill = fill;
  gIndex.fill(0);
  for (int32_t i = 1; i <= j; i++) gIndex[IndexSlot(VarName(i), sgVar.NameLen[i])] = i;
  gRecent.fill(0);
  // Numbers learnt before this point may name another variable now.
  sgVar.Generation++;
  return removed;
}
