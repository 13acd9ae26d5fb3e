// A real script through the tarv binary, inside namespaces the test makes:
// a name from its private hosts file, then ping and arp of that address.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/services/binary_run.h"
#include "tests/services/netdiag/netns_sandbox.h"

namespace {

TEST(NetdiagBinary, ResolvePingAndArpTheRouter) {
  NETNS_ENTER(.hosts = "127.0.0.1 localhost\n198.18.1.2 gw.test\nfd00:2::2 far.test\n",
              .commands = kRouterTopology);
  tarvtest::TempDir dir;
  EXPECT_EQ(tarvtest::RunSaved(dir, "diag.nms",
      "dns.get var {gw} host {gw.test}\n"
      "ping.ip {~gw~} ttl {1} size {56}\n"
      "text.add {~gw~|~ping.status~|~ping.reply_ttl~|~ping.reply_bytes~|}\n"
      "arp.get var {mac} ip {~gw~}\n"
      "dns.set ipmode {ipv6}\n"
      "dns.get var {far} host {far.test}\n"
      "ping.ip {~far~} ttl {1} size {8}\n"
      "text.add {~mac~|~far~|~ping.status~|~ping.reply_ip~|~run.errors~}\n"),
            "198.18.1.2|IP_SUCCESS|64|56|02-00-00-00-00-22|fd00:2::2|IP_TTL_EXPIRED_TRANSIT|"
            "fd00:1:0:0:0:0:0:2|1");
}

// An unprivileged user has no raw sockets: it pings through the datagram
// kind when the system lets its group, and reports the socket error when not.
TEST(NetdiagBinary, UnprivilegedUserPings) {
  NETNS_ENTER();
  tarvtest::TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  const std::string out = dir.File("out.txt");
  const auto script = [&](const std::string& report) {
    return dir.Write("user.nms", "ping.ip {127.0.0.1} ttl {3} size {20}\n"
                                 "text.add {" + report + "}\n"
                                 "text.headpointer move to head\n"
                                 "text.tailpointer move to tail\n"
                                 "text.save to file {" + out + "}\n"
                                 "run.end\n");
  };
  for (bool datagram : {true, false}) {
    netns::AllowDatagramPing(datagram);
    std::filesystem::remove(out);
    const auto r = tarvtest::RunProgram(
        "/usr/bin/setpriv",
        {"--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all",
         tarvtest::TarvBinary(), "hide",
         script(datagram ? "~ping.status~|~ping.reply_bytes~|~run.errors~"
                         : "|~run.errors~|~run.error.1~")},
        dir.path().string(), 60);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const std::string text = tarvtest::ReadFile(out);
    if (datagram) {
      EXPECT_EQ(text, "IP_SUCCESS|20|0");
    } else {
      EXPECT_EQ(text.substr(0, 3), "|1|") << text;
      EXPECT_NE(text.find("IcmpCreateFile() Unable to open handle.  returned error: 1"),
                std::string::npos)
          << text;
    }
  }
}

}  // namespace
