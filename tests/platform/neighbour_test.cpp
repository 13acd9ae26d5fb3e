// Hardware addresses of neighbours, in namespaces made by the test: our own
// interfaces, a peer behind a veth pair, a silent address, routed and
// unroutable ones.
#include "platform/neighbour.h"

#include <arpa/inet.h>

#include <cerrno>
#include <string>

#include "tests/services/netdiag/netns_sandbox.h"

namespace {

in_addr Addr(const char* text) {
  in_addr a{};
  inet_pton(AF_INET, text, &a);
  return a;
}

std::string Mac(const char* ip, int* result, int timeoutMs = 3000) {
  uint8_t mac[NEIGHBOUR_MAC_MAX] = {};
  int len = -1;
  *result = NeighbourMacV4(Addr(ip), mac, &len, timeoutMs);
  std::string out;
  for (int i = 0; i < len; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, "%02x", mac[i]);
    out += b;
  }
  return out;
}

TEST(Neighbour, AddressesOnTheLinksAndBeyond) {
  NETNS_ENTER(.commands = kRouterTopology);
  int r = 1;
  EXPECT_EQ(Mac("127.0.0.1", &r), "000000000000");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(Mac("198.18.1.1", &r), "020000000011");  // our own end of the pair
  EXPECT_EQ(r, 0);
  uint8_t mac[NEIGHBOUR_MAC_MAX];
  EXPECT_EQ(NeighbourLookupV4(Addr("198.18.1.2"), mac), 0);  // not yet known
  EXPECT_EQ(Mac("198.18.1.2", &r), "020000000022");           // the prompt resolves it
  EXPECT_EQ(r, 0);
  EXPECT_EQ(NeighbourLookupV4(Addr("198.18.1.2"), mac), 6);
  EXPECT_EQ(Mac("198.18.1.99", &r, 1500), "");  // nobody answers
  EXPECT_EQ(r, 0);
  EXPECT_EQ(Mac("198.18.2.2", &r), "");  // behind the router
  EXPECT_EQ(r, -EHOSTUNREACH);
  EXPECT_EQ(Mac("255.255.255.255", &r), "");
  EXPECT_EQ(r, -EINVAL);
}

TEST(Neighbour, NoRouteAtAll) {
  NETNS_ENTER();
  int r = 0;
  EXPECT_EQ(Mac("198.18.1.2", &r), "");
  EXPECT_EQ(r, -ENETUNREACH);
}

}  // namespace
