// The telnet statements: connect, send literal text or the selected text,
// receive for a time or up to an expected text, the automatic answer, the
// per-byte send delay, and close.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "platform/socket.h"
#include "services/sockets/statement_helpers.h"
#include "services/sockets/tcp_statements.h"
#include "services/telnet/telnet_session.h"

namespace {

constexpr int kSendMax = 1022;
constexpr int kTriggerMax = 1020;
constexpr int kRecvSecondsMax = 86400;
constexpr int kDelayMin = 100;
constexpr int kDelayMax = 5000;

// What a script sends: all at once, or byte by byte with the set delay
// after each byte.  A paced send ends at the step time-out, whatever the
// delay and the length, with an error that tells how far it got.
int SendScriptBytes(const char* src, int len) {
  if (sgTelnet.Delay <= 0) return TarvTelnetSend(src, len, sgRun.StepTimeout);
  const int64_t deadline = StepDeadlineMs();
  int sent = 0;
  for (int i = 0; i < len && SockNowMs() < deadline; i++) {
    const int64_t left = deadline - SockNowMs();
    const int n = TarvTelnetSend(src + i, 1, static_cast<int>((left + 999) / 1000));
    if (n < 1) return sent;
    sent += n;
    const int64_t pause = std::min<int64_t>(sgTelnet.Delay, deadline - SockNowMs());
    if (pause > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  }
  if (sent < len)
    return NmsRunError(sent, "TarvTelnetSend: step timeOut, send return,len=%d of %d.", sent, len);
  return sent;
}

// The expect loop takes the cleaned bytes one by one; they leave the buffer
// in one move when the loop is done with them.
int g_taken = 0;

void SettleTaken() {
  if (g_taken > 0) TarvTelnetDeleteTcpBuf(0, g_taken);
  g_taken = 0;
}

int ReadyBytes(const char** data) {
  *data = sgTelnet.RecvBuf.data() + g_taken;
  return sgTelnet.Open ? sgTelnet.DataLen - g_taken : 0;
}

void SkipTaken(int n) { g_taken += n; }

int TakeOne(char* dest, int seconds) {
  if (sgTelnet.Open && g_taken < sgTelnet.DataLen) {
    *dest = sgTelnet.RecvBuf[g_taken++];
    return 1;
  }
  SettleTaken();
  return TarvTelnetRecv(dest, 1, seconds);
}

}  // namespace

int telnet_connect_ip_a3_port_a5() {
  HandlerBegin();
  // One session at a time: the one this replaces is closed, and nothing it
  // received or half-decoded reaches the new one.
  TelnetSessionReset();
  TarvSetVar2("telnet.status", "CLOSED");
  sgTelnet.sendBufLen = 0;
  const int sock = ConnectHostPort("telnet_connect_ip_a3_port_a5");
  if (sock < 0) return sock;
  sgTelnet.Socket = sock;
  sgTelnet.Open = 1;
  TarvSetVar2("telnet.status", "OPEN_OK");
  return TarvReturn(0, "telnet_connect_ip_a3_port_a5 return, TcpMode =%d .", sgTcp.TcpMode);
}

int telnet_set_delay_a3_ms_after_per_byte_send() {
  HandlerBegin();
  if (const int rc = ArgCheckInteger(3)) return rc;
  sgTelnet.Delay = std::clamp(static_cast<int>(igV[3]), kDelayMin, kDelayMax);
  return TarvReturn(0, "telnet_set_delay_a3_ms_after_per_byte_send return.");
}

int telnet_send_a2() {
  HandlerBegin();
  if (!ArgLength(2, kSendMax)) return -2;
  const int sent = SendScriptBytes(agA[2], igL[2]);
  return TarvReturn(sent, "telnet_send_a2 return. send len=%d", sent);
}

int telnet_send_text() {
  HandlerBegin();
  // The selection is checked as its tcp and udp twins check it: nothing
  // outside the text is ever sent.
  const char* data = nullptr;
  int len = 0;
  if (!SendSelection(&data, &len))
    return NmsRunError(-1, "telnet_send_text: no text be selected, error.");
  SendScriptBytes(data, len);
  return TarvReturn(0, "telnet_send_text return.");
}

int telnet_set_onrecv_a3_send_a5() {
  HandlerBegin();
  if (!ArgLength(3, kTriggerMax) || !ArgLength(5, kTriggerMax)) return -1;
  sgTelnet.OnRecvLen = igL[3];
  std::memcpy(sgTelnet.OnRecv.data(), agA[3], igL[3]);
  sgTelnet.AutoSendLen = igL[5];
  std::memcpy(sgTelnet.AutoSend.data(), agA[5], igL[5]);
  TarvSetVar3("telnet.onrecv", agA[3], igL[3]);
  TarvSetVar3("telnet.autosend", agA[5], igL[5]);
  return TarvReturn(0, "telnet_set_onrecv_a3_send_a5 return.");
}

int telnet_recv_for_a3_seconds() {
  HandlerBegin();
  int seconds = 0;
  if (!ArgNumber(3, 0, kRecvSecondsMax, &seconds)) return -3;
  const int n = ReceiveForSeconds(seconds, TarvTelnetRecv);
  if (n < 0) return NmsRunError(-6, "telnet_recv_for_a3_seconds ,TarvTelnetRecv error=%d!", n);
  return TarvReturn(0, "telnet_recv_for_a3_seconds return.");
}

int telnet_recv_expect_a3() {
  HandlerBegin();
  if (!ArgLength(3, kSendMax)) return -3;
  int count = 0;
  static constexpr ExpectSource kSource = {TakeOne, ReadyBytes, SkipTaken, SettleTaken};
  switch (ExpectText(std::string_view(agA[3], igL[3]), kSource, &count)) {
    case ExpectEnd::Match:
      return TarvReturn(0, "telnet_recv_expect_a3 return ok.");
    case ExpectEnd::TimeOut:
      return NmsRunError(-9, "telnet_recv_expect_a3 , TimeOut !");
    case ExpectEnd::NoData:
      break;
  }
  return NmsRunError(-6, "telnet_recv_expect_a3 ,TarvTelnetRecv error=%d!", count);
}

int telnet_close() {
  HandlerBegin();
  TelnetSessionReset();
  TarvSetVar2("telnet.status", "CLOSED");
  return TarvReturn(0, "telnet_close return.");
}
