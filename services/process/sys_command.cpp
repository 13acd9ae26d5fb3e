// sys.command {A2}: runs a command line to its end and appends everything it
// writes, standard output and standard error in the order written, to the
// text buffer.
#include <cstdint>

#include "engine/core/handlers.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/text_buffer.h"
#include "engine/core/handler.h"
#include "platform/process.h"

namespace {
constexpr int kCommandMax = 250;
constexpr int kBlock = 1020;
}  // namespace

int sys_command_a2() {
  HandlerBegin();
  const int len = igL[2];
  if (len < 1) return NmsRunError(-2, "Length of Arg 2 is :%d  < 1 !", len);
  if (len > kCommandMax) return NmsRunError(-2, "Length of Arg 2 is :%d > 250 !", len);

  PipeEnds out;
  if (ProcPipeOpen(&out) != 0) return NmsRunError(-1, "sys_command_a2 Error On CreatePipe()");
  UniqueFd readEnd(out.Read);
  UniqueFd writeEnd(out.Write);
  int32_t pid = -1;
  const int err = ProcSpawn(agA[2], len, {-1, writeEnd.get(), writeEnd.get()}, false, &pid);
  // Our copy of the write end goes at once, so the read ends when the child
  // and whatever it started have closed theirs.
  ProcFdClose(writeEnd.put());
  if (err != 0) return NmsRunError(-1, "sys_command_a2 Error on CreateProcess()=%d", err);

  int64_t total = 0;
  bool appending = true;
  char block[kBlock + 4];
  for (;;) {
    const int n = ProcRead(readEnd.get(), block, kBlock);
    if (n <= 0) break;
    total += n;
    // A refused append is recorded once; the rest is still read, so that the
    // child is never left blocked on a full pipe, but not offered again.
    if (appending && TextAdd(block, n) < 1) appending = false;
  }
  ProcFdClose(readEnd.put());
  ProcWait(pid);
  TarvDebugLogEscaped("\n\r\nsys_command_a2 {%s} len=%lld", agA[2], static_cast<long long>(total));
  return TarvReturn(0, "sys_command_a2 return.");
}
