// The statement-source generator.  The pattern's words are kept in the
// argument slots (agA[w], igL[w]) and the handler name is built in slot 0;
// the generated text is this system's own handler style, so that a new
// statement starts from a skeleton that compiles against the engine headers.
#include "engine/tools/source_generator.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "engine/core/handlers.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/statement_table.h"
#include "engine/core/step_args.h"
#include "engine/core/text_buffer.h"
#include "engine/util/util.h"
#include "engine/core/handler.h"

SourceGenState sgSource;

namespace {

// Set once the text buffer refuses a piece: every later piece would be
// refused too, each costing a run error, so the rest of the run's output
// is dropped at once.
bool gRefused = false;
// The step's time-out, checked between combinations: a line of many choice
// words has more combinations than any run could wait for.
std::chrono::steady_clock::time_point gDeadline;
bool gTimedOut = false;

// Whether another combination may be written.
bool MayContinue() {
  if (gRefused || gTimedOut) return false;
  if (sgRun.StepTimeout > 0 && std::chrono::steady_clock::now() >= gDeadline) gTimedOut = true;
  return !gTimedOut;
}

std::string_view Word(int w) { return {agA[w], static_cast<size_t>(igL[w] > 0 ? igL[w] : 0)}; }

// Field k (from 1) of a word split at '/'; a field ends at its first '}'.
std::optional<std::string_view> Field(std::string_view word, int k) {
  for (int i = 1; i < k; i++) {
    const size_t slash = word.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    word.remove_prefix(slash + 1);
  }
  word = word.substr(0, word.find('/'));
  return word.substr(0, word.find('}'));
}

// Field k when it is there and not empty.
std::optional<std::string_view> Present(std::string_view word, int k) {
  auto f = Field(word, k);
  if (f && f->empty()) return std::nullopt;
  return f;
}

// The character that names word w in a handler name: 1-9, then a, b, ...
char WordDigit(int w) { return static_cast<char>(w < 10 ? '0' + w : 'a' + w - 10); }

// The longest name the words can produce, with its trailing '_'.
int LongestName(int argCount) {
  int total = 0;
  for (int w = 1; w <= argCount; w++) {
    const std::string_view word = Word(w);
    if (word.starts_with('{')) {
      total += 3;
    } else if (word.starts_with('+')) {
      int longest = 0;
      for (int k = 2; auto f = Present(word, k); k++)
        longest = std::max(longest, int(f->size()) + 1);
      total += longest;
    } else {
      total += static_cast<int>(word.size()) + 1;
    }
  }
  return total;
}

// How many handlers the words expand to, at most `cap`.
int64_t Combinations(int argCount, int64_t cap) {
  int64_t total = 1;
  for (int w = 1; w <= argCount; w++) {
    const std::string_view word = Word(w);
    if (!word.starts_with('+')) continue;
    int64_t choices = 0;
    for (int k = 2; Present(word, k); k++) choices++;
    total = std::min(total * choices, cap);
  }
  return total;
}

void AppendName(std::string_view piece) {
  const int room = SOURCE_MAX_TEXT - igL[0];
  const int take = std::min(static_cast<int>(piece.size()), room);
  std::memcpy(agA[0] + igL[0], piece.data(), take);
  igL[0] += take;
  agA[0][igL[0]] = 0;
}

void CutName(int len) {
  igL[0] = len;
  agA[0][len] = 0;
}

// One piece of the generated text.  Pieces are formatted whole (a long
// name would not fit a TextPrintf line) and appended as they are.
__attribute__((format(printf, 1, 2))) void Emit(const char* fmt, ...) {
  if (gRefused) return;
  char buf[4 * ARG_SIZE + 512];
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n <= 0) return;
  const int len = std::min(n, static_cast<int>(sizeof buf) - 1);
  if (TextAdd(buf, len) < 0) gRefused = true;
}

// The checks of argument i, by its selector; returns the limit text shown
// in the variable-read check (the last bound or choice the word gave).
std::string_view WriteArgChecks(int i, const char* name) {
  const std::string_view word = Word(i);
  std::string_view last = "0";  // what the variable check compares with
  const char selector = word.size() > 1 ? word[1] : 0;
  if (selector == '+') {
    for (int k = 2; auto c = Present(word, k); k++) {
      const int cl = static_cast<int>(c->size());
      Emit(k == 2 ? "\n\t if( CurStepIsArg3(%d,\"%.*s\",%d) == 0 )"
                  : "\n\t else if( CurStepIsArg3(%d,\"%.*s\",%d) == 0 )",
           i, cl, c->data(), cl);
      Emit("\n\t {");
      Emit("\n\n\t\t return TarvReturn(0,\"%s->A:%d(%.*s) return.\");", name, i, cl, c->data());
      Emit("\n\t }");
      last = *c;
    }
    Emit("\n\t else");
    Emit("\n\t {");
    Emit("\n\n\t\t return NmsRunError(-%d,\"%s->A:%d(%s) is not support!\",agA[%d]);", i, name, i,
         "%s", i);
    Emit("\n\t }");
  } else if (selector == '-' || selector == 'l') {
    const bool integer = selector == '-';
    if (integer) {
      Emit("\n\t if( TarvIsInteger2(agA[%d],igL[%d]) < 0 ) return NmsRunError(-%d,\"Arg:%d is not "
           "integer !\" ); ",
           i, i, i, i);
      Emit("\n\t igV[%d] = atoi( agA[%d] );\r\n", i, i);
    }
    if (auto min = Present(word, 2)) {
      const int ml = static_cast<int>(min->size());
      if (integer)
        Emit("\n\t if( igV[%d] < %.*s ) return NmsRunError(-%d,\"Arg:%d=%s  < %.*s !\", igV[%d]); ",
             i, ml, min->data(), i, i, "%d", ml, min->data(), i);
      else
        Emit("\n\t if( igL[%d] < %.*s ) return NmsRunError(-%d,\"Arg:%d, len=%s  < %.*s !\", "
             "igL[%d]); ",
             i, ml, min->data(), i, i, "%d", ml, min->data(), i);
      last = *min;
    }
    if (auto max = Present(word, 3)) {
      const int xl = static_cast<int>(max->size());
      if (integer)
        Emit("\n\t if( igV[%d] > %.*s ) return NmsRunError(-%d,\"Arg:%d=%s > %.*s !\", igV[%d]); ",
             i, xl, max->data(), i, i, "%d", xl, max->data(), i);
      else
        Emit("\n\t if( igL[%d] > %.*s ) return NmsRunError(-%d,\"Arg:%d, len=%s > %.*s !\", "
             "igL[%d]); ",
             i, xl, max->data(), i, i, "%d", xl, max->data(), i);
      last = *max;
    }
  }
  return last;
}

void WriteVariableRead(int i, std::string_view limit) {
  const int ll = static_cast<int>(limit.size());
  Emit("\n\n\t igL[%d] = TarvGetVar4( agA[%d],igL[%d],agV[%d],1022);", i, i, i, i);
  Emit("\n\t if( igL[%d] < 0 ) return NmsRunError(-%d,\"Arg:%d, GetVar len=%s  < %.*s !\", "
       "igL[%d]); ",
       i, i, i, "%d", ll, limit.data(), i);
  Emit("\n\t memcpy( agA[%d],agV[%d],igL[%d]);", i, i, i);
  Emit("\n\t agA[%d][igL[%d]] = 0x00 ;", i, i);
  Emit("\n\t TarvDebugLog( \"L[%d]=%s,A[%d]=<%s>\",igL[%d],agA[%d]);", i, "%d", i, "%s", i, i);
}

}  // namespace

void EsCreateSourceInit() {
  sgSource.ArgCount = 0;
  sgSource.NextId = MAX_FUN;
}

int EsWriteSource() {
  const char* name = agA[0];
  const int len = igL[0];
  const int count = sgSource.ArgCount;
  Emit("\n/**************\n%d,%d,%d,%s,\"%s\",\n#define MAX_FUN = %d\n", sgSource.NextId, count,
       len, name, name, sgSource.NextId + 1);
  sgSource.NextId++;
  Emit("\nint %s( );\n**************/\n", name);
  Emit("\nint %s( )\n{\n\t sgRun.StepRunState = ENDOK;\n", name);
  Emit("\n\t return NmsRunError(-99,\"%s:This statement is not yet completed.\" ); ", name);
  Emit("\n\n\t TarvDebugLog(\"%s ,begin ...\" ); ", name);

  for (int i = 2; i <= count; i++) {
    const std::string_view word = Word(i);
    if (!word.starts_with('{')) continue;
    Emit("\r\n\r\n\t /* Arg:%d , %.*s */", i, static_cast<int>(word.size()), word.data());
    const std::string_view limit = WriteArgChecks(i, name);
    if (i > 2 && TarvMemFind4(agA[i - 1], igL[i - 1], "/var", 4) > 0) WriteVariableRead(i, limit);
  }

  // A "var" variant of a statement hands over to its "string" twin.
  char target[ARG_SIZE] = {};
  int targetLen = len;
  std::memcpy(target, name, len);
  if (TarvMemFind4(name, len, "_var_", 5) >= 0 &&
      TarvMemReplace6(target, &targetLen, "_var_", 5, "_string_", 8) > 0) {
    target[targetLen] = 0;
    Emit("\n\n\t TarvDebugLog( \"redirect call %s()\" );", target);
    Emit("\n\n\t return %s();", target);
  } else {
    Emit("\n\n\t return TarvReturn(0,\"%s return.\");", name);
  }
  Emit("\n}\n");
  return 0;
}

int EsCreateSource(int w) {
  TarvDebugLogEscaped("\n%s,len=%d,w:%d", agA[0], igL[0], w);
  if (w > sgSource.ArgCount) {
    const int before = std::max(igL[0], 1);
    CutName(before - 1);  // the trailing '_'
    for (int j = 1; j < igL[0]; j++)
      if (agA[0][j] == '.') agA[0][j] = '_';
    TarvDebugLogEscaped("\nEsCreateSource end w=%d,%s ", before, agA[0]);
    return EsWriteSource();
  }
  const std::string_view word = Word(w);
  if (word.starts_with('{')) {
    const char piece[] = {'a', WordDigit(w), '_'};
    AppendName({piece, sizeof piece});
    return EsCreateSource(w + 1);
  }
  if (word.starts_with('+')) {
    const int base = igL[0];
    for (int k = 2; auto f = Present(word, k); k++) {
      if (!MayContinue()) break;
      CutName(base);
      AppendName(*f);
      AppendName("_");
      EsCreateSource(w + 1);
    }
    return 0;
  }
  AppendName(word);
  AppendName("_");
  return EsCreateSource(w + 1);
}

namespace {

// Copies the pattern's words into the slots; false, after a run error, when
// they would not fit there or would build a name longer than its slot.
bool TakePattern(int first) {
  if (sgSource.ArgCount > SOURCE_MAX_WORDS) {
    NmsRunError(-(SOURCE_MAX_WORDS + 2), "tarv_createsource: %d words > %d !", sgSource.ArgCount,
                SOURCE_MAX_WORDS);
    return false;
  }
  for (int w = 1; w <= sgSource.ArgCount; w++) {
    const NmsWord& word = sgNms.Words[first + w];
    if (word.Length > SOURCE_MAX_TEXT) {
      NmsRunError(-(w + 1), "tarv_createsource: Length of word %d is :%d > %d !", w + 1,
                  word.Length, SOURCE_MAX_TEXT);
      return false;
    }
    std::memcpy(agA[w], WordText(first + w), word.Length);
    agA[w][word.Length] = 0;
    igL[w] = word.Length;
    TarvDebugLogEscaped("\ntarv_createsource: L:%d=%d,A:%d=<%s>", w, igL[w], w, agA[w]);
  }
  const int longest = LongestName(sgSource.ArgCount);
  if (longest > SOURCE_MAX_TEXT) {
    NmsRunError(-1, "tarv_createsource: Length of name is :%d > %d !", longest, SOURCE_MAX_TEXT);
    return false;
  }
  return true;
}

}  // namespace

int tarv_createsource() {
  HandlerBegin();
  for (int i = 0; i < ARG_SLOTS - 1; i++) igL[i] = 0;

  const int line = sgRun.CurLine;
  sgSource.ArgCount = sgNms.LineWords[line] - 1;
  if (TakePattern(sgNms.FirstWord[line])) {
    const int firstId = sgSource.NextId;
    gRefused = false;
    gTimedOut = false;
    gDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(sgRun.StepTimeout);
    CutName(0);
    EsCreateSource(1);
    // Handlers left out once the buffer refused still take their numbers,
    // as if each had been refused in turn.
    if (gRefused && !gTimedOut)
      sgSource.NextId = firstId + static_cast<int>(Combinations(
                                      sgSource.ArgCount, int64_t{INT32_MAX} - firstId));
    if (gTimedOut)
      NmsRunError(-1, "tarv_createsource: step.timeout %d seconds, the rest is left out!",
                  sgRun.StepTimeout);
  }
  // The generated text is for the author to save; the line itself never
  // counts as a statement that ran.
  return NmsRunError(-99, "tarv_createsource::This statement is not run in normal!");
}
