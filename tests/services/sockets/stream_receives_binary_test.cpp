// The stream receives of tcp and telnet through the tarv binary against
// loopback peers: the expect receives at a step time-out of 0, and a flood
// into a full text buffer.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/core/text_buffer.h"
#include "tests/services/binary_run.h"
#include "tests/services/sockets/tcp_peer.h"

namespace {

using namespace tcppeer;

// The statements of one family, with the names its messages use.
struct Family {
  const char* prefix;  // "tcp" or "telnet"
  const char* silent;  // the expect receive's error when nothing more came
};
constexpr Family kFamilies[] = {{"tcp", "tcp_recv_expect_a3 ,TarvTcpRecv error=0!"},
                                {"telnet", "telnet_recv_expect_a3 ,TarvTelnetRecv error=0!"}};

std::string Connect(const Family& f, int port) {
  return std::string(f.prefix) + ".connect ip {127.0.0.1} port {" + std::to_string(port) + "}\n";
}

// With the step time-out at 0 an expect receive still waits a second, as
// every other receive does: the text the peer sent at once is found.
TEST(StreamReceivesBinary, ExpectAtATimeOutOfZeroFindsTheTextWaiting) {
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.prefix);
    Peer peer([](int fd) {
      Write(fd, "banner\r\nlogin: ");
      WaitEof(fd);
    });
    tarvtest::TempDir dir;
    const std::string p = f.prefix;
    const std::string out = tarvtest::RunSaved(dir, "zero.nms",
                                               "run.set step.timeout {0} seconds\n" + Connect(f, peer.port()) +
                                                   p + ".recv expect {login: }\n"
                                                   "text.add {|~run.errors~}\n" +
                                                   p + ".close\n",
                                               tarvtest::MachineScaled(10));
    EXPECT_EQ(out, "banner\r\nlogin: |0");
  }
}

// Lines of eight bytes, numbered from `first`: no byte a telnet peer would
// take as a command, and a prefix of the stream tells where it was cut.
std::string Lines(int first, int count) {
  std::string s;
  s.reserve(static_cast<size_t>(count) * 8);
  char line[16];
  for (int i = first; i < first + count; i++) {
    std::snprintf(line, sizeof line, "%07d\n", i);
    s += line;
  }
  return s;
}

// Ten megabytes into a text that fills after four: the expect receive and
// the receive for seconds each count one error for the text that refused
// them (where each refused piece paused the run a second), keep what fits
// in order, and still take the rest off the connection: the expect receive
// ends as it does when the peer has fallen silent.
TEST(StreamReceivesBinary, AFloodIntoAFullTextCountsOneErrorPerStatement) {
  constexpr int kLines = 10 * 1024 * 1024 / 8;
  const std::string first = Lines(0, kLines);
  const std::string second = Lines(kLines, kLines);
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.prefix);
    std::string asked;
    Peer peer([&](int fd) {
      const int ms = tarvtest::MachineScaled(30) * 1000;
      if (!Write(fd, first, ms)) return;
      asked = Read(fd, 5, ms);
      if (asked == "more\n") Write(fd, second, ms);
      WaitEof(fd, ms);
    });
    tarvtest::TempDir dir;
    const std::string p = f.prefix;
    const std::string kept = dir.File("kept.txt");
    const std::string out = tarvtest::RunSaved(
        dir, "flood.nms",
        "run.set step.timeout {2} seconds\n" + Connect(f, peer.port()) +
            p + ".recv expect {NEVER}\n"
            "var {e1} value {~run.errors~}\n"
            "var {t1} value {~text.bytes~}\n"
            "text.headpointer move to head\n"
            "text.tailpointer move to tail\n"
            "text.save to file {" + kept + "}\n" +
            p + ".send {more%0a}\n" +
            p + ".recv for {3} seconds\n"
            "var {t2} value {~text.bytes~}\n"
            "text.delete from {0} byte\n"
            "text.add {~e1~|~run.errors~|~t1~|~t2~%0a~run.error.1~%0a~run.error.2~%0a~run.error.3~}\n" +
            p + ".close\n",
        2 + 1 + 1 + 3 + 1 + tarvtest::MachineScaled(20));
    peer.Join();
    EXPECT_EQ(asked, "more\n");
    // The expect receive appends in parts of 512 bytes: the last that fit.
    const int held = (TEXT_ADD_LIMIT - 1) / 512 * 512;
    const std::string bytes = std::to_string(held);
    EXPECT_EQ(out, "2|3|" + bytes + "|" + bytes +
                       "\nrun.steps [3], Line No. [3], Error: [BufLen=<" + bytes + " + 512> >1M Error!]"
                       "\nrun.steps [3], Line No. [3], Error: [" + f.silent + "]"
                       "\nrun.steps [10], Line No. [10], Error: [BufLen=<" + bytes + " + 1020> >1M Error!]");
    const std::string text = tarvtest::ReadFile(kept);
    EXPECT_EQ(text.size(), static_cast<size_t>(held));
    EXPECT_TRUE(text == first.substr(0, held)) << "the text does not hold the stream's first bytes in order";
  }
}

}  // namespace
