// The shell dialogue: send text, collect what the shell prints into the
// text until an expected text appears or for a number of seconds, and
// answer one chosen text automatically meanwhile.
#include <chrono>
#include <cstring>
#include <thread>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "engine/util/util.h"
#include "platform/socket.h"
#include "services/ssh/ssh_client.h"

namespace {

constexpr int kOnRecvMax = 1020;
constexpr int kExpectMax = 1022;
constexpr int kSendMax = 1020;
constexpr int kSecondsMax = 86400;
constexpr int kPassMs = 100;
constexpr int kPassesPerSecond = 10;

bool ShellUsable() {
  return sgSsh.Authenticated >= 1 && sgSsh.ShellOpen >= 1 && sgShellChannel != nullptr;
}

// The automatic answer, when the onrecv text is among the n new bytes
// behind the text's end and the L - 1 bytes just before them: an occurrence
// split across reads is found, one already answered is not found again.
// The answer waits for the channel only within the receive's own time.
void AnswerOnRecv(int n, int64_t deadline) {
  const int L = sgSsh.OnRecvLen;
  if (L <= 0 || int64_t{sgRun.TextLen} + n < L) return;
  const int before = std::min<int>(sgRun.TextLen, L - 1);
  const char* from = sgRun.Text.data() + 1 + sgRun.TextLen - before;
  if (TarvMemFind4(from, before + n, sgSsh.OnRecv.data(), L) < 0) return;
  TarvDebugLog("\nssh_recv_expect_a3:onrecv receved expected string");
  ssh_send(sgSsh.AutoSend.data(), sgSsh.AutoSendLen, deadline);
}

// Reads the shell for at most `passes` passes of 100 ms (at least one), and
// no longer than they take together, automatic answers included: true when
// the expected text (if any) arrived among the new bytes.
bool ReceiveLoop(int passes, const char* expect, int expectLen, const char* againText) {
  libssh2_session_set_blocking(sgSshSession, 0);
  const int64_t deadline = SockNowMs() + int64_t{passes} * kPassMs;
  const int start = sgRun.TextLen;
  int pass = 0;
  do {
    pass++;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPassMs));
    const int n = SshReadIntoText(sgShellChannel);
    TarvDebugLog("\nlibssh2_channel_read , times = <%d> , bytes = <%d>", pass, n);
    if (n > 0) {
      AnswerOnRecv(n, deadline);
      sgRun.TextLen += n;
      sgSsh.ReadBytes += n;
      const int appended = sgRun.TextLen - start;
      if (expect && appended >= expectLen &&
          TarvMemFind4(sgRun.Text.data() + 1 + start, appended, expect, expectLen) >= 0) {
        TarvDebugLog("\nssh_recv_expect_a3: receved expected string");
        return true;
      }
    } else if (n == LIBSSH2_ERROR_EAGAIN) {
      TarvDebugLog(againText, n);
    } else {
      break;
    }
  } while (pass < passes && SockNowMs() < deadline);
  return false;
}

}  // namespace

int ssh_set_onrecv_a3_send_a5() {
  HandlerBegin();
  if (ArgCheckLength(3, kOnRecvMax, -3) != 0) return -3;
  if (ArgCheckLength(5, kOnRecvMax, -5) != 0) return -5;
  std::memcpy(sgSsh.OnRecv.data(), agA[3], igL[3]);
  sgSsh.OnRecvLen = igL[3];
  std::memcpy(sgSsh.AutoSend.data(), agA[5], igL[5]);
  sgSsh.AutoSendLen = igL[5];
  TarvSetVar4("ssh.onrecv", 10, agA[3], igL[3]);
  TarvSetVar4("ssh.autosend", 12, agA[5], igL[5]);
  return TarvReturn(0, "ssh_set_onrecv_a3_send_a5 return.");
}

int ssh_recv_expect_a3() {
  HandlerBegin();
  if (ArgCheckLength(3, kExpectMax, -3) != 0) return -3;
  if (!ShellUsable()) return NmsRunError(-5, "ssh_recv_expect_a3:  ShellChannel == NULL, Error");
  const int passes = kPassesPerSecond * (sgRun.StepTimeout > 0 ? sgRun.StepTimeout : 10);
  if (ReceiveLoop(passes, agA[3], igL[3],
                  "\nlibssh2_channel_read returned = %d,LIBSSH2_ERROR_EAGAIN"))
    return TarvReturn(0, "ssh_recv_expect_a3.");
  return NmsRunError(-9, "ssh_recv_expect_a3: TimeOut, expected string not received !");
}

int ssh_recv_for_a3_seconds() {
  HandlerBegin();
  if (const int rc = ArgCheckRange(3, 0, kSecondsMax)) return rc;
  const int seconds = igV[3];
  if (!ShellUsable())
    return NmsRunError(-5, "ssh_recv_for_a3_seconds:  ShellChannel == NULL, Error");
  ReceiveLoop(kPassesPerSecond * seconds, nullptr, 0,
              "libssh2_channel_read returned = %d,LIBSSH2_ERROR_EAGAIN");
  return TarvReturn(0, "ssh_recv_for_a3_seconds.");
}

int ssh_send_a2() {
  HandlerBegin();
  if (ArgCheckLength(2, kSendMax, -3) != 0) return -3;
  if (!ShellUsable()) return NmsRunError(-5, "ssh_send_a2:  ShellChannel == NULL, Error");
  const int n = SshWriteAll(sgShellChannel, agA[2], igL[2], SshStepDeadline());
  TarvDebugLog("\nssh_send_a2 , len=<%d>, libssh2_channel_write=<%d>", igL[2], n);
  // What the channel did not take within the step time-out is an error.
  if (n != igL[2])
    return NmsRunError(-6, "ssh_send_a2: libssh2_channel_write sent %d of %d bytes, Error", n,
                       igL[2]);
  return TarvReturn(0, "ssh_send_a2 return.");
}
