// dns.get in IPv6 mode through the tarv binary for names with many
// addresses, from a private hosts file inside a namespace of the test's own:
// every answer is looked at, and the last IPv6 one is taken.
#include <gtest/gtest.h>
#include <netdb.h>

#include <string>

#include "tests/services/binary_run.h"
#include "tests/services/netdiag/netns_sandbox.h"

namespace {

constexpr int kV4 = 40;
constexpr int kV6 = 500;

// mixed.test: 40 IPv4 addresses, then one IPv6; v6.test: 500 IPv6.
std::string Hosts() {
  std::string hosts = "127.0.0.1 localhost\n";
  for (int i = 1; i <= kV4; i++) hosts += "198.18.4." + std::to_string(i) + " mixed.test\n";
  hosts += "2001:db8::77 mixed.test\n";
  for (int i = 1; i <= kV6; i++) hosts += "2001:db8:6::" + std::to_string(i) + " v6.test\n";
  return hosts;
}

// Where the first IPv6 answer comes among all answers, as the system
// resolver orders them (0 when there is none).
int FirstV6Position(const char* host) {
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &list) != 0) return 0;
  int position = 0, at = 0;
  for (addrinfo* ai = list; ai && !position; ai = ai->ai_next) {
    at++;
    if (ai->ai_family == AF_INET6) position = at;
  }
  freeaddrinfo(list);
  return position;
}

TEST(NetdiagBinary, Ipv6LookUpWalksEveryAnswer) {
  // The address sorting puts IPv4 first, as on a host that prefers it.
  NETNS_ENTER(.hosts = Hosts(),
              .commands = "printf 'precedence ::ffff:0:0/96 100\\n' > /run/gai.conf\n"
                          "mount --bind /run/gai.conf /etc/gai.conf\n");
  ASSERT_EQ(FirstV6Position("mixed.test"), kV4 + 1) << "the IPv4 answers must come first";
  tarvtest::TempDir dir;
  EXPECT_EQ(tarvtest::RunSaved(dir, "dns6.nms",
                               "dns.set ipmode {ipv6}\n"
                               "dns.get var {mixed} host {mixed.test}\n"
                               "dns.get var {v6} host {v6.test}\n"
                               "dns.set ipmode {ipv4}\n"
                               "dns.get var {v4} host {mixed.test}\n"
                               "text.add {~mixed~|~v6~|~v4~|~run.errors~}\n"),
            "2001:db8::77|2001:db8:6::" + std::to_string(kV6) + "|198.18.4.1|0");
}

}  // namespace
