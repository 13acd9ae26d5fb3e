#include "engine/core/step_args.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/secret_words.h"
#include "engine/util/util.h"
#include "engine/core/var_store.h"
#include "engine/core/observer.h"

char agA[ARG_SLOTS][ARG_SIZE];
int32_t igL[ARG_SLOTS];
int32_t igV[ARG_SLOTS];
char agV[ARG_SLOTS][ARG_SIZE];

namespace {
// How an argument word of three bytes or more between its braces fills its
// slot, learnt at its first use: it stays so while the script does.
enum class WordFill : uint8_t {
  Unknown,
  Plain,    // no '~' and no '%': a copy
  OneVar,   // "~name~" and nothing else: the value of one variable
  Other,    // anything else: TarvReplaceVar
};
// The numbers of the variables a word names, in order, as far as found:
// a number stays right while the store's generation does.
constexpr int kWordVars = 4;
struct WordFillCache {
  WordFill fill;
  uint32_t generation;  // of the store when the numbers were found
  std::array<int32_t, kWordVars> var;  // 0 unknown
};
std::array<WordFillCache, WORD_RECORDS> gWordFill;

// The number of the word's n-th variable, named name, or -1 when there is
// none by that name.
int WordVar(WordFillCache& c, int n, const char* name, int nameLen) {
  if (c.generation != sgVar.Generation) {
    c.var.fill(0);
    c.generation = sgVar.Generation;
  }
  if (n < kWordVars && c.var[n] != 0) return c.var[n];
  const int found = TarvFindVar(name, nameLen);
  if (found > 0 && n < kWordVars) c.var[n] = found;
  return found;
}

WordFill FillOf(const char* src, int len) {
  // Escapes end one byte short of the room: such a word keeps its own way.
  if (len >= ARG_ROOM) return WordFill::Other;
  const char* tilde = static_cast<const char*>(std::memchr(src, '~', len));
  if (tilde == nullptr)
    return std::memchr(src, '%', len) == nullptr ? WordFill::Plain : WordFill::Other;
  if (tilde == src && src[len - 1] == '~' && std::memchr(src + 1, '~', len - 2) == nullptr)
    return WordFill::OneVar;
  return WordFill::Other;
}

// TarvReplaceVar of "~name~" when the debug level is off and the variable
// exists with a value that fits: its value.  -1 for anything else, which
// TarvReplaceVar then does (nothing was changed yet).
int FillOneVar(const char* src, int len, char* dest, WordFillCache& c) {
  const char* name = src + 1;
  const int nameLen = len - 2;
  const int i = WordVar(c, 0, name, nameLen);
  if (i < 0) return -1;
  const int vl = sgVar.ValLen[i];
  if (vl >= ARG_ROOM) return -1;
  TarvGetVarAt(i, name, nameLen, dest, ARG_ROOM);
  dest[vl] = 0;
  return vl;
}
}  // namespace

void StepArgsForgetWords() { gWordFill.fill({}); }

void StepArgsClear() {
  StepArgsForgetWords();
  std::memset(agA, 0, sizeof agA);
  std::memset(igL, 0, sizeof igL);
  std::memset(igV, 0, sizeof igV);
  std::memset(agV, 0, sizeof agV);
}

namespace {
// A bounded text under construction; what does not fit is left out.
struct Builder {
  char* buf;
  int room;  // bytes that may hold text (the NUL comes after)
  int len = 0;
  bool full = false;  // something was cut: nothing more goes in

  // A piece that does not fit is cut on a whole UTF-8 character.
  void Add(const char* s, int n) {
    if (full) return;
    if (n > room - len) {
      n = Utf8CutLength(s, n, room - len);
      full = true;
    }
    if (n > 0) {
      std::memcpy(buf + len, s, n);
      len += n;
    }
    buf[len] = 0;
  }
  void Add(const char* s) { Add(s, static_cast<int>(std::strlen(s))); }
  // Script words and values are data: they must not become markup.  The
  // bytes between entities go in as one piece, so that a cut among them
  // falls between characters.
  void AddEscaped(const char* s, int n) {
    int run = 0;
    for (int i = 0; i < n; i++) {
      const std::string_view e = HtmlEntity(s[i]);
      if (e.empty()) continue;
      Add(s + run, i - run);
      Add(e.data(), static_cast<int>(e.size()));
      run = i + 1;
    }
    Add(s + run, n - run);
  }
  void Printf(const char* fmt, int v) {
    char tmp[64];
    int n = std::snprintf(tmp, sizeof tmp, fmt, v);
    Add(tmp, n);
  }
};

}  // namespace

int EsDecodeEscapes(const char* src, int len, char* dest, int room) {
  int out = 0;
  int last = 0;  // value of the last escape decoded in this call
  for (int i = 0; i < len; i++) {
    char c = src[i];
    if (c == '%') {
      // Only bytes of the source are read, even for a '%' at its end.
      int avail = len - i - 1 < 2 ? len - i - 1 : 2;
      int v = TarvHexPair(src + i + 1, avail);
      if (v >= 0) last = v;
      c = static_cast<char>(last);
      i += avail;
    }
    dest[out++] = c;
    if (out >= room) return -1;
  }
  dest[out] = 0;
  return out;
}

namespace {
// TarvReplaceVar, with the numbers of the variables named kept in cache
// when there is one; a secret word's value and the values it is made of are
// traced masked.
int ReplaceVar(const char* src, int len, char* dest, int room, WordFillCache* cache, bool secret) {
  int marks[ARG_SIZE];
  int count = 0;
  for (int i = 0; i < len && count < ARG_SIZE; i++)
    if (src[i] == '~') marks[count++] = i;
  if (count == 0) return EsDecodeEscapes(src, len, dest, room);
  for (int k = 0; k < count; k++) TarvDebugLog("\n var flag (~): p[%d] = %d;", k + 1, marks[k]);

  int L = 0;
  dest[0] = 0;
  for (int k = 1; k <= count; k++) {
    int from = k == 1 ? 0 : marks[k - 2] + 1;
    int n = marks[k - 1] - from;
    if (k % 2 == 1) {
      if (n <= 0) continue;
      int r = room - L > 0 ? EsDecodeEscapes(src + from, n, dest + L, room - L) : -1;
      if (r < 0) {
        HtmlLogWarning("p[%d]=%d Error1", k, marks[k - 1]);
        sgRun.ArgSubErrors++;
        dest[L] = 0;
      } else {
        L += r;
      }
      continue;
    }
    if (n == 0) {
      HtmlLogWarning("p[%d]=%d Error3", k, marks[k - 2]);
      dest[L] = 0;
      return -1;
    }
    char name[ARG_SIZE];
    int nameLen = n < ARG_SIZE - 1 ? n : ARG_SIZE - 1;
    std::memcpy(name, src + from, nameLen);
    name[nameLen] = 0;
    char value[ARG_SIZE];
    int vl;
    if (cache == nullptr) {
      vl = TarvGetVar4(name, nameLen, value, ARG_ROOM, secret);
    } else {
      const int i = WordVar(*cache, k / 2 - 1, name, nameLen);
      vl = i > 0 ? TarvGetVarAt(i, name, nameLen, value, ARG_ROOM, secret)
                 : TarvGetVar4(name, nameLen, value, ARG_ROOM, secret);
    }
    if (vl < 0) {
      sgRun.ArgSubErrors++;
      NmsRunError(-3, "var [%s] not exist!", name);
    } else if (vl == 0) {
      TarvDebugLogEscaped("\nvar [%s] length=0", name);
    } else if (L + vl >= room) {
      // The value would not fit the slot: the argument fails instead of
      // running past it.
      HtmlLogWarning("p[%d]=%d Error2", k, marks[k - 1]);
      sgRun.ArgSubErrors++;
    } else {
      std::memcpy(dest + L, value, vl);
      L += vl;
    }
    dest[L] = 0;
  }
  int tail = marks[count - 1] + 1;
  if (tail < len) {
    int r = room - L > 0 ? EsDecodeEscapes(src + tail, len - tail, dest + L, room - L) : -1;
    if (r < 0) {
      HtmlLogWarning("p[%d]=%d Error1", count + 1, marks[count - 1]);
      sgRun.ArgSubErrors++;
    } else {
      L += r;
    }
  }
  dest[L] = 0;
  if (TarvLogLevel() < 4) return L;
  std::string masked;
  const std::string_view shown = secret ? kMaskedValue : UrlSecretsMasked({dest, static_cast<size_t>(L)}, masked);
  return TarvReturn(L, "TarvReplaceVar:=<%.*s>,l=%d.", static_cast<int>(shown.size()), shown.data(), L);
}
}  // namespace

int TarvReplaceVar(const char* src, int len, char* dest, int room) {
  return ReplaceVar(src, len, dest, room, nullptr, false);
}

namespace {
// Fills slot i from argument word w (its text and length with the braces):
// the value's length, or a negative code.
int FillSlot(int i, int w, const char* word, int wl) {
  const int n = wl - 2;
  int result;
  if (n > ARG_ROOM) {
    result = -2;
  } else if (n < 0) {
    result = NmsRunError(-2, "run:CurStepGetArg Len=<%d> < 0 Err!", n);
  } else if (n < 3) {
    TarvCopyBytes(agA[i], word + 1, n);
    agA[i][n] = 0;
    result = n;
  } else {
    WordFillCache& c = gWordFill[w];
    if (c.fill == WordFill::Unknown) c.fill = FillOf(word + 1, n);
    result = -1;
    if (c.fill == WordFill::Plain) {
      TarvCopyBytes(agA[i], word + 1, n);
      agA[i][n] = 0;
      result = n;
    } else if (c.fill == WordFill::OneVar && TarvLogLevel() < 4) {
      result = FillOneVar(word + 1, n, agA[i], c);
    }
    if (result < 0) {
      // Only the debug traces show what a word is made of.
      const bool secret = TarvLogLevel() >= 4 && WordHoldsSecret(w);
      result = ReplaceVar(word + 1, n, agA[i], ARG_ROOM, &c, secret);
    }
  }
  return result;
}

void ClearStep() {
  sgRun.StepRunState = 0;
  sgRun.StepErrors = 0;
  sgRun.ArgErrors = 0;
  for (int i = 0; i <= 18; i++) igL[i] = -1;
}

// A slot that failed: counted, and reported as a run error.
void SlotFailed(int line, int i) {
  sgRun.ArgErrors++;
  if (ScreenActive()) ScreenPrintf("\r\n    Arg No. [%d],  Errors=[%d]", i, sgRun.ArgSubErrors);
  NmsRunError(-2, "Line:%d,Get Arg:%d Error!", line, i);
}

// EsPrepareStep when neither the log nor the screen shows the step.
[[gnu::noinline]] int PrepareQuietly(int L, int m, int first) {
  ClearStep();
  const int last = m < ARG_SLOTS - 1 ? m : ARG_SLOTS - 1;
  for (int i = 1; i <= last; i++) {
    const int w = first + i - 1;
    const char* word = WordText(w);
    if (word[0] != '{') continue;
    sgRun.ArgSubErrors = 0;
    const int result = FillSlot(i, w, word, sgNms.Words[w].Length);
    igL[i] = result;
    if (result >= 0 && sgRun.ArgSubErrors == 0)
      agA[i][result] = 0;
    else
      SlotFailed(L, i);
  }
  return -sgRun.ArgErrors;
}
}  // namespace

namespace {
// EsPrepareStep when the log or the screen shows the step.
[[gnu::noinline]] int PrepareReported(int L, int m, int first) {
  const bool report = true;

  char text[1024];
  char row[2048];
  Builder st{text, 1023};
  Builder rw{row, 2047};
  if (report) {
    st.Printf("Line No. %03d : ", L);
    std::string room;
    for (int i = 1; i <= m; i++) {
      const std::string_view shown = ShownWord(first + i - 1, room);
      st.Add(shown.data(), static_cast<int>(shown.size()));
      st.Add(" ", 1);
    }
    HtmlLogStep(text);
    rw.Printf("<table><tr><td>line No. %03d</td>\r\n\t", L);
    for (int i = 1; i <= m; i++) {
      rw.Add("<td>");
      const std::string_view shown = ShownWord(first + i - 1, room);
      rw.AddEscaped(shown.data(), static_cast<int>(shown.size()));
      rw.Add("</td>");
    }
    rw.Add("</tr>");
    if (ScreenActive()) {
      ScreenBanner(text, st.len);
      ScreenPrintf("\r\n");
      ScreenLog(text, st.len);
      ScreenPrintf("\r\n");
    }
    rw.Add("<tr><td>Get All Arg:</td>\r\n\t");
  }

  ClearStep();
  for (int i = 1; i <= m; i++) {
    const int w = first + i - 1;
    const char* word = WordText(w);
    const int wl = sgNms.Words[w].Length;
    if (report) rw.Add("<td ");
    sgRun.ArgSubErrors = 0;
    // Slots hold positions 1..19; longer lines match no statement anyway.
    // An argument word broken by a brace error is kept with a length shorter
    // than its braces: it fails like any other bad argument.
    if (word[0] == '{' && i < ARG_SLOTS) {
      const int result = FillSlot(i, w, word, wl);
      igL[i] = result;
      if (result >= 0 && sgRun.ArgSubErrors == 0) {
        std::string room;
        const std::string_view shown =
            SecretWord(w) ? kMaskedValue : UrlSecretsMasked({agA[i], static_cast<size_t>(result)}, room);
        if (report) {
          rw.Add("class=\"tarv_green\"> ");
          rw.AddEscaped(shown.data(), static_cast<int>(shown.size()));
        }
        agA[i][result] = 0;
        if (ScreenActive())
          ScreenPrintf("\r\n    Arg No. [%d], length=[%d], value=[%.*s]", i, result,
                       static_cast<int>(shown.size()), shown.data());
      } else {
        if (report) rw.Add("class=\"tarv_red\"> ");
        SlotFailed(L, i);
      }
    } else if (report) {
      rw.Add(" > ");
      rw.AddEscaped(word, wl);
    }
    if (report) rw.Add("</td>");
  }
  if (report) {
    rw.Add("</tr></table>");
    // A value may hold NUL bytes: the row goes out by its length.
    if (sgRun.ArgErrors > 0)
      HtmlLogErrorBytes(row, rw.len);
    else
      HtmlLogSuccessBytes(row, rw.len);
  }
  return -sgRun.ArgErrors;
}
}  // namespace

int EsPrepareStep() {
  const int L = sgRun.CurLine;
  const int m = sgNms.LineWords[L];
  const int first = sgNms.FirstWord[L];
  // Nothing of the report is formatted when no one will see it.
  if (sgLog.LogLevel >= 1 || ScreenActive()) return PrepareReported(L, m, first);
  return PrepareQuietly(L, m, first);
}

int EsGetArg(int w, char* dest, int room) {
  if (w < 1 || w > sgNms.WordCount) return NmsError(-1, "run:EsGetArg w<%d> not begin whith [", w);
  const char* word = WordText(w);
  int n = sgNms.Words[w].Length - 2;
  if (n > room) return -2;
  if (word[0] != '{') return NmsError(-1, "run:EsGetArg w<%d> not begin whith [", w);
  if (n < 0) return NmsRunError(-2, "run:EsGetArg Len=<%d> < 0 Err!", n);
  const bool secret = TarvLogLevel() >= 4 && SecretWord(w);
  if (secret) {
    TarvDebugLog("\nEsGetArg:%d,={%s},l=%d. ", w, kMaskedValue.data(), n);
  } else if (TarvLogLevel() >= 4) {
    std::string room;
    const std::string_view shown = UrlSecretsMasked({word + 1, static_cast<size_t>(n)}, room);
    TarvDebugLogEscaped("\nEsGetArg:%d,={%.*s},l=%d. ", w, static_cast<int>(shown.size()),
                        shown.data(), n);
  }
  if (n < 3) {
    std::memcpy(dest, word + 1, n);
    if (n < room) dest[n] = 0;
    return n;
  }
  return ReplaceVar(word + 1, n, dest, room, nullptr, secret || (TarvLogLevel() >= 4 && WordHoldsSecret(w)));
}

namespace {
int ArgEquals(int w, const char* text, int len, const char* okFmt) {
  // Filled and ended with a NUL by EsGetArg whenever its length is returned.
  char value[ARG_SIZE];
  value[0] = 0;
  int r = EsGetArg(w, value, ARG_SIZE - 2);
  if (r != len) return -1;
  if (std::memcmp(value, text, len) != 0) return -2;
  return TarvReturn(0, okFmt, value);
}

int KeyEquals(int w, const char* text, int len) {
  if (sgNms.Words[w].Length != len) return -2;
  if (!TarvSameBytes(WordText(w), text, len)) return -3;
  return 0;
}
}  // namespace

int CurStepIsArg3(int n, const char* text, int len) {
  return ArgEquals(sgNms.FirstWord[sgRun.CurLine] + n - 1, text, len, "CurStepIsArg ==<%s>Ok");
}

int EsIsArg3(int w, const char* text, int len) {
  return ArgEquals(w, text, len, "EsIsArg3 ==<%s>Ok");
}

int CurStepIsKey3(int n, const char* text, int len) {
  int w = sgNms.FirstWord[sgRun.CurLine] + n - 1;
  if (w < 0 || w > sgNms.WordCount)
    return TarvReturn(-1, "CurStepIsKey3(w<%d>) not int [0-%d]", w, sgNms.WordCount);
  int r = KeyEquals(w, text, len);
  if (r == 0) TarvDebugLog("\n\r\nCurStepIsKey w:%d <%.*s> l:%d", w, len, text, len);
  return r;
}

int EsStepIsKey2(int line, const char* key) {
  if (line < 1 || line > MAX_LINES) return TarvReturn(-1, "EsStepIsKey2(w<%d>) not int [0-%d]", 0, sgNms.WordCount);
  int w = sgNms.FirstWord[line];
  if (w < 0 || w > sgNms.WordCount)
    return TarvReturn(-1, "EsStepIsKey2(w<%d>) not int [0-%d]", w, sgNms.WordCount);
  int r = KeyEquals(w, key, static_cast<int>(std::strlen(key)));
  if (r == 0) return TarvReturn(0, "\nEsStepIsKey2( Line:%d <%s> )", line, key);
  return r;
}
