// The sys.execute statements: one child kept open for a dialogue through its
// standard input and its standard output and error.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "engine/statements/arg_checks.h"
#include "engine/core/handlers.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/text_buffer.h"
#include "engine/core/handler.h"
#include "platform/process.h"
#include "services/process/child_process.h"

ExecuteState sgExecute = {-1, -1, -1, -1, -1, 0};

namespace {
constexpr int kBlock = 1020;
constexpr int kArgMax = 1022;
constexpr int kSecondsMax = 86400;
constexpr int64_t kDrainMax = 65536;  // one pipe buffer

// Finds what in the text bytes from..TextLen (1-based).
bool TextHas(int from, std::string_view what) {
  if (from < 1) from = 1;
  if (sgRun.TextLen - from + 1 < static_cast<int>(what.size())) return false;
  std::string_view text(sgRun.Text.data() + from, sgRun.TextLen - from + 1);
  return text.find(what) != std::string_view::npos;
}
}  // namespace

void ExecuteCloseChild() {
  ProcFdClose(&sgExecute.InWrite);
  ProcFdClose(&sgExecute.InRead);
  ProcFdClose(&sgExecute.OutRead);
  ProcFdClose(&sgExecute.OutWrite);
  // The child is neither stopped nor waited for; with its input closed it
  // usually ends by itself, and it is reaped whenever it does.
  ProcRelease(sgExecute.Pid);
  sgExecute.Pid = -1;
  sgExecute.Open = 0;
}

void ProcessEndOfRun() { ExecuteCloseChild(); }

int sys_execute_open_a3() {
  sgRun.StepRunState = ENDOK;
  const int len = igL[3];
  if (len < 1) return NmsRunError(-3, "Length of Arg 3 is :%d  < 1 !", len);
  if (len > kArgMax) return NmsRunError(-3, "Length of Arg 3 is :%d > 1022 !", len);
  // One child at a time: the previous one loses its pipes first, so it sees
  // the end of its input instead of waiting on it for ever.
  ExecuteCloseChild();

  PipeEnds out;
  if (ProcPipeOpen(&out) != 0) return NmsRunError(-1, "sys_execute_open open Error On CreatePipe()");
  sgExecute.OutRead = out.Read;
  sgExecute.OutWrite = out.Write;
  PipeEnds in;
  if (ProcPipeOpen(&in) != 0) {
    ExecuteCloseChild();
    return NmsRunError(-2, "sys_execute_open open Error On CreatePipe()");
  }
  sgExecute.InRead = in.Read;
  sgExecute.InWrite = in.Write;

  const int err = ProcSpawn(agA[3], len, {sgExecute.InRead, sgExecute.OutWrite, sgExecute.OutWrite},
                            false, &sgExecute.Pid);
  ProcFdClose(&sgExecute.OutWrite);
  ProcFdClose(&sgExecute.InRead);
  if (err != 0) {
    ExecuteCloseChild();
    return NmsRunError(-1, "sys_execute_open Error on CreateProcess()=%d", err);
  }
  sgExecute.Open = 1;
  return TarvReturn(0, "sys_execute_open_a3 return.");
}

int sys_execute_send_a3() {
  HandlerBegin();
  const bool open = sgExecute.Open == 1;
  if (!open) NmsRunError(-1, "sys_execute_send_a3, sys.execute open Error!");
  const int len = igL[3];
  if (len < 1) return NmsRunError(-3, "Length of Arg 3 is :%d  < 1 !", len);
  if (len > kArgMax) return NmsRunError(-3, "Length of Arg 3 is :%d > 1022 !", len);
  // A child that does not read, or whose output nobody reads, fills the
  // pipe: the send waits for room no longer than the step time-out.
  const int timeoutMs = std::max(1, static_cast<int>(sgRun.StepTimeout)) * 1000;
  const int written = open ? ProcWriteWait(sgExecute.InWrite, agA[3], len, timeoutMs) : 0;
  if (written < len) return NmsRunError(-2, "sys_execute_send_a3 send len=%d < %d", written, len);
  return TarvReturn(0, "sys_execute_send_a3 send ok,len=%d", written);
}

int sys_execute_recv_expect_a4() {
  HandlerBegin();
  const bool open = sgExecute.Open == 1;
  if (!open) NmsRunError(-1, "sys_execute_recv_expect_a4, sys.execute open Error!");
  const int len = igL[4];
  if (len < 1) return NmsRunError(-4, "Length of Arg 4 is :%d  < 1 !", len);
  if (len > kArgMax) return NmsRunError(-4, "Length of Arg 4 is :%d > 1022 !", len);
  const std::string_view expect(agA[4], len);

  const int start = sgRun.TextLen;
  int count = 0;
  char block[kBlock + 4];
  while (open) {
    const int n = ProcRead(sgExecute.OutRead, block, kBlock);
    if (n <= 0) break;
    const int before = sgRun.TextLen;
    count += n;
    // A full text buffer will refuse every later block too: give up at once
    // instead of reading (and pausing on the error) block after block.
    if (TextAdd(block, n) < 1)
      return NmsRunError(-2, "sys_execute_recv_expect_a4 recv buf full, readlen=%d", count);
    // Only the new bytes and the tail a match could begin in need a look.
    if (count >= len && TextHas(std::max(start + 1, before + 2 - len), expect))
      return TarvReturn(0, "sys_execute_recv_expect_a4 recv key ok");
  }
  return NmsRunError(-2, "sys_execute_recv_expect_a4 recv key not found, readlen=%d", count);
}

int sys_execute_recv_for_a4_seconds() {
  HandlerBegin();
  if (const int rc = ArgCheckRange(4, 0, kSecondsMax)) return rc;
  const int seconds = igV[4];
  if (sgExecute.Open != 1)
    return NmsRunError(-1, "sys_execute_recv_for_a4_seconds, sys.execute open Error!");

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  int64_t count = 0;
  // Once time is up, what is already waiting is still taken, but no more
  // than a pipe holds: a child that never stops writing must not keep the
  // statement reading.
  int64_t afterDeadline = 0;
  char block[kBlock + 4];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 && afterDeadline >= kDrainMax) break;
    const int n = ProcReadWait(sgExecute.OutRead, block, kBlock,
                               left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (n <= 0) break;  // time is up, or the child's output has ended
    count += n;
    if (left.count() <= 0) afterDeadline += n;
    if (TextAdd(block, n) < 1) break;  // full: recorded once by the append
  }
  TarvDebugLog("\nsys_execute_recv_for_a4_seconds len=%lld", static_cast<long long>(count));
  return TarvReturn(0, "sys_execute_recv_for_a4_seconds return.");
}

int sys_execute_close() {
  HandlerBegin();
  ExecuteCloseChild();
  return TarvReturn(0, "sys_execute_close return.");
}

