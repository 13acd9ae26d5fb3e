// The udp statements run in scripts inside the test process, against peer
// threads with UDP sockets on 127.0.0.1 and ::1.
#include "services/sockets/udp_statements.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/core/run_state.h"
#include "services/sockets/socket_layer.h"
#include "services/sockets/tcp_statements.h"
#include "tests/engine/harness.h"
#include "tests/platform/ipv6.h"
#include "tests/services/binary_run.h"
#include "tests/services/statement_checks.h"
#include "tests/services/sockets/tcp_peer.h"

namespace {

using namespace tcppeer;
using tarvtest::RunErrors;
using tarvtest::TempDir;
using tarvtest::Var;
using Errors = std::vector<std::string>;

using tarvtest::Text;

class UdpStatementsTest : public ::testing::Test {
 protected:
  TempDir dir;
  void TearDown() override { UdpStateClear(); }
  void Run(const std::string& script) { tarvtest::Run(dir, script); }
};

// A datagram too long for the buffer, from another sender, comes first: it
// is dropped, and the listen learns its peer from the next one.
TEST_F(UdpStatementsTest, ListenLearnsThePeerFromTheFirstDatagram) {
  Watchdog dog(60, "ListenLearnsThePeerFromTheFirstDatagram");
  const int port = FreePort(SOCK_DGRAM);
  for (int family : {AF_INET, AF_INET6}) {
    if (family == AF_INET6 && !tarvtest::Ipv6LoopbackUsable()) continue;
    UdpPeer client(family);
    UdpPeer oversized(family);
    std::string answer;
    std::thread peer([&] {
      if (!UdpBound(port)) return;
      oversized.SendTo(port, std::string(UDP_BUF + 1, 'x'));
      client.SendTo(port, "first");
      answer = client.Recv();
      client.SendTo(port, "second");
    });
    Run("run.set step.timeout {1} seconds\n"
        "udp.server listen port {" + std::to_string(port) + "}\n"
        "var {ip} value {~udp.client.ip~}\n"
        "var {port} value {~udp.client.port~}\n"
        "udp.recv {1} packets\n"
        "udp.send {pong}\n"
        "udp.recv {1} packets\n"
        "udp.close\n");
    peer.join();
    const std::string port = std::to_string(client.port());
    EXPECT_EQ(tarvtest::Vars({"ip", "port", "udp.client.port"}),
              (family == AF_INET ? "127.0.0.1|" : "::1|") + port + "|" + port);
    EXPECT_EQ(Text(), "firstsecond");
    EXPECT_EQ(answer, "pong");
    EXPECT_EQ(RunErrors(), Errors{});
    EXPECT_EQ(sgUdp.Socket, -1);
  }
}

TEST_F(UdpStatementsTest, ClientExchangesDatagramsOverBothFamilies) {
  for (int family : {AF_INET, AF_INET6}) {
    if (family == AF_INET6 && !tarvtest::Ipv6LoopbackUsable()) continue;
    UdpPeer server(family);
    std::string got1, got2;
    std::thread peer([&] {
      int from = 0;
      got1 = server.Recv(10000, &from);
      server.SendTo(from, "reply-1");
      server.SendTo(from, std::string(3000, 'x'));  // too long for the receive buffer
      server.SendTo(from, "reply-2");
      got2 = server.Recv(10000);
    });
    const char* host = family == AF_INET ? "127.0.0.1" : "::1";
    Run("run.set step.timeout {2} seconds\n"
        "udp.client connect ip {" + std::string(host) + "} port {" +
        std::to_string(server.port()) +
        "}\n"
        "udp.send {hello}\n"
        "udp.recv {3} packets\n"
        "text.add {|~udp.server.ip~|}\n"
        "text.headpointer move to {1} byte\n"
        "text.tailpointer move to {5} byte\n"
        "udp.send text\n"
        "udp.close\n");
    peer.join();
    EXPECT_EQ(got1, "hello");
    EXPECT_EQ(Text(), std::string("reply-1reply-2|") + host + "|");
    EXPECT_EQ(Var("udp.server.port"), std::to_string(server.port()));
    EXPECT_EQ(got2, "reply");
    EXPECT_EQ(RunErrors(), Errors{});
  }
}

TEST_F(UdpStatementsTest, ClientReceivesWithoutAStepTimeOut) {
  Watchdog dog(60, "ClientReceivesWithoutAStepTimeOut");
  UdpPeer quiet;
  std::thread peer([&] {
    int from = 0;
    if (quiet.Recv(10000, &from) != "go") return;
    for (const char* d : {"a", "b", "c"}) quiet.SendTo(from, d);
  });
  Run("run.set step.timeout {0} seconds\n"
      "udp.client connect ip {127.0.0.1} port {" + std::to_string(quiet.port()) +
      "}\n"
      "text.add {~udp.client.localport~|}\n"
      "udp.send {go}\n"
      "udp.recv {1} seconds\n"
      "var {ip1} value {~udp.server.ip~}\n"
      "udp.recv {2} packets\n"
      "var {after} value {done}\n"
      "udp.recv {1} seconds\n");
  peer.join();
  EXPECT_EQ(Var("after"), "done");
  EXPECT_EQ(Text(), Var("udp.client.localport") + "|abc");
  EXPECT_GT(std::stoi(Var("udp.client.localport")), 0);
  EXPECT_EQ(Var("ip1"), "127.0.0.1");
  EXPECT_EQ(Var("udp.server.ip"), "");  // emptied by the receives that got nothing
  EXPECT_EQ(RunErrors(), Errors{});
}

// A refused line leaves no socket open.
TEST(SocketChecks, ArgumentsAndUseWithoutAConnection) {
  tarvtest::RunChecks("services/sockets/checks.txt", [] {
    EXPECT_EQ(sgUdp.Socket, -1);
    EXPECT_EQ(sgTcp.DataSocket, -1);
  });
}

TEST(UdpBinary, ServerAnswersAnIPv6Client) {
  TARV_SKIP_WITHOUT_IPV6();
  const int port = FreePort(SOCK_DGRAM);
  UdpPeer client(AF_INET6);
  std::string answer;
  std::thread peer([&] {
    if (!UdpBound(port)) return;
    client.SendTo(port, "hello");
    answer = client.Recv(20000);
  });
  TempDir dir;
  EXPECT_EQ(tarvtest::RunSaved(dir, "server.nms",
                               "udp.server listen port {" + std::to_string(port) + "}\n"
                               "udp.recv {1} packets\n"
                               "text.add {|~udp.client.ip~|~run.errors~}\n"
                               "text.headpointer move to head\n"
                               "text.tailpointer move to tail\n"
                               "udp.send text\n"
                               "udp.close\n"),
            "hello|::1|0");
  peer.join();
  EXPECT_EQ(answer, "hello|::1|0");
}

}  // namespace
