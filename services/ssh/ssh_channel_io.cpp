// Reads and writes on the channels of the connection, the waits of a
// non-blocking session, and the close of a channel with its exit status.
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "engine/core/run_state.h"
#include "engine/log/log.h"
#include "platform/socket.h"
#include "services/sockets/statement_helpers.h"
#include "services/ssh/ssh_client.h"

namespace {
constexpr int kWaitSocketMs = 10000;
constexpr int kAgainSleepMs = 1000;
}  // namespace

void SshWaitSocket(int ms) {
  if (!sgSshSession || sgSsh.Socket < 0 || ms < 1) return;
  const int dir = libssh2_session_block_directions(sgSshSession);
  short events = 0;
  if (dir & LIBSSH2_SESSION_BLOCK_INBOUND) events |= POLLIN;
  if (dir & LIBSSH2_SESSION_BLOCK_OUTBOUND) events |= POLLOUT;
  if (events == 0) events = POLLIN;
  short revents = 0;
  SockWaitOne(sgSsh.Socket, events, &revents, ms);
}

void waitsocket(int sock, LIBSSH2_SESSION* session) {
  if (sock != sgSsh.Socket || session != sgSshSession) return;
  SshWaitSocket(kWaitSocketMs);
}

int64_t SshStepDeadline() {
  const int64_t deadline = StepDeadlineMs();
  SshBoundBy(deadline);
  return deadline;
}

void SshBoundBy(int64_t deadline) {
  // The library reads a time-out of 0 as none: what is left is at least 1 ms.
  if (sgSshSession)
    libssh2_session_set_timeout(sgSshSession, std::max<int64_t>(1, deadline - SockNowMs()));
}

bool SshAgain(const char* againText, int64_t deadline) {
  const int64_t left = deadline - SockNowMs();
  if (left <= 0) return false;
  TarvDebugLog("%s", againText);
  std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(kAgainSleepMs, left)));
  if (deadline == SSH_NO_DEADLINE) {
    waitsocket(sgSsh.Socket, sgSshSession);
  } else {
    const int64_t rest = deadline - SockNowMs();
    if (rest > 0) SshWaitSocket(static_cast<int>(std::min<int64_t>(kWaitSocketMs, rest)));
  }
  return true;
}

bool SshWaitUntil(int64_t deadline) {
  const int64_t left = deadline - SockNowMs();
  if (left <= 0) return false;
  SshWaitSocket(static_cast<int>(std::min<int64_t>(kWaitSocketMs, left)));
  return true;
}

bool SshSaidAgain(int result) { return result == LIBSSH2_ERROR_EAGAIN; }

bool SshSaidAgain(const void* result) {
  return !result &&
         libssh2_session_last_error(sgSshSession, nullptr, nullptr, 0) == LIBSSH2_ERROR_EAGAIN;
}

LIBSSH2_CHANNEL* SshOpenSessionChannel(const char* againText, int64_t deadline) {
  LIBSSH2_CHANNEL* ch = SshRetry(againText, deadline, [] {
    return libssh2_channel_open_ex(sgSshSession, "session", 7, LIBSSH2_CHANNEL_WINDOW_DEFAULT,
                                   LIBSSH2_CHANNEL_PACKET_DEFAULT, nullptr, 0);
  });
  if (SshSaidAgain(ch)) TarvDebugLog("\nlibssh2_channel_open: no answer within the step time-out");
  return ch;
}

int SshWriteAll(LIBSSH2_CHANNEL* channel, const char* buf, int len, int64_t deadline) {
  SshBoundBy(deadline);
  int sent = 0;
  while (sent < len) {
    const ssize_t n = libssh2_channel_write_ex(channel, 0, buf + sent, len - sent);
    if (n > 0) {
      sent += static_cast<int>(n);
      continue;
    }
    const int64_t left = deadline - SockNowMs();
    if (n != LIBSSH2_ERROR_EAGAIN || left <= 0) return sent > 0 ? sent : static_cast<int>(n);
    SshWaitSocket(static_cast<int>(left));
  }
  return sent;
}

int SshReadIntoText(LIBSSH2_CHANNEL* channel) {
  const int64_t room = int64_t{TEXT_SIZE} - sgRun.TextLen;
  if (room < 1) return 0;  // a full text ends the reading like the channel's end
  const ssize_t n =
      libssh2_channel_read_ex(channel, 0, sgRun.Text.data() + sgRun.TextLen + 1,
                              static_cast<size_t>(room));
  return static_cast<int>(n);
}

void SshChannelFinish(LIBSSH2_CHANNEL* channel, int64_t deadline, const char* againText) {
  int exitCode = 127;
  char* signal = nullptr;
  const int rc = SshRetry(againText, deadline, [channel] { return libssh2_channel_close(channel); });
  if (!againText) TarvDebugLog("\nssh_channel_close sgShellChannel: ret=<%d>", rc);
  if (rc == 0) {
    exitCode = libssh2_channel_get_exit_status(channel);
    libssh2_channel_get_exit_signal(channel, &signal, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  if (signal)
    TarvDebugLogEscaped("Got signal: <%s>", signal);
  else
    TarvDebugLog("exit code: <%d> , readbytes: <%d>", exitCode, sgSsh.ReadBytes);
  if (signal) libssh2_free(sgSshSession, signal);
  // After a confirmed close the free needs nothing from the server; after
  // an unconfirmed one it would wait for the confirmation again, so it is
  // tried once without waiting, and the session's own free, which does not
  // wait, takes the channel if it is still there.
  const int blocking = libssh2_session_get_blocking(sgSshSession);
  libssh2_session_set_blocking(sgSshSession, 0);
  if (libssh2_channel_free(channel) != 0)
    TarvDebugLog("\nlibssh2_channel_free: the channel is freed with the session");
  libssh2_session_set_blocking(sgSshSession, blocking);
}

int ssh_send(const char* buf, int len, int64_t deadline) {
  if (len < 1) return TarvReturn(-1, "ssh_send() Len<=0 return.");
  if (sgSsh.Authenticated < 1 || sgSsh.ShellOpen < 1 || !sgShellChannel)
    return TarvReturn(-2, "ssh_send():  ShellChannel == NULL, Error");
  const int n = SshWriteAll(sgShellChannel, buf, len, deadline);
  TarvDebugLog("\nssh_send() , len=<%d>, libssh2_channel_write=<%d>", len, n);
  return TarvReturn(n, "ssh_send() return.");
}
