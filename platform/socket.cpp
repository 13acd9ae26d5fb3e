// POSIX sockets for the socket layer.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/socket_inbox.h"

namespace {

constexpr int kLowestFd = 3;  // 0, 1 and 2 stay the standard streams

// A descriptor the system handed out among the standard ones is moved up,
// so that no socket of ours is ever mistaken for them or closed as them.
int AboveStandard(int fd) {
  if (fd < 0 || fd >= kLowestFd) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kLowestFd);
  const int err = errno;
  close(fd);
  return moved >= 0 ? moved : -err;
}

int Fail() { return -errno; }

}  // namespace

int SockIgnoreSigpipe() {
  struct sigaction sa = {};
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  return sigaction(SIGPIPE, &sa, nullptr) == 0 ? 0 : Fail();
}

int SockOpen(int family, int type, int protocol) {
  const int fd = socket(family, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) return Fail();
  return AboveStandard(fd);
}

void SockClose(int32_t* fd) {
  if (!fd) return;
  if (*fd >= kLowestFd) {
    // Bytes still in the inbox were unread bytes of the connection: the
    // peer is reset, as the system resets it for unread bytes of its own.
    if (SockInboxDrop(*fd) > 0) SockSetResetOnClose(*fd);
    close(*fd);
  }
  *fd = -1;
}

int SockSetNonBlocking(int fd, bool on) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return Fail();
  const int want = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (want != flags && fcntl(fd, F_SETFL, want) < 0) return Fail();
  return 0;
}

int SockSetResetOnClose(int fd) {
  const linger abort = {1, 0};
  return setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort) == 0 ? 0 : Fail();
}

int SockShutdownBoth(int fd) { return shutdown(fd, SHUT_RDWR) == 0 ? 0 : Fail(); }

int SockSetReuseAddr(int fd) {
  const int one = 1;
  return setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 ? 0 : Fail();
}

int SockSetV6Only(int fd, bool on) {
  const int v = on ? 1 : 0;
  return setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v, sizeof v) == 0 ? 0 : Fail();
}

int SockBind(int fd, const sockaddr_storage& addr, socklen_t len) {
  return bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0 ? 0 : Fail();
}

int SockListen(int fd, int backlog) { return listen(fd, backlog) == 0 ? 0 : Fail(); }

int SockAccept(int fd, sockaddr_storage* peer, socklen_t* peerLen) {
  for (;;) {
    *peerLen = sizeof *peer;
    const int c = accept4(fd, reinterpret_cast<sockaddr*>(peer), peerLen, SOCK_CLOEXEC);
    if (c >= 0) return AboveStandard(c);
    if (errno != EINTR) return Fail();
  }
}

int SockLocalAddr(int fd, sockaddr_storage* addr, socklen_t* len) {
  *len = sizeof *addr;
  return getsockname(fd, reinterpret_cast<sockaddr*>(addr), len) == 0 ? 0 : Fail();
}

int64_t SockNowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

int SockWaitEach(const int* fds, const short* events, int count, short* revents, int timeoutMs) {
  std::array<pollfd, SOCK_ADDR_INFO_MAX> set;
  if (count < 1 || count > static_cast<int>(set.size())) return -EINVAL;
  for (int i = 0; i < count; i++) set[i] = {fds[i], events[i], 0};
  const int64_t deadline = SockNowMs() + (timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    int wait = timeoutMs;
    if (timeoutMs != SOCK_WAIT_FOREVER) {
      const int64_t left = deadline - SockNowMs();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    const int r = poll(set.data(), count, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Fail();
    for (int i = 0; i < count; i++) revents[i] = set[i].revents;
    return r;
  }
}

int SockWait(const int* fds, int count, short events, short* revents, int timeoutMs) {
  std::array<short, SOCK_ADDR_INFO_MAX> each;
  if (count < 1 || count > static_cast<int>(each.size())) return -EINVAL;
  each.fill(events);
  return SockWaitEach(fds, each.data(), count, revents, timeoutMs);
}

int SockWaitOne(int fd, short events, short* revents, int timeoutMs) {
  return SockWait(&fd, 1, events, revents, timeoutMs);
}

int SockConnectStart(int fd, const sockaddr_storage& addr, socklen_t len) {
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0) return 0;
  // An interrupted connect goes on in the background, like one in progress.
  if (errno == EINTR) return -EINPROGRESS;
  return Fail();
}

int SockConnectResult(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return Fail();
  return -err;
}

int SockRecv(int fd, char* buf, int len) {
  for (;;) {
    const ssize_t n = recv(fd, buf, static_cast<size_t>(len), MSG_DONTWAIT);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return Fail();
  }
}

int SockSend(int fd, const char* buf, int len) {
  for (;;) {
    const ssize_t n = send(fd, buf, static_cast<size_t>(len), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return Fail();
  }
}

int SockRecvFrom(int fd, char* buf, int len, bool peek, bool wait, sockaddr_storage* from,
                 socklen_t* fromLen) {
  const int flags = MSG_DONTWAIT | MSG_TRUNC | (peek ? MSG_PEEK : 0);
  for (;;) {
    *fromLen = sizeof *from;
    const ssize_t n = recvfrom(fd, buf, static_cast<size_t>(len), flags,
                               reinterpret_cast<sockaddr*>(from), fromLen);
    if (n >= 0) return n > len ? -EMSGSIZE : static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN || !wait) return Fail();
    short revents = 0;
    const int r = SockWaitOne(fd, POLLIN, &revents, SOCK_WAIT_FOREVER);
    if (r < 0) return r;
    if (revents & POLLNVAL) return -EBADF;
  }
}

int SockSendTo(int fd, const char* buf, int len, const sockaddr_storage* to, socklen_t toLen) {
  for (;;) {
    const ssize_t n = to ? sendto(fd, buf, static_cast<size_t>(len), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(to), toLen)
                         : send(fd, buf, static_cast<size_t>(len), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return Fail();
  }
}

int SockConnectDatagram(int fd, const sockaddr_storage& addr, socklen_t len) {
  return connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0 ? 0 : Fail();
}

socklen_t SockAddrV4(const uint8_t parts[4], int port, sockaddr_storage* out) {
  std::memset(out, 0, sizeof *out);
  auto* a = reinterpret_cast<sockaddr_in*>(out);
  a->sin_family = AF_INET;
  a->sin_port = htons(static_cast<uint16_t>(port));
  std::memcpy(&a->sin_addr.s_addr, parts, 4);  // network order is the text's order
  return sizeof *a;
}

int SockAddrV6(const char* text, int port, sockaddr_storage* out) {
  std::memset(out, 0, sizeof *out);
  auto* a = reinterpret_cast<sockaddr_in6*>(out);
  if (inet_pton(AF_INET6, text, &a->sin6_addr) != 1) return -EINVAL;
  a->sin6_family = AF_INET6;
  a->sin6_port = htons(static_cast<uint16_t>(port));
  return sizeof *a;
}

int SockAddrPort(const sockaddr_storage& addr) {
  if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
  if (addr.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6&>(addr).sin6_port);
  return -1;
}

int SockAddrText(const sockaddr_storage& addr, socklen_t len, char* dest, int room) {
  char host[INET6_ADDRSTRLEN] = {};
  int n = -1;
  if (addr.ss_family == AF_INET && len >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
    const auto& a = reinterpret_cast<const sockaddr_in&>(addr);
    if (!inet_ntop(AF_INET, &a.sin_addr, host, sizeof host)) return -1;
    const int port = ntohs(a.sin_port);
    n = port ? std::snprintf(dest, room, "%s:%d", host, port)
             : std::snprintf(dest, room, "%s", host);
  } else if (addr.ss_family == AF_INET6 && len >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(addr);
    if (!inet_ntop(AF_INET6, &a.sin6_addr, host, sizeof host)) return -1;
    char scope[16] = {};
    if (a.sin6_scope_id) std::snprintf(scope, sizeof scope, "%%%u", a.sin6_scope_id);
    const int port = ntohs(a.sin6_port);
    n = port ? std::snprintf(dest, room, "[%s%s]:%d", host, scope, port)
             : std::snprintf(dest, room, "%s%s", host, scope);
  } else {
    return -1;
  }
  if (n < 0 || n >= room) {
    if (room > 0) dest[0] = 0;
    return -1;
  }
  return n;
}

int SockResolveNumeric(const char* host, const char* port, bool passive, int family, int type,
                       int protocol, SockAddrInfo* out, int room, int* count) {
  return SockGetAddrInfo(host, port, (passive ? AI_PASSIVE : 0) | AI_NUMERICHOST | AI_NUMERICSERV,
                         family, type, protocol, out, room, count);
}

SockAddrList::~SockAddrList() {
  if (list_) freeaddrinfo(list_);
}

int SockAddrList::Resolve(const char* host, const char* port, int flags, int family, int type,
                          int protocol) {
  if (list_) freeaddrinfo(list_);
  list_ = nullptr;
  addrinfo hints = {};
  hints.ai_flags = flags;
  hints.ai_family = family;
  hints.ai_socktype = type;
  hints.ai_protocol = protocol;
  const int r = getaddrinfo(host, port, &hints, &list_);
  if (r != 0) list_ = nullptr;
  return r;
}

bool SockAddrList::Copy(const addrinfo& ai, SockAddrInfo* out) {
  if (!ai.ai_addr || ai.ai_addrlen > sizeof(sockaddr_storage)) return false;
  out->Flags = ai.ai_flags;
  out->Family = ai.ai_family;
  out->SockType = ai.ai_socktype;
  out->Protocol = ai.ai_protocol;
  out->Len = ai.ai_addrlen;
  std::memset(&out->Addr, 0, sizeof out->Addr);
  std::memcpy(&out->Addr, ai.ai_addr, ai.ai_addrlen);
  return true;
}

int SockGetAddrInfo(const char* host, const char* port, int flags, int family, int type,
                    int protocol, SockAddrInfo* out, int room, int* count) {
  *count = 0;
  SockAddrList list;
  const int r = list.Resolve(host, port, flags, family, type, protocol);
  if (r != 0) return r;
  list.ForEach([&](const SockAddrInfo& a, int) {
    if (*count < room) out[(*count)++] = a;
  });
  return 0;
}

const char* SockResolveErrorText(int code) { return gai_strerror(code); }

const char* SockErrorText(int err) { return strerror(err); }
