// Statements that copy parts of the selected text into variables.  They read
// the text buffer and never change it or its pointers.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/core/handlers.h"
#include "engine/log/hex_dump.h"
#include "engine/statements/arg_checks.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/text_buffer.h"
#include "engine/util/util.h"
#include "engine/core/var_store.h"
#include "engine/core/handler.h"

namespace {
const char* At(int64_t pos) { return sgRun.Text.data() + pos; }

// Of `want` bytes from position `from`, those that lie within the text.  The
// tail may stand beyond the text's end, where only stale bytes (or nothing of
// the array) remain.
int WithinText(int64_t from, int64_t want) {
  return static_cast<int>(std::clamp<int64_t>(sgRun.TextLen + int64_t{1} - from, 0, want));
}

// Offset of the first occurrence of argument word w among `span` bytes from
// the head, or -1.
int FindInSelection(int64_t span, int w) {
  const int len = WithinText(sgRun.headPointer, span);
  if (len < igL[w]) return -1;
  const int p = TarvMemFind4(At(sgRun.headPointer), len, agA[w], igL[w]);
  return p >= 0 ? p : -1;
}

int SetVarFromText(int64_t from, int len) {
  // A value of no bytes must not point past the array when `from` does.
  const char* value = len > 0 ? At(from) : "";
  if (TarvSetVar4(agA[3], igL[3], value, len) != 0)
    return NmsRunError(-9, "TarvSetVar4, len=%d, error!", len);
  return 0;
}

// Words and fields longer than 1024 bytes are cut to 1022; one of exactly
// 1023 or 1024 bytes goes to the store whole (which refuses 1024).
int StoredLength(int64_t len) { return len > 1024 ? 1022 : static_cast<int>(len); }

int SetWord(int index, const char* bytes, int len) {
  char name[62];
  const int n = std::snprintf(name, sizeof name, "word.%d", index);
  if (TarvSetVar4(name, n, len > 0 ? bytes : "", len) != 0)
    return NmsRunError(-9, "TarvSetVar4, len=%d, error!", len);
  return 0;
}

// Calls `word` for each word of the n bytes at buf, in order, with its number
// from 1, until it returns non-zero; returns that value, or 0 after the last
// word with the count of words in *count.
template <typename F>
int ForEachWord(const char* buf, int n, int* count, F&& word) {
  char dest[1025];
  int used = 0;
  int index = 0;
  while (used < n) {
    int wl = 0;
    const int r = TarvGetFirstWord4(buf + used, n - used, dest, &wl);
    TarvDebugLog("\n\tTarvGetFirstWord4 ret UsedBytes=%d,allUsed=%d,index=%d", r, used, index);
    if (wl <= 0 || r <= 0) break;
    index++;
    if (int stop = word(index, dest, StoredLength(wl))) {
      *count = index;
      return stop;
    }
    used += r;
  }
  *count = index;
  return 0;
}
}  // namespace

int text_get_var_a3_after_a5_bytes_length_a8() {
  HandlerBegin();
  if (int r = ArgCheckLength(3, 63, -3)) return r;
  if (int r = ArgCheckInteger(5)) return r;
  if (igV[5] > 1022) return NmsRunError(-5, "Arg:5=%d > 1022 !", igV[5]);
  if (int r = ArgCheckInteger(8)) return r;
  if (igV[8] > 1022) return NmsRunError(-8, "Arg:8=%d > 1022 !", igV[8]);
  const int64_t span = int64_t{sgRun.tailPointer} - sgRun.headPointer;
  const int need = igV[5] + igV[8];
  if (span < need) return NmsRunError(-8, "文本选中区域len=%d <%d!", static_cast<int>(span), need);
  const int64_t from = int64_t{sgRun.headPointer} + igV[5];
  if (int r = SetVarFromText(from, WithinText(from, igV[8]))) return r;
  return TarvReturn(0, "text_get_var_a3_after_a5_bytes_length_a8 return.");
}

int text_get_var_a3_after_a5_length_a7() {
  HandlerBegin();
  if (int r = ArgCheckLength(3, 63, -3)) return r;
  if (int r = ArgCheckLength(5, 1022, -5)) return r;
  if (int r = ArgCheckInteger(7)) return r;
  if (igV[7] > 1022) return NmsRunError(-7, "Arg:7=%d > 1022 !", igV[7]);
  const int64_t span = int64_t{sgRun.tailPointer} - sgRun.headPointer;
  const int need = igV[7] + igL[5];
  if (span < need) return NmsRunError(-8, "文本选中区域len=%d <%d!", static_cast<int>(span), need);
  const int p = FindInSelection(span, 5);
  if (p < 0) return NmsRunError(-5, "Length of Arg 5 is :%d, Not Found !", igL[5]);
  // The bytes after the occurrence may reach beyond the tail, never beyond
  // the text.
  const int64_t from = int64_t{sgRun.headPointer} + p + igL[5];
  if (int r = SetVarFromText(from, WithinText(from, igV[7]))) return r;
  return TarvReturn(0, "text_get_var_a3_after_a5_length_a7 return.");
}

int text_get_var_a3_between_a5_and_a7() {
  HandlerBegin();
  if (int r = ArgCheckLength(3, 63, -3)) return r;
  if (int r = ArgCheckLength(5, 1022, -5)) return r;
  if (int r = ArgCheckLength(7, 1022, -7)) return r;
  const int64_t span = int64_t{sgRun.tailPointer} - sgRun.headPointer;
  const int need = igL[5] + igL[7];
  if (span < need) return NmsRunError(-8, "文本选中区域len=%d <%d!", static_cast<int>(span), need);
  const int p = FindInSelection(span, 5);
  if (p < 0) return NmsRunError(-5, "Length of Arg 5 is :%d, Not Found !", igL[5]);
  const int64_t from = int64_t{sgRun.headPointer} + p + igL[5];
  // The end flag is searched in what follows, up to the byte before the tail.
  const int rest = WithinText(from, span - p - igL[5]);
  const int q = rest < igL[7] ? -1 : TarvMemFind4(At(from), rest, agA[7], igL[7]);
  if (q < 0) return NmsRunError(-7, "Length of Arg 7 is :%d, Not Found !", igL[7]);
  if (q > 1022)
    return NmsRunError(-7, "text_get_var_a3_between_a5_and_a7 len=%d-%d=%d > 1022 !",
                       static_cast<int>(from + q), static_cast<int>(from), q);
  if (int r = SetVarFromText(from, q)) return r;
  return TarvReturn(0, "text_get_var_a3_between_a5_and_a7 return.");
}

int text_get_var_a3_word_number_a6() {
  HandlerBegin();
  if (int r = ArgCheckLength(3, 62, -3)) return r;
  if (int r = ArgCheckRange(6, 1, 1024)) return r;
  if (!TextSelectionInText())
    return NmsRunError(-9, "text.getvar: TextLen=%d, text.headpointer=[%d],tailpointer=%d, Error!",
                       sgRun.TextLen, sgRun.headPointer, sgRun.tailPointer);
  const int wanted = igV[6];
  int count = 0;
  const int r = ForEachWord(At(sgRun.headPointer), sgRun.tailPointer - sgRun.headPointer + 1,
                            &count, [wanted](int index, const char* word, int len) {
                              if (index < wanted) return 0;
                              if (TarvSetVar4(agA[3], igL[3], word, len) != 0)
                                return NmsRunError(-9, "TarvSetVar4, len=%d, error!", len);
                              return 1;
                            });
  if (r == 1) return TarvReturn(0, "text_get_var_a3_word_number_a6 return.");
  if (r != 0) return r;
  return NmsRunError(-9, "text_get_var_a3_word_number_a6 return. error!");
}

int text_line_get_all_words() {
  HandlerBegin();
  if (!TextSelectionInText())
    return NmsRunError(-9, "text.getvars: TextLen=%d, text.headpointer=[%d],tailpointer=%d, Error!",
                       sgRun.TextLen, sgRun.headPointer, sgRun.tailPointer);
  const char* line = At(sgRun.headPointer);
  const int n = sgRun.tailPointer - sgRun.headPointer + 1;
  const void* lf = std::memchr(line, '\n', n);
  const int len = lf ? static_cast<int>(static_cast<const char*>(lf) - line) + 1 : n;
  if (sgLog.LogLevel >= 4) HexLog(line, len);
  int count = 0;
  if (int r = ForEachWord(line, len, &count, SetWord)) return r;
  if (TarvSetVarInt2("word.count", count) != 0)
    return NmsRunError(-9, "TarvSetVar4, word.count, error!");
  return 0;
}

int text_line_get_all_words_between_a6_and_a8_separated_by_a11() {
  HandlerBegin();
  if (TarvSetVar2("word.count", "0") != 0) return NmsRunError(-9, "TarvSetVar4, word.count, error!");
  if (int r = ArgCheckLength(6, 1020, -10)) return r;
  if (int r = ArgCheckLength(8, 1020, -13)) return r;
  if (igL[11] > 1020) return NmsRunError(-16, "Arg:16, len=%d > 1020 !", igL[11]);
  const int textLen = sgRun.TextLen;
  const int head = sgRun.headPointer;
  const int tail = sgRun.tailPointer;
  if (!TextSelectionInText())
    return NmsRunError(-19, "text.getvars: TextLen=%d, text.headpointer=[%d],tailpointer=%d, Error!",
                       textLen, head, tail);
  const int startLen = igL[6];
  const int endLen = igL[8];
  const int sepLen = std::max(igL[11], 0);
  const int n = tail - head + 1;
  if (n <= startLen)
    return NmsRunError(-20,
                       "text.getvars: TextLen=%d, text.headpointer=[%d],tailpointer=%d,line start "
                       "flag length=%d,too big, Error!",
                       textLen, head, tail, startLen);
  if (n <= endLen)
    return NmsRunError(-20,
                       "text.getvars: TextLen=%d, text.headpointer=[%d],tailpointer=%d,line end "
                       "flag length=%d,too big, Error!",
                       textLen, head, tail, endLen);
  if (n <= sepLen)
    return NmsRunError(-20,
                       "text.getvars: TextLen=%d, text.headpointer=[%d],tailpointer=%d,var "
                       "separator  flag length=%d,too big, Error!",
                       textLen, head, tail, sepLen);

  // The start flag stands somewhere in head .. tail - 1.
  const int p = TarvMemFind4(At(head), tail - head, agA[6], startLen);
  const int begin = p >= 0 ? head + p + startLen : 0;
  TarvDebugLog(
      "\ntext.getvars: TextLen=%d, text.headpointer=[%d],tailpointer=%d,line start flag "
      "length=%d, StartByte=%d",
      textLen, head, tail, startLen, begin);
  if (p < 0)
    return NmsRunError(-20,
                       "text.getvars: TextLen=%d, text.headpointer=[%d],tailpointer=%d,line start "
                       "flag length=%d,Not Found Error!",
                       textLen, head, tail, startLen);
  // The end flag is looked for from one byte after the fields' start, so an
  // end flag right after the start flag is not seen there.
  const int endSpan = tail - begin - 1;
  const int q = endSpan < endLen ? -1 : TarvMemFind4(At(begin + 1), endSpan, agA[8], endLen);
  const int end = q >= 0 ? begin + 1 + q : 0;
  TarvDebugLog(
      "\ntext.getvars: TextLen=%d, text.headpointer=[%d],tailpointer=%d,line end flag "
      "length=%d, EndByte=%d",
      textLen, head, tail, endLen, end);
  if (q < 0)
    return NmsRunError(-20,
                       "text.getvars: TextLen=%d, text.headpointer=[%d],tailpointer=%d,line end "
                       "flag length=%d,Not Found Error!",
                       textLen, head, tail, endLen);

  // A separator may straddle the end flag, but must lie within the text.
  const char* sep = agA[11];
  auto sepAt = [&](int pos) {
    return sepLen == 0 ||
           (pos + sepLen - 1 <= textLen && std::memcmp(At(pos), sep, sepLen) == 0);
  };
  int count = 0;
  for (int s = begin, pos = begin; pos <= end;) {
    if (pos == end || sepAt(pos)) {
      count++;
      if (int r = SetWord(count, At(s), StoredLength(pos - s))) return r;
      s = pos + sepLen;
      pos = s + 1;
    } else {
      pos++;
    }
  }
  if (TarvSetVarInt2("word.count", count) != 0)
    return NmsRunError(-9, "TarvSetVar4, word.count, error!");
  return TarvReturn(0, "text_line_get_all_words_between_a6_and_a8_separated_by_a11 return.");
}
