// The tcp statements: connect or listen, send literal text or the selected
// text, receive by count, by time, up to an expected text or an exact text,
// and close.
#include "services/sockets/tcp_statements.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

#include "engine/core/handler.h"
#include "engine/statements/arg_checks.h"
#include "engine/core/handlers.h"
#include "engine/log/hex_dump.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/text_buffer.h"
#include "engine/core/var_store.h"
#include "services/sockets/socket_layer.h"
#include "services/sockets/statement_helpers.h"

TcpState sgTcp = {-1, -1, 0, {}, 0};

namespace {

using Clock = SocketClock;

constexpr int kArgMax = 1022;
constexpr int kPortMax = 65534;
constexpr int kRecvBytesMax = 1048576;
constexpr int kRecvSecondsMax = 86400;

void HandOut(char* dest, int count) {
  std::memcpy(dest, sgTcp.Buf.data(), count);
  TarvTcpDeleteTcpBuf(0, count);
}

// Bytes of the receive buffer read one at a time by the expect loop; they
// leave the buffer in one move when the loop is done with them.
class BufCursor {
 public:
  bool Has() const { return taken_ < sgTcp.BufLen; }
  int Ready(const char** data) const {
    *data = sgTcp.Buf.data() + taken_;
    return sgTcp.BufLen - taken_;
  }
  void Skip(int n) { taken_ += n; }
  char Next() { return sgTcp.Buf[taken_++]; }
  void Drop() {
    if (taken_ > 0) TarvTcpDeleteTcpBuf(0, taken_);
    taken_ = 0;
  }

 private:
  int taken_ = 0;
};

BufCursor& Buffered() {
  static BufCursor cursor;
  return cursor;
}

// Bytes already buffered are taken one by one without another call; the
// connection is read only when the buffer has been used up.
int TakeOne(char* dest, int seconds) {
  BufCursor& c = Buffered();
  if (c.Has()) {
    *dest = c.Next();
    return 1;
  }
  c.Drop();
  return TarvTcpRecv(dest, 1, seconds);
}

}  // namespace

void TcpStateClear() {
  WinCloseSocket(&sgTcp.DataSocket);
  WinCloseSocket(&sgTcp.ListenSocket);
  sgTcp.TcpMode = 0;
  sgTcp.Buf.fill(0);
  sgTcp.BufLen = 0;
}

int TarvTcpDeleteTcpBuf(int offset, int len) {
  if (offset < 0 || len < 0 || int64_t{offset} + len > sgTcp.BufLen)
    return TarvReturn(-1, "TarvTcpDeleteTcpBuf Len=%d,too big", len);
  sgTcp.BufLen -= len;
  std::memmove(sgTcp.Buf.data() + offset, sgTcp.Buf.data() + offset + len, sgTcp.BufLen - offset);
  return sgTcp.BufLen;
}

int TarvTcpRecv(char* dest, int wanted, int seconds) {
  if (wanted < 1) return 0;
  if (sgTcp.BufLen >= wanted) {
    HandOut(dest, wanted);
    return wanted;
  }
  const auto start = Clock::now();
  do {
    if (SecondsSince(start) > seconds || sgTcp.BufLen >= TCP_BUF) break;
    const int before = sgTcp.BufLen;
    const int n = WinTcpRecv(&sgTcp.DataSocket, sgTcp.Buf.data() + before, TCP_BUF - before,
                             Left(seconds, start));
    TarvDebugLog("\n\r\nsgTcp.BufLen=%d,TarvTcpRecv iLen = %d ", before, n);
    if (n < 1) break;
    HexLog(sgTcp.Buf.data() + before, n);
    sgTcp.BufLen += n;
    TarvDebugLog("\n\r\n ilDataLen = %d ", sgTcp.BufLen);
  } while (sgTcp.BufLen < wanted);
  const int count = std::min(wanted, static_cast<int>(sgTcp.BufLen));
  HandOut(dest, count);
  return TarvReturn(count, "TarvTcpRecv: recv return,len=%d.", count);
}

int TarvTcpSend(const char* src, int len, int seconds) {
  if (len < 1) return 0;
  const int sent =
      WinTcpSendAll(&sgTcp.DataSocket, src, len, seconds, "\n\r\nTarvTcpSend iLen = %d ");
  if (sent >= len) return TarvReturn(sent, "TarvTcpSend: send return,len=%d.", sent);
  return NmsRunError(sent, "TarvTcpSend: send return,len=%d.", sent);
}

int tcp_connect_ip_a3_port_a5() {
  HandlerBegin();
  TarvSetVar2("tcp.status", "CLOSED");
  // One connection at a time: the one this replaces is closed, not leaked.
  TcpStateClear();
  sgTcp.TcpMode = 1;
  const int sock = ConnectHostPort("tcp_connect_ip_a3_port_a5");
  if (sock == -99) sgTcp.TcpMode = 0;
  if (sock < 0) return sock;
  sgTcp.DataSocket = sock;
  TarvSetVar2("tcp.status", "ESTABLISHED");
  return TarvReturn(0, "tcp_connect_ip_a3_port_a5 return, TcpMode =%d .", sgTcp.TcpMode);
}

int tcp_server_listen_port_a4() {
  HandlerBegin();
  TarvSetVar2("tcp.status", "CLOSED");
  int port = 0;
  if (!ArgNumber(4, 1, kPortMax, &port)) return -4;
  TcpStateClear();
  sgTcp.TcpMode = 1;
  TarvZeroVar("tcp.client.ip");
  TarvZeroVar("tcp.client.port");
  const int sock = WinTcpListenV6(port);
  if (sock < 0) return sock;  // the listener has recorded its error
  sgTcp.DataSocket = sock;
  TarvSetVar2("tcp.status", "ESTABLISHED");
  return TarvReturn(0, "tcp_server_listen_port_a4 return.");
}

int tcp_send_a2() {
  HandlerBegin();
  if (!ArgLength(2, kArgMax)) return -2;
  const int sent = TarvTcpSend(agA[2], igL[2], sgRun.StepTimeout);
  return TarvReturn(sent, "tcp_send_a2 return. send len=%d", sent);
}

int tcp_send_text() {
  HandlerBegin();
  const char* data = nullptr;
  int len = 0;
  if (!SendSelection(&data, &len))
    return NmsRunError(-1, "tcp_send_text: no text be selected, error.");
  TarvTcpSend(data, len, sgRun.StepTimeout);
  return TarvReturn(0, "tcp_send_text return.");
}

int tcp_recv_a2() {
  HandlerBegin();
  if (!ArgLength(2, kArgMax)) return -2;
  const int len = igL[2];
  char buf[TCP_BUF] = {};
  const int n = TarvTcpRecv(buf, len, sgRun.StepTimeout);
  if (n < 1) {
    TarvSetVar2("tcp.status", "CLOSED");
    return NmsRunError(-6, "tcp_recv_a2 ,TarvTcpRecv error=%d!", n);
  }
  TextAdd(buf, n);
  if (n != len || std::memcmp(buf, agA[2], len) != 0)
    return NmsRunError(-6, "tcp_recv_a2 ,Not Match !");
  return TarvReturn(0, "tcp_recv_a2 return ok.");
}

int tcp_recv_expect_a3() {
  HandlerBegin();
  if (!ArgLength(3, kArgMax)) return -3;
  int count = 0;
  static constexpr ExpectSource kSource = {
      TakeOne, [](const char** data) { return Buffered().Ready(data); },
      [](int n) { Buffered().Skip(n); }, [] { Buffered().Drop(); }};
  switch (ExpectText(std::string_view(agA[3], igL[3]), kSource, &count)) {
    case ExpectEnd::Match:
      return TarvReturn(0, "tcp_recv_expect_a3 return ok.");
    case ExpectEnd::TimeOut:
      return NmsRunError(-9, "tcp_recv_expect_a3 , TimeOut !");
    case ExpectEnd::NoData:
      break;
  }
  TarvSetVar2("tcp.status", "CLOSED");
  return NmsRunError(-6, "tcp_recv_expect_a3 ,TarvTcpRecv error=%d!", count);
}

int tcp_recv_for_a3_bytes() {
  HandlerBegin();
  int wanted = 0;
  if (!ArgNumber(3, 0, kRecvBytesMax, &wanted)) return -3;
  // The room behind the last byte, less the spare byte that keeps a NUL
  // after a full text.
  const int64_t room = static_cast<int64_t>(sgRun.Text.size()) - 2 - sgRun.TextLen;
  if (wanted > room) return NmsRunError(-9, "text buf is low !");
  // Straight into the text: no echo, no append entries; the receive dumps
  // what it reads itself.
  const int n = TarvTcpRecv(sgRun.Text.data() + sgRun.TextLen + 1, wanted, sgRun.StepTimeout);
  sgRun.TextLen += n;
  if (n != wanted)
    return NmsRunError(-7, "tcp_recv_for_a3_bytes recv len=%d ,but want len=%d !", n, wanted);
  return TarvReturn(0, "tcp_recv_for_a3_bytes return.");
}

int tcp_recv_for_a3_seconds() {
  HandlerBegin();
  int seconds = 0;
  if (!ArgNumber(3, 0, kRecvSecondsMax, &seconds)) return -3;
  ReceiveForSeconds(seconds, TarvTcpRecv);
  return TarvReturn(0, "tcp_recv_for_a3_seconds return.");
}

int tcp_close() {
  HandlerBegin();
  sgTcp.TcpMode = 0;
  WinCloseSocket(&sgTcp.DataSocket);
  WinCloseSocket(&sgTcp.ListenSocket);
  TarvSetVar2("tcp.status", "CLOSED");
  return TarvReturn(0, "tcp_close return.");
}
