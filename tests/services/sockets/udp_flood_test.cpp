// A flood of datagrams into the text buffer, through the tarv binary: the
// text fills, the statement records one error and still takes its whole
// count off the socket.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "engine/core/text_buffer.h"
#include "tests/services/binary_run.h"
#include "tests/services/sockets/tcp_peer.h"

namespace {

using namespace tcppeer;

constexpr int kDatagrams = 2200;
constexpr int kSize = 2040;

std::string Datagram(int i) {
  char head[16];
  std::snprintf(head, sizeof head, "%06d:", i);
  return head + std::string(kSize - 7, static_cast<char>('a' + i % 26));
}

// Bytes waiting in the receive queues of the UDP sockets bound to the port
// (both families), as the kernel lists them.
long Queued(int port) {
  long total = 0;
  for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues;
      fields >> slot >> local >> remote >> state >> queues;
      const auto colon = local.rfind(':');
      if (colon == std::string::npos || std::stoi(local.substr(colon + 1), nullptr, 16) != port)
        continue;
      total += std::stol(queues.substr(queues.find(':') + 1), nullptr, 16);
    }
  }
  return total;
}

// The peer keeps the listener's queue short, so that the kernel drops
// nothing and the count of datagrams the script waits for all arrive.
void SendPaced(const UdpPeer& from, int port, const std::string& data, Clock::time_point deadline) {
  while (Queued(port) > 64 * 1024 && MsLeft(deadline) > 0) Pause(1);
  from.SendTo(port, data);
}

TEST(UdpBinary, AFloodIntoAFullTextCountsOneErrorAndTakesEveryDatagram) {
  // With one error (and its pause) per refused datagram the run would take
  // half an hour; it ends within this bound (the flood takes a second or
  // two) only when the flood costs one.  The run is killed a little past
  // the bound, and the peer gives up then too.
  const int bound = tarvtest::MachineScaled(20);
  const auto deadline = Clock::now() + std::chrono::seconds(bound + 2);
  const int port = FreePort(SOCK_DGRAM);
  UdpPeer flood;
  UdpPeer last;
  std::string answer;
  std::atomic<bool> over{false};
  std::thread peer([&] {
    if (!UdpBound(port, MsLeft(deadline))) return;
    for (int i = 0; i < kDatagrams; i++) SendPaced(flood, port, Datagram(i), deadline);
    SendPaced(last, port, "last", deadline);
    // The answer comes before the run ends; once it has ended, none will.
    while (answer.empty() && MsLeft(deadline) > 0) {
      const bool ended = over;
      answer = last.Recv(std::min(100, MsLeft(deadline)));
      if (ended) break;
    }
  });
  tarvtest::TempDir dir;
  const std::string saved = dir.File("flood.bin");
  const std::string out = tarvtest::RunSaved(
      dir, "flood.nms",
      "udp.server listen port {" + std::to_string(port) + "}\n"
      "udp.recv {" + std::to_string(kDatagrams) + "} packets\n"
      "var {errors} value {~run.errors~}\n"
      "var {error} value {~run.error.1~}\n"
      "var {flood} value {~udp.client.port~}\n"
      "text.headpointer move to head\n"
      "text.tailpointer move to tail\n"
      "text.save to file {" + saved + "}\n"
      "text.delete from {0} byte\n"
      "udp.recv {1} packets\n"
      "udp.send {done}\n"
      "text.add {|~errors~|~error~|~flood~|~udp.client.port~|~run.errors~}\n"
      "udp.close\n",
      bound + 2);
  over = true;
  peer.join();

  // What fits stays, in order; the datagram that did not fit and every one
  // after it are dropped.
  const int kept = (TEXT_ADD_LIMIT - 1) / kSize;
  std::string expected;
  for (int i = 0; i < kept; i++) expected += Datagram(i);
  const std::string text = tarvtest::ReadFile(saved);
  EXPECT_EQ(text.size(), expected.size());
  EXPECT_TRUE(text == expected) << "the text does not hold the first " << kept << " datagrams";
  // The next receive gets the datagram sent after the flood, and the answer
  // goes to its sender: the flood was taken off the socket whole.
  EXPECT_EQ(out, "last|1|run.steps [2], Line No. [2], Error: [BufLen=<" + std::to_string(kept * kSize) + " + " + std::to_string(kSize) +
                     "> >1M Error!]|" + std::to_string(flood.port()) + "|" +
                     std::to_string(last.port()) + "|1");
  EXPECT_EQ(answer, "done");
}

}  // namespace
