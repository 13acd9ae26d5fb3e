// The tcp statements through the real binary: against a peer thread, and
// two tarv processes talking to each other on loopback.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/services/sockets/tcp_peer.h"
#include "tests/platform/ipv6.h"

namespace {

using namespace tcppeer;
using tarvtest::ReadFile;
using tarvtest::RunProgram;
using tarvtest::TarvBinary;
using tarvtest::TempDir;

TEST(TcpBinary, ScriptAgainstAnIPv6Peer) {
  TARV_SKIP_WITHOUT_IPV6();
  std::string selection;
  Peer peer(
      [&](int fd) {
        if (Read(fd, 5) != "hello") return;
        Write(fd, "Hi there> rest");
        selection = Read(fd, 5);
        WaitEof(fd, 20000);  // quiet until the script closes
      },
      AF_INET6);
  TempDir dir;
  const std::string out = dir.File("out.txt");
  const std::string script = dir.Write("peer.nms",
                                       "run.set step.timeout {1} seconds\n"
                                       "tcp.connect ip {::1} port {" +
                                           std::to_string(peer.port()) +
                                           "}\n"
                                           "tcp.send {hello}\n"
                                           "tcp.recv expect {> }\n"
                                           "text.add {|~tcp.status~|}\n"
                                           "tcp.recv {rest}\n"
                                           "text.headpointer move to {1} byte\n"
                                           "text.tailpointer move to {5} byte\n"
                                           "tcp.send text\n"
                                           "tcp.recv expect {never}\n"
                                           "text.add {|~tcp.status~|}\n"
                                           "tcp.close\n"
                                           "tcp.connect ip {127.0.0.1} port {" +
                                           std::to_string(FreePort()) +
                                           "}\n"
                                           "text.add {|~tcp.status~|~run.errors~}\n"
                                           "text.headpointer move to head\n"
                                           "text.tailpointer move to tail\n"
                                           "text.save to file {" +
                                           out +
                                           "}\n"
                                           "run.end\n");
  const auto r = RunProgram(TarvBinary(), {"hide", script}, dir.path().string(), 60);
  peer.Join();
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(selection, "Hi th");
  EXPECT_EQ(ReadFile(out), "Hi there> |ESTABLISHED|rest|CLOSED||CLOSED|3");
}

TEST(TcpBinary, TwoProcessesTalk) {
  // The listener serves both families: its port must be free on both.
  TARV_SKIP_WITHOUT_IPV6();
  const int port = FreePort();
  ASSERT_GT(port, 0);
  TempDir dir;
  const std::string p = std::to_string(port);
  const std::string save =
      "text.headpointer move to head\n"
      "text.tailpointer move to tail\n"
      "text.save to file {";
  const std::string server =
      dir.Write("server.nms", "tcp.server listen port {" + p +
                                  "}\n"
                                  "tcp.recv expect {ping}\n"
                                  "tcp.send {pong to ~tcp.client.ip~!}\n"
                                  "tcp.recv expect {bye}\n"
                                  "tcp.close\n" +
                                  save + dir.File("server.txt") + "}\nrun.end\n");
  const std::string client =
      dir.Write("client.nms", "tcp.connect ip {127.0.0.1} port {" + p +
                                  "}\n"
                                  "tcp.send {ping}\n"
                                  "tcp.recv expect {!}\n"
                                  "tcp.send {bye}\n"
                                  "tcp.close\n" +
                                  save + dir.File("client.txt") + "}\nrun.end\n");

  tarvtest::BinaryRun served;
  std::thread serverRun([&] {
    served = RunProgram(TarvBinary(), {"hide", server}, dir.path().string(), 60);
  });
  const bool up = Listening(port, 20000);
  tarvtest::BinaryRun connected;
  if (up) connected = RunProgram(TarvBinary(), {"hide", client}, dir.path().string(), 60);
  serverRun.join();  // ended by its client, or by its own time limit
  ASSERT_TRUE(up);
  EXPECT_EQ(served.exitCode, 0) << served.output;
  EXPECT_EQ(connected.exitCode, 0) << connected.output;
  EXPECT_EQ(ReadFile(dir.File("server.txt")), "pingbye");
  EXPECT_EQ(ReadFile(dir.File("client.txt")), "pong to 127.0.0.1!");
}

}  // namespace
