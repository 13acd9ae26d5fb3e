// Loopback peers for the socket tests: listeners on ports chosen at run time,
// bounded reads and writes, a peer thread that serves one connection, and a
// UDP peer.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

#include "tests/machine_wait.h"
#include "tests/platform/child_watch.h"

namespace tcppeer {

using childwatch::Watchdog;

using Clock = std::chrono::steady_clock;

inline int MsLeft(Clock::time_point deadline) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return ms > 0 ? static_cast<int>(ms) : 0;
}

// Loopback address of the family with a port.
inline socklen_t Loopback(int family, int port, sockaddr_storage* out,
                          const char* v4 = "127.0.0.1") {
  std::memset(out, 0, sizeof *out);
  if (family == AF_INET6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(out);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_loopback;
    a->sin6_port = htons(static_cast<uint16_t>(port));
    return sizeof *a;
  }
  auto* a = reinterpret_cast<sockaddr_in*>(out);
  a->sin_family = AF_INET;
  inet_pton(AF_INET, v4, &a->sin_addr);
  a->sin_port = htons(static_cast<uint16_t>(port));
  return sizeof *a;
}

inline int PortOf(int fd) {
  sockaddr_storage a;
  socklen_t len = sizeof a;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return -1;
  if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6&>(a).sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in&>(a).sin_port);
}

// How long a peer waits for the program by default: ten seconds on an idle
// machine, scaled as every wait for the machine.
inline int PeerWaitMs() { return tarvtest::MachineScaled(10) * 1000; }

// A port that was free a moment ago on both loopback families (TCP or UDP).
inline int FreePort(int type = SOCK_STREAM) {
  for (int attempt = 0; attempt < 50; attempt++) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_storage a;
    socklen_t len = Loopback(AF_INET, 0, &a);
    bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    const int port = PortOf(fd);
    int fd6 = socket(AF_INET6, type | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd6, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    len = Loopback(AF_INET6, port, &a);
    const bool both = bind(fd6, reinterpret_cast<sockaddr*>(&a), len) == 0;
    close(fd6);
    close(fd);
    if (both) return port;
  }
  return -1;
}

class Listener {
 public:
  explicit Listener(int family = AF_INET, int backlog = 4, const char* v4 = "127.0.0.1") {
    fd_ = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage a;
    socklen_t len = Loopback(family, 0, &a, v4);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(fd_, backlog) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~Listener() {
    if (fd_ >= 0) close(fd_);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  int fd() const { return fd_; }
  int port() const { return fd_ >= 0 ? PortOf(fd_) : -1; }
  // One connection within ms, or -1.
  int Accept(int ms = PeerWaitMs()) const {
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0 || poll(&p, 1, ms) != 1) return -1;
    return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  }

 private:
  int fd_ = -1;
};

// Reads until want bytes have come, the stream ends or ms have passed.
inline std::string Read(int fd, size_t want, int ms = PeerWaitMs()) {
  std::string got;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  char buf[65536];
  while (got.size() < want) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, MsLeft(deadline)) != 1) break;
    const ssize_t n = recv(fd, buf, std::min(sizeof buf, want - got.size()), 0);
    if (n <= 0) break;
    got.append(buf, n);
  }
  return got;
}

// Waits at most ms for the end of the stream, dropping what comes before it.
inline bool WaitEof(int fd, int ms = PeerWaitMs()) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, MsLeft(deadline)) != 1) return false;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n == 0) return true;
    if (n < 0) return errno == ECONNRESET;
  }
}

inline bool Write(int fd, std::string_view data, int ms = PeerWaitMs()) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!data.empty()) {
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, MsLeft(deadline)) != 1) return false;
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data.remove_prefix(n);
  }
  return true;
}

inline void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Connects to the loopback port of the family, retrying while it is refused
// (a script may not listen yet), for at most ms; the socket or -1.
inline int ConnectRetry(int family, int port, int ms = PeerWaitMs()) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  do {
    int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage a;
    const socklen_t len = Loopback(family, port, &a);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), len) == 0) return fd;
    close(fd);
    Pause(20);
  } while (MsLeft(deadline) > 0);
  return -1;
}

// One connection served by body on a thread; joined on destruction.  The
// body gets the accepted socket (or -1 when no client came in time).
class Peer {
 public:
  explicit Peer(std::function<void(int)> body, int family = AF_INET)
      : listener_(family), thread_([this, body] {
          const int fd = listener_.Accept();
          body(fd);
          if (fd >= 0) close(fd);
        }) {}
  ~Peer() { Join(); }
  int port() const { return listener_.port(); }
  // Waits for the body to finish (it is bounded by its own waits).
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  Listener listener_;
  std::thread thread_;
};

// True once a TCP socket listens on the port (either family), within ms.
inline bool Listening(int port, int ms = PeerWaitMs()) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", port);
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  do {
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
      std::ifstream f(table);
      std::string line;
      std::getline(f, line);
      while (std::getline(f, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.substr(local.size() - 4) == hex) return true;
      }
    }
    Pause(20);
  } while (MsLeft(deadline) > 0);
  return false;
}

// A UDP socket of the peer on the loopback address of the family (or on
// the IPv4 address v4).
class UdpPeer {
 public:
  explicit UdpPeer(int family = AF_INET, int port = 0, const char* v4 = "127.0.0.1") : family_(family) {
    fd_ = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_storage a;
    const socklen_t len = Loopback(family, port, &a, v4);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), len);
  }
  ~UdpPeer() { close(fd_); }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;
  int port() const { return PortOf(fd_); }
  void SendTo(int port, const std::string& data) const {
    sockaddr_storage a;
    const socklen_t len = Loopback(family_, port, &a);
    sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), len);
  }
  // One datagram within ms ("" when none came); its sender's port in *from.
  std::string Recv(int ms = PeerWaitMs(), int* from = nullptr) const {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return "";
    char buf[65536];
    sockaddr_storage a;
    socklen_t len = sizeof a;
    const ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&a), &len);
    if (from) {
      *from = a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6&>(a).sin6_port)
                                      : ntohs(reinterpret_cast<sockaddr_in&>(a).sin_port);
    }
    return n > 0 ? std::string(buf, n) : "";
  }

 private:
  int family_;
  int fd_;
};

// True once a UDP socket is bound to the port, within ms.
inline bool UdpBound(int port, int ms = PeerWaitMs()) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  do {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_storage a;
    const socklen_t len = Loopback(AF_INET, port, &a);
    const bool taken = bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0;
    close(fd);
    if (taken) return true;
    Pause(20);
  } while (MsLeft(deadline) > 0);
  return false;
}

}  // namespace tcppeer
