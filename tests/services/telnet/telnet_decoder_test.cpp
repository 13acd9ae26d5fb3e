// The telnet decoder on its own and behind a session whose connection is one
// end of a socketpair: each stream is cut at every byte boundary, and the
// data handed out and the answers sent must not depend on where it was cut.
#include "services/telnet/telnet_decoder.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/core/run_state.h"
#include "services/telnet/telnet_session.h"
#include "tests/engine/harness.h"
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

constexpr int IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;

const std::string kTypeAnswer = Bytes({IAC, SB, 24, 0, 'A', 'N', 'S', 'I', IAC, SE});
const std::string kSizeAnswer = Bytes({IAC, WILL, 31, IAC, SB, 31, 0, 160, 0, 50, IAC, SE});

struct Case {
  const char* name;
  std::string in;
  std::string data;     // what reaches the text
  std::string replies;  // what goes back on the wire
};

std::vector<Case> Cases() {
  return {
      {"terminal type", "a" + Bytes({IAC, DO, 24}) + "b" + Bytes({IAC, SB, 24, 1, IAC, SE}) + "c",
       "abc", Bytes({IAC, WILL, 24}) + kTypeAnswer},
      {"window size", "x" + Bytes({IAC, DO, 31}) + "y", "xy", kSizeAnswer},
      {"answer table",
       Bytes({IAC, WILL, 1, IAC, DO, 1, IAC, WILL, 5, IAC, WONT, 3, IAC, DONT, 24, IAC, DO, 35,
              IAC, DO, 3, IAC, WILL, 24}) + "z",
       "z",
       Bytes({IAC, DO, 1, IAC, WONT, 1, IAC, DONT, 5, IAC, DONT, 3, IAC, WONT, 24, IAC, WONT, 35,
              IAC, WILL, 3, IAC, DO, 24})},
      {"escape sequences", "A\x1b[1;32mB\x1b[0mC\x1bxD", "ABC\x1bxD", ""},
      {"escape after escape", "\x1b\x1b[2Jq", "\x1bq", ""},
      {"low control bytes", std::string("a\0b\ac\td\ne\r\bf", 12), "abc\td\ne\rf", ""},
      {"escaped 255", "p" + Bytes({IAC, IAC}) + "q" + Bytes({IAC, IAC, IAC, IAC}),
       "p" + Bytes({255}) + "q" + Bytes({255, 255}), ""},
      {"one-byte commands", "m" + Bytes({IAC, 241, IAC, 249, IAC, 'x'}) + "n", "mn", ""},
      {"subnegotiation with 255 inside",
       "s" + Bytes({IAC, SB, 24, IAC, IAC, 7, IAC, SE}) + "t", "st", kTypeAnswer},
      {"other subnegotiation", Bytes({IAC, SB, 39, 1, 2, 3, IAC, SE}) + "u", "u", ""},
      // The option byte and 2047 more make the limit; what follows is data.
      {"subnegotiation without end", "a" + Bytes({IAC, SB, 24}) +
                                         std::string(TELNET_SB_MAX, 'z') + "after",
       "azafter", ""},
      {"255 inside an escape sequence", "\x1b[3" + Bytes({IAC, DO, 1}) + "4mv", "v",
       Bytes({IAC, WONT, 1})},
  };
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

TEST_F(TelnetSessionPair, EveryCutOverTheSocket) {
  for (const Case& c : Cases()) {
    if (c.data.empty()) continue;
    for (size_t cut = 1; cut < c.in.size(); cut++) {
      EXPECT_EQ(Receive({c.in.substr(0, cut), c.in.substr(cut)}, c.data.size()),
                c.data)
          << c.name << " cut at " << cut;
      EXPECT_EQ(Read(peer, c.replies.size(), 2000), c.replies) << c.name << " cut at " << cut;
      EXPECT_EQ(sgTelnet.recvBufLen, 0) << c.name << " cut at " << cut;
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
