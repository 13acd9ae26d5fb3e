// ssh.connect and ssh.close: the socket from the socket layer, the libssh2
// session with its handshake and user authentication, and the shell on a
// vt100 pty.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/handler.h"
#include "engine/core/step_args.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "platform/socket.h"
#include "services/sockets/socket_layer.h"
#include "services/sockets/statement_helpers.h"
#include "services/ssh/ssh_client.h"

SshState sgSsh = {-1, 0, {}, 0, 0, 0, 0, {}, {}};
LIBSSH2_SESSION* sgSshSession = nullptr;
LIBSSH2_CHANNEL* sgShellChannel = nullptr;

namespace {

constexpr int kHostMax = 20;
constexpr int kPortMax = 65534;
constexpr int kUserMax = 120;
constexpr int kPasswordMax = 90;
constexpr int kHashLen = 20;
constexpr int kDisconnectByApplication = 11;
constexpr const char* kMasked = "********";

#define SSH_CONNECT "ssh_connect_ip_a3_port_a5_username_a7_password_a9"

void SshLibraryStart() {
  static bool started = false;
  // The library stays started for the process: other parts use the same
  // crypto library, and a start per connection gains nothing.
  if (!started) started = libssh2_init(0) == 0;
}

// Every prompt is answered with the password of ssh.connect.
void SshKbdInteractiveCallBack(const char* name, int nameLen, const char* instruction,
                               int instructionLen, int numPrompts,
                               const LIBSSH2_USERAUTH_KBDINT_PROMPT* prompts,
                               LIBSSH2_USERAUTH_KBDINT_RESPONSE* responses, void** abstract) {
  (void)instruction;
  (void)instructionLen;
  (void)abstract;
  TarvDebugLog("\nPerforming keyboard-interactive authentication.\n");
  TarvDebugLogEscaped("Authentication name: [%.*s],len=%d", nameLen, name ? name : "", nameLen);
  TarvDebugLog("Number of prompts: %d\n\n", numPrompts);
  const int len = static_cast<int>(strnlen(sgSsh.Password.data(), SSH_PASSWORD_ROOM));
  for (int i = 0; i < numPrompts; i++) {
    const int promptLen = static_cast<int>(prompts[i].length);
    TarvDebugLogEscaped("Prompt %d from server: [%.*s],len=%d", i, promptLen,
                        prompts[i].text ? prompts[i].text : "", promptLen);
    // The library frees each answer with its default allocator.
    responses[i].text = static_cast<char*>(std::malloc(len + 1));
    if (!responses[i].text) {
      responses[i].length = 0;
      continue;
    }
    std::memcpy(responses[i].text, sgSsh.Password.data(), len + 1);
    responses[i].length = static_cast<unsigned>(len);
    // The password never reaches the log: only its length does.
    TarvDebugLog("\nResponse %d from user is [%s],len=%d", i, len > 0 ? kMasked : "", len);
  }
  TarvDebugLog("\nDone. Sending keyboard-interactive responses to server now.\n");
}

// Authenticates with the first method of the server's list that is known,
// within the login's deadline: 0, or the run error's code.
int Authenticate(const char* user, int userLen, int64_t deadline) {
  TarvDebugLogEscaped("\nget libssh2_userauth_list username:[%s]", user);
  const char* list = SshRetry(nullptr, deadline, [&] {
    return libssh2_userauth_list(sgSshSession, user, static_cast<unsigned>(userLen));
  });
  if (!list && libssh2_userauth_authenticated(sgSshSession)) {
    // The server took the user without asking for anything.
    TarvDebugLog("\nAuthentication methods:[none] ok");
    return 0;
  }
  TarvDebugLogEscaped("\nAuthentication methods:[%s]", list ? list : "");
  const bool password = list && std::strstr(list, "password");
  if (!password && !(list && std::strstr(list, "keyboard-interactive"))) {
    char shown[512];
    std::snprintf(shown, sizeof shown, "%s", list ? list : "");
    SshCloseAll(deadline);
    return NmsRunError(-9, SSH_CONNECT ": Authentication methods:[%s] Not Support!", shown);
  }
  const char* pw = sgSsh.Password.data();
  TarvDebugLog(password ? "\nAuthentication methods:[password] ......"
                        : "\nAuthentication methods:[keyboard-interactive] ......");
  const int r = SshRetry(nullptr, deadline, [&] {
    return password ? libssh2_userauth_password_ex(sgSshSession, user,
                                                   static_cast<unsigned>(userLen), pw,
                                                   static_cast<unsigned>(std::strlen(pw)), nullptr)
                    : libssh2_userauth_keyboard_interactive_ex(
                          sgSshSession, user, static_cast<unsigned>(userLen),
                          SshKbdInteractiveCallBack);
  });
  if (r != 0) {
    char* msg = nullptr;
    libssh2_session_last_error(sgSshSession, &msg, nullptr, 0);
    TarvDebugLogEscaped("\nlibssh2_session_last_error {%s}", msg ? msg : "");
    SshCloseAll(deadline);
    if (password) return NmsRunError(-5, SSH_CONNECT ": Failure libssh2_userauth_password: %d", r);
    return NmsRunError(-6, SSH_CONNECT ": Failure libssh2_userauth_keyboard_interactive: %d", r);
  }
  TarvDebugLog(password ? "\nAuthentication methods:[password] ok!"
                        : "\nAuthentication methods:[keyboard-interactive] ok");
  return 0;
}

// The shell channel with its pty, within the login's deadline: 0, or the
// run error's code.
int OpenShell(int64_t deadline) {
  sgShellChannel = SshOpenSessionChannel("\nssh,channel_open: LIBSSH2_ERROR_EAGAIN, waitsocket ...",
                                         deadline);
  if (!sgShellChannel) {
    ssh_close_ShellChannel(deadline);
    return NmsRunError(-3, "libssh2_channel_open_session Error");
  }
  if (SshRetry(nullptr, deadline, [] {
        return libssh2_channel_request_pty_ex(sgShellChannel, "vt100", 5, nullptr, 0, 80, 24, 0,
                                              0);
      }) != 0) {
    ssh_close_ShellChannel(deadline);
    return NmsRunError(-4, "libssh2_channel_request_pty <vt100>, Error");
  }
  if (SshRetry(nullptr, deadline, [] {
        return libssh2_channel_process_startup(sgShellChannel, "shell", 5, nullptr, 0);
      }) != 0) {
    ssh_close_ShellChannel(deadline);
    return NmsRunError(-4, "libssh2_channel_shell, Unable to request shell on allocated pty!");
  }
  sgSsh.ShellOpen = 1;
  return 0;
}

}  // namespace

void SshReset() {
  SshCloseAll(StepDeadlineMs());
  sgSsh = {-1, 0, {}, 0, 0, 0, 0, {}, {}};
}

void SshEndOfRun() { SshCloseAll(StepDeadlineMs()); }

int ssh_close_ShellChannel(int64_t deadline) {
  TarvDebugLog("\nssh_close_ShellChannel ,begin ...");
  sgSsh.ShellOpen = 0;
  if (sgShellChannel) {
    SshChannelFinish(sgShellChannel, deadline, nullptr);
    sgShellChannel = nullptr;
  }
  return TarvReturn(0, "ssh_close_ShellChannel return.");
}

void SshCloseAll(int64_t deadline) {
  if (sgSshSession) {
    // Closing waits for the server's answers until the deadline and not
    // beyond, whatever mode the receive statements left the session in.
    ssh_close_ShellChannel(deadline);
    SshRetry(nullptr, deadline, [] {
      return libssh2_session_disconnect_ex(sgSshSession, kDisconnectByApplication,
                                           "Normal Shutdown, Thank you for playing", "");
    });
    // Nothing more passes between the two ends: the free must not wait for
    // the close of a channel a silent server never confirmed (nor for room
    // to send one), or it gives up and keeps the session.
    SockShutdownBoth(sgSsh.Socket);
    libssh2_session_set_blocking(sgSshSession, 0);
    libssh2_session_free(sgSshSession);
    sgSshSession = nullptr;
  }
  sgShellChannel = nullptr;
  SockClose(&sgSsh.Socket);
  sgSsh.Authenticated = 0;
  sgSsh.ShellOpen = 0;
}

int ssh_connect_ip_a3_port_a5_username_a7_password_a9() {
  HandlerBegin();
  if (ArgCheckLength(3, kHostMax, -3) != 0) return -3;
  if (const int rc = ArgCheckRange(5, 1, kPortMax)) return rc;
  const int port = igV[5];
  if (ArgCheckLength(7, kUserMax, -7) != 0) return -7;
  if (ArgCheckLength(9, kPasswordMax, -9) != 0) return -9;

  // One connection at a time: the one this replaces is closed, not leaked,
  // within a step time-out of its own, as ssh.close would close it.
  SshCloseAll(StepDeadlineMs());
  sgSsh.Password.fill(0);
  std::memcpy(sgSsh.Password.data(), agA[9], igL[9]);

  // The login as a whole, the TCP connect included, gets one step time-out.
  const int64_t deadline = StepDeadlineMs();
  const int sock = TcpConnectArg(SSH_CONNECT, 3, port, -1);
  if (sock < 0) return sock;
  sgSsh.Socket = sock;
  // libssh2 waits for the socket itself; it must never block in a read.
  SockSetNonBlocking(sgSsh.Socket, true);

  SshLibraryStart();
  sgShellChannel = nullptr;
  sgSshSession = libssh2_session_init_ex(nullptr, nullptr, nullptr, nullptr);
  if (!sgSshSession) {
    SshCloseAll(deadline);
    return NmsRunError(-3, SSH_CONNECT ": libssh2 session initialization failed");
  }
  libssh2_session_set_blocking(sgSshSession, 1);
  // Every call of the login, the handshake first, waits only for what is
  // left of its deadline.
  const int hs =
      SshRetry(nullptr, deadline, [] { return libssh2_session_handshake(sgSshSession, sgSsh.Socket); });
  if (hs != 0) {
    SshCloseAll(deadline);
    return NmsRunError(-4, SSH_CONNECT ": Failure establishing SSH session: %d", hs);
  }
  const char* hash = libssh2_hostkey_hash(sgSshSession, LIBSSH2_HOSTKEY_HASH_SHA1);
  for (int i = 0; hash && i < kHashLen; i++)
    TarvDebugLog("\nFingerprint:  %d <%02X>", i, static_cast<unsigned char>(hash[i]));

  char user[kUserMax + 1] = {};
  std::memcpy(user, agA[7], igL[7]);
  const int auth = Authenticate(user, igL[7], deadline);
  if (auth != 0) return auth;
  sgSsh.Authenticated = 1;
  const int shell = OpenShell(deadline);
  if (shell != 0) return shell;
  return TarvReturn(0, SSH_CONNECT " return.");
}

int ssh_close() {
  HandlerBegin();
  SshCloseAll(StepDeadlineMs());
  return TarvReturn(0, "ssh_close return.");
}
