// dns.get and dns.set ipmode: a host name becomes its first IPv4 or last
// IPv6 address as the system resolver gives them.
#include <arpa/inet.h>

#include <cstring>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/hex_dump.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "platform/resolver.h"
#include "services/netdiag/netdiag.h"
#include "services/sockets/socket_layer.h"

namespace {

constexpr int kHostMax = 250;
constexpr int kV4Out = 256;
constexpr int kV6Out = 46;
// The error numbers a failed host look-up reports.
constexpr int kWsaTryAgain = 11002;
constexpr int kWsaNoRecovery = 11003;

const char* FamilyText(int family) {
  switch (family) {
    case AF_UNSPEC: return "\nUnspecified\n";
    case AF_INET: return "\nAF_INET (IPv4)\n";
    case AF_INET6: return "\nAF_INET6 (IPv6)\n";
    default: return nullptr;
  }
}

const char* SockTypeText(int type) {
  switch (type) {
    case 0: return "\nUnspecified\n";
    case SOCK_STREAM: return "\nSOCK_STREAM (stream)\n";
    case SOCK_DGRAM: return "\nSOCK_DGRAM (datagram) \n";
    case SOCK_RAW: return "\nSOCK_RAW (raw) \n";
    case SOCK_RDM: return "\nSOCK_RDM (reliable message datagram)\n";
    case SOCK_SEQPACKET: return "\nSOCK_SEQPACKET (pseudo-stream packet)\n";
    default: return nullptr;
  }
}

const char* ProtocolText(int protocol) {
  switch (protocol) {
    case 0: return "\nUnspecified\n";
    case IPPROTO_TCP: return "\nIPPROTO_TCP (TCP)\n";
    case IPPROTO_UDP: return "\nIPPROTO_UDP (UDP) \n";
    default: return nullptr;
  }
}

// Text of an answer's address (without port) into dest of room bytes.
void AddrText(const SockAddrInfo& a, char* dest, socklen_t room) {
  dest[0] = 0;
  const void* src = a.Family == AF_INET
                        ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in&>(a.Addr).sin_addr)
                        : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6&>(a.Addr).sin6_addr);
  if (!inet_ntop(a.Family, src, dest, room)) dest[0] = 0;
}

}  // namespace

void DnsTraceAnswers(const SockAddrInfo* answers, int count, bool longForm) {
  for (int i = 0; i < count; ++i) DnsTraceAnswer(answers[i], i, longForm);
}

void DnsTraceAnswer(const SockAddrInfo& a, int index, bool longForm) {
  TarvDebugLog("\ngetaddrinfo response %d\n", index);
  TarvDebugLog("\n\tFlags: 0x%x\n", static_cast<unsigned>(a.Flags));
  TarvDebugLog("\n\tFamily: ");
  if (!longForm) {
    if (a.Family == AF_INET6)
      TarvDebugLog("\nAF_INET6 (IPv6)\n");
    else
      TarvDebugLog("\nai_family: Other %ld\n", static_cast<long>(a.Family));
    return;
  }
  if (const char* t = FamilyText(a.Family))
    TarvDebugLog("%s", t);
  else
    TarvDebugLog("\nOther %ld\n", static_cast<long>(a.Family));
  if (a.Family == AF_INET) {
    char text[INET_ADDRSTRLEN];
    AddrText(a, text, sizeof text);
    TarvDebugLog("\n\tIPv4 address %s\n", text);
  }
  TarvDebugLog("\n\tSocket type: ");
  if (const char* t = SockTypeText(a.SockType))
    TarvDebugLog("%s", t);
  else
    TarvDebugLog("\nOther %ld\n", static_cast<long>(a.SockType));
  TarvDebugLog("\n\tProtocol: ");
  if (const char* t = ProtocolText(a.Protocol))
    TarvDebugLog("%s", t);
  else
    TarvDebugLog("\nOther %ld\n", static_cast<long>(a.Protocol));
  TarvDebugLog("\n\tLength of this sockaddr: %d\n", static_cast<int>(a.Len));
  // A plain look-up asks for no canonical name.
  TarvDebugLog("\n\tCanonical name: %s\n", "");
}

int WinDnsGetIpV4(const char* host, char* out, int room) {
  if (room > 0) out[0] = 0;
  if (TarvWsaStartup() != 0) return -1;
  HostV4 h;
  switch (ResolveHostV4(host, &h)) {
    case RESOLVE_OK: break;
    case RESOLVE_NOT_FOUND: return NmsRunError(-1, "Host (%s) not found", host);
    case RESOLVE_NO_DATA: return NmsRunError(-2, "Host (%s) ,No data record found", host);
    case RESOLVE_TRY_AGAIN:
      return NmsRunError(-3, "gethostbyname Function failed with error: %ld", long{kWsaTryAgain});
    default:
      return NmsRunError(-3, "gethostbyname Function failed with error: %ld", long{kWsaNoRecovery});
  }
  // Names are data from the hosts file or the network: written as such.
  TarvDebugLogEscaped("\nOfficial name: %s", h.Name.data());
  for (int i = 0; i < h.AliasCount; ++i)
    TarvDebugLogEscaped("\nAlternate name #%d: %s", i + 1, h.Aliases[i].data());
  if (h.AddrType == AF_INET)
    TarvDebugLog("\nAddress type: AF_INET");
  else
    TarvDebugLog("\nAddress type:  %d", h.AddrType);
  TarvDebugLog("\nAddress length: %d ", h.AddrLen);
  if (h.AddrType != AF_INET) return 0;
  int len = 0;
  for (int i = 0; i < h.AddrCount; ++i) {
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &h.Addrs[i], text, sizeof text);
    if (i == 0) {
      len = static_cast<int>(std::strlen(text));
      if (len >= room || len >= kV4Out) return 0;
      std::memcpy(out, text, len + 1);
      TarvDebugLog("\nReturn IP Address #%d: %s", i, text);
    } else {
      TarvDebugLog("\nIP Address #%d: %s", i, text);
    }
  }
  return len;
}

int WinDnsGetIpV6(const char* host, char* out, int room) {
  if (room > 0) out[0] = 0;
  if (TarvWsaStartup() != 0) return -1;
  // Every answer counts, however many: the last IPv6 one may come after
  // dozens of IPv4 ones that the system's address sorting put first.
  SockAddrList answers;
  const int r = ResolveHostAll(host, &answers);
  if (r != 0) return NmsRunError(-1, "getaddrinfo failed with error: %d\n", r);
  TarvDebugLog("\ngetaddrinfo returned success\n");
  answers.ForEach([](const SockAddrInfo& a, int index) { DnsTraceAnswer(a, index, true); });
  bool found = false;
  answers.ForEach([&](const SockAddrInfo& a, int) {
    if (a.Family != AF_INET6) return;
    char text[INET6_ADDRSTRLEN];
    AddrText(a, text, sizeof text);
    TarvDebugLog("\n\tIPv6 address %s\n", text);
    // Each IPv6 answer replaces the one before: the last one wins.
    const int len = static_cast<int>(strnlen(text, kV6Out - 1));
    if (len < room) {
      std::memcpy(out, text, len);
      out[len] = 0;
    }
    TarvDebugLog("\n\tIPv6 address %s, iRetval=%d\n", out, len + 1);
    HexLog(out, len);
    found = true;
  });
  if (!found) return NmsRunError(-1, "getaddrinfo for ipv6 failed");
  return 0;
}

int dns_get_var_a3_host_a5() {
  HandlerBegin();
  if (int r = ArgCheckLength(3, VAR_NAME - 2, -2)) return r;
  TarvSetVar4(agA[3], igL[3], "", 0);
  if (int r = ArgCheckLength(5, kHostMax, -3)) return r;
  char out[NETDIAG_OUT] = {};
  if (sgRun.IpMode == 6) {
    if (WinDnsGetIpV6(agA[5], out, sizeof out) < 0) return NmsRunError(-9, "WinDnsGetIpV6  <0 !");
  } else if (WinDnsGetIpV4(agA[5], out, sizeof out) < 0) {
    return NmsRunError(-9, "WinDnsGetIpV4  <0 !");
  }
  if (TarvSetVar4(agA[3], igL[3], out, static_cast<int>(strnlen(out, sizeof out))) < 0)
    return NmsRunError(-5, "TarvSetVar4 len< 0 !");
  return TarvReturn(0, "dns_get_var_a3_host_a5 return.");
}

int dns_set_ipmode_a3() {
  HandlerBegin();
  // Only the lower-case word selects IPv6; longer words that begin so count.
  sgRun.IpMode = std::strncmp(agA[3], "ipv6", 4) == 0 ? 6 : 4;
  return TarvReturn(0, "dns_set_ipmode_a3 return.");
}
