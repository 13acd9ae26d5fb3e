// The listen scan's debug lines name each address the way its family is
// written: IPv4 dotted and alone, IPv6 as the address text.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "services/sockets/tcp_statements.h"
#include "tests/engine/harness.h"
#include "tests/platform/ipv6.h"
#include "tests/services/sockets/tcp_peer.h"

namespace {

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
