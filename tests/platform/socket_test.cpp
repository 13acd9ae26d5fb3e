// The POSIX socket layer: descriptors, waits, connects, transfers and
// address texts, against peers on loopback.
#include "platform/socket.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/services/sockets/tcp_peer.h"
#include "tests/platform/ipv6.h"

namespace {

using namespace tcppeer;

constexpr uint8_t kLo[4] = {127, 0, 0, 1};

// A blocking socket connected to the listener.
int32_t ConnectTo(const Listener& l) {
  int32_t fd = SockOpen(AF_INET, SOCK_STREAM, 0);
  sockaddr_storage a;
  const socklen_t len = Loopback(AF_INET, l.port(), &a);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), len) != 0) SockClose(&fd);
  return fd;
}

class SockTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(SockIgnoreSigpipe(), 0); }
};

TEST_F(SockTest, NewSocketsStayAboveTheStandardDescriptorsAndCloseOnExec) {
  // With standard input closed, the system would hand out descriptor 0.
  const int saved = fcntl(0, F_DUPFD_CLOEXEC, 10);
  ASSERT_GE(saved, 0);
  close(0);
  int32_t fd = SockOpen(AF_INET, SOCK_STREAM, 0);
  const bool zeroFree = fcntl(0, F_GETFD) < 0;
  dup2(saved, 0);
  close(saved);
  EXPECT_GE(fd, 3);
  EXPECT_TRUE(zeroFree);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  SockClose(&fd);
  EXPECT_EQ(fd, -1);

  // A zeroed field is no socket of ours: standard input survives the close.
  int32_t zero = 0;
  SockClose(&zero);
  EXPECT_EQ(zero, -1);
  EXPECT_GE(fcntl(0, F_GETFD), 0);
  SockClose(nullptr);
}

TEST_F(SockTest, AddressTexts) {
  struct {
    int family;
    const char* addr;
    int port;
    uint32_t scope;
    const char* text;
  } const cases[] = {
      {AF_INET, "127.0.0.1", 8080, 0, "127.0.0.1:8080"},
      {AF_INET, "10.20.30.40", 0, 0, "10.20.30.40"},
      {AF_INET6, "2001:db8::ff00:42:8329", 65535, 0, "[2001:db8::ff00:42:8329]:65535"},
      {AF_INET6, "fe80::1", 443, 3, "[fe80::1%3]:443"},
      {AF_INET6, "fe80::1", 0, 3, "fe80::1%3"},
  };
  for (const auto& c : cases) {
    sockaddr_storage a;
    socklen_t len;
    if (c.family == AF_INET) {
      uint8_t parts[4];
      inet_pton(AF_INET, c.addr, parts);
      len = SockAddrV4(parts, c.port, &a);
    } else {
      const int r = SockAddrV6(c.addr, c.port, &a);
      ASSERT_GT(r, 0) << c.addr;
      len = static_cast<socklen_t>(r);
      reinterpret_cast<sockaddr_in6&>(a).sin6_scope_id = c.scope;
    }
    char text[SOCK_ADDR_TEXT];
    EXPECT_EQ(SockAddrText(a, len, text, sizeof text), static_cast<int>(std::strlen(c.text)));
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(SockAddrPort(a), c.port);
  }
  // Too small a room gives no cut text.
  sockaddr_storage a;
  const socklen_t len = SockAddrV4(kLo, 80, &a);
  char small[8] = "xxxxxxx";
  EXPECT_EQ(SockAddrText(a, len, small, sizeof small), -1);
  EXPECT_STREQ(small, "");
  a.ss_family = AF_UNIX;
  EXPECT_EQ(SockAddrText(a, len, small, sizeof small), -1);
  EXPECT_EQ(SockAddrPort(a), -1);
}

TEST_F(SockTest, NumericAddressesOnly) {
  sockaddr_storage a;
  for (const char* bad : {":::", "1:2", "localhost", "::1%lo", "[::1]", "::ffff:1.2.3.4.5", ""})
    EXPECT_EQ(SockAddrV6(bad, 1, &a), -EINVAL) << bad;
  EXPECT_GT(SockAddrV6("::ffff:7f00:1", 1, &a), 0);

  SockAddrInfo list[4];
  int count = -1;
  auto resolve = [&](const char* host, const char* port, bool passive, int family, int room,
                     int type = SOCK_STREAM, int protocol = 0) {
    return SockResolveNumeric(host, port, passive, family, type, protocol, list, room, &count);
  };
  EXPECT_NE(resolve("localhost", "80", false, AF_UNSPEC, 4), 0);
  EXPECT_EQ(count, 0);
  EXPECT_NE(resolve("::1", "http", false, AF_INET6, 4), 0);
  ASSERT_EQ(resolve("::1", "80", false, AF_INET6, 4, SOCK_DGRAM, IPPROTO_UDP), 0);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(list[0].Family, AF_INET6);
  EXPECT_EQ(SockAddrPort(list[0].Addr), 80);
  // The passive answers (any address of each family, which the tcp
  // statements test reaches) stop at the room given.
  ASSERT_EQ(resolve(nullptr, "8080", true, AF_UNSPEC, 1), 0);
  EXPECT_EQ(count, 1);
}

TEST_F(SockTest, V6OnlyListenerLeavesTheIPv4AnyAddressFree) {
  TARV_SKIP_WITHOUT_IPV6();
  const int port = FreePort();
  ASSERT_GT(port, 0);
  int32_t v6 = SockOpen(AF_INET6, SOCK_STREAM, 0);
  int32_t v4 = SockOpen(AF_INET, SOCK_STREAM, 0);
  sockaddr_storage a;
  ASSERT_GT(SockAddrV6("::", port, &a), 0);
  EXPECT_EQ(SockSetV6Only(v6, true), 0);
  EXPECT_EQ(SockSetReuseAddr(v6), 0);
  EXPECT_EQ(SockBind(v6, a, sizeof(sockaddr_in6)), 0);
  const uint8_t any[4] = {};
  const socklen_t len = SockAddrV4(any, port, &a);
  EXPECT_EQ(SockBind(v4, a, len), 0);
  EXPECT_EQ(SockListen(v4, 1), 0);
  EXPECT_EQ(SockListen(v6, 1), 0);
  // A second IPv4 socket on the same port is refused even with SO_REUSEADDR.
  int32_t again = SockOpen(AF_INET, SOCK_STREAM, 0);
  SockSetReuseAddr(again);
  EXPECT_EQ(SockBind(again, a, len), -EADDRINUSE);
  SockClose(&again);
  SockClose(&v4);
  SockClose(&v6);
}

TEST_F(SockTest, TransfersNeverBlock) {
  Listener l;
  int32_t fd = ConnectTo(l);
  ASSERT_GE(fd, 0);
  const int peer = l.Accept();
  ASSERT_GE(peer, 0);
  char buf[16];
  EXPECT_EQ(SockRecv(fd, buf, sizeof buf), -EAGAIN);  // blocking socket, nothing there
  EXPECT_EQ(SockSend(fd, "abc", 3), 3);
  EXPECT_EQ(Read(peer, 3), "abc");

  // A full send buffer gives EAGAIN, not a wait.
  static const std::string block(65536, 'b');
  int r = 1;
  int64_t total = 0;
  for (int i = 0; i < 10000 && r > 0; i++) {
    r = SockSend(fd, block.data(), static_cast<int>(block.size()));
    if (r > 0) total += r;
  }
  EXPECT_EQ(r, -EAGAIN);
  EXPECT_GT(total, 0);
  close(peer);
  SockClose(&fd);
}

std::atomic<int> gSignals{0};
void CountSignal(int) { gSignals++; }

// Signals that interrupt the wait neither end it nor make it miss what
// becomes ready after them.
TEST_F(SockTest, WaitsGoOnAfterSignals) {
  struct sigaction sa = {}, old = {};
  sa.sa_handler = CountSignal;  // no SA_RESTART: poll itself returns EINTR
  sigemptyset(&sa.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
  Listener l;
  gSignals = 0;
  const pthread_t self = pthread_self();
  std::thread pesterer([&] {
    for (int i = 0; i < 5; i++) {
      Pause(40);
      pthread_kill(self, SIGUSR1);
    }
    Pause(40);
    close(ConnectRetry(AF_INET, l.port()));
  });
  short revents = 0;
  const int r = SockWaitOne(l.fd(), POLLIN, &revents, SOCK_WAIT_FOREVER);
  pesterer.join();
  sigaction(SIGUSR1, &old, nullptr);
  EXPECT_EQ(gSignals.load(), 5);
  EXPECT_EQ(r, 1);
  EXPECT_NE(revents & POLLIN, 0);
}

TEST_F(SockTest, WaitOnManyReportsTheReadyOneAndSkipsNegatives) {
  Listener a, b;
  int fds[3] = {a.fd(), -1, b.fd()};
  short revents[3] = {9, 9, 9};
  const int c = ConnectRetry(AF_INET, b.port(), 5000);
  ASSERT_GE(c, 0);
  EXPECT_EQ(SockWait(fds, 3, POLLIN, revents, SOCK_WAIT_FOREVER), 1);
  EXPECT_EQ(revents[0], 0);
  EXPECT_EQ(revents[1], 0);
  EXPECT_NE(revents[2] & POLLIN, 0);
  EXPECT_EQ(SockWait(fds, 0, POLLIN, revents, 0), -EINVAL);
  EXPECT_EQ(SockWait(fds, SOCK_ADDR_INFO_MAX + 1, POLLIN, revents, 0), -EINVAL);
  sockaddr_storage peer;
  socklen_t peerLen = 0;
  int32_t accepted = SockAccept(b.fd(), &peer, &peerLen);
  EXPECT_GE(accepted, 3);
  char text[SOCK_ADDR_TEXT];
  ASSERT_GT(SockAddrText(peer, peerLen, text, sizeof text), 0);
  EXPECT_EQ(std::string(text).rfind("127.0.0.1:", 0), 0u) << text;
  SockClose(&accepted);
  close(c);
}

}  // namespace
