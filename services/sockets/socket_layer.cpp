// The socket layer of the network statements, over the POSIX socket layer.
#include "services/sockets/socket_layer.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "engine/log/hex_dump.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "engine/core/var_store.h"
#include "platform/socket.h"
#include "platform/socket_inbox.h"
#include "services/sockets/statement_helpers.h"

UdpState sgUdp = {-1, 0, 0, {}, {}, 0};

namespace {

constexpr int kBacklog = 5;
constexpr int kRecvExtraMs = 100;  // receives wait a tenth of a second beyond their seconds
constexpr int kHostRoom = 100;
constexpr short kReadable = POLLIN | POLLHUP | POLLERR;
constexpr short kWritable = POLLOUT | POLLHUP | POLLERR;

// Every socket function first makes sure the library is started; a failed
// start-up has already left its trace.
bool Ready() {
  if (sgRun.WsaState != 1) TarvWsaStartup();
  return sgRun.WsaState == 1;
}

int WaitSeconds(int seconds) { return std::max(1, seconds); }

// Milliseconds for poll, computed in 64 bits and kept within its range.
int WaitMs(int seconds, int extraMs) {
  const int64_t ms = int64_t{WaitSeconds(seconds)} * 1000 + extraMs;
  return static_cast<int>(std::min<int64_t>(ms, INT_MAX));
}

// The sockets of one listen scan, closed when the scan is over except the
// one handed out.
class ScanSockets {
 public:
  ~ScanSockets() {
    for (int i = 0; i < count_; i++) SockClose(&fds_[i]);
  }
  int count() const { return count_; }
  const int32_t* data() const { return fds_.data(); }
  int32_t at(int i) const { return fds_[i]; }
  void Add(int32_t fd) { fds_[count_++] = fd; }
  int32_t Release(int i) {
    const int32_t fd = fds_[i];
    fds_[i] = -1;
    return fd;
  }

 private:
  std::array<int32_t, SOCK_ADDR_INFO_MAX> fds_;
  int count_ = 0;
};

bool LinkLocalWithoutScope(const SockAddrInfo& a) {
  if (a.Family != AF_INET6) return false;
  const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a.Addr);
  const uint8_t* b = v6.sin6_addr.s6_addr;
  return b[0] == 0xFE && (b[1] & 0xC0) == 0x80 && v6.sin6_scope_id == 0;
}

struct ScanNames {
  const char* v6;  // "\nTcp.Listen IPv6=[%s]"
  const char* v4;
  const char* nic;
  const char* resolveFailed;
};

// Binds a socket on every passive any-address of the port (and listens on
// the stream ones).  Returns 0 with the sockets in *socks, or the run error.
int PassiveScan(int port, int type, const ScanNames& names, ScanSockets* socks, int* answers) {
  char portText[16];
  std::snprintf(portText, sizeof portText, "%d", port);
  // One answer beyond what can be served shows that some had to be left out.
  std::array<SockAddrInfo, SOCK_ADDR_INFO_MAX + 1> list;
  int n = 0;
  const int r = SockResolveNumeric(nullptr, portText, true, AF_UNSPEC, type, 0, list.data(),
                                   static_cast<int>(list.size()), &n);
  *answers = n;
  if (r != 0) return NmsRunError(-1, names.resolveFailed, r, SockResolveErrorText(r));

  for (int i = 0; i < n; i++) {
    const SockAddrInfo& a = list[i];
    if (a.Family != AF_INET && a.Family != AF_INET6) continue;
    char text[SOCK_ADDR_TEXT];
    // The IPv4 line shows the dotted address alone: without its port.
    sockaddr_storage shown = a.Addr;
    if (a.Family == AF_INET) reinterpret_cast<sockaddr_in&>(shown).sin_port = 0;
    if (SockAddrText(shown, a.Len, text, sizeof text) < 0) text[0] = 0;
    TarvDebugLog(a.Family == AF_INET6 ? names.v6 : names.v4, text);
    TarvDebugLog(names.nic, socks->count(), a.Flags, a.Family, a.SockType, a.Protocol, "(null)");
    if (socks->count() == SOCK_ADDR_INFO_MAX) {
      HtmlLogError("getaddrinfo returned more addresses than we could use. i=%d",
                   SOCK_ADDR_INFO_MAX);
      break;
    }
    int32_t fd = SockOpen(a.Family, a.SockType, a.Protocol);
    if (fd < 0) {
      NmsRunError(-2, "socket(i=%d) failed with error %d ", socks->count(), -fd);
      continue;
    }
    if (LinkLocalWithoutScope(a))
      HtmlLogError("IPv6 link local addresses should specify a scope ID!");
    // The IPv6 any-address must not swallow IPv4 as well, or 0.0.0.0 could
    // not be bound beside it; a port left in TIME_WAIT by an earlier run of
    // the statement may be listened on again.
    if (a.Family == AF_INET6) SockSetV6Only(fd, true);
    if (a.SockType == SOCK_STREAM) SockSetReuseAddr(fd);
    int e = SockBind(fd, a.Addr, a.Len);
    if (e < 0) {
      NmsRunError(-3, "bind() failed with error %d", -e);
      SockClose(&fd);
      continue;
    }
    if (a.SockType == SOCK_STREAM) {
      e = SockListen(fd, kBacklog);
      if (e < 0) {
        NmsRunError(-4, "listen() failed with error %d: %s", -e, SockErrorText(-e));
        SockClose(&fd);
        continue;
      }
    }
    // Readiness can vanish before the accept or read (a client that gives
    // up): the wait is then taken up again instead of blocking in the call.
    SockSetNonBlocking(fd, true);
    TarvDebugLog("\n'Listening' on port %s, protocol %s, protocol family %s", portText,
                 a.SockType == SOCK_STREAM ? "TCP" : "UDP",
                 a.Family == AF_INET ? "PF_INET" : "PF_INET6");
    socks->Add(fd);
  }
  if (socks->count() == 0) return NmsRunError(-5, "Fatal error: unable to serve on any address.");
  return 0;
}

// Waits without limit until one of the sockets is readable: its index, or
// the run error.
int WaitFirstReady(const ScanSockets& socks) {
  std::array<short, SOCK_ADDR_INFO_MAX> revents{};
  const int r = SockWait(socks.data(), socks.count(), POLLIN, revents.data(), SOCK_WAIT_FOREVER);
  if (r < 0) return NmsRunError(-6, "select() failed with error %d", -r);
  for (int i = 0; i < socks.count(); i++)
    if (revents[i] & (POLLIN | POLLERR | POLLHUP)) return i;
  return NmsRunError(-6, "select() failed with error %d", EBADF);
}

}  // namespace

void UdpStateClear() {
  SockClose(&sgUdp.Socket);
  std::memset(&sgUdp, 0, sizeof sgUdp);
  sgUdp.Socket = -1;
}

void WinCloseSocket(int32_t* sock) { SockClose(sock); }

int TarvWsaStartup() {
  if (sgRun.WsaState == 1) return 0;
  // A send to a peer that has gone must fail with an error, not end the program.
  const int r = SockIgnoreSigpipe();
  if (r < 0) {
    TarvDebugLog("\n\r\n WSAStartup Error : #%i .", -r);
    sgRun.WsaState = -1;
    return -1;
  }
  TarvDebugLog("\n\r\n WSAStartup ok : %s", "POSIX sockets, IPv4 and IPv6");
  sgRun.WsaState = 1;
  return 0;
}

int WinAddrText(const sockaddr_storage& addr, socklen_t len, char* dest, int room) {
  return SockAddrText(addr, len, dest, room);
}

void TarvSetAddrVars(const char* text, const char* ipVar, const char* portVar) {
  const char* colon = std::strrchr(text, ':');
  const char* end = colon ? colon : text + std::strlen(text);
  char ip[SOCK_ADDR_TEXT];
  int n = 0;
  for (const char* p = text; p < end && n < static_cast<int>(sizeof ip) - 1; p++)
    if (*p != '[' && *p != ']') ip[n++] = *p;
  ip[n] = 0;
  if (colon) TarvSetVar2(portVar, colon + 1);
  TarvSetVar2(ipVar, ip);
}

int WinTcpListen(int port) {
  if (!Ready()) return -1;
  int32_t fd = SockOpen(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return NmsRunError(-1, "WinTcpListen: socket err");
  SockSetReuseAddr(fd);
  const uint8_t any[4] = {0, 0, 0, 0};
  sockaddr_storage addr;
  const socklen_t len = SockAddrV4(any, port, &addr);
  int e = SockBind(fd, addr, len);
  if (e < 0) {
    SockClose(&fd);
    return NmsRunError(-3, "WinTcpListen: bind port [%d] err=%d", port, -e);
  }
  e = SockListen(fd, kBacklog);
  if (e < 0) {
    SockClose(&fd);
    return NmsRunError(-4, "WinTcpListen: listen [%d] err", port);
  }
  TarvDebugLog("\nWinTcpListen port [%d],ret=%d", port, 0);
  return fd;
}

int WinTcpListenV6(int port) {
  if (!Ready()) return -1;
  static constexpr ScanNames kNames = {
      "\nTcp.Listen IPv6=[%s]", "\nTcp.Listen IPv4=[%s]",
      "\nWinTcpListenV6 nic index=%d,ai_flags=%d,ai_family=%d,ai_socktype=%d,ai_protocol=%d,"
      "ai_canonname=[%s]",
      "WinTcpListenV6: getaddrinfo failed with error %d: %s"};
  ScanSockets socks;
  int answers = 0;
  const int r = PassiveScan(port, SOCK_STREAM, kNames, &socks, &answers);
  if (r < 0) return r;

  for (;;) {
    const int i = WaitFirstReady(socks);
    if (i < 0) return i;
    sockaddr_storage peer;
    socklen_t peerLen = 0;
    const int c = SockAccept(socks.at(i), &peer, &peerLen);
    if (c == -EAGAIN || c == -ECONNABORTED) continue;  // the client left before the accept
    if (c < 0) return NmsRunError(-7, "accept() failed with error %d", -c);
    char text[SOCK_ADDR_TEXT];
    if (SockAddrText(peer, peerLen, text, sizeof text) < 0) text[0] = 0;
    TarvDebugLog("\nAccepted connection from =[%s]", text);
    TarvSetAddrVars(text, "tcp.client.ip", "tcp.client.port");
    // Only the connection is handed out: the listening sockets close here,
    // so the port can be listened on again.
    return c;
  }
}

int WinTcpConnect(const char* ipv4, int port) {
  if (!Ready()) return -1;
  int32_t fd = SockOpen(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd < 0) return NmsRunError(-1, "WinTcpConnect : socket err");
  int e = SockSetNonBlocking(fd, true);
  if (e < 0) {
    SockClose(&fd);
    return NmsRunError(-1, "WinTcpConnect: ioctlsocket err=%d", -e);
  }
  uint8_t parts[4];
  TarvIpV4Parts(ipv4, parts);
  sockaddr_storage addr;
  const socklen_t len = SockAddrV4(parts, port, &addr);
  TarvDebugLog("\n\r\nWinTcpConnect to server [%s:%d] ...", ipv4, port);
  e = SockConnectStart(fd, addr, len);
  if (e < 0 && e != -EINPROGRESS && e != -ECONNREFUSED) {
    SockClose(&fd);
    return NmsRunError(-1, "WinTcpConnect: connect err=%d", -e);
  }
  const int seconds = WaitSeconds(sgRun.StepTimeout);
  short revents = 0;
  const int w = e == -EINPROGRESS ? SockWaitOne(fd, POLLOUT, &revents, WaitMs(seconds, 0)) : 1;
  if (w < 0) {
    SockClose(&fd);
    return NmsRunError(-1, "WinTcpConnect: connect,select ret SOCKET_ERROR");
  }
  if (w == 0) {
    SockClose(&fd);
    return NmsRunError(-1, "WinTcpConnect: connect,select timeOut =%d", seconds);
  }
  // A refusal may already be known when the connect call returns.
  const int outcome = e == -ECONNREFUSED ? e : SockConnectResult(fd);
  if (outcome == 0 && (e == 0 || (revents & POLLOUT))) {
    TarvDebugLog("\nWinTcpConnect2 Connect [%s:%d] ok .", ipv4, port);
    return fd;
  }
  SockClose(&fd);
  if (outcome != 0 || (revents & (POLLERR | POLLHUP)))
    return NmsRunError(-1, "WinTcpConnect: connect,ERROR");
  return NmsRunError(-1, "WinTcpConnect: connect,Other ERROR!!");
}

int WinTcpConnect2V6(const char* ipv6, int port) {
  if (!Ready()) return -1;
  char host[kHostRoom];
  std::snprintf(host, sizeof host, "%s", ipv6);
  int32_t fd = SockOpen(AF_INET6, SOCK_STREAM, 0);
  if (fd < 0) {
    NmsRunError(-1, "WinTcpConnect2V6 :socket failed with error : %d", -fd);
    return -1;
  }
  int e = SockSetV6Only(fd, false);
  if (e < 0) {
    SockClose(&fd);
    NmsRunError(-2, "WinTcpConnect2V6 :setsockopt for IPV6_V6ONLY failed with error: %d", -e);
    return -1;
  }
  // The text is taken as a numeric address only; a name is never looked up.
  sockaddr_storage addr;
  const int len = SockAddrV6(host, port, &addr);
  e = len < 0 ? len : SockSetNonBlocking(fd, true);
  if (e == 0) e = SockConnectStart(fd, addr, static_cast<socklen_t>(len));
  if (e == -EINPROGRESS) {
    short revents = 0;
    const int w = SockWaitOne(fd, POLLOUT, &revents, WaitMs(WaitSeconds(sgRun.StepTimeout), 0));
    e = w < 0 ? w : w == 0 ? -ETIMEDOUT : SockConnectResult(fd);
  }
  if (e == 0) e = SockSetNonBlocking(fd, false);
  if (e < 0) {
    SockClose(&fd);
    NmsRunError(-3, "WinTcpConnect2V6 : WsaConnectByName failed with error: %d", -e);
    return -1;
  }
  TarvDebugLog("\nWinTcpConnect2V6 Connect [%s:%d] ok .", host, port);
  return fd;
}

int WinTcpRecv(int32_t* sock, char* buf, int capacity, int seconds) {
  if (!Ready()) return -1;
  const int secs = WaitSeconds(seconds);
  TarvDebugLog("\nWinTcpRecv: select begin ...,all recv=%d,timeOut=%d sec.", 0, secs);
  short revents = 0;
  int r;
  if (*sock < 0) {
    r = -EBADF;
  } else if (SockInboxReady(*sock)) {
    // Bytes the connection already delivered: the wait would end at once.
    r = 1;
    revents = POLLIN;
  } else {
    r = SockWaitOne(*sock, POLLIN | POLLPRI, &revents, WaitMs(secs, kRecvExtraMs));
  }
  if (revents & POLLNVAL) r = -EBADF;
  TarvDebugLog("\nWinTcpRecv: select ret=%d .", r < 0 ? -1 : r);
  if (r < 0) {
    if (r == -EBADF) {
      SockInboxDrop(*sock);
      *sock = -1;  // not open: nothing of ours to close
    } else {
      SockClose(sock);
    }
    NmsRunError(0, "WinTcpRecv: recv len=%d,select ret SOCKET_ERROR", 0);
    return 0;
  }
  if (r == 0) return TarvReturn(0, "WinTcpRecv: recv len=%d,select timeOut=%d", 0, secs);
  if (revents & kReadable) {
    const int n = SockRecvQueued(*sock, buf, capacity);
    if (n > 0) return TarvReturn(n, "WinTcpRecv: recv len=%d .", n);
    if (n == 0) return TarvReturn(0, "WinTcpRecv: recv len=%d,select socket closed.", 0);
  }
  if (revents & POLLPRI) {
    SockClose(sock);
    NmsRunError(0, "WinTcpRecv: recv len=%d,socket Error.", 0);
    return 0;
  }
  return TarvReturn(0, "WinTcpRecv: recv return,len=%d.", 0);
}

int WinTcpSend(int32_t* sock, const char* buf, int len, int seconds) {
  if (!Ready()) return -1;
  const int secs = WaitSeconds(seconds);
  TarvDebugLog("\nWinTcpSend: select begin ...,all send=%d,timeOut=%d sec.", 0, secs);
  short revents = 0;
  int r = *sock < 0 ? -EBADF : SockWaitOne(*sock, POLLOUT | POLLPRI, &revents, WaitMs(secs, 0));
  if (revents & POLLNVAL) r = -EBADF;
  TarvDebugLog("\nWinTcpSend: select ret=%d .", r < 0 ? -1 : r);
  if (r < 0) {
    if (r == -EBADF)
      *sock = -1;
    else
      SockClose(sock);
    NmsRunError(0, "WinTcpSend: send len=%d,select ret SOCKET_ERROR", 0);
    return 0;
  }
  if (r == 0) return TarvReturn(0, "WinTcpSend: send len=%d,select timeOut=%d", 0, secs);
  if (revents & kWritable) {
    const int n = SockSend(*sock, buf, len);
    if (n > 0) return TarvReturn(n, "WinTcpSend: send len=%d .", n);
    return TarvReturn(0, "WinTcpSend: send len=%d,select socket closed.", 0);
  }
  if (revents & POLLPRI) {
    SockClose(sock);
    NmsRunError(0, "WinTcpSend: send len=%d,socket Error.", 0);
    return 0;
  }
  return TarvReturn(0, "WinTcpSend: send return,len=%d.", 0);
}

int WinTcpSendAll(int32_t* sock, const char* src, int len, int seconds, const char* trace) {
  const auto start = SocketClock::now();
  int sent = 0;
  while (sent < len && SecondsSince(start) <= seconds) {
    const int n = WinTcpSend(sock, src + sent, len - sent, Left(seconds, start));
    if (n < 1) break;
    TarvDebugLog(trace, n);
    HexLogSent(src, sent, n);
    sent += n;
  }
  return sent;
}

int WinUdpConnect2(const char* ipv4, int port) {
  if (!Ready()) return -1;
  const int32_t fd = SockOpen(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return NmsRunError(-1, "WinUdpConnect2 : socket err");
  uint8_t parts[4];
  TarvIpV4Parts(ipv4, parts);
  sockaddr_storage addr;
  const socklen_t len = SockAddrV4(parts, port, &addr);
  const int ret = SockConnectDatagram(fd, addr, len) == 0 ? 0 : -1;
  sockaddr_storage local;
  socklen_t localLen = 0;
  const int e = SockLocalAddr(fd, &local, &localLen);
  if (e < 0)
    TarvDebugLog("\nget socket name failed. errno: %d, error: %s", -e, SockErrorText(-e));
  else if (local.ss_family == AF_INET)
    TarvSetVarInt2("udp.client.localport", SockAddrPort(local));
  TarvDebugLog("\n\r\nWinUdpConnect2 to server [%s:%d],ret=%d", ipv4, port, ret);
  return fd;
}

int WinUdpConnect2V6(const char* ipv6, int port) {
  if (!Ready()) return -1;
  char portText[16];
  std::snprintf(portText, sizeof portText, "%d", port);
  std::array<SockAddrInfo, 4> list;
  int n = 0;
  const int r = SockResolveNumeric(ipv6, portText, false, AF_INET6, SOCK_DGRAM, IPPROTO_UDP,
                                   list.data(), static_cast<int>(list.size()), &n);
  if (r != 0)
    return NmsRunError(-1, "WinUdpConnect2V6: getaddrinfo failed with error %d: %s", r,
                       SockResolveErrorText(r));
  for (int i = 0; i < n; i++) {
    const SockAddrInfo& a = list[i];
    if (a.Family != AF_INET6) continue;
    char text[SOCK_ADDR_TEXT];
    if (SockAddrText(a.Addr, a.Len, text, sizeof text) < 0) text[0] = 0;
    TarvDebugLog("\nUdp.connect,getaddrinfo i=%d,AI->ai_addrlen=%d, IPv6=[%s]", 0,
                 static_cast<int>(a.Len), text);
    HexLog(reinterpret_cast<const char*>(&a.Addr), static_cast<int>(a.Len));
    std::memcpy(&sgUdp.addrClient, &a.Addr, sizeof a.Addr);
    sgUdp.PeerLen = static_cast<int32_t>(a.Len);
    TarvDebugLog("\nUdp.connect,getaddrinfo,copy to sgUdp.addrClient,HexLog:");
    HexLog(reinterpret_cast<const char*>(&sgUdp.addrClient), sgUdp.PeerLen);
  }
  const int32_t fd = SockOpen(AF_INET6, SOCK_DGRAM, IPPROTO_UDP);
  if (fd < 0) return NmsRunError(-1, "WinUdpConnect2V6 : socket err");
  SockConnectDatagram(fd, sgUdp.addrClient, static_cast<socklen_t>(sgUdp.PeerLen));
  TarvDebugLog("\n\r\nWinUdpConnect2 to server [%s:%d]", ipv6, port);
  HexLog(reinterpret_cast<const char*>(&sgUdp.addrClient), sgUdp.PeerLen);
  return fd;
}

int WinUdpListenV6(int port) {
  if (!Ready()) return -1;
  static constexpr ScanNames kNames = {
      "\nUdp.Listen IPv6=[%s]", "\nUdp.Listen IPv4=[%s]",
      "\nWinUdpListenV6 nic index=%d,ai_flags=%d,ai_family=%d,ai_socktype=%d,ai_protocol=%d,"
      "ai_canonname=[%s]",
      "WinUdpListenV6: getaddrinfo failed with error %d: %s"};
  ScanSockets socks;
  int answers = 0;
  const int r = PassiveScan(port, SOCK_DGRAM, kNames, &socks, &answers);
  if (r < 0) return r;

  for (;;) {
    TarvDebugLog("\nWinUdpListenV6 i=%d, NumSocks=%d,enter into select for read ......", answers,
                 socks.count());
    const int i = WaitFirstReady(socks);
    if (i < 0) return i;
    TarvDebugLog("\nWinUdpListenV6 i=%d, NumSocks=%d,select return !!!", i, socks.count());
    TarvDebugLog("\nWinUdpListenV6 i=%d begin to read ..., NumSocks=%d,select return !!!", i,
                 socks.count());
    TarvDebugLog("\nWinUdpListenV6  ilDataSocket=%d begin to recvfrom, NumSocks=%d", socks.at(i),
                 socks.count());
    sockaddr_storage from;
    socklen_t fromLen = 0;
    const int n =
        SockRecvFrom(socks.at(i), sgUdp.Buf.data(), UDP_BUF, true, false, &from, &fromLen);
    if (n == -EAGAIN) continue;
    if (n == -EMSGSIZE) {
      // A datagram too long for the buffer says nothing of the peer to come:
      // it is taken off the queue, and the wait goes on for the next one.
      SockRecvFrom(socks.at(i), sgUdp.Buf.data(), UDP_BUF, false, false, &from, &fromLen);
      HtmlLogWarning("WinUdpListenV6: a datagram longer than %d bytes is dropped", UDP_BUF);
      continue;
    }
    // Every other socket closes with the scan; the kept one is closed here
    // on a failure.
    int32_t fd = socks.Release(i);
    if (n < 0) {
      SockClose(&fd);
      return NmsRunError(-7, "recvfrom( MSG_PEEK) failed with error %d", -n);
    }
    if (n == 0) {
      SockClose(&fd);
      return NmsRunError(-8, "recvfrom( MSG_PEEK) returned zero, aborting");
    }
    SockSetNonBlocking(fd, false);
    sgUdp.LastLen = n;
    std::memcpy(&sgUdp.addrClient, &from, sizeof from);
    sgUdp.PeerLen = static_cast<int32_t>(fromLen);
    char text[SOCK_ADDR_TEXT];
    if (SockAddrText(from, fromLen, text, sizeof text) < 0) text[0] = 0;
    TarvDebugLog("\nUdp.server recv MSG_PEEK from =[%s]", text);
    TarvSetAddrVars(text, "udp.client.ip", "udp.client.port");
    return fd;
  }
}

namespace {
// One datagram read by WinUdpRecv4 once it may read; its sender becomes the peer.
int UdpReadOne(int32_t sock, char* buf, int capacity, bool wait) {
  sockaddr_storage from;
  socklen_t fromLen = 0;
  const int n = SockRecvFrom(sock, buf, capacity, false, wait, &from, &fromLen);
  if (n < 0) return TarvReturn(0, "WinUdpRecv4: recvfrom ret=%d,Error.", -1);
  std::memcpy(&sgUdp.addrClient, &from, sizeof from);
  sgUdp.PeerLen = static_cast<int32_t>(fromLen);
  if (n == 0) return TarvReturn(0, "WinUdpRecv4: recv len=%d,select socket closed.", 0);
  return TarvReturn(n, "WinUdpRecv4: recv len=%d .", n);
}
}  // namespace

int WinUdpRecv4(int32_t* sock, char* buf, int capacity, int seconds) {
  if (!Ready()) return -1;
  if (seconds == 0) return UdpReadOne(*sock, buf, capacity, true);
  const int secs = WaitSeconds(seconds);
  TarvDebugLog("\nWinUdpRecv4: select begin ...,all recv=%d,timeOut=%d sec.", 0, secs);
  short revents = 0;
  int r = *sock < 0 ? -EBADF
                    : SockWaitOne(*sock, POLLIN | POLLPRI, &revents, WaitMs(secs, kRecvExtraMs));
  if (revents & POLLNVAL) r = -EBADF;
  TarvDebugLog("\nWinUdpRecv4: select ret=%d .", r < 0 ? -1 : r);
  if (r < 0) {
    if (r == -EBADF)
      *sock = -1;
    else
      SockClose(sock);
    NmsRunError(0, "WinUdpRecv4: recv len=%d,select ret SOCKET_ERROR", 0);
    return 0;
  }
  if (r == 0) return TarvReturn(0, "WinUdpRecv4: recv len=%d,select timeOut=%d", 0, secs);
  if (revents & kReadable) return UdpReadOne(*sock, buf, capacity, false);
  if (revents & POLLPRI) {
    SockClose(sock);
    NmsRunError(0, "WinUdpRecv4: recv len=%d,socket Error.", 0);
    return 0;
  }
  return TarvReturn(0, "WinUdpRecv4:  return,len=%d.", 0);
}

int WinUdpSend3(int sock, const char* buf, int len) {
  if (!Ready()) return -1;
  const int n = sgUdp.Mode == 1 ? SockSendTo(sock, buf, len, &sgUdp.addrClient,
                                             static_cast<socklen_t>(sgUdp.PeerLen))
                                : SockSendTo(sock, buf, len, nullptr, 0);
  const int r = n >= 0 ? n : -1;
  return TarvReturn(r, "WinUdpSend3: send return,len=%d.", r);
}

int WinUdpListen(int port) {
  if (!Ready()) return -1;
  int32_t fd = SockOpen(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return NmsRunError(-1, "WinUdpListen: socket err");
  const uint8_t any[4] = {0, 0, 0, 0};
  sockaddr_storage addr;
  const socklen_t len = SockAddrV4(any, port, &addr);
  const int e = SockBind(fd, addr, len);
  if (e < 0) {
    SockClose(&fd);
    return NmsRunError(-1, "WinUdpListen: bind port [%d] err=%d", port, -e);
  }
  TarvDebugLog("\n\r\nWinUdpListen port [%d],ret=%d", port, 0);
  return fd;
}

int WinUdpRecv3(int sock, char* buf, int capacity) {
  if (!Ready()) return -1;
  sockaddr_storage from;
  socklen_t fromLen = 0;
  const int n = SockRecvFrom(sock, buf, capacity, false, true, &from, &fromLen);
  if (n >= 0) {
    std::memcpy(&sgUdp.addrClient, &from, sizeof from);
    sgUdp.PeerLen = static_cast<int32_t>(fromLen);
  }
  const int r = n >= 0 ? n : -1;
  return TarvReturn(r, "WinUdpRecv3:  return,len=%d.", r);
}

int TarvIsIpV4(const char* text) {
  const int len = static_cast<int>(strnlen(text, 1024));
  if (len > 15) return TarvReturn(-6, "TarvIsIpV4 Len=%d > MaxLen:15", len);
  if (len < 7) return TarvReturn(-6, "TarvIsIpV4 Len=%d < MinLen:7", len);
  int dots = 0;
  for (int i = 0; i < len; i++) {
    if (text[i] == '.') {
      if (++dots == 4) return TarvReturn(-4, "TarvIsIpV4 ilPoints=%d", dots);
    } else if (text[i] < '0' || text[i] > '9') {
      return TarvReturn(-5, "TarvIsIpV4: char at <%d>,is not digit", i);
    }
  }
  if (dots != 3) return TarvReturn(-1, "TarvIsIpV4 ilPoints=%d", dots);
  int start = 0;
  for (int k = 1; k <= 4; k++) {
    int end = start;
    while (end < len && text[end] != '.') end++;
    const int partLen = end - start;
    if (partLen > 3) return TarvReturn(-7, "TarvIsIpV4: byte <%d> Len=%d > 3", k, partLen);
    int value = 0;
    for (int i = start; i < end; i++) value = value * 10 + (text[i] - '0');
    if (value > 255) return TarvReturn(-8, "TarvIsIpV4: byte <%d> =%d > 255", k, value);
    start = end + 1;
  }
  return TarvReturn(0, "TarvIsIpV4: is IpV4 address");
}

void TarvIpV4Parts(const char* text, uint8_t parts[4]) {
  // Decimal always: a leading zero does not make a part octal.
  int k = 0;
  int value = 0;
  for (const char* p = text; k < 4; p++) {
    if (*p >= '0' && *p <= '9') {
      value = std::min(value * 10 + (*p - '0'), 255);
      continue;
    }
    parts[k++] = static_cast<uint8_t>(value);
    value = 0;
    if (*p != '.') break;
  }
  while (k < 4) parts[k++] = 0;
}

int TarvIsIpV6(const char* text) {
  const int len = static_cast<int>(strnlen(text, 1024));
  if (len > 39) return TarvReturn(-6, "TarvIsIpV6 Len=%d > MaxLen:39", len);
  if (len < 3) return TarvReturn(-6, "TarvIsIpV6 Len=%d < MinLen:3", len);
  int colons = 0;
  for (int i = 0; i < len; i++) {
    const char c = text[i];
    if (c == ':') {
      if (++colons == 8) return TarvReturn(-4, "TarvIsIpV6 ilPoints=%d", colons);
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return TarvReturn(-5, "TarvIsIpV6: char at <%d>,is not digit", i);
    }
  }
  if (colons < 2) return TarvReturn(-1, "TarvIsIpV6 ilPoints(:)=%d < 2", colons);
  return TarvReturn(0, "TarvIsIpV6: is IpV6 address");
}
