// The ssh statements' connection: one SSH connection at a time with an
// interactive shell on a vt100 pty, single commands on exec channels, and
// an automatic answer to one chosen text while receiving.
#pragma once
#include <libssh2.h>

#include <array>
#include <cstdint>

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
// A session channel; while a non-blocking session says "again" and the
// deadline has not passed, logs againText, sleeps a second and waits for the
// socket: null on any other error or at the deadline.
LIBSSH2_CHANNEL* SshOpenSessionChannel(const char* againText, int64_t deadline);
// The pause and wait of a non-blocking session that said "again", cut at
// the deadline: false, without waiting, once it has passed.
bool SshAgain(const char* againText, int64_t deadline = SSH_NO_DEADLINE);
// Closes a channel that ran a command or the shell, logs its exit code or
// signal and frees it, waiting for the server until deadline.  With
// againText (a command's channel), a non-blocking session pauses and logs
// between tries as the command's other waits do; without, the close waits
// for the socket alone and logs its result.  A channel whose close the
// server never confirmed is freed with the session.
void SshChannelFinish(LIBSSH2_CHANNEL* channel, int64_t deadline, const char* againText);
// Waits for the socket in the directions the session is blocked on, until
// deadline: false, without waiting, once it has passed.
bool SshWaitUntil(int64_t deadline);
