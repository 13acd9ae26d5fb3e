// The socket layer: address checks, connects, bounded receives and sends,
// the one-shot listeners and the UDP functions, against loopback peers.
#include "services/sockets/socket_layer.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "engine/core/var_store.h"
#include "platform/socket.h"
#include "tests/engine/harness.h"
#include "tests/services/sockets/tcp_peer.h"
#include "tests/platform/ipv6.h"

namespace {

using namespace tcppeer;
using tarvtest::TempDir;
using tarvtest::Var;

std::string LastError() {
  const std::vector<std::string> all = tarvtest::RunErrors();
  return all.empty() ? "" : all.back();
}

// A UDP socket bound to an ephemeral loopback port.
int BoundUdp(int family) {
  const int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_storage a;
  const socklen_t len = Loopback(family, 0, &a);
  bind(fd, reinterpret_cast<sockaddr*>(&a), len);
  return fd;
}

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 5000) == 1;
}

// A connection made by WinTcpConnect, and the peer's end of it.
struct Connected {
  Listener l;
  int32_t fd = WinTcpConnect("127.0.0.1", l.port());
  int peer = l.Accept(5000);
  ~Connected() {
    if (peer >= 0) close(peer);
    WinCloseSocket(&fd);
  }
};

class SocketLayerTest : public ::testing::Test {
 protected:
  TempDir dir;
  void SetUp() override {
    tarvtest::Start(dir, "# nothing\n");
    sgRun.StepTimeout = 1;
  }
};

TEST_F(SocketLayerTest, AddressChecks) {
  struct Case {
    const char* text;
    int code;
  };
  const Case v4[] = {
      {"1.2.3.4", 0},   {"255.255.255.255", 0}, {"10.2.3.", 0},     {"1.2.3.256", -8},
      {"1.2.3", -6},    {"1.2.3.4.5", -4},      {"1.2.3.4444", -7}, {"0001.2.3.4", -7},
      {"1.2.3.4 ", -5}, {"12345678", -1},       {"", -6},           {"1234567890123456", -6},
  };
  const Case v6[] = {
      {"::1", 0},        {":::", 0},     {"1:2:3:4:5:6:7:8", 0},  {"1:2:3:4:5:6:7:8:9", -4},
      {"FFFF:abcd::", 0}, {"::g", -5},    {"[::1]", -5},           {"fe80::1%3", -5},
      {"abcd", -1},      {"::", -6},     {"::ffff:1.2.3.4", -5},
      {"1111:2222:3333:4444:5555:6666:7777:8888", 0},
      {"1111:2222:3333:4444:5555:6666:7777:88889", -6},
  };
  for (const auto& c : v4) EXPECT_EQ(TarvIsIpV4(c.text), c.code) << c.text;
  for (const auto& c : v6) EXPECT_EQ(TarvIsIpV6(c.text), c.code) << c.text;
  EXPECT_EQ(sgRun.RunErrors, 0);  // checks are not errors
}

TEST_F(SocketLayerTest, IpV4PartsAreDecimal) {
  auto parts = [](const char* text) {
    uint8_t p[4] = {9, 9, 9, 9};
    TarvIpV4Parts(text, p);
    return std::vector<int>(p, p + 4);
  };
  EXPECT_EQ(parts("127.000.000.010"), (std::vector<int>{127, 0, 0, 10}));
  EXPECT_EQ(parts("10.2.3."), (std::vector<int>{10, 2, 3, 0}));
  EXPECT_EQ(parts("..."), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(parts("255.254.253.252"), (std::vector<int>{255, 254, 253, 252}));
}

TEST_F(SocketLayerTest, StartupIgnoresSigpipeAndIsDoneOnce) {
  EXPECT_EQ(sgRun.WsaState, 1);  // the initialisation started it
  signal(SIGPIPE, SIG_DFL);
  sgRun.WsaState = 0;
  EXPECT_EQ(TarvWsaStartup(), 0);
  EXPECT_EQ(sgRun.WsaState, 1);
  EXPECT_EQ(signal(SIGPIPE, SIG_IGN), SIG_IGN);
  // A socket function starts the library itself when needed.
  sgRun.WsaState = 0;
  int32_t none = -1;
  char buf[4];
  EXPECT_EQ(WinTcpRecv(&none, buf, sizeof buf, 0), 0);
  EXPECT_EQ(sgRun.WsaState, 1);
}

TEST_F(SocketLayerTest, ConnectIPv4ReadsThePartsAsDecimal) {
  // 127.0.0.010 is 127.0.0.10 (a peer there), not octal 127.0.0.8 (nobody).
  Listener l(AF_INET, 4, "127.0.0.10");
  ASSERT_GT(l.port(), 0);
  int32_t fd = WinTcpConnect("127.0.0.010", l.port());
  ASSERT_GE(fd, 3);
  EXPECT_EQ(sgRun.RunErrors, 0);
  const int peer = l.Accept(5000);
  ASSERT_GE(peer, 0);
  EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(WinTcpSend(&fd, "ping", 4, 1), 4);
  EXPECT_EQ(Read(peer, 4), "ping");
  close(peer);
  WinCloseSocket(&fd);
  EXPECT_EQ(fd, -1);
}

TEST_F(SocketLayerTest, ConnectFailures) {
  // Refused at once, even with a step time-out of 0.
  sgRun.StepTimeout = 0;
  const int closed = FreePort();
  EXPECT_EQ(WinTcpConnect("127.0.0.1", closed), -1);
  EXPECT_EQ(LastError(), "WinTcpConnect: connect,ERROR");

  // A listener whose queue is full drops the handshake: the connect waits
  // max(1, 0) seconds and gives up.
  Listener full(AF_INET, 0);
  std::vector<int> fillers;
  sockaddr_storage a;
  const socklen_t len = Loopback(AF_INET, full.port(), &a);
  for (int i = 0; i < 4; i++) {
    fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    connect(fillers.back(), reinterpret_cast<sockaddr*>(&a), len);
  }
  Pause(100);
  EXPECT_EQ(WinTcpConnect("127.0.0.1", full.port()), -1);
  EXPECT_EQ(LastError(), "WinTcpConnect: connect,select timeOut =1");
  for (int fd : fillers) close(fd);

  // A text that no address parser takes (the refusal is the statements' test).
  EXPECT_EQ(WinTcpConnect2V6(":::", closed), -1);
  EXPECT_EQ(LastError(),
            "WinTcpConnect2V6 : WsaConnectByName failed with error: " + std::to_string(EINVAL));
  EXPECT_EQ(sgRun.RunErrors, 3);
}

TEST_F(SocketLayerTest, ConnectIPv6IsDualStackAndBlocking) {
  TARV_SKIP_WITHOUT_IPV6();
  Listener v6(AF_INET6);
  int32_t fd = WinTcpConnect2V6("::1", v6.port());
  ASSERT_GE(fd, 3);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  const int peer = v6.Accept(5000);
  ASSERT_GE(peer, 0);
  Write(peer, "over v6");
  char buf[32];
  EXPECT_EQ(WinTcpRecv(&fd, buf, sizeof buf, 1), 7);
  EXPECT_EQ(std::string(buf, 7), "over v6");
  close(peer);
  WinCloseSocket(&fd);

  // An IPv4 peer reached through its mapped IPv6 address.
  Listener v4;
  fd = WinTcpConnect2V6("::ffff:7f00:1", v4.port());
  ASSERT_GE(fd, 3);
  const int peer4 = v4.Accept(5000);
  EXPECT_GE(peer4, 0);
  close(peer4);
  WinCloseSocket(&fd);
  EXPECT_EQ(sgRun.RunErrors, 0);
}

TEST_F(SocketLayerTest, ReceiveOutcomes) {
  Connected c;
  ASSERT_GE(c.peer, 0);
  int32_t& fd = c.fd;
  char buf[8];

  // Quiet peer: nothing after the wait, no error, the socket stays.
  EXPECT_EQ(WinTcpRecv(&fd, buf, sizeof buf, 0), 0);
  EXPECT_GE(fd, 3);
  Write(c.peer, "0123456789");
  Pause(50);
  EXPECT_EQ(WinTcpRecv(&fd, buf, sizeof buf, 1), 8);
  EXPECT_EQ(WinTcpRecv(&fd, buf, sizeof buf, 1), 2);
  EXPECT_EQ(std::string(buf, 2), "89");
  // The peer closes: 0 at once, no error, the socket is the caller's to close.
  close(std::exchange(c.peer, -1));
  EXPECT_EQ(WinTcpRecv(&fd, buf, sizeof buf, 1), 0);
  EXPECT_GE(fd, 3);
  EXPECT_EQ(sgRun.RunErrors, 0);
  WinCloseSocket(&fd);

  // No socket: a counted error with code 0.
  EXPECT_EQ(WinTcpRecv(&fd, buf, sizeof buf, 1), 0);
  EXPECT_EQ(fd, -1);
  EXPECT_EQ(LastError(), "WinTcpRecv: recv len=0,select ret SOCKET_ERROR");
  EXPECT_EQ(WinTcpSend(&fd, "x", 1, 1), 0);
  EXPECT_EQ(LastError(), "WinTcpSend: send len=0,select ret SOCKET_ERROR");
  EXPECT_EQ(sgRun.RunErrors, 2);
  // A descriptor that is not open is dropped from the field, not closed.
  int32_t stale = 1000;
  EXPECT_EQ(WinTcpRecv(&stale, buf, sizeof buf, 1), 0);
  EXPECT_EQ(stale, -1);
}

TEST_F(SocketLayerTest, SendToAPeerThatDoesNotReadEndsAfterTheWait) {
  Connected c;
  ASSERT_GE(c.peer, 0);
  int32_t& fd = c.fd;
  static const std::string block(1 << 20, 's');
  int64_t total = 0;
  int n = 1;
  for (int i = 0; i < 200 && n > 0; i++) {
    n = WinTcpSend(&fd, block.data(), static_cast<int>(block.size()), 0);
    EXPECT_LE(n, static_cast<int>(block.size()));
    total += n;
  }
  EXPECT_EQ(n, 0);
  EXPECT_GT(total, 0);
  EXPECT_EQ(sgRun.RunErrors, 0);
  EXPECT_GE(fd, 3);
  // A reset peer: the send reports no bytes, no signal ends the program.
  linger lg{1, 0};
  setsockopt(c.peer, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  close(std::exchange(c.peer, -1));
  Pause(50);
  EXPECT_EQ(WinTcpSend(&fd, "x", 1, 1), 0);
}

TEST_F(SocketLayerTest, ListenerAcceptsEitherFamilyAndFreesThePort) {
  TARV_SKIP_WITHOUT_IPV6();
  Watchdog dog(30, "ListenerAcceptsEitherFamilyAndFreesThePort");
  const int port = FreePort();
  ASSERT_GT(port, 0);
  struct {
    int family;
    const char* ip;
  } const cases[] = {{AF_INET, "127.0.0.1"}, {AF_INET6, "::1"}, {AF_INET, "127.0.0.1"}};
  for (const auto& c : cases) {
    int client = -1;
    std::thread t([&] { client = ConnectRetry(c.family, port); });
    int32_t fd = WinTcpListenV6(port);
    t.join();
    ASSERT_GE(fd, 3) << c.ip;
    ASSERT_GE(client, 0);
    EXPECT_EQ(Var("tcp.client.ip"), c.ip);
    EXPECT_EQ(Var("tcp.client.port"), std::to_string(PortOf(client)));
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    Write(client, "hi");
    char buf[4];
    EXPECT_EQ(WinTcpRecv(&fd, buf, sizeof buf, 1), 2);
    close(client);
    WinCloseSocket(&fd);
  }
  EXPECT_EQ(sgRun.RunErrors, 0);
}

TEST_F(SocketLayerTest, ListenersReportBusyPorts) {
  TARV_SKIP_WITHOUT_IPV6();
  Listener busy(AF_INET, 4, "0.0.0.0");
  EXPECT_EQ(WinTcpListen(busy.port()), -3);
  EXPECT_EQ(LastError(), "WinTcpListen: bind port [" + std::to_string(busy.port()) +
                                            "] err=" + std::to_string(EADDRINUSE));

  // The one-shot listener still serves on the other family.
  Watchdog dog(30, "ListenersReportBusyPorts");
  const int before = sgRun.RunErrors;
  int client = -1;
  std::thread t([&] { client = ConnectRetry(AF_INET6, busy.port()); });
  int32_t fd = WinTcpListenV6(busy.port());
  t.join();
  EXPECT_GE(fd, 3);
  EXPECT_EQ(sgRun.RunErrors, before + 1);
  EXPECT_EQ(LastError(), "bind() failed with error " + std::to_string(EADDRINUSE));
  EXPECT_EQ(Var("tcp.client.ip"), "::1");
  close(client);
  WinCloseSocket(&fd);

  int32_t ok = WinTcpListen(FreePort());
  EXPECT_GE(ok, 3);
  WinCloseSocket(&ok);
}

TEST_F(SocketLayerTest, UdpServerPeeksTheFirstDatagramAndAnswersItsSender) {
  TARV_SKIP_WITHOUT_IPV6();
  Watchdog dog(30, "UdpServerPeeksTheFirstDatagramAndAnswersItsSender");
  const int port = FreePort(SOCK_DGRAM);
  UdpStateClear();
  sgUdp.Mode = 1;
  // Unconnected, so that the refusals of datagrams sent before the bind
  // leave no error behind on it.
  int client = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_storage a;
  const socklen_t len = Loopback(AF_INET6, port, &a);
  auto toServer = [&](std::string_view d) {
    sendto(client, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&a), len);
  };
  std::atomic<bool> got{false};
  std::thread sender([&] {
    // Datagrams sent before the bind are lost: repeat until one lands.
    for (int i = 0; i < 250 && !got; i++) {
      toServer("first");
      Pause(20);
    }
  });
  sgUdp.Socket = WinUdpListenV6(port);
  got = true;
  sender.join();
  ASSERT_GE(sgUdp.Socket, 3);
  EXPECT_EQ(sgUdp.LastLen, 5);
  EXPECT_EQ(Var("udp.client.ip"), "::1");
  EXPECT_EQ(Var("udp.client.port"), std::to_string(PortOf(client)));

  char buf[UDP_BUF];
  EXPECT_EQ(WinUdpRecv4(&sgUdp.Socket, buf, sizeof buf, 1), 5);  // the same datagram again
  EXPECT_EQ(std::string(buf, 5), "first");
  EXPECT_EQ(WinUdpSend3(sgUdp.Socket, "answer", 6), 6);
  ASSERT_TRUE(Readable(client));
  EXPECT_EQ(recv(client, buf, sizeof buf, 0), 6);

  while (recv(sgUdp.Socket, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
  EXPECT_EQ(WinUdpRecv4(&sgUdp.Socket, buf, sizeof buf, 1), 0);
  // A datagram longer than the capacity gives no data, and is gone after.
  toServer(std::string(100, 'B'));
  toServer("next");
  Pause(50);
  EXPECT_EQ(WinUdpRecv4(&sgUdp.Socket, buf, 50, 1), 0);
  EXPECT_EQ(WinUdpRecv4(&sgUdp.Socket, buf, 50, 0), 4);
  EXPECT_EQ(sgRun.RunErrors, 0);
  close(client);
  UdpStateClear();
  EXPECT_EQ(sgUdp.Socket, -1);
}

TEST_F(SocketLayerTest, UdpClients) {
  TARV_SKIP_WITHOUT_IPV6();
  UdpStateClear();
  char buf[16], text[64];
  const int server = BoundUdp(AF_INET);
  int32_t fd = WinUdpConnect2("127.0.0.1", PortOf(server));
  ASSERT_GE(fd, 3);
  EXPECT_EQ(Var("udp.client.localport"), std::to_string(PortOf(fd)));
  EXPECT_EQ(WinUdpSend3(fd, "v4", 2), 2);
  sockaddr_storage from;
  socklen_t fromLen = sizeof from;
  ASSERT_TRUE(Readable(server));
  EXPECT_EQ(recvfrom(server, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen), 2);
  sendto(server, "back", 4, 0, reinterpret_cast<sockaddr*>(&from), fromLen);
  EXPECT_EQ(WinUdpRecv4(&fd, buf, sizeof buf, 1), 4);
  ASSERT_GT(WinAddrText(sgUdp.addrClient, sgUdp.PeerLen, text, sizeof text), 0);
  EXPECT_EQ(std::string(text), "127.0.0.1:" + std::to_string(PortOf(server)));
  WinCloseSocket(&fd);
  close(server);

  const int server6 = BoundUdp(AF_INET6);
  fd = WinUdpConnect2V6("::1", PortOf(server6));
  ASSERT_GE(fd, 3);
  ASSERT_GT(WinAddrText(sgUdp.addrClient, sgUdp.PeerLen, text, sizeof text), 0);
  EXPECT_EQ(std::string(text), "[::1]:" + std::to_string(PortOf(server6)));
  EXPECT_EQ(WinUdpSend3(fd, "v6", 2), 2);
  ASSERT_TRUE(Readable(server6));
  EXPECT_EQ(recv(server6, buf, sizeof buf, 0), 2);
  WinCloseSocket(&fd);
  close(server6);
  EXPECT_EQ(sgRun.RunErrors, 0);

  EXPECT_EQ(WinUdpConnect2V6(":::", 9), -1);
  EXPECT_EQ(sgRun.RunErrors, 1);
  // A send without a socket is a warning only.
  EXPECT_EQ(WinUdpSend3(-1, "x", 1), -1);
  EXPECT_EQ(sgRun.RunErrors, 1);
}

TEST_F(SocketLayerTest, HelperUdpListener) {
  const int port = FreePort(SOCK_DGRAM);
  int32_t fd = WinUdpListen(port);
  ASSERT_GE(fd, 3);
  EXPECT_EQ(WinUdpListen(port), -1);  // taken
  int client = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_storage a;
  const socklen_t len = Loopback(AF_INET, port, &a);
  sendto(client, "draw", 4, 0, reinterpret_cast<sockaddr*>(&a), len);
  char buf[16];
  EXPECT_EQ(WinUdpRecv3(fd, buf, sizeof buf), 4);
  EXPECT_EQ(SockAddrPort(sgUdp.addrClient), PortOf(client));
  close(client);
  WinCloseSocket(&fd);
}

TEST_F(SocketLayerTest, AddressVariables) {
  struct {
    const char *text, *ip, *port;
  } const cases[] = {
      {"[::1]:2323", "::1", "2323"},
      {"[fe80::1%3]:22", "fe80::1%3", "22"},
      {"10.0.0.1", "10.0.0.1", "<missing>"},
  };
  for (const auto& c : cases) {
    VarStoreClear();
    TarvSetAddrVars(c.text, "x.ip", "x.port");
    EXPECT_EQ(Var("x.ip"), c.ip);
    EXPECT_EQ(Var("x.port"), c.port);
  }
}

}  // namespace
