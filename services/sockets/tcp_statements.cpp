// The tcp statements: connect or listen, send literal text or the selected
// text, receive by count, by time, up to an expected text or an exact text,
// and close.
#include "services/sockets/tcp_statements.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

#include "engine/statements/arg_checks.h"
#include "engine/core/handlers.h"
#include "engine/log/hex_dump.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/text_buffer.h"
#include "engine/core/var_store.h"
#include "services/sockets/socket_layer.h"

TcpState sgTcp = {-1, -1, 0, {}, 0};

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kArgMax = 1022;
constexpr int kHostMax = 250;
constexpr int kPortMax = 65534;
constexpr int kRecvBytesMax = 1048576;
constexpr int kRecvSecondsMax = 86400;
constexpr int kExpectWindow = 2048;
constexpr int kExpectFlush = 512;
constexpr int kSecondsChunk = 1020;

int64_t SecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
}

// Seconds left of a budget, kept within the int range the waits take.
int Left(int64_t budget, Clock::time_point start) {
  return static_cast<int>(std::clamp<int64_t>(budget - SecondsSince(start), INT32_MIN, INT32_MAX));
}

// Length of argument w in 1..max; on failure the run error's code is -w.
bool ArgLength(int w, int max) { return ArgCheckLength(w, max, -w) == 0; }

// Whole-number argument w in lo..hi into *value (and its integer slot).
bool ArgNumber(int w, int lo, int hi, int* value) {
  if (!ArgReadInteger(w)) {
    NmsRunError(-w, "Arg:%d is not integer !", w);
    return false;
  }
  *value = igV[w];
  if (*value < lo) {
    NmsRunError(-w, "Arg:%d=%d  < %d !", w, *value, lo);
    return false;
  }
  if (*value > hi) {
    NmsRunError(-w, "Arg:%d=%d > %d !", w, *value, hi);
    return false;
  }
  return true;
}

void HandOut(char* dest, int count) {
  std::memcpy(dest, sgTcp.Buf.data(), count);
  TarvTcpDeleteTcpBuf(0, count);
}

// Bytes of the receive buffer read one at a time by the expect loop; they
// leave the buffer in one move when the cursor is done with them.
class BufCursor {
 public:
  ~BufCursor() { Drop(); }
  bool Has() const { return taken_ < sgTcp.BufLen; }
  char Next() { return sgTcp.Buf[taken_++]; }
  void Drop() {
    if (taken_ > 0) TarvTcpDeleteTcpBuf(0, taken_);
    taken_ = 0;
  }

 private:
  int taken_ = 0;
};

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
  const auto start = Clock::now();
  int sent = 0;
  while (SecondsSince(start) <= seconds) {
    const int n = WinTcpSend(&sgTcp.DataSocket, src + sent, len - sent, Left(seconds, start));
    if (n < 1) break;
    TarvDebugLog("\n\r\nTarvTcpSend iLen = %d ", n);
    HexLogSent(src, sent, n);
    sent += n;
    if (sent >= len) return TarvReturn(sent, "TarvTcpSend: send return,len=%d.", sent);
  }
  return NmsRunError(sent, "TarvTcpSend: send return,len=%d.", sent);
}

int tcp_connect_ip_a3_port_a5() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\ntcp_connect_ip_a3_port_a5 ,begin ...");
  TarvSetVar2("tcp.status", "CLOSED");
  // One connection at a time: the one this replaces is closed, not leaked.
  TcpStateClear();
  sgTcp.TcpMode = 1;
  int port = 0;
  if (!ArgLength(3, kHostMax) || !ArgNumber(5, 1, kPortMax, &port)) return -1;

  int sock;
  if (TarvIsIpV4(agA[3]) == 0)
    sock = WinTcpConnect(agA[3], port);
  else if (TarvIsIpV6(agA[3]) == 0)
    sock = WinTcpConnect2V6(agA[3], port);
  else
    return NmsRunError(-2, "tcp_connect_ip_a3_port_a5: arg <3> is not ip address");
  if (sock < 0) {
    sgTcp.TcpMode = 0;
    return NmsRunError(-99, "tcp_connect_ip_a3_port_a5: WinTcpConnect < 0 .");
  }
  sgTcp.DataSocket = sock;
  TarvSetVar2("tcp.status", "ESTABLISHED");
  return TarvReturn(0, "tcp_connect_ip_a3_port_a5 return, TcpMode =%d .", sgTcp.TcpMode);
}

int tcp_server_listen_port_a4() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\ntcp_server_listen_port_a4 ,begin ...");
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
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\ntcp_send_a2 ,begin ...");
  if (!ArgLength(2, kArgMax)) return -2;
  const int sent = TarvTcpSend(agA[2], igL[2], sgRun.StepTimeout);
  return TarvReturn(sent, "tcp_send_a2 return. send len=%d", sent);
}

int tcp_send_text() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\ntcp_send_text ,begin ...");
  const int64_t head = sgRun.headPointer;
  const int64_t tail = sgRun.tailPointer;
  if (tail - head >= 1 && head >= 1 && tail <= sgRun.TextLen) {
    TarvTcpSend(sgRun.Text.data() + head, static_cast<int>(tail - head + 1), sgRun.StepTimeout);
    return TarvReturn(0, "tcp_send_text return.");
  }
  return NmsRunError(-1, "tcp_send_text: no text be selected, error.");
}

int tcp_recv_a2() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\ntcp_recv_a2 ,begin ...");
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
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\ntcp_recv_expect_a3 ,begin ...");
  if (!ArgLength(3, kArgMax)) return -3;
  const int len = igL[3];
  const std::string_view expect(agA[3], len);
  char window[kExpectWindow] = {};
  int filled = 0;
  const auto start = Clock::now();
  const int64_t timeout = sgRun.StepTimeout;
  int remaining = Left(timeout, start);
  if (remaining <= 0) return NmsRunError(-9, "tcp_recv_expect_a3 , TimeOut !");

  BufCursor buffered;
  for (;;) {
    // Bytes already buffered are taken one by one without another call; the
    // connection is read only when the buffer has been used up.
    if (buffered.Has()) {
      window[filled] = buffered.Next();
    } else {
      buffered.Drop();
      const int n = TarvTcpRecv(window + filled, 1, remaining);
      if (n < 1) {
        // What arrived before the peer fell silent still belongs to the text.
        if (filled > 0) TextAdd(window, filled);
        TarvSetVar2("tcp.status", "CLOSED");
        return NmsRunError(-6, "tcp_recv_expect_a3 ,TarvTcpRecv error=%d!", n);
      }
    }
    filled++;
    if (filled >= len && std::string_view(window + filled - len, len) == expect) break;
    remaining = Left(timeout, start);
    if (filled - len >= kExpectFlush) {
      TextAdd(window, kExpectFlush);
      filled -= kExpectFlush;
      std::memmove(window, window + kExpectFlush, filled);
    }
    if (remaining < 1) {
      buffered.Drop();
      TextAdd(window, filled);
      return NmsRunError(-9, "tcp_recv_expect_a3 , TimeOut !");
    }
  }
  buffered.Drop();
  TextAdd(window, filled);
  return TarvReturn(0, "tcp_recv_expect_a3 return ok.");
}

int tcp_recv_for_a3_bytes() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\ntcp_recv_for_a3_bytes ,begin ...");
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
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\ntcp_recv_for_a3_seconds ,begin ...");
  int seconds = 0;
  if (!ArgNumber(3, 0, kRecvSecondsMax, &seconds)) return -3;
  const auto start = Clock::now();
  char buf[1024];
  for (int remaining = Left(seconds, start); remaining >= 1; remaining = Left(seconds, start)) {
    std::memset(buf, 0, sizeof buf);
    const int n = TarvTcpRecv(buf, kSecondsChunk, remaining);
    if (n > 0)
      TextAdd(buf, n);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  }
  return TarvReturn(0, "tcp_recv_for_a3_seconds return.");
}

int tcp_close() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\ntcp_close ,begin ...");
  sgTcp.TcpMode = 0;
  WinCloseSocket(&sgTcp.DataSocket);
  WinCloseSocket(&sgTcp.ListenSocket);
  TarvSetVar2("tcp.status", "CLOSED");
  return TarvReturn(0, "tcp_close return.");
}
