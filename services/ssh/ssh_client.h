// The ssh statements' connection: one SSH connection at a time with an
// interactive shell on a vt100 pty, single commands on exec channels, and
// an automatic answer to one chosen text while receiving.
#pragma once
#include <libssh2.h>

#include <array>
#include <cstdint>
#include <type_traits>

struct Family;
const Family* SshFamily();

int ssh_connect_ip_a3_port_a5_username_a7_password_a9();
int ssh_set_onrecv_a3_send_a5();
int ssh_recv_expect_a3();
int ssh_recv_for_a3_seconds();
int ssh_send_a2();
int ssh_close();
int ssh_command_a2();

inline constexpr int SSH_PASSWORD_ROOM = 100;
inline constexpr int SSH_ONRECV_ROOM = 1024;

struct SshState {
  int32_t Socket;     // -1: none
  int32_t ReadBytes;  // read from any channel since initialisation
  std::array<char, SSH_PASSWORD_ROOM> Password;  // NUL-terminated
  int32_t Authenticated;
  int32_t ShellOpen;
  int32_t OnRecvLen;    // 0: no automatic answer
  int32_t AutoSendLen;
  std::array<char, SSH_ONRECV_ROOM> OnRecv;
  std::array<char, SSH_ONRECV_ROOM> AutoSend;
};

extern SshState sgSsh;
extern LIBSSH2_SESSION* sgSshSession;
extern LIBSSH2_CHANNEL* sgShellChannel;

// Engine initialisation: a connection still open is closed, then the
// record is cleared.
void SshReset();
// End of a run: the connection still open is closed.
void SshEndOfRun();

// ssh.close's sequence: the shell channel, the session, the socket.  The
// server's answers are waited for until deadline (in SockNowMs time) and not
// beyond: the session and the socket are freed in any case.
void SshCloseAll(int64_t deadline);
// Closes and frees the shell channel, waiting for the server until
// deadline; 0.
int ssh_close_ShellChannel(int64_t deadline);
// Writes to the shell channel (the automatic answer) until deadline (in
// SockNowMs time): the bytes written, -1 for an empty buffer, -2 when the
// shell is not usable.
int ssh_send(const char* buf, int len, int64_t deadline);

// Waits up to ms for the socket in the directions the session is blocked
// on.
void SshWaitSocket(int ms);
// waitsocket: the same wait of ten seconds.
void waitsocket(int sock, LIBSSH2_SESSION* session);
// Writes all len bytes to stream 0 of the channel, retrying short and
// refused writes until deadline (in SockNowMs time): the bytes written, or
// a libssh2 error when none could be.
int SshWriteAll(LIBSSH2_CHANNEL* channel, const char* buf, int len, int64_t deadline);
// Appends what one read of the channel gives straight into the text: the
// libssh2 result.
int SshReadIntoText(LIBSSH2_CHANNEL* channel);
// The end, in SockNowMs time, of a wait bounded by the step time-out; the
// session's own blocking calls are bounded by the same time from now on.
int64_t SshStepDeadline();
// Bounds the session's own blocking calls by what is left until deadline.
void SshBoundBy(int64_t deadline);
inline constexpr int64_t SSH_NO_DEADLINE = INT64_MAX;
// A session channel, tried until deadline as SshRetry does: null on any
// other error or at the deadline.
LIBSSH2_CHANNEL* SshOpenSessionChannel(const char* againText, int64_t deadline);
// The pause and wait of a non-blocking session that said "again", cut at
// the deadline: false, without waiting, once it has passed.
bool SshAgain(const char* againText, int64_t deadline = SSH_NO_DEADLINE);
// Closes a channel that ran a command or the shell, logs its exit code or
// signal and frees it, waiting for the server until deadline (as SshRetry
// does; without againText, the shell's, it logs the close's result).  A
// channel whose close the server never confirmed is freed with the session.
void SshChannelFinish(LIBSSH2_CHANNEL* channel, int64_t deadline, const char* againText);
// Waits for the socket in the directions the session is blocked on, until
// deadline: false, without waiting, once it has passed.
bool SshWaitUntil(int64_t deadline);
// Whether a library call's result says "again": the code itself, or a null
// result with "again" as the session's last error.
bool SshSaidAgain(int result);
bool SshSaidAgain(const void* result);

// Runs one library call until it no longer says "again" or the deadline has
// passed: its last result.  A session left blocking waits for its socket
// between tries, as the library would but never past the deadline (the
// library's own time-out counts whole seconds and starts again with each
// call), and a call still unanswered then gives the library's time-out
// code; a non-blocking one pauses and logs againText between tries, as the
// receive statements left it to (with no againText, it waits like a
// blocking one).
template <typename Call>
auto SshRetry(const char* againText, int64_t deadline, Call call) {
  const int blocking = libssh2_session_get_blocking(sgSshSession);
  libssh2_session_set_blocking(sgSshSession, 0);
  auto result = call();
  while (SshSaidAgain(result) &&
         (blocking || !againText ? SshWaitUntil(deadline) : SshAgain(againText, deadline)))
    result = call();
  libssh2_session_set_blocking(sgSshSession, blocking);
  if constexpr (std::is_integral_v<decltype(result)>)
    if (blocking && result == LIBSSH2_ERROR_EAGAIN) result = LIBSSH2_ERROR_TIMEOUT;
  return result;
}
