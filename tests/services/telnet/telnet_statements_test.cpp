// The telnet statements run in scripts inside the test process, against peer
// threads on 127.0.0.1 and ::1 that speak telnet, and through the binary
// against a real telnet server.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/run_state.h"
#include "services/telnet/telnet_session.h"
#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/platform/ipv6.h"
#include "tests/platform/local_daemon.h"
#include "tests/services/binary_run.h"
#include "tests/services/sockets/tcp_peer.h"
#include "tests/services/statement_checks.h"
#include "tests/services/telnet/telnetd_peer.h"

namespace {

using namespace tcppeer;
using tarvtest::RunErrors;
using tarvtest::TempDir;
using tarvtest::Var;
using Errors = std::vector<std::string>;

using tarvtest::Text;

std::string Connect(int port, const char* host = "127.0.0.1") {
  return std::string("telnet.connect ip {") + host + "} port {" + std::to_string(port) + "}\n";
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

class TelnetStatementsTest : public ::testing::Test {
 protected:
  TempDir dir;
  void TearDown() override { TelnetStateClear(); }
  void Run(const std::string& script) { tarvtest::Run(dir, script); }
};

TEST_F(TelnetStatementsTest, LoginSessionWithNegotiationAndAutomaticAnswer) {
  std::string answers, password, command;
  Peer peer([&](int fd) {
    Write(fd, Bytes({255, 253, 24, 255, 253, 31, 255, 251, 1}) + "\x1b[1;32mlogin: \x1b[0m");
    answers = Read(fd, 3 + 12 + 3);
    Write(fd, Bytes({255, 250, 24, 1, 255, 240}));
    answers += Read(fd, 10);
    Write(fd, "Password:");
    password = Read(fd, 8);
    Write(fd, "\r\nlast login\a\r\n$ ");
    command = Read(fd, 4);
    Write(fd, "x" + Bytes({255, 255}) + "y\r\n$ ");
    WaitEof(fd);
  });
  Run("run.set step.timeout {5} seconds\n"
      "telnet.set onrecv {Password:} send {secret%0D%0A}\n" +
      Connect(peer.port()) +
      "var {s1} value {~telnet.status~}\n"
      "telnet.recv expect {login: }\n"
      "text.add {|}\n"
      "telnet.recv expect {$ }\n"
      "telnet.set delay {100} ms after per byte send\n"
      "telnet.send {ls%0D%0A}\n"
      "telnet.recv expect {$ }\n"
      "telnet.close\n");
  peer.Join();
  EXPECT_EQ(answers, Bytes({255, 251, 24, 255, 251, 31, 255, 250, 31, 0, 160, 0, 50, 255, 240,
                            255, 253, 1, 255, 250, 24, 0, 'A', 'N', 'S', 'I', 255, 240}));
  EXPECT_EQ(password, "secret\r\n");
  EXPECT_EQ(command, "ls\r\n");
  EXPECT_EQ(Text(), "login: |Password:\r\nlast login\r\n$ x\xffy\r\n$ ");
  EXPECT_EQ(tarvtest::Vars({"s1", "telnet.status", "telnet.onrecv", "telnet.autosend"}),
            "OPEN_OK|CLOSED|Password:|secret\r\n");
  EXPECT_EQ(RunErrors(), Errors{});
  EXPECT_EQ(sgTelnet.Socket, -1);
}

TEST_F(TelnetStatementsTest, ReceiveForSecondsOverIPv6AndSendText) {
  TARV_SKIP_WITHOUT_IPV6();
  std::string got;
  Peer peer(
      [&](int fd) {
        Write(fd, std::string("one\0two", 7));
        got = Read(fd, 4);
        WaitEof(fd);
      },
      AF_INET6);
  Run(Connect(peer.port(), "::1") +
      "telnet.recv for {2} seconds\n"
      "text.headpointer move to {1} byte\n"
      "text.tailpointer move to {4} byte\n"
      "telnet.send text\n"
      "text.headpointer move to {4} byte\n"
      "telnet.send text\n"
      "telnet.close\n");
  peer.Join();
  EXPECT_EQ(Text(), "onetwo");
  EXPECT_EQ(got, "onet");
  EXPECT_EQ(RunErrors(), Errors{"telnet_send_text: no text be selected, error."});
}

TEST_F(TelnetStatementsTest, PeerThatClosesKeepsWhatCame) {
  Peer peer([](int fd) { Write(fd, "partial" + Bytes({255, 241}) + "!"); });
  Run(Connect(peer.port()) +
      "telnet.recv expect {prompt}\n"
      "var {s1} value {~telnet.status~}\n"
      "telnet.close\n");
  EXPECT_EQ(Text(), "partial!");
  EXPECT_EQ(Var("s1"), "OPEN_OK");
  EXPECT_EQ(RunErrors(), Errors{"telnet_recv_expect_a3 ,TarvTelnetRecv error=0!"});
}

// A peer that has gone cannot take the answers to the negotiation it sent
// before leaving: the first failed answer is reported and the rest dropped,
// instead of every further answer failing (and pausing) on its own.
TEST_F(TelnetStatementsTest, AnswersToAPeerThatHasGoneFailOnce) {
  std::string requests;
  for (int i = 0; i < 1500; i++) requests += Bytes({255, 251, 1});
  Peer peer([&](int fd) { Write(fd, requests + "bye"); });
  // The sleep lets the peer leave; the send then meets its closed socket.
  Run("run.set step.timeout {3} seconds\n" + Connect(peer.port()) +
      "run.sleep {1} seconds\n"
      "telnet.send {x}\n"
      "run.sleep {1} seconds\n"
      "telnet.recv expect {prompt}\n"
      "telnet.close\n");
  const Errors errors = RunErrors();
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors[0], "TarvTelnetSend: send return,len=0.");
  EXPECT_LE(errors.size(), 4u);
  EXPECT_EQ(Text(), "bye");
}

TEST_F(TelnetStatementsTest, ConnectWhileOpenEndsTheOldSession) {
  bool oldClosed = false;
  // The old session ends inside a negotiation and leaves unread bytes.
  Peer first([&](int fd) {
    Write(fd, "old-bytes" + Bytes({255, 253}));
    oldClosed = WaitEof(fd);
  });
  Peer second([](int fd) {
    Write(fd, Bytes({24}) + "new> ");
    WaitEof(fd);
  });
  Run(Connect(first.port()) +
      "telnet.recv expect {old-}\n" +
      Connect(second.port()) +
      "telnet.recv expect {> }\n"
      "telnet.close\n");
  first.Join();
  EXPECT_TRUE(oldClosed);
  EXPECT_EQ(Text(), "old-\x18new> ");
  EXPECT_EQ(RunErrors(), Errors{});
}

// An ESC '[' whose final byte never comes is given up after its limit: the
// prompt behind a long run of digits and blanks still reaches the text.
TEST_F(TelnetStatementsTest, AnEndlessEscapeSequenceIsGivenUp) {
  std::string run;
  for (int i = 0; i < 20000; i++) run += i % 7 == 6 ? ' ' : static_cast<char>('0' + i % 10);
  Peer peer([&](int fd) {
    Write(fd, "before\x1b[" + run + "login: ");
    WaitEof(fd);
  });
  Run("run.set step.timeout {3} seconds\n" + Connect(peer.port()) +
      "telnet.recv expect {before}\n"
      "text.add {|}\n"
      "telnet.recv expect {login: }\n"
      "telnet.close\n");
  EXPECT_EQ(Text(), "before|" + run.substr(TELNET_CSI_MAX) + "login: ");
  EXPECT_EQ(RunErrors(), Errors{});
}

// A paced send stops at the step time-out with an error giving the count
// that went out; the peer has exactly those bytes.  The pause after a byte
// is cut at the step time-out too: a long pace ends the run (a second's
// step time-out) within 1.5 s more, not after the pause.
TEST_F(TelnetStatementsTest, APacedSendEndsAtTheStepTimeOut) {
  Watchdog dog(60, "APacedSendEndsAtTheStepTimeOut");
  const struct {
    int delay;
    std::string line;
  } cases[] = {{400, "0123456789abcdefghij"}, {5000, "abc"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.delay);
    std::string got;
    Peer peer([&](int fd) { got = Read(fd, 1 << 10, 20000); });
    const auto start = std::chrono::steady_clock::now();
    Run("run.set step.timeout {1} seconds\n" + Connect(peer.port()) + "telnet.set delay {" +
        std::to_string(c.delay) + "} ms after per byte send\n"
        "telnet.send {" + c.line + "}\n"
        "telnet.close\n");
    EXPECT_LE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              1 + 1.5);
    peer.Join();
    ASSERT_FALSE(got.empty());
    EXPECT_LT(got.size(), c.line.size());
    EXPECT_EQ(got, c.line.substr(0, got.size()));
    EXPECT_EQ(RunErrors(), Errors{"TarvTelnetSend: step timeOut, send return,len=" +
                                  std::to_string(got.size()) + " of " +
                                  std::to_string(c.line.size()) + "."});
  }
}

TEST_F(TelnetStatementsTest, ConnectRefusedAndArgumentChecks) {
  Run(Connect(FreePort()) + "var {s1} value {~telnet.status~}\n");
  EXPECT_EQ(Var("s1"), "CLOSED");
  EXPECT_EQ(RunErrors(), (Errors{"WinTcpConnect: connect,ERROR",
                                 "telnet_connect_ip_a3_port_a5: WinTcpConnect < 0 ."}));
  tarvtest::RunChecks("services/telnet/checks.txt");
}

// A script through the real binary against a real telnet server running
// /bin/sh without a login.
using tarvtest::ReadFile;

TEST(TelnetServer, ShellSessionThroughInetdAndTelnetd) {
  TempDir dir;
  const telnetpeer::Telnetd server(dir, "/bin/sh");
  if (!server.up()) GTEST_SKIP() << server.why();
  const int port = server.port();

  const std::string peerView = dir.File("peer.txt");
  // The prompt is set first, so that it does not depend on the user; the
  // quotes keep the echoed command lines from matching what is expected.
  const std::string text = tarvtest::RunSaved(dir, "session.nms",
      "run.set step.timeout {10} seconds\n"
      "telnet.connect ip {127.0.0.1} port {" + std::to_string(port) + "}\n"
      "telnet.send {PS1='tarv''> '%0D%0A}\n"
      "telnet.recv expect {tarv> }\n"
      "telnet.set onrecv {Pass-word:} send {secret%0D%0A}\n"
      "telnet.send {printf 'Pass-''word:'; read p; echo \"got=$p\"%0D%0A}\n"
      "telnet.recv expect {got=secret}\n"
      "telnet.recv expect {tarv> }\n"
      "telnet.send {echo \"$TERM $(stty size)\" > " + peerView +
      "; echo hi-$((40+2)); ls --color=always -d /%0D%0A}\n"
      "telnet.recv expect {hi-42}\n"
      "telnet.recv expect {tarv> }\n"
      "text.add {|~telnet.status~|~run.errors~}\n"
      "telnet.close\n", 120);
  // The terminal type and window size the negotiation told the server.
  EXPECT_EQ(ReadFile(peerView), "ansi 50 160\n");
  EXPECT_NE(text.find("Pass-word:secret\r\ngot=secret\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\nhi-42\r\n/\r\ntarv> |OPEN_OK|0"), std::string::npos) << text;
  // Neither telnet commands nor the colours of ls reached the text.
  EXPECT_EQ(text.find('\xff'), std::string::npos);
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
}

}  // namespace
