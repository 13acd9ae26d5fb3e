// ssh.command {A2}: one command on an exec channel of the open session,
// beside the shell; its output goes into the text, its standard error is
// thrown away so that it can never fill up and stall the command.
#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "services/ssh/ssh_client.h"

namespace {
constexpr int kCommandMax = 1020;
}  // namespace

int ssh_command_a2() {
  HandlerBegin();
  if (ArgCheckLength(2, kCommandMax, -2) != 0) return -2;
  if (!sgSshSession || sgSsh.Authenticated < 1)
    return NmsRunError(-5, "ssh_command_a2:  Session == NULL, Error");

  // A server that stops answering must not hold the step: the channel and
  // the command's start get the step time-out between them.
  const int64_t deadline = SshStepDeadline();
  LIBSSH2_CHANNEL* ch = SshOpenSessionChannel(
      "\nssh_command_a2 ,channel_open: LIBSSH2_ERROR_EAGAIN, waitsocket ...", deadline);
  if (!ch) {
    SshCloseAll(deadline);
    return NmsRunError(-3, "ssh_command_a2: libssh2_channel_open_session Error");
  }
  libssh2_channel_handle_extended_data2(ch, LIBSSH2_CHANNEL_EXTENDED_DATA_IGNORE);
  // The start gets what the open left.
  const int rc =
      SshRetry("\nssh_command_a2 ,channel_exec: LIBSSH2_ERROR_EAGAIN, waitsocket ...", deadline,
               [ch] {
                 return libssh2_channel_process_startup(ch, "exec", 4, agA[2],
                                                        static_cast<unsigned>(igL[2]));
               });
  if (rc != 0) {
    // The session's free takes the channel without waiting for the server.
    SshCloseAll(deadline);
    return NmsRunError(-3, "ssh_command_a2: libssh2_channel_exec Error");
  }
  // No time limit: the command runs to its end.  A blocking session's read
  // waits a step time-out, and one that timed out is waited for again like
  // a non-blocking one's.
  SshStepDeadline();
  for (;;) {
    const int n = SshReadIntoText(ch);
    if (n > 0) {
      sgRun.TextLen += n;
      sgSsh.ReadBytes += n;
    } else if (n == LIBSSH2_ERROR_EAGAIN || n == LIBSSH2_ERROR_TIMEOUT) {
      SshAgain("\nssh_command_a2 ,channel_read: LIBSSH2_ERROR_EAGAIN, waitsocket ...");
    } else {
      TarvDebugLog("libssh2_channel_read returned %d\n", n);
      break;
    }
  }
  SshChannelFinish(ch, SshStepDeadline(),
                   "\nssh_command_a2 ,channel_close: LIBSSH2_ERROR_EAGAIN, waitsocket ...");
  return TarvReturn(0, "ssh_command_a2 return.");
}
