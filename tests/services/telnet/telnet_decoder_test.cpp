// The telnet decoder on its own and behind a session whose connection is one
// end of a socketpair: each stream is cut at every byte boundary, and the
// data handed out and the answers sent must not depend on where it was cut.
#include "services/telnet/telnet_decoder.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/run_state.h"
#include "services/telnet/telnet_session.h"
#include "tests/engine/harness.h"
#include "tests/services/case_rows.h"
#include "tests/services/sockets/tcp_peer.h"

namespace {

using tcppeer::Pause;
using tcppeer::Read;
using tcppeer::Write;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

constexpr int IAC = 255, SB = 250, WILL = 251, DO = 253;
// The every-cut session test takes well under a second when it passes.
constexpr int kEveryCutSeconds = 5;

struct Case {
  std::string name;
  std::string in;
  std::string data;     // what reaches the text
  std::string replies;  // what goes back on the wire
};

// streams.tsv, and a subnegotiation and an escape sequence without end:
// the option byte and 2047 more make the one limit, 2048 bytes after the
// '[' the other; what follows is data.
std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (const auto& r : tarvtest::LoadRows("services/telnet/streams.tsv")) cases.push_back({r[0], r[1], r[2], r.size() > 3 ? r[3] : ""});
  cases.push_back({"subnegotiation without end", "a" + Bytes({IAC, SB, 24}) + std::string(TELNET_SB_MAX, 'z') + "after",
                   "azafter", ""});
  cases.push_back({"escape sequence without end", "a\x1b[" + std::string(TELNET_CSI_MAX, '1') + "login: ",
                   "alogin: ", ""});
  cases.push_back({"escape sequence ended just in time",
                   "a\x1b[" + std::string(TELNET_CSI_MAX - 1, ' ') + "mlogin: ", "alogin: ", ""});
  return cases;
}

std::string Sent;
void Collect(uint8_t b) { Sent.push_back(static_cast<char>(b)); }

// Decodes the chunks one after another with one decoder.
std::string DecodeChunks(const std::vector<std::string>& chunks) {
  TelnetDecoder d;
  TelnetDecoderClear(&d);
  std::string out;
  for (const std::string& c : chunks) {
    std::string buf(c.size() + 1, '\0');
    const int n = TelnetDecode(&d, c.data(), static_cast<int>(c.size()), buf.data(), Collect);
    out.append(buf.data(), n);
  }
  return out;
}

TEST(TelnetDecoder, EveryCutGivesTheSameDataAndAnswers) {
  for (const Case& c : Cases()) {
    for (size_t cut = 0; cut <= c.in.size(); cut++) {
      Sent.clear();
      EXPECT_EQ(DecodeChunks({c.in.substr(0, cut), c.in.substr(cut)}), c.data)
          << c.name << " cut at " << cut;
      EXPECT_EQ(Sent, c.replies) << c.name << " cut at " << cut;
    }
    std::vector<std::string> single;
    for (char b : c.in) single.emplace_back(1, b);
    Sent.clear();
    EXPECT_EQ(DecodeChunks(single), c.data) << c.name << " byte by byte";
    EXPECT_EQ(Sent, c.replies) << c.name << " byte by byte";
  }
}

// The session's socket is one end of a socketpair; the test plays the peer
// on the other end.
class TelnetSessionPair : public ::testing::Test {
 protected:
  tarvtest::TempDir dir;
  int peer = -1;
  void SetUp() override {
    tarvtest::Start(dir, "");
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    TelnetStateClear();
    sgTelnet.Socket = sv[0];
    sgTelnet.Open = 1;
    peer = sv[1];
  }
  void TearDown() override {
    TelnetStateClear();
    close(peer);
  }
  // Bytes queued on the session's end and not yet read.
  int Unread() const {
    int n = 0;
    ioctl(sgTelnet.Socket, FIONREAD, &n);
    return n;
  }
  // Writes the chunks on a peer thread, each only once the session has read
  // the one before, while the session hands out `want` bytes one at a time,
  // as the expect loop takes them.
  std::string Receive(const std::vector<std::string>& chunks, size_t want) {
    std::thread writer([&] {
      for (const std::string& c : chunks) {
        for (int i = 0; i < 500 && Unread() > 0; i++) Pause(2);
        Write(peer, c);
      }
    });
    std::string got;
    char b = 0;
    while (got.size() < want && TarvTelnetRecv(&b, 1, 2) == 1) got.push_back(b);
    writer.join();
    return got;
  }
};

// Where a stream of n bytes is cut over the socket: everywhere in a short
// one; in a long one, whose every cut the decoder test above already takes,
// near both ends, around the most one read takes, and at a stride.
std::vector<size_t> SocketCuts(size_t n) {
  constexpr size_t kNear = 16, kStride = 61;
  const auto near = [](size_t cut, size_t at) { return cut + kNear >= at && cut <= at + kNear; };
  std::vector<size_t> cuts;
  for (size_t cut = 1; cut < n; cut++)
    if (n <= 4 * kNear || near(cut, 0) || near(cut, n) || near(cut, TELNET_RECV_BUF) ||
        cut % kStride == 0)
      cuts.push_back(cut);
  return cuts;
}

// A wrong decoder makes each receive wait for bytes that never come: the
// first wrong cut ends the test, and the whole test has a deadline.
TEST_F(TelnetSessionPair, EveryCutOverTheSocket) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kEveryCutSeconds);
  for (const Case& c : Cases()) {
    if (c.data.empty()) continue;
    for (size_t cut : SocketCuts(c.in.size())) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << c.name << " cut at " << cut;
      ASSERT_EQ(Receive({c.in.substr(0, cut), c.in.substr(cut)}, c.data.size()), c.data)
          << c.name << " cut at " << cut;
      ASSERT_EQ(Read(peer, c.replies.size(), 1000), c.replies) << c.name << " cut at " << cut;
      ASSERT_EQ(sgTelnet.recvBufLen, 0) << c.name << " cut at " << cut;
    }
  }
}

TEST_F(TelnetSessionPair, ManyRequestsInOneChunkAreAllAnswered) {
  // 400 requests need 1200 answer bytes, more than the queue holds.
  std::string requests;
  std::string answers;
  for (int i = 0; i < 400; i++) {
    requests += Bytes({IAC, WILL, 1});
    answers += Bytes({IAC, DO, 1});
  }
  std::thread reader([&] { EXPECT_EQ(Read(peer, answers.size(), 5000), answers); });
  EXPECT_EQ(Receive({requests + "end"}, 3), "end");
  reader.join();
  EXPECT_EQ(sgTelnet.sendBufLen, 0);
  EXPECT_EQ(tarvtest::RunErrors(), std::vector<std::string>{});
}

}  // namespace
