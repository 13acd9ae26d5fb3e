// Name look-ups through the system resolver (hosts file, DNS, as the
// system's configuration says), into records of fixed size.
#pragma once
#include <netinet/in.h>

#include <array>
#include <cstdint>

#include "platform/socket.h"

inline constexpr int RESOLVE_NAME = 256;     // a name with its NUL
inline constexpr int RESOLVE_ALIASES = 16;   // aliases kept of one host
inline constexpr int RESOLVE_ADDRS = 32;     // IPv4 addresses kept of one host

// What the IPv4 host look-up found, in the resolver's order.  Longer names
// are cut; aliases and addresses beyond the limits are left out.
struct HostV4 {
  std::array<char, RESOLVE_NAME> Name;
  int32_t AliasCount;
  std::array<std::array<char, RESOLVE_NAME>, RESOLVE_ALIASES> Aliases;
  int32_t AddrType;  // AF_INET
  int32_t AddrLen;   // bytes of one address
  int32_t AddrCount;
  std::array<in_addr, RESOLVE_ADDRS> Addrs;
};

// The host look-up's outcome.
enum ResolveError : int32_t {
  RESOLVE_OK = 0,
  RESOLVE_NOT_FOUND = 1,  // no such host
  RESOLVE_NO_DATA = 2,    // the name exists but has no IPv4 address
  RESOLVE_TRY_AGAIN = 3,  // the resolver gave no answer this time
  RESOLVE_FAILED = 4,     // any other failure
};

// IPv4 look-up of a host name (or dotted address), as gethostbyname gives
// it: official name, aliases and addresses.
ResolveError ResolveHostV4(const char* host, HostV4* out);

inline constexpr int RESOLVE_ANSWERS = 32;  // answers kept of one look-up

// getaddrinfo of a name for TCP streams of any family (no flags, as a
// plain look-up asks): at most room answers in the resolver's order into
// out and their number into *count.  With numericOnly no name is ever
// looked up.  0, or the resolver's non-zero error code
// (SockResolveErrorText).
int ResolveHostAny(const char* host, bool numericOnly, SockAddrInfo* out, int room, int* count);
// The same look-up of a name with every answer kept in *out.
int ResolveHostAll(const char* host, SockAddrList* out);
