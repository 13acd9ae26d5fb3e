// Text statements that add to, replace in, save and cut back the text buffer.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/core/handlers.h"
#include "engine/statements/arg_checks.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/text_buffer.h"
#include "engine/util/util.h"
#include "engine/core/handler.h"
#include "platform/target_file.h"

namespace {
constexpr int kFileTextLimit = 4194264;  // text.add from file fills the text up to here
constexpr int kReplaceLimit = TEXT_SIZE;   // text.replace keeps the text below this

// --- text.replace ----------------------------------------------------------
//
// The statement is defined as a left-to-right scan that, at every match,
// moves the rest of the text by the difference in length and goes on behind
// the inserted text, up to the tail moved by the same difference.  Done that
// way, a one-byte pattern over megabytes costs one move of the whole rest per
// match.  Counted in the positions of the text before the replacement, the
// scan is simply: the non-overlapping occurrences that start between the
// head and the old tail.  That lets each byte move once:
//   - shorter replacements compact the text in one forward pass;
//   - longer ones first shift the rest of the text right by the total growth,
//     then fill the gap from the front in one forward pass.
// Besides the text, the bytes a shrinking move leaves behind the new end are
// reproduced as well, since pointers beyond the text can reach them.

struct Replace {
  char* t;           // sgRun.Text
  std::string_view key;
  std::string_view rep;
  int64_t last;      // the last old position where a match may start
};

// First match at an old position in [from, r.last], reading the text shifted
// right by `shift`; -1 when there is none.
int64_t NextMatch(const Replace& r, int64_t from, int64_t shift) {
  if (from > r.last) return -1;
  const std::string_view hay(r.t + from + shift,
                             static_cast<size_t>(r.last - from) + r.key.size());
  const size_t at = hay.find(r.key);
  return at == std::string_view::npos ? -1 : from + static_cast<int64_t>(at);
}

void LogMatch(int64_t newPos) {
  if (sgLog.LogLevel >= 4)
    TarvDebugLog("\ntext_replace_a2_with_a4 Found i=%d , begin to replace ......",
                 static_cast<int>(newPos));
}

// Same-length replacement: no byte moves.
int64_t ReplaceInPlace(const Replace& r, int64_t first) {
  int64_t count = 0;
  for (int64_t j = first; j >= 0; j = NextMatch(r, j + r.key.size(), 0)) {
    LogMatch(j);
    std::memcpy(r.t + j, r.rep.data(), r.rep.size());
    count++;
  }
  return count;
}

int64_t ReplaceShrinking(const Replace& r, int64_t first, int64_t len0) {
  const int64_t k = static_cast<int64_t>(r.key.size());
  const int64_t d = k - static_cast<int64_t>(r.rep.size());
  // Each move of the original leaves the last d bytes of the text behind the
  // new end; those are always the old text's last d bytes, since a match
  // never reaches closer than k > d bytes to the end.
  char lastBytes[ARG_SIZE];
  std::memcpy(lastBytes, r.t + len0 - d + 1, d);

  int64_t rd = first;
  int64_t wr = first;
  int64_t count = 0;
  for (int64_t j = first; j >= 0; j = NextMatch(r, rd, 0)) {
    std::memmove(r.t + wr, r.t + rd, j - rd);
    wr += j - rd;
    LogMatch(wr);
    std::memcpy(r.t + wr, r.rep.data(), r.rep.size());
    wr += r.rep.size();
    rd = j + k;
    count++;
  }
  std::memmove(r.t + wr, r.t + rd, len0 + 1 - rd);
  const int64_t newLen = len0 - count * d;
  for (int64_t p = newLen + 1; p <= len0; p += d) std::memcpy(r.t + p, lastBytes, d);
  return count;
}

// Returns the matches replaced; *refused is the old position of the match
// that the size limit stopped, or -1.
int64_t ReplaceGrowing(const Replace& r, int64_t first, int64_t len0, int64_t* refused) {
  const int64_t k = static_cast<int64_t>(r.key.size());
  const int64_t g = static_cast<int64_t>(r.rep.size()) - k;
  const int64_t allowed = (kReplaceLimit - 1 - len0) / g;

  int64_t count = 0;
  *refused = -1;
  for (int64_t j = first; j >= 0; j = NextMatch(r, j + k, 0)) {
    if (count == allowed) {
      *refused = j;
      break;
    }
    count++;
  }
  if (count == 0) return 0;

  const int64_t shift = count * g;
  std::memmove(r.t + first + shift, r.t + first, len0 + 1 - first);
  int64_t rd = first;  // old position; its byte now stands at rd + shift
  int64_t wr = first;
  for (int64_t m = 0; m < count; m++) {
    const int64_t j = m == 0 ? first : NextMatch(r, rd, shift);
    std::memmove(r.t + wr, r.t + rd + shift, j - rd);
    wr += j - rd;
    LogMatch(wr);
    std::memcpy(r.t + wr, r.rep.data(), r.rep.size());
    wr += r.rep.size();
    rd = j + k;
  }
  // The rest of the text already stands where the shift put it.
  return count;
}
}  // namespace

int text_add_a2() {
  HandlerBegin();
  if (int r = ArgCheckLength(2, 1022, -2)) return r;
  // A refused append has been reported by TextAdd already.
  TextAdd(agA[2], igL[2]);
  return TarvReturn(0, "text_add_a2 return.");
}

int text_add_from_file_a4() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\ntext_add_from_file_a4  ,begin ...");
  if (int r = ArgCheckLength(4, 450, -4)) return r;
  // text.replace may have grown the text past this statement's own limit.
  const int room = std::max(kFileTextLimit - sgRun.TextLen, 0);
  int64_t fileBytes = 0;
  const int n = TarvReadFileSized(agA[4], sgRun.Text.data() + sgRun.TextLen + 1, room, &fileBytes);
  // What fits is kept; a file cut to fit is no success.
  if (n >= 0 && fileBytes > n) {
    sgRun.TextLen += std::max(n, 0);
    if (fileBytes == INT64_MAX)
      return NmsRunError(-1,
                         "text_add_from_file_a4 : kept=[%d] bytes of file [%s], which holds more: the text is full!",
                         n, agA[4]);
    return NmsRunError(-1, "text_add_from_file_a4 : kept=[%d] of [%lld] bytes of file [%s]: the text is full!", n,
                       static_cast<long long>(fileBytes), agA[4]);
  }
  if (n < 1) return NmsRunError(n, "text_add_from_file_a4 : ret<=0.");
  sgRun.TextLen += n;
  return TarvReturn(n, "text_add_from_file_a4  ok.");
}

int text_show_a2_size_a4_align_a6() {
  HandlerBegin();
  if (int r = ArgCheckLength(2, 1022, -2)) return r;
  if (int r = ArgCheckInteger(4)) return r;
  const int w = igV[4];
  const int len = igL[2];
  if (w > 1022) return NmsRunError(-4, "Arg:4=%d > 1022 !", w);
  if (w == 0 || w == len) return TextAdd(agA[2], len);
  if (w < len)
    return NmsRunError(-4, "text_show_a2_size_a4_align_a6->size %d < length of A:2 %d!", w, len);

  // Laid out in the slot of word 6, then kept in the slot of word 2 as well.
  char* out = agA[6];
  if (!ArgAlignInto(6, agA[2], len, w - len, out))
    return NmsRunError(-6, "text_show_a2_size_a4_align_a6->A:6(%s) is not support!", agA[6]);
  out[w] = 0;
  std::memcpy(agA[2], out, w + 1);
  igL[2] = w;
  return TextAdd(agA[2], w);
}

int text_replace_a2_with_a4() {
  HandlerBegin();
  if (int r = ArgCheckLength(2, 1022, -2)) return r;
  if (int r = ArgCheckLength(4, 1022, -4)) return r;
  const int k = igL[2];
  const int rl = igL[4];
  const int64_t head = sgRun.headPointer;
  const int64_t tail = sgRun.tailPointer;
  if (tail - head + 1 < k)
    return NmsRunError(-8, "文本选中区域len=%d <%d!", static_cast<int>(tail - head), k);

  const int64_t len0 = sgRun.TextLen;
  // Text[0] is no byte of the text and is never written, so a match starts
  // at byte 1 at the earliest; and a match must lie wholly within the text,
  // whatever the tail says about bytes behind it.
  Replace r{sgRun.Text.data(), {agA[2], static_cast<size_t>(k)}, {agA[4], static_cast<size_t>(rl)},
            std::min(tail, len0 - k + 1)};
  const int64_t first = NextMatch(r, std::max<int64_t>(head, 1), 0);
  if (first < 0) return TarvReturn(0, "text_replace_a2_with_a4 return.");

  int64_t count;
  int64_t refused = -1;
  TextMarkEdited(first);
  if (rl == k)
    count = ReplaceInPlace(r, first);
  else if (rl < k)
    count = ReplaceShrinking(r, first, len0);
  else
    count = ReplaceGrowing(r, first, len0, &refused);

  const int64_t grown = count * (rl - k);
  sgRun.TextLen = static_cast<int32_t>(len0 + grown);
  sgRun.tailPointer = static_cast<int32_t>(tail + grown);
  if (refused >= 0) {
    LogMatch(refused + grown);
    return NmsRunError(-8, "文本区len=TextLen + AddLen >=%d!", sgRun.TextLen + rl - k);
  }
  return TarvReturn(0, "text_replace_a2_with_a4 return.");
}

namespace {
// The save statements write a selection of at least two bytes, all within
// the text; 0, or the error already reported.
int CheckSavable() {
  if (TextSelectionInText()) return 0;
  return NmsRunError(-9,
                     "no elected text: text.bytes=[%d], text.headpointer=[%d], "
                     "text.tailpointer=[%d]!",
                     sgRun.TextLen, sgRun.headPointer, sgRun.tailPointer);
}

// Writes the selection to the file at the path in argument word w: 0, or
// the statement's -3 error, followed by what kept the selection from being
// written whole.
int WriteSelection(int w, TargetWrite how) {
  const int64_t bytes =
      sgRun.TextLen > 0 ? static_cast<int64_t>(sgRun.tailPointer) - sgRun.headPointer + 1 : 0;
  TargetFile f;
  if (f.Open(agA[w], how) && f.Write(sgRun.Text.data() + sgRun.headPointer, static_cast<size_t>(bytes)) &&
      f.Finish())
    return 0;
  const std::string why = f.Why(bytes);
  if (how == TargetWrite::kAppend) return NmsRunError(-3, "append file error! file=[%s]%s", agA[w], why.c_str());
  return NmsRunError(-3, "write file error! file=[%s]!%s", agA[w], why.c_str());
}
}  // namespace

int text_save_to_file_a4() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\ntext_save_to_file_a4  ,begin ...");
  if (int r = ArgCheckLength(4, 450, -4)) return r;
  if (int r = CheckSavable()) return r;
  if (int r = WriteSelection(4, TargetWrite::kTruncate)) return r;
  return TarvReturn(0, "text_save_to_file_a4  return.");
}

int text_save_append_to_file_a5() {
  HandlerBegin();
  if (int r = ArgCheckLength(5, 550, -5)) return r;
  if (int r = CheckSavable()) return r;
  if (int r = WriteSelection(5, TargetWrite::kAppend)) return r;
  return TarvReturn(0, "text_save_append_to_file_a5 return.");
}

int text_delete_from_headpointer() {
  HandlerBegin();
  if (sgRun.headPointer < 1 || sgRun.headPointer > sgRun.TextLen)
    return NmsRunError(-4, " text.headpointer=[%d],text.bytes=[%d]!", sgRun.headPointer,
                       sgRun.TextLen);
  sgRun.TextLen = sgRun.headPointer - 1;
  TextMarkEdited(int64_t{sgRun.TextLen} + 1);
  return TarvReturn(0, "text_delete_from_headpointer return.");
}

int text_delete_from_tailpointer() {
  HandlerBegin();
  if (sgRun.tailPointer < 1 || sgRun.tailPointer > sgRun.TextLen)
    return NmsRunError(-4, "text.tailPointer=%d,text.bytes=[%d]!", sgRun.tailPointer,
                       sgRun.TextLen);
  sgRun.TextLen = sgRun.tailPointer - 1;
  TextMarkEdited(int64_t{sgRun.TextLen} + 1);
  return TarvReturn(0, "text_delete_from_tailpointer return.");
}

int text_delete_from_a3_byte() {
  HandlerBegin();
  if (!ArgReadInteger(3)) return NmsRunError(-3, "Arg:3 is not integer!");
  const int n = igV[3];
  if (n >= TEXT_SIZE) return NmsRunError(-3, "Arg:3 = [%d] > %d!", n, TEXT_SIZE);
  if (n > sgRun.TextLen) return NmsRunError(-3, "Arg:3 = [%d] > [text.bytes=%d]!", n, sgRun.TextLen);
  // Byte n stays; only the bytes behind it go.
  sgRun.TextLen = n;
  TextMarkEdited(int64_t{sgRun.TextLen} + 1);
  return TarvReturn(0, "text_delete_from_a3_byte return.");
}
