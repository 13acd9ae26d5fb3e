// ICMP echo over IPv4 and IPv6: one request, one matching answer.
//
// The socket is an ICMP datagram socket when the system lets this process
// open one (net.ipv4.ping_group_range), otherwise a raw socket.  An answer
// counts only when it belongs to our request: an echo reply with our
// identifier and sequence, or an ICMP error that quotes that request.
// Outcomes use the IP_STATUS numbers the ping statement reports.
#pragma once
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

// IP_STATUS numbers.
inline constexpr int IP_SUCCESS = 0;
inline constexpr int IP_BUF_TOO_SMALL = 11001;
inline constexpr int IP_DEST_NET_UNREACHABLE = 11002;
inline constexpr int IP_DEST_HOST_UNREACHABLE = 11003;
inline constexpr int IP_DEST_PROT_UNREACHABLE = 11004;
inline constexpr int IP_DEST_PORT_UNREACHABLE = 11005;
inline constexpr int IP_NO_RESOURCES = 11006;
inline constexpr int IP_PACKET_TOO_BIG = 11009;
inline constexpr int IP_REQ_TIMED_OUT = 11010;
inline constexpr int IP_BAD_ROUTE = 11012;
inline constexpr int IP_TTL_EXPIRED_TRANSIT = 11013;
inline constexpr int IP_TTL_EXPIRED_REASSEM = 11014;
inline constexpr int IP_PARAM_PROBLEM = 11015;
inline constexpr int IP_SOURCE_QUENCH = 11016;
inline constexpr int IP_BAD_DESTINATION = 11018;
inline constexpr int IP_DEST_UNREACHABLE = 11040;
inline constexpr int IP_BAD_HEADER = 11042;
inline constexpr int IP_UNRECOGNIZED_NEXT_HEADER = 11043;
inline constexpr int IP_ICMP_ERROR = 11044;
inline constexpr int IP_DEST_SCOPE_MISMATCH = 11045;
inline constexpr int IP_GENERAL_FAILURE = 11050;

inline constexpr int ICMP_DATA_MAX = 65500;  // echo data bytes one request may carry

// An open echo socket of one family.
struct IcmpSocket {
  int32_t Fd;       // -1: none
  int32_t Family;   // AF_INET or AF_INET6
  bool Raw;         // raw socket (we build and check the whole ICMP message)
  uint16_t Ident;   // identifier of our requests
};

// Opens an echo socket: datagram kind first, raw when that is refused.
// 0, or -errno of the raw attempt.
int IcmpOpen(int family, IcmpSocket* out);
// Closes the socket and sets its descriptor to -1.
void IcmpClose(IcmpSocket* s);

// The answer to one echo request.
struct IcmpAnswer {
  int32_t Status;           // IP_STATUS number; IP_REQ_TIMED_OUT when none came
  sockaddr_storage From;    // who answered: the target, or the router that reported an error
  int32_t Ttl;              // TTL / hop limit the answer arrived with; 0 when unknown
  int32_t RoundTripMs;      // whole milliseconds from the send to the answer
  int32_t DataLen;          // echo data bytes of a reply (0 for an error report)
};

// Sends one echo request with the TTL (hop limit) and data to dest, and
// waits at most timeoutMs for its answer; other traffic on the socket is
// read and dropped.  1 with an answer in *out (Status says which), 0 when
// none came in time, or a negative IP_STATUS-style failure of the send
// (-IP_DEST_NET_UNREACHABLE, -IP_GENERAL_FAILURE, ...).
int IcmpEcho(const IcmpSocket& s, const sockaddr_storage& dest, socklen_t destLen, int ttl,
             uint16_t seq, const char* data, int len, int timeoutMs, IcmpAnswer* out);

// The IP_STATUS number of an ICMP error message of the family.
int IcmpErrorStatus(int family, int type, int code);
