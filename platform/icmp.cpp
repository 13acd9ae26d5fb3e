// ICMP echo over IPv4 and IPv6 on a datagram or raw socket.
#include "platform/icmp.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/socket.h"

namespace {

constexpr size_t kHeader = 8;       // type, code, checksum, identifier, sequence
constexpr size_t kIpv4MinHeader = 20;
constexpr size_t kIpv6Header = 40;
// Room for the largest IP packet, so that no answer is ever cut: a reply is
// reported at its own size and its checksum is summed over all of it.
constexpr size_t kAnswerRoom = 65536;

std::atomic<uint16_t> gIdentSeed{0};

uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void Put16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}

uint16_t Checksum(const unsigned char* p, size_t len) {
  uint32_t sum = 0;
  for (; len > 1; p += 2, len -= 2) sum += Get16(p);
  if (len) sum += static_cast<uint32_t>(p[0]) << 8;
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

int SetInt(int fd, int level, int name, int value) {
  return setsockopt(fd, level, name, &value, sizeof value) == 0 ? 0 : -errno;
}

int StatusOfErrno(int err) {
  switch (err) {
    case ENETUNREACH: return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH: return IP_DEST_HOST_UNREACHABLE;
    case EMSGSIZE: return IP_PACKET_TOO_BIG;
    case ENOBUFS:
    case ENOMEM: return IP_NO_RESOURCES;
    case EACCES:
    case EPERM:
    case EINVAL:
    case EADDRNOTAVAIL: return IP_BAD_DESTINATION;
    default: return IP_GENERAL_FAILURE;
  }
}

// Does the echo request quoted at p (its ICMP header first) belong to us?
bool OwnRequest(const IcmpSocket& s, const unsigned char* p, size_t len, uint16_t seq) {
  if (len < kHeader) return false;
  const int echoType = s.Family == AF_INET ? ICMP_ECHO : ICMP6_ECHO_REQUEST;
  // A datagram socket's identifier is the kernel's; it only hands us our own.
  return p[0] == echoType && Get16(p + 6) == seq && (!s.Raw || Get16(p + 4) == s.Ident);
}

bool SameAddr(const sockaddr_storage& dest, const unsigned char* addr) {
  if (dest.ss_family == AF_INET)
    return std::memcmp(&reinterpret_cast<const sockaddr_in&>(dest).sin_addr, addr, 4) == 0;
  return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(dest).sin6_addr, addr, 16) == 0;
}

bool IsError(int family, int type) {
  if (family == AF_INET)
    return type == ICMP_DEST_UNREACH || type == ICMP_SOURCE_QUENCH || type == ICMP_TIME_EXCEEDED ||
           type == ICMP_PARAMETERPROB;
  return type < 128;  // every ICMPv6 error type is below 128
}

// One ICMP message as received (with the IPv4 header on a raw IPv4 socket):
// true when it answers our request, with *out filled but for the time.
bool Match(const IcmpSocket& s, const sockaddr_storage& dest, uint16_t seq, const unsigned char* p,
           size_t len, sockaddr_storage from, int ttl, IcmpAnswer* out) {
  const bool v4 = s.Family == AF_INET;
  if (s.Raw && v4) {
    // The IPv4 header comes first: the sender and the TTL are taken from it.
    if (len < kIpv4MinHeader) return false;
    const size_t ihl = static_cast<size_t>(p[0] & 0x0f) * 4;
    if (ihl < kIpv4MinHeader || len < ihl || p[9] != IPPROTO_ICMP) return false;
    ttl = p[8];
    from = {};
    auto& src = reinterpret_cast<sockaddr_in&>(from);
    src.sin_family = AF_INET;
    std::memcpy(&src.sin_addr, p + 12, 4);
    p += ihl;
    len -= ihl;
    // The kernel does not check the ICMP checksum for a raw IPv4 socket (it
    // does for ICMPv6, and for datagram sockets): a damaged message is no
    // answer, as on those paths.
    if (Checksum(p, len) != 0) return false;
  }
  if (len < kHeader) return false;
  const int type = p[0];
  if (type == (v4 ? ICMP_ECHOREPLY : ICMP6_ECHO_REPLY)) {
    if (Get16(p + 6) != seq || (s.Raw && Get16(p + 4) != s.Ident)) return false;
    *out = {IP_SUCCESS, from, ttl, 0, static_cast<int32_t>(len - kHeader)};
    return true;
  }
  // Errors reach a datagram socket through its error queue, not here.
  if (!s.Raw || !IsError(s.Family, type)) return false;
  // An error quotes the IP header of the request it is about, and the
  // request's first bytes.
  const unsigned char* q = p + kHeader;
  const size_t qlen = len - kHeader;
  if (qlen < (v4 ? kIpv4MinHeader : kIpv6Header)) return false;
  const size_t qhead = v4 ? static_cast<size_t>(q[0] & 0x0f) * 4 : kIpv6Header;
  const int qproto = v4 ? q[9] : q[6];
  if (qhead < kIpv4MinHeader || qlen < qhead || qproto != (v4 ? int{IPPROTO_ICMP} : int{IPPROTO_ICMPV6}) ||
      !SameAddr(dest, q + (v4 ? 16 : 24)))
    return false;
  if (!OwnRequest(s, q + qhead, qlen - qhead, seq)) return false;
  *out = {IcmpErrorStatus(s.Family, type, p[1]), from, ttl, 0, 0};
  return true;
}

// The TTL or hop limit a control message carries; ttl when none does.
int TtlOf(msghdr* msg, int ttl) {
  for (cmsghdr* c = CMSG_FIRSTHDR(msg); c; c = CMSG_NXTHDR(msg, c)) {
    if (c->cmsg_len < CMSG_LEN(sizeof(int))) continue;
    if ((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) ||
        (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT)) {
      int v;
      std::memcpy(&v, CMSG_DATA(c), sizeof v);
      return v;
    }
  }
  return ttl;
}

// One entry of a datagram socket's error queue: true when it is an ICMP
// error about our request.  Errors the host raised itself (a neighbour that
// never answered) are no answer from the network.
bool MatchQueued(const IcmpSocket& s, uint16_t seq, msghdr* msg, const unsigned char* p,
                 size_t len, IcmpAnswer* out) {
  for (cmsghdr* c = CMSG_FIRSTHDR(msg); c; c = CMSG_NXTHDR(msg, c)) {
    const bool v4 = c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR;
    const bool v6 = c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR;
    if ((!v4 && !v6) || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) continue;
    sock_extended_err ee;
    std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
    if (ee.ee_origin != SO_EE_ORIGIN_ICMP && ee.ee_origin != SO_EE_ORIGIN_ICMP6) return false;
    if (!OwnRequest(s, p, len, seq)) return false;
    sockaddr_storage from = {};
    const size_t offLen = c->cmsg_len - CMSG_LEN(sizeof ee);
    const auto* off = reinterpret_cast<const unsigned char*>(SO_EE_OFFENDER(
        reinterpret_cast<sock_extended_err*>(CMSG_DATA(c))));
    const size_t want = s.Family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (offLen >= want) std::memcpy(&from, off, want);
    *out = {IcmpErrorStatus(s.Family, ee.ee_type, ee.ee_code), from, TtlOf(msg, 0), 0, 0};
    return true;
  }
  return false;
}

// Can a socket be bound to the address?  Then it is one of this host's.
bool IsOwnAddress(const sockaddr_storage& addr) {
  if (addr.ss_family != AF_INET && addr.ss_family != AF_INET6) return false;
  int32_t fd = SockOpen(addr.ss_family, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  sockaddr_storage a = addr;
  socklen_t len = sizeof(sockaddr_in);
  if (a.ss_family == AF_INET) {
    reinterpret_cast<sockaddr_in&>(a).sin_port = 0;
  } else {
    reinterpret_cast<sockaddr_in6&>(a).sin6_port = 0;
    len = sizeof(sockaddr_in6);
  }
  const bool own = SockBind(fd, a, len) == 0;
  SockClose(&fd);
  return own;
}

// Reads what is waiting (error queue first); true once our answer is found.
bool Drain(const IcmpSocket& s, const sockaddr_storage& dest, uint16_t seq,
           std::vector<unsigned char>& buf, IcmpAnswer* out) {
  for (int queue = s.Raw ? 1 : 0; queue < 2; ++queue) {
    const int flags = MSG_DONTWAIT | MSG_TRUNC | (queue == 0 ? MSG_ERRQUEUE : 0);
    // Bounded: a busy host's foreign traffic cannot hold us past the batch.
    for (int i = 0; i < 256; ++i) {
      sockaddr_storage from = {};
      alignas(cmsghdr) char control[512];
      iovec iov = {buf.data(), buf.size()};
      msghdr msg = {};
      msg.msg_name = &from;
      msg.msg_namelen = sizeof from;
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      const ssize_t n = recvmsg(s.Fd, &msg, flags);
      if (n < 0) {
        if (errno == EINTR) continue;
        break;  // nothing more here (a pending socket error is cleared by the read)
      }
      // The room holds the largest IP packet; a message cut short could be
      // neither sized nor checked.
      if (static_cast<size_t>(n) > buf.size()) continue;
      const size_t got = static_cast<size_t>(n);
      bool ok = queue == 0 ? MatchQueued(s, seq, &msg, buf.data(), got, out)
                                 : Match(s, dest, seq, buf.data(), got, from, TtlOf(&msg, 0), out);
      // An error report this host sent itself (a neighbour that never
      // answered) is no answer from the network.
      if (ok && out->Status != IP_SUCCESS && IsOwnAddress(out->From)) ok = false;
      if (ok) return true;
    }
  }
  return false;
}

}  // namespace

int IcmpErrorStatus(int family, int type, int code) {
  if (family == AF_INET) {
    switch (type) {
      case ICMP_DEST_UNREACH:
        switch (code) {
          case ICMP_NET_UNREACH:
          case ICMP_NET_UNKNOWN:
          case ICMP_NET_ANO:
          case ICMP_NET_UNR_TOS: return IP_DEST_NET_UNREACHABLE;
          case ICMP_PROT_UNREACH: return IP_DEST_PROT_UNREACHABLE;
          case ICMP_PORT_UNREACH: return IP_DEST_PORT_UNREACHABLE;
          case ICMP_FRAG_NEEDED: return IP_PACKET_TOO_BIG;
          case ICMP_SR_FAILED: return IP_BAD_ROUTE;
          default: return IP_DEST_HOST_UNREACHABLE;
        }
      case ICMP_TIME_EXCEEDED:
        return code == ICMP_EXC_FRAGTIME ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
      case ICMP_PARAMETERPROB: return IP_PARAM_PROBLEM;
      case ICMP_SOURCE_QUENCH: return IP_SOURCE_QUENCH;
      default: return IP_GENERAL_FAILURE;
    }
  }
  switch (type) {
    case ICMP6_DST_UNREACH:
      switch (code) {
        case ICMP6_DST_UNREACH_NOROUTE: return IP_DEST_NET_UNREACHABLE;
        case ICMP6_DST_UNREACH_ADMIN: return IP_DEST_PROT_UNREACHABLE;
        case ICMP6_DST_UNREACH_BEYONDSCOPE: return IP_DEST_SCOPE_MISMATCH;
        case ICMP6_DST_UNREACH_ADDR: return IP_DEST_HOST_UNREACHABLE;
        case ICMP6_DST_UNREACH_NOPORT: return IP_DEST_PORT_UNREACHABLE;
        default: return IP_DEST_UNREACHABLE;
      }
    case ICMP6_PACKET_TOO_BIG: return IP_PACKET_TOO_BIG;
    case ICMP6_TIME_EXCEEDED:
      return code == ICMP6_TIME_EXCEED_REASSEMBLY ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case ICMP6_PARAM_PROB:
      switch (code) {
        case ICMP6_PARAMPROB_HEADER: return IP_BAD_HEADER;
        case ICMP6_PARAMPROB_NEXTHEADER: return IP_UNRECOGNIZED_NEXT_HEADER;
        default: return IP_PARAM_PROBLEM;
      }
    default: return IP_ICMP_ERROR;
  }
}

int IcmpOpen(int family, IcmpSocket* out) {
  *out = {-1, family, false, 0};
  const int proto = family == AF_INET ? int{IPPROTO_ICMP} : int{IPPROTO_ICMPV6};
  int fd = SockOpen(family, SOCK_DGRAM, proto);
  if (fd < 0) {
    fd = SockOpen(family, SOCK_RAW, proto);
    if (fd < 0) return fd;
    out->Raw = true;
  }
  out->Fd = fd;
  out->Ident = static_cast<uint16_t>(getpid() * 31 + gIdentSeed.fetch_add(1));
  // Replies report their TTL; errors come through the error queue; the
  // request goes out without "don't fragment", as a plain echo does.
  if (family == AF_INET) {
    SetInt(fd, IPPROTO_IP, IP_RECVTTL, 1);
    if (!out->Raw) SetInt(fd, IPPROTO_IP, IP_RECVERR, 1);
    SetInt(fd, IPPROTO_IP, IP_MTU_DISCOVER, IP_PMTUDISC_DONT);
  } else {
    SetInt(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, 1);
    if (!out->Raw) SetInt(fd, IPPROTO_IPV6, IPV6_RECVERR, 1);
    SetInt(fd, IPPROTO_IPV6, IPV6_MTU_DISCOVER, IPV6_PMTUDISC_DONT);
  }
  SockSetNonBlocking(fd, true);
  return 0;
}

void IcmpClose(IcmpSocket* s) { SockClose(&s->Fd); }

int IcmpEcho(const IcmpSocket& s, const sockaddr_storage& dest, socklen_t destLen, int ttl,
             uint16_t seq, const char* data, int len, int timeoutMs, IcmpAnswer* out) {
  *out = {IP_REQ_TIMED_OUT, {}, 0, 0, 0};
  if (s.Fd < 0 || len < 0 || len > ICMP_DATA_MAX) return -IP_GENERAL_FAILURE;
  // TTL 0 would never leave the host: it stands for the system's default.
  const int hops = ttl >= 1 && ttl <= 255 ? ttl : -1;
  const int r = s.Family == AF_INET ? SetInt(s.Fd, IPPROTO_IP, IP_TTL, hops)
                                    : SetInt(s.Fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, hops);
  if (r < 0) return -StatusOfErrno(-r);

  std::vector<unsigned char> msg(kHeader + static_cast<size_t>(len));
  msg[0] = s.Family == AF_INET ? ICMP_ECHO : ICMP6_ECHO_REQUEST;
  Put16(&msg[4], s.Ident);
  Put16(&msg[6], seq);
  if (len > 0) std::memcpy(&msg[kHeader], data, len);
  // The kernel sums ICMPv6 and datagram-socket messages itself.
  if (s.Raw && s.Family == AF_INET) Put16(&msg[2], Checksum(msg.data(), msg.size()));

  // Answers to earlier requests carry other sequence numbers and are read
  // and dropped with any foreign traffic.
  std::vector<unsigned char> buf(kAnswerRoom);

  const int64_t start = SockNowMs();
  const int sent = SockSendTo(s.Fd, reinterpret_cast<const char*>(msg.data()),
                              static_cast<int>(msg.size()), &dest, destLen);
  if (sent < 0) return -StatusOfErrno(-sent);
  for (;;) {
    const int64_t left = start + timeoutMs - SockNowMs();
    if (left <= 0) break;
    short revents = 0;
    const int w = SockWaitOne(s.Fd, POLLIN | POLLERR, &revents, static_cast<int>(left));
    if (w < 0) break;
    if (w == 0) continue;
    if (Drain(s, dest, seq, buf, out)) {
      const int64_t rtt = SockNowMs() - start;
      out->RoundTripMs = static_cast<int32_t>(rtt < 0 ? 0 : rtt);
      return 1;
    }
  }
  *out = {IP_REQ_TIMED_OUT, {}, 0, 0, 0};
  return 0;
}
