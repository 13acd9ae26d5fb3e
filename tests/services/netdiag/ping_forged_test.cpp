// ping.ip through the tarv binary on the raw-socket path, against a peer
// that forges the echo replies: damaged ones are no answer, a reply is
// reported at its own size, and one from another address counts, named.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/platform/child_watch.h"
#include "tests/platform/ipv6.h"
#include "tests/platform/local_daemon.h"
#include "tests/services/binary_run.h"
#include "tests/services/netdiag/netns_sandbox.h"

namespace {

TEST(NetdiagBinary, RawPingTakesOnlyWholeRepliesAtTheirOwnSize) {
  NETNS_ENTER();
  TARV_SKIP_WITHOUT_IPV6();
  netns::AllowDatagramPing(false);
  // Loopback stays silent: every reply is one the peer forged.
  netns::Sysctl("net/ipv4/icmp_echo_ignore_all", "1");
  netns::Sysctl("net/ipv6/icmp/echo_ignore_all", "1");
  tarvtest::TempDir dir;
  const std::string log = dir.File("forger.log");
  localdaemon::Daemon forger(
      {"/usr/bin/python3", std::string(TARV_SOURCE_DIR) + "/tests/services/netdiag/echo_forger.py",
       "120"},
      log);
  ASSERT_TRUE(childwatch::WaitFor([&] { return tarvtest::ReadFile(log).find("ready") != std::string::npos; },
                                  tarvtest::MachineWait()))
      << tarvtest::ReadFile(log);
  // Data of 30 bytes: a right reply; 20: a right reply of 61000 bytes; 10:
  // the right reply with a damaged checksum; 40: the right reply from
  // 127.0.0.2 (a reply is matched by its identifier and sequence).
  EXPECT_EQ(tarvtest::RunSaved(dir, "ping.nms",
                               "ping.ip {127.0.0.1} ttl {64} size {40}\n"
                               "text.add {~ping.status~|~ping.reply_ip~|}\n"
                               "ping.ip {127.0.0.1} ttl {64} size {30}\n"
                               "text.add {~ping.status~|~ping.reply_bytes~|}\n"
                               "ping.ip {127.0.0.1} ttl {64} size {20}\n"
                               "text.add {~ping.status~|~ping.reply_bytes~|}\n"
                               "ping.ip {127.0.0.1} ttl {64} size {10}\n"
                               "text.add {~ping.status~|~ping.received_responses~|}\n"
                               "ping.ip {::1} ttl {64} size {30}\n"
                               "text.add {~ping.status~|}\n"
                               "ping.ip {::1} ttl {64} size {10}\n"
                               "text.add {~ping.status~|~run.errors~|~run.error.1~}\n"),
            "IP_SUCCESS|127.0.0.2|IP_SUCCESS|30|IP_SUCCESS|61000|IP_REQ_TIMED_OUT||IP_SUCCESS|IP_REQ_TIMED_OUT|2|"
            "run.steps [7], Line No. [7], Error: [ping [127.0.0.1] Error! TimeOut!]");
}

}  // namespace
