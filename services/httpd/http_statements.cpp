// The http statements: listening, the request loop that serves static files
// and hands dynamic requests to the script, and the answers of the script.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "platform/socket.h"
#include "services/httpd/http_server.h"
#include "services/sockets/socket_layer.h"

HttpState sgHttp;

namespace {

constexpr int kPortMax = 65534;
constexpr int kSendMax = 1022;

bool AnySlotFree() {
  for (const HttpClient& c : sgHttp.Client)
    if (!c.InUse) return true;
  return false;
}

void AcceptClient() {
  int i = 0;
  while (i < HTTP_SLOTS && sgHttp.Client[i].InUse) i++;
  if (i == HTTP_SLOTS) {
    TarvDebugLog("\nWinHttpTcpRecv: new Connection,But All 20 socket is not free!!!");
    return;
  }
  HttpClient& c = sgHttp.Client[i];
  c.Len = 0;
  sockaddr_storage peer{};
  socklen_t peerLen = sizeof peer;
  const int fd = SockAccept(sgHttp.ListenSocket, &peer, &peerLen);
  if (fd == -EAGAIN || fd == -ECONNABORTED) return;  // the client left before it was taken
  if (fd < 0) {
    NmsRunError(-2, "WinHttpTcpRecv: accept err=%d", -fd);
    return;
  }
  const auto& v4 = reinterpret_cast<const sockaddr_in&>(peer);
  c.Socket = fd;
  c.InUse = 1;
  c.Deadline = HttpDeadlineFromNow();
  inet_ntop(AF_INET, &v4.sin_addr, c.Ip.data(), c.Ip.size());
  c.Port = ntohs(v4.sin_port);
  TarvDebugLog("\nWinHttpTcpRecv: new Connection,Client index=%d,ip<%s>,port<%d>.", i, c.Ip.data(),
               c.Port);
}

void ReadClient(int i, int* total) {
  HttpClient& c = sgHttp.Client[i];
  if (c.Len >= HTTP_FULL) {
    TarvDebugLog("\nWinHttpTcpRecv: client[%d] recv len=%d >=SIZE_2K - 6,be closed.", i, c.Len);
    Http_CloseClientByIndex(i);
    return;
  }
  const int n = SockRecv(c.Socket, c.Buf.data() + c.Len, HTTP_RECV_MAX - c.Len);
  if (n > 0) {
    c.Len += n;
    *total += n;
    TarvDebugLog("\nWinHttpTcpRecv: client[%d],recv len=%d .", i, n);
  } else if (n == 0) {
    TarvDebugLog("\nWinHttpTcpRecv: client[%d] recv len=%d,select socket closed.", i, n);
    Http_CloseClientByIndex(i);
  } else if (n != -EAGAIN) {
    // A reset or failed connection stays readable: left open it would be
    // polled again at once, for ever.
    TarvDebugLog("\nWinHttpTcpRecv: client[%d] recv len=%d,select socket Error.", i, n);
    Http_CloseClientByIndex(i);
  }
}

// A slot the request loop watches: one still receiving its request or
// sending a static answer (a dynamic request waits for the script).
bool Watched(const HttpClient& c) { return c.InUse && c.RequestType != HTTP_DYNAMIC; }

// Closes the watched slots whose deadline has passed: a client that neither
// completes its request nor takes its answer in time holds a slot no longer.
void CloseLateSlots() {
  const int64_t now = SockNowMs();
  for (int i = 0; i < HTTP_SLOTS; i++) {
    const HttpClient& c = sgHttp.Client[i];
    if (!Watched(c) || now < c.Deadline) continue;
    TarvDebugLog("\nWinHttpTcpRecv: client[%d] idle past its deadline,be closed.", i);
    Http_CloseClientByIndex(i);
  }
}

// One pass of waiting and receiving: the bytes received.
int WinHttpTcpRecv() {
  int fds[HTTP_SLOTS + 1];
  short events[HTTP_SLOTS + 1];
  int owner[HTTP_SLOTS + 1];
  short revents[HTTP_SLOTS + 1] = {};
  int count = 0;
  // With every slot taken the listener is left out of the wait: a queued
  // connection would keep it ready and the wait would spin.
  if (AnySlotFree()) {
    fds[count] = sgHttp.ListenSocket;
    events[count] = POLLIN;
    owner[count++] = -1;
  }
  // The wait ends at the earliest deadline of a watched slot.
  int64_t first = INT64_MAX;
  for (int i = 0; i < HTTP_SLOTS; i++) {
    const HttpClient& c = sgHttp.Client[i];
    if (!Watched(c)) continue;
    fds[count] = c.Socket;
    events[count] = c.Answering ? POLLOUT : POLLIN;
    owner[count++] = i;
    first = std::min(first, c.Deadline);
  }
  if (count == 0) return TarvReturn(0, "WinHttpTcpRecv: recv return,len=%d.", 0);
  int waitMs = SOCK_WAIT_FOREVER;
  if (first != INT64_MAX)
    waitMs = static_cast<int>(std::clamp<int64_t>(first - SockNowMs(), 0, INT_MAX));
  TarvDebugLog("\nWinHttpTcpRecv: select begin ....");
  const int r = SockWaitEach(fds, events, count, revents, waitMs);
  TarvDebugLog("\nWinHttpTcpRecv: select ret=%d .", r);
  if (r < 0) return NmsRunError(0, "WinHttpTcpRecv: recv len=%d,select ret SOCKET_ERROR", 0);
  int total = 0;
  if (owner[0] == -1 && revents[0] != 0) AcceptClient();
  for (int k = 0; k < count; k++) {
    const int i = owner[k];
    if (i < 0 || revents[k] == 0) continue;
    if (sgHttp.Client[i].Answering)
      HttpAnswerMore(i);
    else
      ReadClient(i, &total);
  }
  CloseLateSlots();
  return TarvReturn(total, "WinHttpTcpRecv: recv return,len=%d.", total);
}

// The dynamic request to hand over: the first one not handed yet, else
// (when allowed) the first one the script has not ended; -1 when none.
int PickRequest(bool againToo) {
  int again = -1;
  for (int i = 0; i < HTTP_SLOTS; i++) {
    const HttpClient& c = sgHttp.Client[i];
    if (!c.InUse || c.RequestType != HTTP_DYNAMIC) continue;
    if (!c.Handed) return i;
    if (again < 0) again = i;
  }
  return againToo ? again : -1;
}

int HandOver(int i) {
  sgHttp.Current = i;
  sgHttp.Client[i].Handed = 1;
  // What an earlier request published does not show through this one.
  HttpForgetPublished();
  Http_ParserHead(i, true);
  Http_ParserVars(i);
  return TarvReturn(0, "http_recv_request, New Jsp Request,index=%d,...", i);
}

// The slot the send statements answer, or -1 (a run error) when no request
// has been handed over or it has been ended.
int Answered(const char* handler) {
  const int i = sgHttp.Current;
  if (i >= 0 && i < HTTP_SLOTS && sgHttp.Client[i].InUse) return i;
  NmsRunError(-1, "%s: no request to answer !", handler);
  return -1;
}

}  // namespace

void HttpStateClear() {
  SockClose(&sgHttp.ListenSocket);
  for (int i = 0; i < HTTP_SLOTS; i++) {
    HttpClient& c = sgHttp.Client[i];
    SockClose(&c.Socket);
    if (c.Answering && c.FileFd >= 0) close(c.FileFd);
    std::memset(static_cast<void*>(&c), 0, sizeof c);
    c.Socket = -1;
    c.FileFd = -1;
  }
  sgHttp.Published.clear();
  sgHttp.Current = -1;
  sgHttp.Port = 0;
  sgHttp.Root.fill(0);
  sgHttp.FileLen = 0;
  sgHttp.Path.fill(0);
  sgHttp.PathLen = 0;
}

int http_listen_port_a3_root_dir_a6() {
  HandlerBegin();
  // The sockets of an earlier listen are closed, not leaked.
  HttpStateClear();
  if (const int rc = ArgCheckRange(3, 1, kPortMax)) return rc;
  const int port = igV[3];
  if (ArgCheckLength(6, HTTP_ROOT, -3) != 0) return -3;
  sgHttp.Port = port;
  std::memcpy(sgHttp.Root.data(), agA[6], igL[6]);
  sgHttp.Root[igL[6]] = 0;
  const int fd = WinTcpListen(port);
  if (fd < 0) return NmsRunError(-2, "http_listen_port_a3_root_dir_a6 WinTcpListen < 0");
  sgHttp.ListenSocket = fd;
  // A client that gives up between the wait and the accept must not block it.
  SockSetNonBlocking(fd, true);
  return TarvReturn(0, "http_listen_port_a3_root_dir_a6 return.");
}

int http_recv_request() {
  sgRun.StepRunState = ENDOK;
  if (sgHttp.ListenSocket < 0) return NmsRunError(-1, "http_recv_request: not listening !");
  // Requests that arrived together with the last one are served first.
  int i = PickRequest(false);
  if (i >= 0) return HandOver(i);
  for (;;) {
    TarvDebugLog("\nhttp_recv_request ,WinHttpTcpRecv( ), begin ....");
    const int n = WinHttpTcpRecv();
    TarvDebugLog("\nhttp_recv_request ,WinHttpTcpRecv( ), ret = %d", n);
    for (int k = 0; k < HTTP_SLOTS; k++)
      if (Watched(sgHttp.Client[k]) && !sgHttp.Client[k].Answering) Http_CheckRequest(k);
    i = PickRequest(true);
    if (i >= 0) return HandOver(i);
  }
}

int http_send_head() {
  sgRun.StepRunState = ENDOK;
  const int i = Answered("http_send_head");
  if (i < 0) return -1;
  HttpSend_AnswerHead(i, "text/html", 0);
  return TarvReturn(0, "http_send_head return.");
}

int http_send_a2() {
  sgRun.StepRunState = ENDOK;
  if (ArgCheckLength(2, kSendMax, -3) != 0) return -3;
  const int i = Answered("http_send_a2");
  if (i < 0) return -1;
  HttpSendAll(i, agA[2], igL[2]);
  return TarvReturn(0, "http_send_a2 return.");
}

int http_send_text() {
  sgRun.StepRunState = ENDOK;
  const int64_t head = sgRun.headPointer;
  const int64_t tail = sgRun.tailPointer;
  if (!(tail - head >= 1 && head >= 1 && tail <= sgRun.TextLen))
    return NmsRunError(-1, "http_send_text: no text be selected, error.");
  const int i = Answered("http_send_text");
  if (i < 0) return -1;
  HttpSendAll(i, sgRun.Text.data() + head, static_cast<int>(tail - head + 1));
  return TarvReturn(0, "http_send_text return.");
}

int http_send_end() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nhttp_send_end ,begin ...,close client[%d] .", sgHttp.Current);
  const int i = Answered("http_send_end");
  if (i < 0) return -1;
  Http_CloseClientByIndex(i);
  return TarvReturn(0, "http_send_end return.");
}
