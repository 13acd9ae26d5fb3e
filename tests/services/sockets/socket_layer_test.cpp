// What of the socket layer no script run shows on loopback: the address
// checks' codes, a connect whose handshake is never answered, mapped IPv6,
// a peer that does not read, busy ports and descriptors that are not open.
// The tcp and udp statements tests run the rest through scripts.
#include "services/sockets/socket_layer.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/core/run_state.h"
#include "engine/core/var_store.h"
#include "platform/socket.h"
#include "tests/engine/harness.h"
#include "tests/services/statement_checks.h"
#include "tests/platform/ipv6.h"
#include "tests/services/sockets/tcp_peer.h"

namespace {

using namespace tcppeer;
using tarvtest::Var;

std::string LastError() {
  const std::vector<std::string> all = tarvtest::RunErrors();
  return all.empty() ? "" : all.back();
}

class SocketLayerTest : public ::testing::Test {
 protected:
  tarvtest::TempDir dir;
  void SetUp() override {
    tarvtest::Start(dir, "# nothing\n");
    sgRun.StepTimeout = 1;
  }
};

// addresses.tsv: the codes of the address checks.
TEST_F(SocketLayerTest, AddressChecks) {
  for (const auto& row : tarvtest::LoadRows("services/sockets/addresses.tsv"))
    EXPECT_EQ(row[0] == "v4" ? TarvIsIpV4(row[1].c_str()) : TarvIsIpV6(row[1].c_str()), std::stoi(row[2])) << row[1];
  EXPECT_EQ(sgRun.RunErrors, 0);  // checks are not errors
}

TEST_F(SocketLayerTest, StartupIgnoresSigpipe) {
  signal(SIGPIPE, SIG_DFL);
  sgRun.WsaState = 0;
  EXPECT_EQ(TarvWsaStartup(), 0);
  EXPECT_EQ(signal(SIGPIPE, SIG_IGN), SIG_IGN);
}

TEST_F(SocketLayerTest, Connects) {
  // 127.0.0.010 is 127.0.0.10 (a peer there), not octal 127.0.0.8 (nobody).
  Listener decimal(AF_INET, 4, "127.0.0.10");
  int32_t fd = WinTcpConnect("127.0.0.010", decimal.port());
  EXPECT_GE(fd, 3);
  WinCloseSocket(&fd);
  EXPECT_EQ(fd, -1);
  // An IPv4 peer reached through its mapped IPv6 address.
  Listener v4;
  fd = WinTcpConnect2V6("::ffff:7f00:1", v4.port());
  EXPECT_GE(fd, 3);
  WinCloseSocket(&fd);
  EXPECT_EQ(sgRun.RunErrors, 0);

  // A listener whose queue is full drops the handshake: the connect waits
  // max(1, 0) seconds and gives up.
  sgRun.StepTimeout = 0;
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
  for (int f : fillers) close(f);
  // A text that the check lets pass and no address parser takes.
  EXPECT_EQ(WinTcpConnect2V6(":::", full.port()), -1);
  EXPECT_EQ(LastError(),
            "WinTcpConnect2V6 : WsaConnectByName failed with error: " + std::to_string(EINVAL));
}

TEST_F(SocketLayerTest, SendToAPeerThatDoesNotReadEndsAfterTheWait) {
  Listener l;
  int32_t fd = WinTcpConnect("127.0.0.1", l.port());
  int peer = l.Accept(5000);
  ASSERT_GE(peer, 0);
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
  setsockopt(peer, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  close(peer);
  Pause(50);
  EXPECT_EQ(WinTcpSend(&fd, "x", 1, 1), 0);
  WinCloseSocket(&fd);
  // A descriptor that is not open is dropped from the field, not closed.
  int32_t stale = 1000;
  char buf[4];
  EXPECT_EQ(WinTcpRecv(&stale, buf, sizeof buf, 1), 0);
  EXPECT_EQ(stale, -1);
}

TEST_F(SocketLayerTest, ListenersReportBusyPorts) {
  TARV_SKIP_WITHOUT_IPV6();
  Listener busy(AF_INET, 4, "0.0.0.0");
  EXPECT_EQ(WinTcpListen(busy.port()), -3);
  EXPECT_EQ(LastError(), "WinTcpListen: bind port [" + std::to_string(busy.port()) +
                             "] err=" + std::to_string(EADDRINUSE));
  // The one-shot listener still serves on the other family.
  Watchdog dog(30, "ListenersReportBusyPorts");
  int client = -1;
  std::thread t([&] { client = ConnectRetry(AF_INET6, busy.port()); });
  int32_t fd = WinTcpListenV6(busy.port());
  t.join();
  EXPECT_GE(fd, 3);
  EXPECT_EQ(LastError(), "bind() failed with error " + std::to_string(EADDRINUSE));
  EXPECT_EQ(Var("tcp.client.ip"), "::1");
  close(client);
  WinCloseSocket(&fd);

  const int port = FreePort(SOCK_DGRAM);
  fd = WinUdpListen(port);
  ASSERT_GE(fd, 3);
  EXPECT_EQ(WinUdpListen(port), -1);
  const int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_storage a;
  sendto(sender, "draw", 4, 0, reinterpret_cast<sockaddr*>(&a), Loopback(AF_INET, port, &a));
  char buf[16];
  EXPECT_EQ(WinUdpRecv3(fd, buf, sizeof buf), 4);
  EXPECT_EQ(SockAddrPort(sgUdp.addrClient), PortOf(sender));
  close(sender);
  WinCloseSocket(&fd);
}

TEST_F(SocketLayerTest, AddressVariables) {
  for (const auto& [text, want] : {std::pair{"[::1]:2323", "::1|2323"}, {"[fe80::1%3]:22", "fe80::1%3|22"},
                                   {"10.0.0.1", "10.0.0.1|<missing>"}}) {
    VarStoreClear();
    TarvSetAddrVars(text, "x.ip", "x.port");
    EXPECT_EQ(tarvtest::Vars({"x.ip", "x.port"}), want);
  }
}

}  // namespace
