// Hardware addresses from our own interfaces and the kernel's neighbour
// table (/proc/net/arp), with the main routing table (/proc/net/route) to
// tell on-link addresses from those behind a router.
#include "platform/neighbour.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/socket.h"

namespace {

constexpr int kPollMs = 20;
constexpr int kPromptPort = 9;  // discard: nobody is expected to answer

// Parses "aa:bb:..." into mac; the byte count, or 0.
int ParseMac(const char* text, uint8_t mac[NEIGHBOUR_MAC_MAX]) {
  int n = 0;
  const char* p = text;
  while (n < NEIGHBOUR_MAC_MAX) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(p, &end, 16);
    if (end == p || end - p > 2 || v > 0xff) return 0;
    mac[n++] = static_cast<uint8_t>(v);
    if (*end != ':') break;
    p = end + 1;
  }
  return n;
}

// The interface holding the address as its own: its hardware address.
bool OwnInterfaceMac(in_addr addr, uint8_t mac[NEIGHBOUR_MAC_MAX], int* len) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  char name[IF_NAMESIZE + 1] = {};
  for (ifaddrs* i = list; i; i = i->ifa_next)
    if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET &&
        reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == addr.s_addr) {
      std::strncpy(name, i->ifa_name, IF_NAMESIZE);
      break;
    }
  bool found = false;
  for (ifaddrs* i = list; i && name[0]; i = i->ifa_next)
    if (i->ifa_addr && i->ifa_addr->sa_family == AF_PACKET && std::strcmp(i->ifa_name, name) == 0) {
      const auto* ll = reinterpret_cast<sockaddr_ll*>(i->ifa_addr);
      *len = ll->sll_halen <= NEIGHBOUR_MAC_MAX ? ll->sll_halen : NEIGHBOUR_MAC_MAX;
      std::memcpy(mac, ll->sll_addr, *len);
      found = true;
      break;
    }
  freeifaddrs(list);
  return found;
}

// 0 when the main table reaches the address on a link, -EHOSTUNREACH when
// through a gateway, -ENETUNREACH without a route.
int OnLink(in_addr addr) {
  FILE* f = std::fopen("/proc/net/route", "re");
  if (!f) return -errno;
  char line[512];
  int bestBits = -1;
  bool bestGateway = false;
  std::fgets(line, sizeof line, f);  // the column titles
  while (std::fgets(line, sizeof line, f)) {
    char iface[64];
    unsigned dest, gateway, flags, mask;
    int refs, use, metric;
    if (std::sscanf(line, "%63s %x %x %x %d %d %d %x", iface, &dest, &gateway, &flags, &refs, &use,
                    &metric, &mask) != 8)
      continue;
    // The table prints each address as the value of its network-order bytes.
    if (!(flags & RTF_UP) || (flags & RTF_REJECT) || (addr.s_addr & mask) != dest) continue;
    const int bits = std::popcount(mask);
    if (bits > bestBits) {
      bestBits = bits;
      bestGateway = (flags & RTF_GATEWAY) != 0;
    }
  }
  std::fclose(f);
  if (bestBits < 0) return -ENETUNREACH;
  return bestGateway ? -EHOSTUNREACH : 0;
}

void Prompt(in_addr addr) {
  int32_t fd = SockOpen(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return;
  sockaddr_storage to = {};
  auto* sin = reinterpret_cast<sockaddr_in*>(&to);
  sin->sin_family = AF_INET;
  sin->sin_port = htons(kPromptPort);
  sin->sin_addr = addr;
  SockSendTo(fd, "", 0, &to, sizeof(sockaddr_in));
  SockClose(&fd);
}

}  // namespace

int NeighbourLookupV4(in_addr addr, uint8_t mac[NEIGHBOUR_MAC_MAX]) {
  FILE* f = std::fopen("/proc/net/arp", "re");
  if (!f) return 0;
  char line[512];
  int len = 0;
  std::fgets(line, sizeof line, f);  // the column titles
  while (len == 0 && std::fgets(line, sizeof line, f)) {
    char ip[64], hw[64];
    unsigned type, flags;
    if (std::sscanf(line, "%63s %x %x %63s", ip, &type, &flags, hw) != 4) continue;
    in_addr a;
    if (inet_pton(AF_INET, ip, &a) != 1 || a.s_addr != addr.s_addr || !(flags & ATF_COM)) continue;
    len = ParseMac(hw, mac);
  }
  std::fclose(f);
  return len;
}

int NeighbourMacV4(in_addr addr, uint8_t mac[NEIGHBOUR_MAC_MAX], int* len, int timeoutMs) {
  *len = 0;
  const uint32_t host = ntohl(addr.s_addr);
  if (host == 0 || host == 0xffffffffu || (host >> 28) == 0xe) return -EINVAL;
  if (OwnInterfaceMac(addr, mac, len)) return 0;
  if (const int r = OnLink(addr); r < 0) return r;
  if ((*len = NeighbourLookupV4(addr, mac)) > 0) return 0;
  Prompt(addr);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    if ((*len = NeighbourLookupV4(addr, mac)) > 0) return 0;
  }
  return 0;
}
