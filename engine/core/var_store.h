// The variable store: named text values in one pool that only grows, but
// for the variables a statement removes (TarvRemoveVars).
#pragma once
#include <array>
#include <cstdint>
#include <string_view>

#include "engine/core/observer.h"
#include "engine/core/run_state.h"
#include "engine/log/log_sink.h"

inline constexpr int VAR_NAME = 64;            // caller buffer for a name
inline constexpr int VAR_VAL = 1024;           // caller buffer for a value
inline constexpr int VAR_MAX = 4094;           // variables in one run
inline constexpr int VAR_POOL_LIMIT = 262064;  // pool bytes ever in use
inline constexpr int VAR_SLOTS = 16384;
inline constexpr int VAR_POOL_SIZE = 1048576;

inline constexpr int VAR_COUNTERS = 16;

// A counter slot (see TarvSetCounter).
struct VarCounter {
  int32_t index = 0;   // the variable's number; 0 before the first write
  int32_t value = 0;   // the value written last
  int32_t low = 0;     // values low..high have the text length of value
  int32_t high = 0;
  // The variable holds value as the counter wrote it: no write failed and
  // nothing else wrote it since.
  bool ready = false;
};

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
  std::array<VarCounter, VAR_COUNTERS> Counters;
  // Counted up by every clear: a variable number learnt at the same
  // generation still names the same variable.
  uint32_t Generation;
  // Variable i's text is exactly the decimal digits of IntOf[i] while
  // IntKnown[i] is set (VarNoteInt); every write of the variable clears it.
  std::array<int32_t, VAR_SLOTS> IntOf;
  std::array<uint8_t, VAR_SLOTS> IntKnown;
};

extern VarStore sgVar;

void VarStoreClear();

int TarvSetVar4(const char* name, int nameLen, const char* value, int valueLen);
int TarvSetVar3(const char* name, const char* value, int valueLen);
int TarvSetVar2(const char* name, const char* value);
int TarvSetVarInt2(const char* name, int value);

// Counters: integer variables published after every step (run.steps,
// step.line, ...), each in a fixed slot 0..VAR_COUNTERS - 1 under a fixed
// name (TarvSetCounter and VarSetCounterDirect below).  A slot keeps its
// variable's number (only TarvRemoveVars renumbers, and it moves the slot
// along; a clear forgets them).  While neither the log nor the screen shows
// the writes, an unchanged value only takes the step's mark, and a
// changed one takes its length, room and mark at once and its digits when
// something reads it.  It is TarvSetVarInt2 in every other respect.

// The way of TarvSetVarInt2 for slot k: the first write of a run, a write
// the log or the screen shows, a write after someone else wrote the variable
// or after a failed write, and a nearly full pool.
void VarSetCounterByName(int k, std::string_view name, int32_t value);
// A ready counter's value outside the range known to share its length: its
// length and its room (at the end of the pool when the old room is too
// small), and the range of the new length.
void VarSetCounterLength(int k, int32_t value);

// Below this fill a counter write passes the pool check of TarvSetVar4, even
// after every other counter of its batch created its variable or moved its
// value to the end of the pool.
inline constexpr int VAR_COUNTER_FILL_LIMIT =
    VAR_POOL_LIMIT - (VAR_COUNTERS + 1) * (VAR_NAME - 1 + 11);

// Counter writes go by number when nothing shows them and the pool has room
// for them.  An unchanged value only takes the step's mark, a changed one
// leaves its digits pending; anything else goes by name.
inline bool VarCountersDirect() {
  return TarvLogLevel() < 4 && !ScreenActive() && sgVar.Fill <= VAR_COUNTER_FILL_LIMIT;
}

// Slot k's write at step `step` while VarCountersDirect() holds.
inline void VarSetCounterDirect(int k, std::string_view name, int32_t value, int32_t step) {
  VarCounter& c = sgVar.Counters[k];
  if (c.ready && value == c.value) [[likely]] {
    sgVar.editByStep[c.index] = step;
    return;
  }
  if (!c.ready) {
    VarSetCounterByName(k, name, value);
    return;
  }
  if (value < c.low || value > c.high) VarSetCounterLength(k, value);
  sgVar.editByStep[c.index] = step;
  c.value = value;
  sgVar.Pending |= 1u << k;
}

inline void TarvSetCounter(int slot, std::string_view name, int32_t value) {
  if (VarCountersDirect())
    VarSetCounterDirect(slot, name, value, sgRun.RunSteps);
  else
    VarSetCounterByName(slot, name, value);
}

// With `secret` the debug trace shows the value masked: it is read for an
// argument whose value no log line may hold.
int TarvGetVar4(const char* name, int nameLen, char* dest, int capacity, bool secret = false);
int TarvFindVar(const char* name, int nameLen);
// TarvGetVar4 of variable i, known to be the one named.
int TarvGetVarAt(int i, const char* name, int nameLen, char* dest, int capacity,
                 bool secret = false);
int TarvZeroVar(const char* name);
// Removes the named variables that exist and closes the gaps they leave, in
// the numbering and in the pool; the others keep their order and values.
// Numbers learnt before may name another variable afterwards (the generation
// changes).  The number of variables removed.
int TarvRemoveVars(const std::string_view* names, int count);

// Integer reads without reparsing: after a statement wrote `digits`, the
// decimal text of `value`, into variable i, VarNoteInt remembers the number
// when the variable's text is exactly those digits (a counter's variable
// never: its digits change in place).  VarIntOf answers it until the
// variable is written again.
void VarNoteInt(int i, int32_t value, const char* digits, int len);
inline bool VarIntOf(int i, int32_t* value) {
  if (static_cast<unsigned>(i) >= VAR_SLOTS || sgVar.IntKnown[i] == 0) return false;
  *value = sgVar.IntOf[i];
  return true;
}

// Writes the digits of every pending counter into the pool.
void VarStoreWritePending();

// Read access for the listings: name and value of variable i (1..Count).
inline const char* VarName(int i) { return sgVar.Pool.data() + sgVar.NameOff[i]; }
inline const char* VarValue(int i) {
  if (sgVar.Pending != 0 && sgVar.CounterOf[i] != 0) VarStoreWritePending();
  return sgVar.Pool.data() + sgVar.ValOff[i];
}
