// ping.ip: up to five ICMP echo requests of one second each to an IPv4 or
// IPv6 address, the first answer published in the ping variables.
#include <arpa/inet.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "platform/icmp.h"
#include "platform/resolver.h"
#include "services/netdiag/netdiag.h"
#include "services/sockets/socket_layer.h"

namespace {

constexpr int kTries = 5;
constexpr int kTryMs = 1000;
constexpr int kAddrMin = 3;
constexpr int kAddrMax = 39;
constexpr int kTtlMax = 64;
constexpr int kSizeMax = 65500;
// Echo data: a fixed pattern of this many bytes; larger sizes are cut to it.
constexpr int kFillerLen = 6523;

struct StatusName {
  int Code;
  const char* Name;
  bool V6Only;
};

constexpr StatusName kStatusNames[] = {
    {IP_SUCCESS, "IP_SUCCESS", false},
    {IP_BUF_TOO_SMALL, "IP_BUF_TOO_SMALL", false},
    {IP_DEST_NET_UNREACHABLE, "IP_DEST_NET_UNREACHABLE", false},
    {IP_DEST_HOST_UNREACHABLE, "IP_DEST_HOST_UNREACHABLE", false},
    {IP_DEST_PROT_UNREACHABLE, "IP_DEST_PROT_UNREACHABLE", false},
    {IP_DEST_PORT_UNREACHABLE, "IP_DEST_PORT_UNREACHABLE", false},
    {IP_NO_RESOURCES, "IP_NO_RESOURCES", false},
    {11007, "IP_BAD_OPTION", false},
    {11008, "IP_HW_ERROR", false},
    {IP_PACKET_TOO_BIG, "IP_PACKET_TOO_BIG", false},
    {IP_REQ_TIMED_OUT, "IP_REQ_TIMED_OUT", false},
    {11011, "IP_BAD_REQ", false},
    {IP_BAD_ROUTE, "IP_BAD_ROUTE", false},
    {IP_TTL_EXPIRED_TRANSIT, "IP_TTL_EXPIRED_TRANSIT", false},
    {IP_TTL_EXPIRED_REASSEM, "IP_TTL_EXPIRED_REASSEM", false},
    {IP_PARAM_PROBLEM, "IP_PARAM_PROBLEM", false},
    {IP_SOURCE_QUENCH, "IP_SOURCE_QUENCH", false},
    {11017, "IP_OPTION_TOO_BIG", false},
    {IP_BAD_DESTINATION, "IP_BAD_DESTINATION", false},
    {IP_DEST_UNREACHABLE, "IP_DEST_UNREACHABLE", true},
    {11041, "IP_TIME_EXCEEDED", true},
    {IP_BAD_HEADER, "IP_BAD_HEADER", true},
    {IP_UNRECOGNIZED_NEXT_HEADER, "IP_UNRECOGNIZED_NEXT_HEADER", true},
    {IP_ICMP_ERROR, "IP_ICMP_ERROR", true},
    {IP_DEST_SCOPE_MISMATCH, "IP_DEST_SCOPE_MISMATCH", true},
    {IP_GENERAL_FAILURE, "IP_GENERAL_FAILURE", true},
};

// Sequence numbers run on across pings, so that a late answer to an
// earlier request is never taken for the answer to this one.
std::atomic<uint16_t> gSequence{0};

// The echo data: the letters a to w over and over, n bytes.
const char* Filler() {
  static const std::array<char, kFillerLen> filler = [] {
    std::array<char, kFillerLen> f{};
    for (int i = 0; i < kFillerLen; ++i) f[i] = static_cast<char>('a' + i % 23);
    return f;
  }();
  return filler.data();
}

void SetNumber(const char* name, long value) {
  char text[24];
  std::snprintf(text, sizeof text, "%ld", value);
  TarvSetVar2(name, text);
}

struct Target {
  const char* Ip;
  int Ttl;
  int DataLen;
  const sockaddr_storage* Dest;
  socklen_t DestLen;
  bool V6;
};

// The tries of one ping on an open socket.  1 with the first answer in
// *answer, or 0 with *failure the reason none came.
int Tries(const IcmpSocket& s, const Target& t, IcmpAnswer* answer, int* failure) {
  *failure = IP_REQ_TIMED_OUT;
  long replies = 0;
  for (int i = 1; i <= kTries; ++i) {
    const int r = IcmpEcho(s, *t.Dest, t.DestLen, t.Ttl, gSequence.fetch_add(1), Filler(),
                           t.DataLen, kTryMs, answer);
    if (r > 0) replies = 1;
    if (r < 0) *failure = -r;
    TarvDebugLog(t.V6 ? "\nping_ipv6 %s, seq = %d , ttl=%d, data size =%d,ping.received_responses = %ld"
                      : "\nping %s, seq = %d , ttl=%d, data size =%d,ping.received_responses = %ld",
                 t.Ip, i, t.Ttl, t.DataLen, replies);
    if (replies > 0) return 1;
  }
  return 0;
}

int NoReply(const char* ip, int failure) {
  if (failure == IP_BUF_TOO_SMALL) {
    TarvSetVar2("ping.status", "IP_BUF_TOO_SMALL");
    return NmsRunError(-9, "ping [%s] Error! Recvieve buf is too small", ip);
  }
  if (failure == IP_REQ_TIMED_OUT) {
    TarvSetVar2("ping.status", "IP_REQ_TIMED_OUT");
    return NmsRunError(-9, "ping [%s] Error! TimeOut!", ip);
  }
  TarvSetVar2("ping.status", "EXTENDED_ERROR");
  return NmsRunError(-9, "ping [%s] Error! retcode=[%ld]", ip, static_cast<long>(failure));
}

// The common road of both families once the destination is known.
int Ping(const Target& t) {
  IcmpSocket s;
  const int family = t.V6 ? AF_INET6 : AF_INET;
  if (const int r = IcmpOpen(family, &s); r < 0)
    return NmsRunError(-22,
                       t.V6 ? "Icmp6CreateFile() Unable to open handle.  returned error: %ld"
                            : "IcmpCreateFile() Unable to open handle.  returned error: %ld",
                       static_cast<long>(-r));
  TarvSetVar2("ping.dest_ip", t.Ip);
  TarvZeroVar("ping.received_responses");
  TarvZeroVar("ping.roundtrip_time_milliseconds");
  TarvZeroVar("ping.reply_ip");
  // An IPv6 answer reports no TTL or size: the values of an IPv4 ping stay.
  if (!t.V6) {
    TarvZeroVar("ping.reply_ttl");
    TarvZeroVar("ping.reply_bytes");
  }
  TarvZeroVar("ping.status");
  IcmpAnswer a;
  int failure = 0;
  const int got = Tries(s, t, &a, &failure);
  IcmpClose(&s);
  if (!got) return NoReply(t.Ip, failure);

  char from[INET6_ADDRSTRLEN] = {};
  if (t.V6) {
    const auto& a6 = reinterpret_cast<const sockaddr_in6&>(a.From).sin6_addr.s6_addr;
    std::snprintf(from, sizeof from, "%x:%x:%x:%x:%x:%x:%x:%x", a6[0] << 8 | a6[1], a6[2] << 8 | a6[3],
                  a6[4] << 8 | a6[5], a6[6] << 8 | a6[7], a6[8] << 8 | a6[9], a6[10] << 8 | a6[11],
                  a6[12] << 8 | a6[13], a6[14] << 8 | a6[15]);
  } else {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(a.From).sin_addr, from, sizeof from);
  }
  TarvSetVar2("ping.reply_ip", from);
  SetNumber("ping.received_responses", 1);
  if (!t.V6) SetNumber("ping.reply_ttl", a.Ttl);
  SetNumber("ping.roundtrip_time_milliseconds", a.RoundTripMs);
  if (!t.V6) SetNumber("ping.reply_bytes", a.DataLen);
  TarvSetVar2("ping.status", PingStatusName(a.Status, t.V6));
  if (a.Status != IP_SUCCESS) return NmsRunError(-9, "ping [%s] Error!", t.Ip);
  return 0;
}

}  // namespace

const char* PingStatusName(int status, bool ipv6) {
  for (const StatusName& s : kStatusNames)
    if (s.Code == status && (ipv6 || !s.V6Only)) return s.Name;
  return "UNKNOWN_ERROR";
}

int WinPing(const char* ip, int ttl, int size) {
  // The text passed the address check: four decimal parts, empty ones 0.
  uint8_t parts[4];
  TarvIpV4Parts(ip, parts);
  in_addr addr;
  std::memcpy(&addr, parts, 4);
  if (addr.s_addr == INADDR_NONE) return NmsRunError(-21, "WinPing: IpV4 address Error [%s]", ip);
  sockaddr_storage dest = {};
  auto* sin = reinterpret_cast<sockaddr_in*>(&dest);
  sin->sin_family = AF_INET;
  sin->sin_addr = addr;
  const int n = size < kFillerLen ? size : kFillerLen;
  return Ping({ip, ttl, n, &dest, sizeof(sockaddr_in), false});
}

int WinPingV6(const char* ip, int ttl, int size) {
  if (TarvWsaStartup() != 0) return -1;
  SockAddrInfo answers[RESOLVE_ANSWERS];
  int count = 0;
  // The text passed the address check; it is never looked up as a name.
  const int r = ResolveHostAny(ip, true, answers, RESOLVE_ANSWERS, &count);
  if (r != 0) return NmsRunError(-1, "getaddrinfo failed with error: %d\n", r);
  DnsTraceAnswers(answers, count, false);
  const SockAddrInfo* last = nullptr;
  for (int i = 0; i < count; ++i)
    if (answers[i].Family == AF_INET6) last = &answers[i];
  if (!last) return NmsRunError(-1, "getaddrinfo for ipv6 failed");
  const int n = size < kFillerLen ? size : kFillerLen;
  return Ping({ip, ttl, n, &last->Addr, last->Len, true});
}

int ping_ip_a2_ttl_a4_size_a6() {
  HandlerBegin();
  if (igL[2] < kAddrMin) return NmsRunError(-2, "Length of Arg 2 is :%d  < 3 !", igL[2]);
  if (igL[2] > kAddrMax) return NmsRunError(-2, "Length of Arg 2 is :%d > 39 !", igL[2]);
  if (ArgCheckRange(4, 0, kTtlMax) != 0) return -4;
  if (ArgCheckRange(6, 0, kSizeMax) != 0) return -6;
  if (TarvIsIpV4(agA[2]) == 0)
    WinPing(agA[2], igV[4], igV[6]);
  else if (TarvIsIpV6(agA[2]) == 0)
    WinPingV6(agA[2], igV[4], igV[6]);
  else
    return NmsRunError(-2, "ping_ip_a2_ttl_a4_size_a6: arg <2> is not ip address");
  // A failed ping has recorded its own run error; the statement goes on.
  return TarvReturn(0, "ping_ip_a2_ttl_a4_size_a6 return.");
}
