// The udp statements: connect or listen, send literal text or the selected
// text as one datagram, receive a number of datagrams or for a time, close.
#include "services/sockets/udp_statements.h"

#include <algorithm>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/text_buffer.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "platform/socket.h"
#include "services/sockets/socket_layer.h"
#include "services/sockets/statement_helpers.h"

namespace {

constexpr int kHostMax = 260;
constexpr int kPortMax = 65534;
constexpr int kSendMax = 1022;
constexpr int kServer = 1;

const char* IpVar() { return sgUdp.Mode == kServer ? "udp.client.ip" : "udp.server.ip"; }
const char* PortVar() { return sgUdp.Mode == kServer ? "udp.client.port" : "udp.server.port"; }

// The count of argument 2, at least 1; on failure the run error's code is -2.
bool ArgCount(int* count) {
  if (ArgCheckInteger(2) != 0) return false;
  *count = igV[2];
  if (*count <= 0) {
    NmsRunError(-2, "Arg:2=%d  <= 0 !", *count);
    return false;
  }
  return true;
}

// One receive into the record's buffer; a datagram goes to the text and its
// sender to the variables.  Once the text has refused a datagram (its one
// counted error) the receive still runs to its count or its seconds, taking
// the rest off the socket, but drops them.
void ReceiveOne(int seconds, TextAppender* text) {
  const int n = WinUdpRecv4(&sgUdp.Socket, sgUdp.Buf.data(), UDP_BUF, seconds);
  sgUdp.LastLen = n;
  if (n <= 0) return;
  text->Add(sgUdp.Buf.data(), n);
  sgUdp.LastLen = 0;
  UdpSetVar_Remote_Addr_port();
}

}  // namespace

void UdpSetVar_Remote_Addr_port() {
  char text[SOCK_ADDR_TEXT];
  if (WinAddrText(sgUdp.addrClient, static_cast<socklen_t>(sgUdp.PeerLen), text, sizeof text) < 0)
    text[0] = 0;
  TarvDebugLog("\nUdpSetVar_Remote_Addr_port Addr =[%s]", text);
  TarvSetAddrVars(text, IpVar(), PortVar());
}

int udp_client_connect_ip_a4_port_a6() {
  HandlerBegin();
  UdpStateClear();
  int port = 0;
  if (!ArgLength(4, kHostMax) || !ArgNumber(6, 1, kPortMax, &port)) return -1;
  sgUdp.Mode = 0;
  if (TarvIsIpV4(agA[4]) == 0)
    sgUdp.Socket = WinUdpConnect2(agA[4], port);
  else if (TarvIsIpV6(agA[4]) == 0)
    sgUdp.Socket = WinUdpConnect2V6(agA[4], port);
  else
    return NmsRunError(-2, "udp_client_connect_ip_a4_port_a6: arg <4> is not ip address");
  // A failed socket call has recorded its own error.
  if (sgUdp.Socket < 0) sgUdp.Socket = -1;
  return TarvReturn(0, "udp_client_connect_ip_a4_port_a6 return.");
}

int udp_server_listen_port_a4() {
  HandlerBegin();
  UdpStateClear();
  int port = 0;
  if (!ArgNumber(4, 1, kPortMax, &port)) return -4;
  sgUdp.Mode = kServer;
  sgUdp.Socket = WinUdpListenV6(port);
  if (sgUdp.Socket < 0) sgUdp.Socket = -1;
  return TarvReturn(0, "udp_server_listen_port_a4 return.");
}

int udp_send_a2() {
  HandlerBegin();
  if (!ArgLength(2, kSendMax)) return -2;
  WinUdpSend3(sgUdp.Socket, agA[2], igL[2]);
  return TarvReturn(0, "udp_send_a2 return.");
}

int udp_send_text() {
  HandlerBegin();
  const char* data = nullptr;
  int len = 0;
  if (!SendSelection(&data, &len))
    return NmsRunError(-1, "udp_send_text: no text be selected, error.");
  WinUdpSend3(sgUdp.Socket, data, len);
  return TarvReturn(0, "udp_send_text return.");
}

int udp_recv_a2_packets() {
  HandlerBegin();
  TarvZeroVar(IpVar());
  TarvZeroVar(PortVar());
  int count = 0;
  if (!ArgCount(&count)) return -2;
  // A server waits for its datagrams however long they take; a client waits
  // one step time-out for each, and never without limit.
  const int seconds = sgUdp.Mode == kServer ? 0 : std::max(1, static_cast<int>(sgRun.StepTimeout));
  TextAppender text;
  for (int i = 0; i < count; i++) ReceiveOne(seconds, &text);
  return TarvReturn(0, "udp_recv_a2_packets.");
}

int udp_recv_a2_seconds() {
  HandlerBegin();
  TarvZeroVar(IpVar());
  TarvZeroVar(PortVar());
  int seconds = 0;
  if (!ArgCount(&seconds)) return -2;
  const auto start = SocketClock::now();
  // The wait is never 0, which would mean no limit.
  TextAppender text;
  for (int left = seconds; left >= 1; left = Left(seconds, start)) ReceiveOne(left, &text);
  return TarvReturn(0, "udp_recv_a2_seconds return.");
}

int udp_close() {
  HandlerBegin();
  WinCloseSocket(&sgUdp.Socket);
  return TarvReturn(0, "udp_close return.");
}
