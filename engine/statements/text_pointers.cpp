// The head and tail pointer statements of the text buffer.
//
// Scripts rely on the exact positions these statements produce, including the
// ones that look surprising: "to tail" is the last byte, the forward search
// never finds an occurrence ending on the last byte, the backward searches
// only find occurrences ending before the tail, and nothing here compares a
// pointer with the text's length unless its own rule needs it.
#include <algorithm>
#include <cstdint>

#include "engine/core/handlers.h"
#include "engine/statements/arg_checks.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/util/util.h"
#include "engine/core/var_store.h"
#include "engine/core/handler.h"

namespace {
constexpr int kAbsoluteMax = 1048476;  // what the absolute moves accept, not the buffer's size

// Bytes that may be read from Text[from] onward without leaving the array.
// A tail moved far beyond the text and then grown by replacements could
// otherwise name bytes past it.
int ArrayRoom(int64_t from, int64_t want) {
  const int64_t room = int64_t{TEXT_SIZE} + 1 - from;
  return static_cast<int>(std::clamp<int64_t>(want, 0, std::max<int64_t>(room, 0)));
}

int SetHead(int value, const char* name) {
  sgRun.headPointer = value;
  TarvSetVarInt2("text.headpointer", value);
  return TarvReturn(0, "%s return.", name);
}

int SetTail(int value, const char* name) {
  sgRun.tailPointer = value;
  TarvSetVarInt2("text.tailpointer", value);
  return TarvReturn(0, "%s return.", name);
}

// Start of the last occurrence of argument 5 among the tail's first bytes
// (Text[0] .. Text[tail - 1]), so it ends before the tail; or -1.
int FindBeforeTail() {
  const int len = ArrayRoom(0, sgRun.tailPointer);
  const int p = TarvMemFindLast4(sgRun.Text.data(), len, agA[5], igL[5]);
  return p >= 0 ? p : -1;
}

int AbsoluteMove(const char* name, bool head) {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\n%s ,begin ...", name);
  if (int r = ArgCheckInteger(4)) return r;
  if (igV[4] > kAbsoluteMax) return NmsRunError(-4, "Arg:4=%d > %d !", igV[4], kAbsoluteMax);
  return head ? SetHead(igV[4], name) : SetTail(igV[4], name);
}
}  // namespace

int text_headpointer_move_to_head() {
  HandlerBegin();
  return SetHead(1, "text_headpointer_move_to_head");
}

int text_headpointer_move_to_tail() {
  HandlerBegin();
  return SetHead(std::max(sgRun.TextLen, 1), "text_headpointer_move_to_tail");
}

int text_tailpointer_move_to_head() {
  HandlerBegin();
  return SetTail(1, "text_tailpointer_move_to_head");
}

int text_tailpointer_move_to_tail() {
  HandlerBegin();
  return SetTail(std::max(sgRun.TextLen, 1), "text_tailpointer_move_to_tail");
}

int text_headpointer_move_to_a4_byte() {
  return AbsoluteMove("text_headpointer_move_to_a4_byte", true);
}

int text_tailpointer_move_to_a4_byte() {
  return AbsoluteMove("text_tailpointer_move_to_a4_byte", false);
}

int text_headpointer_move_forward_a4_bytes() {
  HandlerBegin();
  if (int r = ArgCheckLength(4, 1022, -4)) return r;
  if (!ArgReadInteger(4)) return NmsRunError(-5, "Arg:4 is not integer !");
  const int64_t to = int64_t{sgRun.headPointer} + igV[4];
  if (to > sgRun.TextLen)
    return NmsRunError(-4, "text_headpointer_move_forward_a4_bytes, not so much chars !");
  return SetHead(static_cast<int>(to), "text_headpointer_move_forward_a4_bytes");
}

int text_tailpointer_move_backward_a4_bytes() {
  HandlerBegin();
  if (int r = ArgCheckLength(4, 1022, -4)) return r;
  if (int r = ArgCheckInteger(4)) return r;
  // Strictly greater, so the tail stays on byte 1 at least.
  if (sgRun.tailPointer <= igV[4])
    return NmsRunError(-7, "text_tailpointer_move_backward_a4_bytes, not so much chars !");
  return SetTail(sgRun.tailPointer - igV[4], "text_tailpointer_move_backward_a4_bytes");
}

int text_headpointer_move_forward_after_a5() {
  HandlerBegin();
  if (int r = ArgCheckLength(5, 1022, -5)) return r;
  // TextLen - headPointer bytes from the head: the last byte of the text is
  // not among them, so an occurrence ending there is not found.
  const int64_t span = int64_t{sgRun.TextLen} - sgRun.headPointer;
  const int p = span < igL[5] ? -1
                              : TarvMemFind4(sgRun.Text.data() + sgRun.headPointer,
                                             static_cast<int>(span), agA[5], igL[5]);
  if (p < 0)
    return NmsRunError(-6, "text_headpointer_move_forward_after_a5, 字符串未找到!");
  return SetHead(sgRun.headPointer + p + igL[5], "text_headpointer_move_forward_after_a5");
}

int text_tailpointer_move_backward_before_a5() {
  HandlerBegin();
  if (int r = ArgCheckLength(5, 1022, -5)) return r;
  const int p = FindBeforeTail();
  if (p < 0) return NmsRunError(-5, "text_tailpointer_move_backward_before_a5, Not Found !");
  return SetTail(p, "text_tailpointer_move_backward_before_a5");
}

int text_tail_pointer_move_backward_after_a5() {
  HandlerBegin();
  if (int r = ArgCheckLength(5, 1022, -5)) return r;
  const int p = FindBeforeTail();
  if (p < 0) return NmsRunError(-6, "text_tail_pointer_move_backward_after_a5, Not Found !");
  return SetTail(p + igL[5], "text_tail_pointer_move_backward_after_a5");
}

int text_head_pointer_move_forward_before_a5() {
  sgRun.StepRunState = ENDOK;
  return NmsRunError(
      -99, "text_head_pointer_move_forward_before_a5:This statement is not yet completed. Err!");
}

int text_head_pointer_move_forward_to_the_head_of_next_line() {
  sgRun.StepRunState = ENDOK;
  return NmsRunError(-99,
                     "text_head_pointer_move_forward_to_the_head_of_next_line:This statement is "
                     "not yet completed.");
}

int text_tail_pointer_move_backward_to_the_end_of_previous_line() {
  sgRun.StepRunState = ENDOK;
  return NmsRunError(-99,
                     "text_tail_pointer_move_backward_to_the_end_of_previous_line:This statement "
                     "is not yet completed.");
}
