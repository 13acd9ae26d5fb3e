// A real script through the tarv binary, inside namespaces the test makes:
// a name from its private hosts file, then ping and arp of that address.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/services/netdiag/netns_sandbox.h"

namespace {

TEST(NetdiagBinary, ResolvePingAndArpTheRouter) {
  NETNS_ENTER(.hosts = "127.0.0.1 localhost\n198.18.1.2 gw.test\nfd00:2::2 far.test\n",
              .commands = kRouterTopology);
  tarvtest::TempDir dir;
  const std::string out = dir.File("out.txt");
  const std::string script = dir.Write(
      "diag.nms",
      "dns.get var {gw} host {gw.test}\n"
      "ping.ip {~gw~} ttl {1} size {56}\n"
      "text.add {~gw~|~ping.status~|~ping.reply_ttl~|~ping.reply_bytes~|}\n"
      "arp.get var {mac} ip {~gw~}\n"
      "dns.set ipmode {ipv6}\n"
      "dns.get var {far} host {far.test}\n"
      "ping.ip {~far~} ttl {1} size {8}\n"
      "text.add {~mac~|~far~|~ping.status~|~ping.reply_ip~|~run.errors~}\n"
      "text.headpointer move to head\n"
      "text.tailpointer move to tail\n"
      "text.save to file {" + out + "}\n"
      "run.end\n");
  const auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script}, dir.path().string(), 60);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(out),
            "198.18.1.2|IP_SUCCESS|64|56|02-00-00-00-00-22|fd00:2::2|IP_TTL_EXPIRED_TRANSIT|"
            "fd00:1:0:0:0:0:0:2|1");
}

}  // namespace
