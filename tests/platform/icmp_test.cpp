// ICMP echo on loopback inside a namespace of the test's own: answers that
// must quote our own request (the ping statements' tests run the echoes).
#include "platform/icmp.h"

#include <arpa/inet.h>
#include <netinet/ip.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/services/netdiag/netns_sandbox.h"

namespace {

socklen_t Loopback(int family, sockaddr_storage* out) {
  std::memset(out, 0, sizeof *out);
  if (family == AF_INET) {
    auto* a = reinterpret_cast<sockaddr_in*>(out);
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sizeof *a;
  }
  auto* a = reinterpret_cast<sockaddr_in6*>(out);
  a->sin6_family = AF_INET6;
  a->sin6_addr = in6addr_loopback;
  return sizeof *a;
}

// An ICMP message as a forged answer to 127.0.0.1, sent from a raw socket
// that writes its own IPv4 header: the sender is 198.18.5.5, an address no
// interface here holds, unless said otherwise.  A damaged message has its
// checksum off by one.
void Forge(int raw, std::vector<unsigned char> icmp, unsigned char senderLast = 0,
           bool damaged = false) {
  uint32_t sum = 0;
  icmp[2] = icmp[3] = 0;
  for (size_t i = 0; i + 1 < icmp.size(); i += 2) sum += icmp[i] << 8 | icmp[i + 1];
  if (icmp.size() % 2) sum += icmp.back() << 8;
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  if (damaged) sum ^= 1;
  icmp[2] = static_cast<unsigned char>(~sum >> 8);
  icmp[3] = static_cast<unsigned char>(~sum);
  std::vector<unsigned char> packet = {0x45, 0, 0, 0,   0, 0, 0, 0, 64, IPPROTO_ICMP,
                                       0,    0, 198, 18, 5, 5, 127, 0, 0, 1};
  if (senderLast) {
    const unsigned char own[4] = {127, 0, 0, senderLast};
    std::memcpy(&packet[12], own, 4);
  }
  for (unsigned char b : icmp) packet.push_back(b);
  sockaddr_storage to;
  const socklen_t len = Loopback(AF_INET, &to);
  ASSERT_EQ(sendto(raw, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), len),
            static_cast<ssize_t>(packet.size()));
}

std::vector<unsigned char> Echo(int type, uint16_t id, uint16_t seq) {
  return {static_cast<unsigned char>(type), 0, 0, 0, static_cast<unsigned char>(id >> 8),
          static_cast<unsigned char>(id), static_cast<unsigned char>(seq >> 8),
          static_cast<unsigned char>(seq), 'x', 'y'};
}

// A time-exceeded report quoting an echo request to 127.0.0.1.
std::vector<unsigned char> TimeExceeded(uint16_t id, uint16_t seq) {
  std::vector<unsigned char> m = {11,   0, 0, 0,  0,   0, 0, 0, 0x45, 0, 0, 30, 0, 0, 0,
                                  0,    1, IPPROTO_ICMP, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1};
  for (unsigned char b : Echo(8, id, seq)) m.push_back(b);
  return m;
}

TEST(IcmpEcho, RawSocketTakesOnlyAnswersToItsOwnRequest) {
  NETNS_ENTER();
  netns::AllowDatagramPing(false);
  // Loopback stays silent, so every answer is one the test forged.
  netns::Sysctl("net/ipv4/icmp_echo_ignore_all", "1");
  netns::Sysctl("net/ipv4/conf/all/rp_filter", "0");
  netns::Sysctl("net/ipv4/conf/lo/rp_filter", "0");
  int forger = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
  ASSERT_GE(forger, 0);
  IcmpSocket s;
  ASSERT_EQ(IcmpOpen(AF_INET, &s), 0);
  ASSERT_TRUE(s.Raw);
  sockaddr_storage dest;
  const socklen_t len = Loopback(AF_INET, &dest);
  const uint16_t seq = 500;
  const uint16_t other = static_cast<uint16_t>(s.Ident + 1);

  Forge(forger, Echo(0, other, seq));                   // another process's reply
  Forge(forger, Echo(0, s.Ident, seq + 1));             // a later request's reply
  Forge(forger, {0, 0, 0, 0, 0});                       // shorter than a header
  Forge(forger, TimeExceeded(other, seq));              // quotes someone else's request
  Forge(forger, {11, 0, 0, 0, 0, 0, 0, 0, 0x45, 0, 0});  // quotes a cut header
  Forge(forger, TimeExceeded(s.Ident, seq), 1);          // this host's own report
  Forge(forger, Echo(0, s.Ident, seq), 0, true);         // our reply, damaged
  Forge(forger, TimeExceeded(s.Ident, seq), 0, true);    // a report about us, damaged
  IcmpAnswer a;
  EXPECT_EQ(IcmpEcho(s, dest, len, 5, seq, "", 0, 400, &a), 0);
  EXPECT_EQ(a.Status, IP_REQ_TIMED_OUT);

  Forge(forger, Echo(0, s.Ident, seq));
  ASSERT_EQ(IcmpEcho(s, dest, len, 5, seq, "", 0, 2000, &a), 1);
  EXPECT_EQ(a.Status, IP_SUCCESS);
  EXPECT_EQ(a.DataLen, 2);

  Forge(forger, TimeExceeded(s.Ident, seq));
  ASSERT_EQ(IcmpEcho(s, dest, len, 5, seq, "", 0, 2000, &a), 1);
  EXPECT_EQ(a.Status, IP_TTL_EXPIRED_TRANSIT);
  EXPECT_EQ(a.DataLen, 0);
  EXPECT_EQ(reinterpret_cast<sockaddr_in&>(a.From).sin_addr.s_addr, inet_addr("198.18.5.5"));
  IcmpClose(&s);
  close(forger);
}

}  // namespace
