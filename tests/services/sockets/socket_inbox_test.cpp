// The receive queue in front of stream sockets: every read hands out what a
// read of the socket itself would have, a closed socket leaves nothing for
// the next one with its number, unread bytes reset the peer, and a tcp and
// a telnet connection read at the same time keep their bytes apart.
#include "platform/socket_inbox.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <regex>
#include <string>
#include <vector>

#include "engine/core/run_state.h"
#include "platform/socket.h"
#include "services/sockets/tcp_statements.h"
#include "services/telnet/telnet_session.h"
#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/machine_wait.h"
#include "tests/services/sockets/tcp_peer.h"

namespace {

using namespace tcppeer;

std::string Pattern(size_t n, char first, int span) {
  std::string s;
  for (size_t i = 0; i < n; i++) s += static_cast<char>(first + i % span);
  return s;
}

// A connected pair of stream sockets: ours (read through the inbox) and
// the peer's.
struct Pair {
  int32_t ours = -1;
  int32_t peer = -1;
  Pair() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
      ours = fds[0];
      peer = fds[1];
    }
  }
  ~Pair() {
    SockClose(&ours);
    SockClose(&peer);
  }
  // One queued read of at most len bytes: its bytes, or "<n>" for a count
  // below 1.
  std::string Read(int len) {
    std::vector<char> buf(len);
    const int n = SockRecvQueued(ours, buf.data(), len);
    return n > 0 ? std::string(buf.data(), n) : "<" + std::to_string(n) + ">";
  }
};

TEST(SocketInbox, EachReadGetsWhatAReadOfTheSocketWouldGet) {
  const std::string a = Pattern(5000, 'a', 26);
  const std::string b = Pattern(3000, '0', 10);
  Pair p;
  ASSERT_GE(p.ours, 3);
  ASSERT_EQ(send(p.peer, a.data(), a.size(), 0), 5000);
  EXPECT_EQ(p.Read(2048), a.substr(0, 2048));
  EXPECT_TRUE(SockInboxReady(p.ours));
  ASSERT_EQ(send(p.peer, b.data(), b.size(), 0), 3000);
  EXPECT_EQ(p.Read(2048), a.substr(2048, 2048));
  // 904 bytes held: the read takes the socket's bytes behind them as well.
  EXPECT_EQ(p.Read(2048), a.substr(4096) + b.substr(0, 1144));
  EXPECT_EQ(p.Read(4096), b.substr(1144));
  EXPECT_FALSE(SockInboxReady(p.ours));
  EXPECT_EQ(p.Read(10), "<" + std::to_string(-EAGAIN) + ">");
  // The end of the stream comes after the bytes before it, and stays.
  ASSERT_EQ(send(p.peer, "xyz", 3, 0), 3);
  shutdown(p.peer, SHUT_WR);
  EXPECT_EQ(p.Read(2), "xy");
  EXPECT_EQ(p.Read(2), "z");
  EXPECT_EQ(p.Read(2), "<0>");
  EXPECT_EQ(p.Read(2), "<0>");
}

TEST(SocketInbox, MoreSocketsThanInboxesAreReadDirectly) {
  std::array<Pair, SOCK_INBOX_MAX + 2> pairs;
  for (size_t i = 0; i < pairs.size(); i++) {
    const std::string s = Pattern(3000, static_cast<char>('A' + i), 1);
    ASSERT_EQ(send(pairs[i].peer, s.data(), s.size(), 0), 3000);
  }
  for (int round = 0; round < 2; round++)
    for (size_t i = 0; i < pairs.size(); i++)
      EXPECT_EQ(pairs[i].Read(1500), Pattern(1500, static_cast<char>('A' + i), 1)) << i;
  for (Pair& p : pairs) EXPECT_FALSE(SockInboxReady(p.ours));
}

class SocketInboxScript : public ::testing::Test {
 protected:
  tarvtest::TempDir dir;
  void TearDown() override {
    TcpStateClear();
    TelnetStateClear();
  }
};

std::string Connect(const char* family, int port) {
  return std::string(family) + ".connect ip {127.0.0.1} port {" + std::to_string(port) + "}\n";
}

// How the stream ends within ten seconds (on an idle machine), dropping what comes before:
// "end" (an orderly close), "reset", or "" (neither came).
std::string StreamEnd(int fd) {
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, tarvtest::MachineScaled(10) * 1000) != 1) return "";
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n == 0) return "end";
    if (n < 0) return errno == ECONNRESET ? "reset" : "";
  }
}

bool EndsInReset(int fd) { return StreamEnd(fd) == "reset"; }

// A script that closes with bytes unread resets its peer, whether they are
// still in the system or already in the inbox, and the next connection
// (the same descriptor number) reads only its own bytes.
TEST_F(SocketInboxScript, UnreadBytesResetThePeerAndStayWithTheirConnection) {
  const std::string first = Pattern(10000, 'a', 26);
  bool reset = false;
  Peer a([&](int fd) {
    Write(fd, first);
    reset = EndsInReset(fd);
  });
  Peer b([&](int fd) {
    Write(fd, "fresh");
    WaitEof(fd);
  });
  const auto o = tarvtest::RunCase(dir, Connect("tcp", a.port()) +
                                            "tcp.recv for {2048} bytes\ntcp.close\n" +
                                            Connect("tcp", b.port()) +
                                            "tcp.recv for {5} bytes\ntcp.close\n");
  a.Join();
  b.Join();
  EXPECT_TRUE(reset);
  EXPECT_EQ(o.text, first.substr(0, 2048) + "fresh");
  EXPECT_EQ(o.errors, std::vector<std::string>{});
}

// A program that ends with bytes unread resets its peer too.
TEST_F(SocketInboxScript, UnreadBytesAtTheEndOfTheProgramResetThePeer) {
  bool reset = false;
  Peer peer([&](int fd) {
    Write(fd, Pattern(10000, 'a', 26));
    reset = EndsInReset(fd);
  });
  const std::string script = dir.Write(
      "unread.nms", Connect("tcp", peer.port()) + "tcp.recv for {2048} bytes\nrun.end\n");
  const auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script}, dir.path().string());
  peer.Join();
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(reset);
}

// A program that read everything and ends without tcp.close closes its
// connection in order: the peer reads the last word, then the end.
TEST_F(SocketInboxScript, NothingUnreadAtTheEndOfTheProgramClosesInOrder) {
  std::string got, end;
  Peer peer([&](int fd) {
    Write(fd, Pattern(3000, 'a', 26));
    got = Read(fd, 3);
    end = StreamEnd(fd);
  });
  const std::string script = dir.Write(
      "read-all.nms", Connect("tcp", peer.port()) +
                          "tcp.recv for {2048} bytes\ntcp.recv for {952} bytes\n"
                          "tcp.send {bye}\nrun.end\n");
  const auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script}, dir.path().string());
  peer.Join();
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(got, "bye");
  EXPECT_EQ(end, "end");
}

// Bytes that came before the peer reset the connection all reach the text;
// the reset ends the receive after them.
TEST_F(SocketInboxScript, BytesBeforeAResetAllArrive) {
  const std::string sent = Pattern(5000, '0', 10);
  Peer peer([&](int fd) {
    // The script's word first: its connect is over before the reset.
    if (Read(fd, 2) != "go") return;
    Write(fd, sent);
    const linger abort = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  });
  // The pause lets both the bytes and the reset arrive before the first read.
  const auto o = tarvtest::RunCase(dir, "run.set step.timeout {2} seconds\n" +
                                            Connect("tcp", peer.port()) +
                                            "tcp.send {go}\nrun.sleep {1} seconds\n"
                                            "tcp.recv for {2048} bytes\ntcp.recv for {2048} bytes\n"
                                            "tcp.recv for {2048} bytes\ntcp.recv for {1} bytes\n");
  peer.Join();
  EXPECT_EQ(o.text, sent);
  EXPECT_EQ(o.errors, (std::vector<std::string>{
                          "tcp_recv_for_a3_bytes recv len=904 ,but want len=2048 !",
                          "tcp_recv_for_a3_bytes recv len=0 ,but want len=1 !"}));
}

// A receive refused for want of room in the text takes nothing: the bytes
// that came wait for the next receive, in order, and a receive that runs
// out of time keeps what came before.
TEST_F(SocketInboxScript, ARefusedReceiveLeavesTheBytesForTheNext) {
  const std::string sent = Pattern(6000, 'a', 26);
  Peer peer([&](int fd) {
    Write(fd, sent);
    WaitEof(fd);
  });
  const auto o = tarvtest::RunCase(
      dir,
      "run.set step.timeout {1} seconds\n" + Connect("tcp", peer.port()) +
          "tcp.recv for {2048} bytes\ntcp.recv for {2048} bytes\ntext.delete from {0} byte\n"
          "tcp.recv for {2048} bytes\ntcp.recv for {2048} bytes\ntcp.close\n",
      [] { sgRun.TextLen = TEXT_SIZE - 3000; });
  peer.Join();
  EXPECT_EQ(o.text, sent.substr(2048));
  EXPECT_EQ(o.errors, (std::vector<std::string>{
                          "text buf is low !",
                          "tcp_recv_for_a3_bytes recv len=1904 ,but want len=2048 !"}));
}

// The counts of the reads the debug log shows, in order.
std::vector<int> ReadCounts(const std::string& log) {
  static const std::regex kRead("WinTcpRecv: recv len=([0-9]+) \\.");
  std::vector<int> counts;
  for (std::sregex_iterator m(log.begin(), log.end(), kRead), end; m != end; ++m)
    counts.push_back(std::stoi((*m)[1]));
  return counts;
}

// A tcp and a telnet connection read in turns: each statement gets the
// bytes of its own connection, in order, and the debug log shows each read
// with the count a read of that connection would have had.
TEST_F(SocketInboxScript, TcpAndTelnetReadInTurnsKeepTheirBytesApart) {
  const std::string digits = Pattern(5000, '0', 10);
  const std::string letters = Pattern(3000, 'a', 26) + "END";
  Peer tcp([&](int fd) {
    Write(fd, digits);
    WaitEof(fd);
  });
  Peer telnet([&](int fd) {
    Write(fd, letters);
    WaitEof(fd);
  });
  tarvtest::LogInto(dir);
  const auto o = tarvtest::RunCase(
      dir, "run.set loglevel {debug}\n" + Connect("tcp", tcp.port()) +
               Connect("telnet", telnet.port()) +
               "run.sleep {1} seconds\n"
               "tcp.recv for {2048} bytes\ntelnet.recv expect {END}\ntcp.recv for {2048} bytes\n"
               "tcp.recv for {904} bytes\ntcp.close\ntelnet.close\n");
  tcp.Join();
  telnet.Join();
  EXPECT_EQ(o.text, digits.substr(0, 2048) + letters + digits.substr(2048));
  EXPECT_EQ(o.errors, std::vector<std::string>{});
  // The telnet reads leave a byte of room for a held ESC: 2047 at most.
  EXPECT_EQ(ReadCounts(tarvtest::LogsIn(dir)), (std::vector<int>{2048, 2047, 956, 2048, 904}));
}

}  // namespace
