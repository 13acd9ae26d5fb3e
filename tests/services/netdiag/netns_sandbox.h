// Runs a test inside network and mount namespaces of its own, so that name
// look-ups, pings and neighbour prompts never leave the machine.
//
// The test calls NETNS_ENTER(setup) first.  In the test process this runs
// the same test again as a child under `unshare -n -m`: loopback up, the
// setup's hosts file bind-mounted over /etc/hosts, look-ups limited to
// files, /run a private tmpfs (so `ip netns` names live and die with the
// namespace), then the setup's own shell commands (veth pairs, routers).
// The child's verdict becomes the test's; nothing outlives the child, as
// every namespace it made is held only by its private mounts.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"

namespace netns {

inline constexpr const char* kChildMark = "TARV_NETNS_CHILD";

struct Setup {
  std::string hosts = "127.0.0.1 localhost\n";
  std::string commands = {};  // shell commands run inside before the test body
};

enum class Outcome { RunHere, Ran, NotPermitted };

// The unshare program (util-linux), or empty when there is none.
inline std::string UnshareProgram() {
  for (const char* p : {"/usr/bin/unshare", "/bin/unshare"})
    if (access(p, X_OK) == 0) return p;
  return {};
}

inline bool InChild() { return std::getenv(kChildMark) != nullptr; }

inline Outcome Enter(const Setup& setup) {
  if (InChild()) return Outcome::RunHere;
  const std::string unshare = UnshareProgram();
  static const bool permitted =
      !unshare.empty() &&
      tarvtest::RunProgram(unshare, {"-n", "-m", "--propagation", "private", "/bin/sh", "-c",
                                         "mount -t tmpfs tarv-netns /run && ip link set lo up"}, "/", 20)
              .exitCode == 0;
  if (!permitted) return Outcome::NotPermitted;

  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(info->test_suite_name()) + "." + info->name();
  char self[4096] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
    ADD_FAILURE() << "cannot find the test program";
    return Outcome::Ran;
  }
  tarvtest::TempDir dir;
  const std::string hosts = dir.Write("hosts", setup.hosts);
  const std::string nss = dir.Write("nsswitch.conf", "hosts: files\n");
  const std::string resolv = dir.Write("resolv.conf", "");
  const std::string script =
      "set -e\n"
      "mount -t tmpfs tarv-netns /run\n"
      "ip link set lo up\n"
      "mount --bind " + hosts + " /etc/hosts\n"
      "mount --bind " + nss + " /etc/nsswitch.conf\n"
      "if [ -f /etc/resolv.conf ] && [ ! -L /etc/resolv.conf ]; then mount --bind " + resolv +
      " /etc/resolv.conf; fi\n" + setup.commands +
      "\nexport " + kChildMark + "=1\n"
      "exec \"$0\" --gtest_filter=\"$1\"\n";
  const auto r = tarvtest::RunProgram(
      unshare, {"-n", "-m", "--propagation", "private", "/bin/sh", "-c", script, self, name},
      dir.path().string(), 240);
  EXPECT_EQ(r.exitCode, 0) << "test in its namespace failed:\n" << r.output;
  EXPECT_NE(r.output.find("[  PASSED  ] 1 test"), std::string::npos) << r.output;
  return Outcome::Ran;
}

// Writes a value to a file of /proc/sys (inside the namespace only).
inline void Sysctl(const std::string& path, const std::string& value) {
  std::ofstream f("/proc/sys/" + path);
  f << value << "\n";
  ASSERT_TRUE(f.good()) << path;
}

// Lets every group open ICMP datagram sockets, or nobody (raw only).
inline void AllowDatagramPing(bool on) {
  Sysctl("net/ipv4/ping_group_range", on ? "0 2147483647" : "1 0");
}

}  // namespace netns

#define NETNS_ENTER(...)                                                            \
  do {                                                                              \
    const auto outcome_ = netns::Enter(netns::Setup{__VA_ARGS__});                   \
    if (outcome_ == netns::Outcome::NotPermitted)                                   \
      GTEST_SKIP() << "network namespaces are not permitted here (unshare -n -m)"; \
    if (outcome_ == netns::Outcome::Ran) return;                                    \
  } while (0)

// Two links through a router namespace, addresses in 198.18.0.0/15 (a range
// set aside for tests, reachable here only inside these namespaces):
//   us  nd0 198.18.1.1 / fd00:1::1  (02:00:00:00:00:11)
//   router  nd1 198.18.1.2 / fd00:1::2  (02:00:00:00:00:22), nd2 198.18.2.1 / fd00:2::1
//   far  nd3 198.18.2.2 / fd00:2::2
inline const char* const kRouterTopology = R"(
ip netns add router
ip netns add far
ip link add nd0 type veth peer name nd1 netns router
ip -n router link add nd2 type veth peer name nd3 netns far
ip link set nd0 address 02:00:00:00:00:11 up
ip addr add 198.18.1.1/24 dev nd0
ip addr add fd00:1::1/64 dev nd0 nodad
ip route add default via 198.18.1.2
ip -6 route add default via fd00:1::2
ip -n router link set lo up
ip -n router link set nd1 address 02:00:00:00:00:22 up
ip -n router link set nd2 up
ip -n router addr add 198.18.1.2/24 dev nd1
ip -n router addr add fd00:1::2/64 dev nd1 nodad
ip -n router addr add 198.18.2.1/24 dev nd2
ip -n router addr add fd00:2::1/64 dev nd2 nodad
ip netns exec router sh -c 'echo 1 > /proc/sys/net/ipv4/ip_forward; echo 1 > /proc/sys/net/ipv6/conf/all/forwarding'
ip -n far link set lo up
ip -n far link set nd3 up
ip -n far addr add 198.18.2.2/24 dev nd3
ip -n far addr add fd00:2::2/64 dev nd3 nodad
ip -n far route add default via 198.18.2.1
ip -n far -6 route add default via fd00:2::1
)";
