// The tcp statements run in scripts inside the test process, against peer
// threads on 127.0.0.1 and ::1.
#include "services/sockets/tcp_statements.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "tests/engine/harness.h"
#include "tests/services/sockets/tcp_peer.h"
#include "tests/platform/ipv6.h"

namespace {

using namespace tcppeer;
using tarvtest::TempDir;
using tarvtest::RunErrors;
using tarvtest::Var;
using Errors = std::vector<std::string>;

std::string Text() { return std::string(sgRun.Text.data() + 1, sgRun.TextLen); }

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
  void Run(const std::string& script, const std::string& mode = "hide") {
    tarvtest::Run(dir, script, mode);
  }
};

TEST_F(TcpStatementsTest, ExpectAPromptInsideALargerChunk) {
  std::string got;
  Peer peer([&](int fd) {
    got = Read(fd, 7);
    Sends("Welcome\r\nuser$ trailing-bytes")(fd);
  });
  Run(ConnectLine(peer.port()) +
      "var {s1} value {~tcp.status~}\n"
      "tcp.send {login%0D%0A}\n"
      "tcp.recv expect {$ }\n"
      "text.add {|}\n"
      "tcp.recv for {14} bytes\n"
      "tcp.close\n");
  peer.Join();
  EXPECT_EQ(got, "login\r\n");
  EXPECT_EQ(Text(), "Welcome\r\nuser$ |trailing-bytes");
  EXPECT_EQ(Var("s1"), "ESTABLISHED");
  EXPECT_EQ(Var("tcp.status"), "CLOSED");
  EXPECT_EQ(RunErrors(), Errors{});
  EXPECT_EQ(sgTcp.DataSocket, -1);
  EXPECT_EQ(sgTcp.TcpMode, 0);
}

TEST_F(TcpStatementsTest, ExpectSplitAcrossTwoChunksOverIPv6) {
  TARV_SKIP_WITHOUT_IPV6();
  Peer peer(
      [](int fd) {
        Write(fd, "abc--EN");
        Pause(200);
        Sends("D--xyz")(fd);
      },
      AF_INET6);
  Run(ConnectLine(peer.port(), "::1") +
      "tcp.recv expect {--END--}\n"
      "text.add {|}\n"
      "tcp.recv {xyz}\n"
      "tcp.close\n");
  EXPECT_EQ(Text(), "abc--END--|xyz");
  EXPECT_EQ(RunErrors(), Errors{});
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

TEST_F(TcpStatementsTest, QuietPeerEndsTheExpectWithEverythingReceivedKept) {
  // 600 bytes and then silence: 512 go to the text while waiting, the other
  // 88 when the wait is over.
  std::string sent;
  for (int i = 0; sent.size() < 600; i++) sent += static_cast<char>('a' + i % 26);
  Peer peer(Sends(sent));
  Run("run.set step.timeout {1} seconds\n" + ConnectLine(peer.port()) +
      "tcp.recv expect {never}\n"
      "var {s1} value {~tcp.status~}\n"
      "tcp.close\n");
  EXPECT_EQ(Text(), sent);
  EXPECT_EQ(Var("s1"), "CLOSED");
  EXPECT_EQ(RunErrors(), Errors{"tcp_recv_expect_a3 ,TarvTcpRecv error=0!"});
}

TEST_F(TcpStatementsTest, PeerThatClosesEndsTheReceives) {
  Peer peer([](int fd) { Write(fd, "partial"); });
  Run(ConnectLine(peer.port()) +
      "tcp.recv expect {prompt}\n"
      "var {s1} value {~tcp.status~}\n"
      "tcp.recv {x}\n"
      "tcp.recv for {5} bytes\n"
      "tcp.close\n");
  EXPECT_EQ(Text(), "partial");
  EXPECT_EQ(Var("s1"), "CLOSED");
  EXPECT_EQ(RunErrors(), (Errors{
                          "tcp_recv_expect_a3 ,TarvTcpRecv error=0!",
                          "tcp_recv_a2 ,TarvTcpRecv error=0!",
                          "tcp_recv_for_a3_bytes recv len=0 ,but want len=5 !",
                      }));
}

TEST_F(TcpStatementsTest, ExactReceiveMismatchAppendsWhatCame) {
  Peer peer(Sends("abdabc"));
  Run(ConnectLine(peer.port()) +
      "tcp.recv {abc}\n"
      "var {s1} value {~tcp.status~}\n"
      "tcp.recv {abc}\n"
      "tcp.close\n");
  EXPECT_EQ(Text(), "abdabc");
  EXPECT_EQ(Var("s1"), "ESTABLISHED");  // a mismatch is no lost connection
  EXPECT_EQ(RunErrors(), Errors{"tcp_recv_a2 ,Not Match !"});
}

TEST_F(TcpStatementsTest, StepTimeoutZero) {
  Peer peer(Sends("ready> "));
  // The expect gives up before reading; the connect still waits its second
  // and the plain receive its second and a tenth.
  Run("run.set step.timeout {0} seconds\n" + ConnectLine(peer.port()) +
      "tcp.recv expect {ready>}\n"
      "var {s1} value {~tcp.status~}\n"
      "tcp.recv {ready> }\n"
      "tcp.close\n");
  EXPECT_EQ(Var("s1"), "ESTABLISHED");
  EXPECT_EQ(Text(), "ready> ");
  EXPECT_EQ(RunErrors(), Errors{"tcp_recv_expect_a3 , TimeOut !"});
}

TEST_F(TcpStatementsTest, SendTextSendsTheSelection) {
  std::string got;
  Peer peer([&](int fd) { got = Read(fd, 100, 10000); });
  Run(ConnectLine(peer.port()) +
      "text.add {0123456789}\n"
      "text.headpointer move to {3} byte\n"
      "text.tailpointer move to {6} byte\n"
      "tcp.send text\n"
      "text.headpointer move to {6} byte\n"
      "tcp.send text\n"
      "text.tailpointer move to {10} byte\n"
      "text.headpointer move to {1} byte\n"
      "tcp.send text\n"
      "tcp.close\n");
  peer.Join();
  EXPECT_EQ(got, "23450123456789");
  EXPECT_EQ(RunErrors(), Errors{"tcp_send_text: no text be selected, error."});
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

TEST_F(TcpStatementsTest, ReceiveByCountHandsOutAtMostABufferPerStatement) {
  std::string sent;
  for (int i = 0; i < 5000; i++) sent += static_cast<char>('0' + i % 10);
  Peer peer(Sends(sent));
  Run(ConnectLine(peer.port()) +
      "tcp.recv for {4096} bytes\n"
      "tcp.recv for {0} bytes\n"
      "tcp.recv for {2048} bytes\n"
      "tcp.recv for {904} bytes\n"
      "tcp.close\n");
  EXPECT_EQ(Text(), sent);
  EXPECT_EQ(RunErrors(), Errors{"tcp_recv_for_a3_bytes recv len=2048 ,but want len=4096 !"});
}

// The peer sends once and then answers nothing until it reads "go"; it gives
// up long before the step time-out, so a receive that waits for more than
// the buffer already holds makes it miss the "go".
TEST_F(TcpStatementsTest, ReceiveByCountOfWhatIsBufferedDoesNotWait) {
  std::string got;
  Peer peer([&](int fd) {
    Write(fd, "abcdef");
    got = Read(fd, 2, 10000);
  });
  Run("run.set step.timeout {60} seconds\n" + ConnectLine(peer.port()) +
      "tcp.recv {abc}\ntcp.recv for {3} bytes\ntcp.send {go}\ntcp.close\n");
  peer.Join();
  EXPECT_EQ(got, "go");
  EXPECT_EQ(Text(), "abcdef");
  EXPECT_EQ(RunErrors(), Errors{});
}

TEST_F(TcpStatementsTest, ReceiveByCountStopsAtTheTextBuffersEnd) {
  Peer peer(Sends("12345"));
  tarvtest::Start(dir, ConnectLine(peer.port()) +
                           "tcp.recv for {6} bytes\n"
                           "tcp.recv for {5} bytes\n"
                           "tcp.recv for {1} bytes\n"
                           "tcp.close\n");
  sgRun.TextLen = TEXT_SIZE - 5;
  sgRun.Text[TEXT_SIZE + 1] = '#';
  TarvRunToEnd();
  EXPECT_EQ(sgRun.TextLen, TEXT_SIZE);
  EXPECT_EQ(std::string(sgRun.Text.data() + TEXT_SIZE - 4, 5), "12345");
  EXPECT_EQ(sgRun.Text[TEXT_SIZE + 1], '#');
  EXPECT_EQ(RunErrors(), (Errors{"text buf is low !", "text buf is low !"}));
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

TEST_F(TcpStatementsTest, ReceiveForSecondsCollectsEveryBurst) {
  Peer peer([](int fd) {
    Write(fd, "first ");
    Pause(300);
    Sends("second")(fd);
  });
  Run(ConnectLine(peer.port()) +
      "tcp.recv for {2} seconds\n"
      "tcp.recv for {0} seconds\n"
      "tcp.close\n");
  EXPECT_EQ(Text(), "first second");
  EXPECT_EQ(RunErrors(), Errors{});
}

TEST_F(TcpStatementsTest, ArgumentChecksAndUseWithoutAConnection) {
  Run("tcp.connect ip {127.0.0.1} port {0}\n"
      "tcp.connect ip {127.0.0.1} port {65535}\n"
      "tcp.connect ip {" + std::string(251, '1') + "} port {80}\n"
      "tcp.connect ip {} port {80}\n"
      "tcp.server listen port {-1}\n"
      "tcp.recv for {1048577} bytes\n"
      "tcp.recv for {86401} seconds\n"
      "tcp.send {}\n"
      "tcp.recv expect {}\n"
      "tcp.close\n"
      "tcp.send {x}\n");
  EXPECT_EQ(RunErrors(), (Errors{
                          "Arg:5=0  < 1 !",
                          "Arg:5=65535 > 65534 !",
                          "Length of Arg 3 is :251 > 250 !",
                          "Length of Arg 3 is :0  < 1 !",
                          "Arg:4 is not integer !",
                          "Arg:3=1048577 > 1048576 !",
                          "Arg:3=86401 > 86400 !",
                          "Length of Arg 2 is :0  < 1 !",
                          "Length of Arg 3 is :0  < 1 !",
                          "WinTcpSend: send len=0,select ret SOCKET_ERROR",
                          "TarvTcpSend: send return,len=0.",
                      }));
  EXPECT_EQ(Var("tcp.status"), "CLOSED");
}

TEST_F(TcpStatementsTest, DebugLogShowsTheBytesBothWays) {
  Peer peer([](int fd) {
    Read(fd, 4);
    Sends("PONG")(fd);
  });
  std::filesystem::create_directory(dir.path() / "log");
  Run(ConnectLine(peer.port()) + "tcp.send {PING}\ntcp.recv {PONG}\ntcp.close\n", "debug");
  std::string log;
  for (const auto& e : std::filesystem::directory_iterator(dir.path() / "log"))
    log += tarvtest::ReadFile(e.path().string());
  for (const char* entry : {"TarvTcpSend iLen = 4", "&lt;0000/04&gt; [PING]", "[0000/04] [PONG]",
                            "TarvTcpRecv: recv return,len=4."})
    EXPECT_NE(log.find(entry), std::string::npos) << entry;
  EXPECT_EQ(RunErrors(), Errors{});
}

TEST_F(TcpStatementsTest, DeleteFromTheReceiveBuffer) {
  tarvtest::Start(dir, "# nothing\n");
  std::memcpy(sgTcp.Buf.data(), "abcdef", 6);
  sgTcp.BufLen = 6;
  struct {
    int offset, len, result;
    const char* left;
  } const cases[] = {
      {1, 2, 4, "adef"}, {3, 2, -1, "adef"}, {-1, 1, -1, "adef"}, {4, 0, 4, "adef"}, {0, 4, 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TarvTcpDeleteTcpBuf(c.offset, c.len), c.result) << c.offset << "," << c.len;
    EXPECT_EQ(std::string(sgTcp.Buf.data(), sgTcp.BufLen), c.left);
  }
  // Buffered bytes are handed out without touching the (absent) connection.
  std::memcpy(sgTcp.Buf.data(), "xyz", 3);
  sgTcp.BufLen = 3;
  char out[4] = {};
  EXPECT_EQ(TarvTcpRecv(out, 2, 0), 2);
  EXPECT_EQ(std::string(out, 2), "xy");
  EXPECT_EQ(TarvTcpRecv(out, 0, 0), 0);
  EXPECT_EQ(sgTcp.BufLen, 1);
  EXPECT_EQ(sgRun.RunErrors, 0);
}

}  // namespace
