// The tcp statements run in scripts inside the test process, against peer
// threads on 127.0.0.1 and ::1.
#include "services/sockets/tcp_statements.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "tests/engine/harness.h"
#include "tests/platform/ipv6.h"
#include "tests/services/sockets/tcp_peer.h"
#include "tests/services/statement_checks.h"

namespace {

using namespace tcppeer;
using tarvtest::TempDir;
using tarvtest::RunErrors;
using tarvtest::Var;
using Errors = std::vector<std::string>;

using tarvtest::Text;

std::string ConnectLine(int port, const char* host = "127.0.0.1") {
  return std::string("tcp.connect ip {") + host + "} port {" + std::to_string(port) + "}\n";
}

// A peer body that writes data and then waits for the script to close.
std::function<void(int)> Sends(std::string data) {
  return [data](int fd) {
    Write(fd, data);
    WaitEof(fd);
  };
}

class TcpStatementsTest : public ::testing::Test {
 protected:
  TempDir dir;
  void TearDown() override { TcpStateClear(); }
  void Run(const std::string& script) { tarvtest::Run(dir, script); }
};

// One exchange with a peer thread (exchanges.txt says how they are written).
struct Exchange {
  std::string name;
  std::vector<std::string> chunks;
  std::string script, text, got;
  Errors errors;
};

std::vector<Exchange> Exchanges() {
  std::vector<Exchange> all;
  std::istringstream in(tarvtest::ReadFile(std::string(TARV_SOURCE_DIR) + "/tests/services/sockets/exchanges.txt"));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line.starts_with("#")) continue;
    const std::string rest = tarvtest::ExpandCheckText(tarvtest::Unescape(line.substr(std::min<size_t>(2, line.size()))));
    if (line.starts_with("@ ")) all.emplace_back().name = line.substr(2);
    else if (line.starts_with("< ")) all.back().chunks.push_back(rest);
    else if (line.starts_with("= ")) all.back().text = rest;
    else if (line.starts_with("! ")) all.back().errors.push_back(rest);
    else if (line.starts_with("> ")) all.back().got = rest;
    else all.back().script += line + "\n";
  }
  return all;
}

TEST_F(TcpStatementsTest, Exchanges) {
  for (const Exchange& c : Exchanges()) {
    SCOPED_TRACE(c.name);
    const int family = c.name.ends_with(" ipv6") ? AF_INET6 : AF_INET;
    if (family == AF_INET6 && !tarvtest::Ipv6LoopbackUsable()) continue;
    std::string got;
    Peer peer(
        [&](int fd) {
          for (size_t i = 0; i < c.chunks.size(); i++) {
            if (i > 0) Pause(200);
            Write(fd, c.chunks[i]);
          }
          if (c.name.find(" hangs up") == std::string::npos) got = Read(fd, 1 << 20);
        },
        family);
    // run.set lines stay in front of the connect.
    const size_t body = c.script.rfind("run.set", 0) == 0 ? c.script.find('\n') + 1 : 0;
    const char* host = family == AF_INET ? "127.0.0.1" : "::1";
    const auto o = tarvtest::RunCase(dir, c.script.substr(0, body) + ConnectLine(peer.port(), host) +
                                              c.script.substr(body) + "tcp.close\n");
    peer.Join();
    EXPECT_EQ(o.text, c.text);
    EXPECT_EQ(o.errors, c.errors);
    EXPECT_EQ(got, c.got);
    TcpStateClear();
  }
}

TEST_F(TcpStatementsTest, ConnectFailures) {
  TARV_SKIP_WITHOUT_IPV6();
  const int closed = FreePort();
  Run(ConnectLine(closed) + "var {mode1} value {~tcp.status~}\n" +
      "tcp.connect ip {localhost} port {80}\n" + ConnectLine(closed, "::1"));
  const std::string failed = "tcp_connect_ip_a3_port_a5: WinTcpConnect < 0 .";
  EXPECT_EQ(RunErrors(), (Errors{
                          "WinTcpConnect: connect,ERROR",
                          failed,
                          "tcp_connect_ip_a3_port_a5: arg <3> is not ip address",
                          "WinTcpConnect2V6 : WsaConnectByName failed with error: " +
                              std::to_string(ECONNREFUSED),
                          failed,
                      }));
  EXPECT_EQ(Var("mode1"), "CLOSED");
  EXPECT_EQ(Var("tcp.status"), "CLOSED");
  EXPECT_EQ(sgTcp.TcpMode, 0);
  EXPECT_EQ(sgTcp.DataSocket, -1);
}

TEST_F(TcpStatementsTest, ServerListenAcceptsAnIPv4ThenAnIPv6Client) {
  TARV_SKIP_WITHOUT_IPV6();
  Watchdog dog(60, "ServerListenAcceptsAnIPv4ThenAnIPv6Client");
  const int port = FreePort();
  ASSERT_GT(port, 0);
  // The script is connected elsewhere when it starts listening: that
  // connection must be closed, not left open.
  bool firstClosed = false;
  Peer earlier([&](int fd) { firstClosed = WaitEof(fd); });
  std::string answers;
  std::thread clients([&] {
    for (int family : {AF_INET, AF_INET6}) {
      const int fd = ConnectRetry(family, port);
      if (fd < 0) return;
      Write(fd, family == AF_INET ? "one" : "two");
      answers += Read(fd, 2);
      WaitEof(fd);
      close(fd);
    }
  });
  const std::string listen = "tcp.server listen port {" + std::to_string(port) + "}\n";
  Run(ConnectLine(earlier.port()) + listen +
      "var {ip1} value {~tcp.client.ip~}\n"
      "var {port1} value {~tcp.client.port~}\n"
      "var {s1} value {~tcp.status~}\n"
      "tcp.recv {one}\ntcp.send {ok}\ntcp.close\n" +
      listen +
      "var {ip2} value {~tcp.client.ip~}\n"
      "tcp.recv {two}\ntcp.send {OK}\ntcp.close\n");
  clients.join();
  earlier.Join();
  EXPECT_TRUE(firstClosed);
  EXPECT_EQ(Var("ip1"), "127.0.0.1");
  EXPECT_GT(std::stoi(Var("port1")), 0);
  EXPECT_EQ(Var("s1"), "ESTABLISHED");
  EXPECT_EQ(Var("ip2"), "::1");
  EXPECT_EQ(Text(), "onetwo");
  EXPECT_EQ(answers, "okOK");
  EXPECT_EQ(RunErrors(), Errors{});
}

TEST_F(TcpStatementsTest, ReceiveByCountStopsAtTheTextBuffersEnd) {
  Peer peer(Sends("12345"));
  const auto o = tarvtest::RunCase(
      dir, ConnectLine(peer.port()) + "tcp.recv for {6} bytes\ntcp.recv for {5} bytes\n"
                                      "tcp.recv for {1} bytes\ntcp.close\n",
      [] {
        sgRun.TextLen = TEXT_SIZE - 5;
        sgRun.Text[TEXT_SIZE + 1] = '#';
      });
  EXPECT_EQ(sgRun.TextLen, TEXT_SIZE);
  EXPECT_EQ(o.text.substr(TEXT_SIZE - 5), "12345");
  EXPECT_EQ(sgRun.Text[TEXT_SIZE + 1], '#');
  EXPECT_EQ(o.errors, (Errors{"text buf is low !", "text buf is low !"}));
}

TEST_F(TcpStatementsTest, ANewConnectClosesTheOldConnection) {
  Listener l;
  bool firstEnded = false;
  std::string second;
  std::thread peer([&] {
    const int a = l.Accept();
    const int b = l.Accept();
    firstEnded = WaitEof(a, 5000);
    second = Read(b, 6);
    close(a);
    close(b);
  });
  Run(ConnectLine(l.port()) + ConnectLine(l.port()) + "tcp.send {second}\ntcp.close\n");
  peer.join();
  EXPECT_TRUE(firstEnded);
  EXPECT_EQ(second, "second");
  EXPECT_EQ(RunErrors(), Errors{});
}

// The listen scan's debug lines name each address the way its family is
// written: IPv4 dotted and alone, IPv6 as the address text.
TEST(ListenLine, IPv4AddressAloneWithoutItsPort) {
  // The listener serves both families: its port must be free on both.
  TARV_SKIP_WITHOUT_IPV6();
  tarvtest::TempDir dir;
  const int port = tcppeer::FreePort();
  ASSERT_GT(port, 0);
  std::thread client([port] {
    const int fd = tcppeer::ConnectRetry(AF_INET, port);
    if (fd >= 0) close(fd);
  });
  std::filesystem::create_directory(dir.path() / "log");
  tarvtest::Run(dir, "tcp.server listen port {" + std::to_string(port) + "}\ntcp.close\n",
                "debug");
  client.join();
  TcpStateClear();
  const std::string log = tarvtest::LogsIn(dir);
  EXPECT_NE(log.find("\nTcp.Listen IPv4=[0.0.0.0]"), std::string::npos) << log;
}

}  // namespace
