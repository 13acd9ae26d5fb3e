// The network-diagnosis statements run as scripts: argument checks, name
// look-ups from a private hosts file, pings on loopback and through a
// router namespace, and hardware addresses of neighbours, in the test
// process and through the binary.  Everything that resolves, pings or
// prompts runs in namespaces the tests make.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/services/binary_run.h"
#include "tests/services/netdiag/netns_sandbox.h"
#include "tests/services/statement_checks.h"

namespace {

using tarvtest::RunErrors;
using tarvtest::TempDir;
using tarvtest::Var;
using Errors = std::vector<std::string>;

TEST(Netdiag, ArgumentChecks) {
  tarvtest::RunChecks("services/netdiag/checks.txt", [] { EXPECT_NE(Var("v"), "before"); });
}

const char* const kHosts =
    "127.0.0.1 localhost\n"
    "198.18.1.10 multi.test web.test www.test\n"
    "198.18.1.11 multi.test\n"
    "198.18.1.12 multi.test\n"
    "2001:db8::5 v6only.test\n"
    "2001:db8::6 v6only.test\n"
    "198.18.1.20 dual.test\n"
    "2001:db8::20 dual.test\n";

TEST(Netdiag, NamesFromThePrivateHostsFile) {
  NETNS_ENTER(.hosts = kHosts);
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "log");  // the run logs there
  tarvtest::Run(dir,
                "run.set loglevel {debug}\n"
                "dns.get var {a} host {multi.test}\n"
                "dns.get var {n} host {198.18.7.7}\n"
                "dns.get var {b} host {v6only.test}\n"
                "dns.get var {c} host {nosuch.test}\n"
                "dns.set ipmode {IPv6}\n"
                "dns.get var {d} host {dual.test}\n"
                "dns.set ipmode {ipv6x}\n"
                "dns.get var {e} host {v6only.test}\n"
                "dns.get var {f} host {dual.test}\n"
                "dns.get var {g} host {multi.test}\n"
                "dns.get var {h} host {::1}\n"
                "dns.set ipmode {ipv4}\n"
                "dns.get var {i} host {web.test}\n");
  // d: the mode word is case-sensitive; e: the last IPv6 answer.
  EXPECT_EQ(tarvtest::Vars({"a", "n", "b", "c", "d", "e", "f", "g", "h", "i"}),
            "198.18.1.10|198.18.7.7|||198.18.1.20|2001:db8::6|2001:db8::20||::1|198.18.1.10");
  EXPECT_EQ(RunErrors(), (Errors{"Host (v6only.test) not found", "WinDnsGetIpV4  <0 !",
                                 "Host (nosuch.test) not found", "WinDnsGetIpV4  <0 !",
                                 "getaddrinfo for ipv6 failed", "WinDnsGetIpV6  <0 !"}));
  const std::string text = tarvtest::LogsIn(dir);
  for (const char* trace :
       {"Official name: multi.test", "Alternate name #1: web.test", "Alternate name #2: www.test",
        "Address type: AF_INET", "Address length: 4", "Return IP Address #0: 198.18.1.10",
        "IP Address #1: 198.18.1.11", "IP Address #2: 198.18.1.12", "AF_INET6 (IPv6)",
        "IPv6 address 2001:db8::6, iRetval=12", "IPv4 address 198.18.1.20"})
    EXPECT_NE(text.find(trace), std::string::npos) << trace;
}

const char* const kPingReport =
    "~ping.status~|~ping.reply_ip~|~ping.reply_ttl~|~ping.reply_bytes~|~ping.received_responses~";

TEST(Netdiag, PingLoopbackBothSocketKinds) {
  NETNS_ENTER();
  for (bool datagram : {true, false}) {
    SCOPED_TRACE(datagram ? "datagram socket" : "raw socket");
    netns::AllowDatagramPing(datagram);
    TempDir dir;
    const std::string report = std::string("} value {") + kPingReport + "}\n";
    tarvtest::Run(dir, "ping.ip {127.0.0.1} ttl {64} size {0}\nvar {r0" + report +
                           "ping.ip {127.0.0.1} ttl {1} size {100}\nvar {r1" + report +
                           "ping.ip {127.0.0.1} ttl {0} size {65500}\nvar {r2" + report +
                           "ping.ip {::1} ttl {5} size {100}\nvar {r3" + report +
                           "var {r4} value {~ping.dest_ip~|~ping.roundtrip_time_milliseconds~}\n"
                           // No route at all: the request cannot even be sent.
                           "ping.ip {198.18.3.3} ttl {5} size {0}\n"
                           "var {r5} value {~ping.status~|~ping.reply_ip~}\n");
    // r2: the data stop at the pattern's end; r3: an IPv6 answer leaves the
    // TTL and size of the IPv4 ping before it.
    EXPECT_EQ(tarvtest::Vars({"r0", "r1", "r2", "r3"}),
              "IP_SUCCESS|127.0.0.1|64|0|1|IP_SUCCESS|127.0.0.1|64|100|1|IP_SUCCESS|127.0.0.1|64|6523|1|"
              "IP_SUCCESS|0:0:0:0:0:0:0:1|64|6523|1");
    EXPECT_EQ(Var("r4").substr(0, 4), "::1|");
    EXPECT_GT(Var("r4").size(), 4u);
    EXPECT_EQ(Var("r5"), "EXTENDED_ERROR|");
    EXPECT_EQ(RunErrors(), Errors{"ping [198.18.3.3] Error! retcode=[11002]"});
  }
  TempDir dir;
  tarvtest::Run(dir, "arp.get var {m} ip {198.18.3.3}\n");
  EXPECT_EQ(Var("m"), "");
  EXPECT_EQ(RunErrors(), Errors{"WinArpGetMac  <0 !"});
}

TEST(Netdiag, PingAndArpThroughARouterNamespace) {
  NETNS_ENTER(.commands = kRouterTopology);
  {  // before any ping, so that the neighbours must be prompted
    TempDir dir;
    tarvtest::Run(dir,
                  "run.set step.timeout {2} seconds\n"
                  "arp.get var {m1} ip {198.18.1.2}\n"
                  "arp.get var {m2} ip {198.18.1.1}\n"
                  "arp.get var {m3} ip {127.0.0.1}\n"
                  "arp.get var {m4} ip {198.18.2.2}\n"
                  "arp.get var {m5} ip {198.18.1.77}\n"
                  "arp.get var {m6} ip {255.255.255.255}\n");
    // m4 is behind the router; nobody answers for m5.
    EXPECT_EQ(tarvtest::Vars({"m1", "m2", "m3", "m4", "m5", "m6"}),
              "02-00-00-00-00-22|02-00-00-00-00-11|00-00-00-00-00-00|||");
    EXPECT_EQ(RunErrors(), (Errors{"WinArpGetMac  <0 !", "WinArpGetMac  <0 !", "WinArpGetMac  <0 !"}));
  }
  const std::string pings =
      "run.set step.timeout {2} seconds\n"
      "ping.ip {198.18.2.2} ttl {1} size {32}\n"
      "var {t1} value {~ping.status~|~ping.reply_ip~|~ping.received_responses~}\n"
      "ping.ip {198.18.2.2} ttl {2} size {32}\n"
      "var {t2} value {~ping.status~|~ping.reply_ip~|~ping.reply_ttl~|~ping.reply_bytes~}\n"
      "ping.ip {fd00:2::2} ttl {1} size {32}\n"
      "var {t3} value {~ping.status~|~ping.reply_ip~}\n"
      "ping.ip {fd00:2::2} ttl {2} size {32}\n"
      "var {t4} value {~ping.status~|~ping.reply_ip~}\n"
      // The router knows no way on.
      "ping.ip {198.18.3.3} ttl {5} size {0}\n"
      "var {t6} value {~ping.status~|~ping.reply_ip~}\n"
      "ping.ip {fd00:3::3} ttl {5} size {0}\n"
      "var {t7} value {~ping.status~|~ping.reply_ip~}\n"
      // An address nobody holds: the host's own report of the failed
      // neighbour look-up is no answer, so every try times out.
      "ping.ip {198.18.1.99} ttl {5} size {32}\n"
      "var {t5} value {~ping.status~|~ping.reply_ip~|~ping.received_responses~}\n";
  for (bool datagram : {true, false}) {
    SCOPED_TRACE(datagram ? "datagram socket" : "raw socket");
    netns::AllowDatagramPing(datagram);
    TempDir dir;
    tarvtest::Run(dir, pings);
    EXPECT_EQ(tarvtest::Vars({"t1", "t2", "t3", "t4", "t6", "t7", "t5"}),
              "IP_TTL_EXPIRED_TRANSIT|198.18.1.2|1|IP_SUCCESS|198.18.2.2|63|32|"
              "IP_TTL_EXPIRED_TRANSIT|fd00:1:0:0:0:0:0:2|IP_SUCCESS|fd00:2:0:0:0:0:0:2|"
              "IP_DEST_NET_UNREACHABLE|198.18.1.2|IP_DEST_NET_UNREACHABLE|fd00:1:0:0:0:0:0:2|IP_REQ_TIMED_OUT||");
    EXPECT_EQ(RunErrors(), (Errors{"ping [198.18.2.2] Error!", "ping [fd00:2::2] Error!",
                                   "ping [198.18.3.3] Error!", "ping [fd00:3::3] Error!",
                                   "ping [198.18.1.99] Error! TimeOut!"}));
  }
}

// A real script through the tarv binary, inside namespaces the test makes:
// a name from its private hosts file, then ping and arp of that address.
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
