// Name look-ups through the system resolver.
#include "platform/resolver.h"

#include <netdb.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

void CopyName(const char* src, std::array<char, RESOLVE_NAME>* dest) {
  dest->fill(0);
  if (src) std::strncpy(dest->data(), src, dest->size() - 1);
}

}  // namespace

ResolveError ResolveHostV4(const char* host, HostV4* out) {
  std::memset(out, 0, sizeof *out);
  hostent entry = {};
  hostent* found = nullptr;
  int herr = 0;
  // The reentrant call asks for its work room; grow it within a bound.
  std::vector<char> room(8192);
  int r;
  while ((r = gethostbyname2_r(host, AF_INET, &entry, room.data(), room.size(), &found, &herr)) ==
             ERANGE &&
         room.size() < (1u << 20))
    room.resize(room.size() * 2);
  if (r != 0 || !found) {
    switch (herr) {
      case HOST_NOT_FOUND: return RESOLVE_NOT_FOUND;
      case NO_DATA: return RESOLVE_NO_DATA;
      case TRY_AGAIN: return RESOLVE_TRY_AGAIN;
      default: return RESOLVE_FAILED;
    }
  }
  CopyName(found->h_name, &out->Name);
  for (char** a = found->h_aliases; a && *a && out->AliasCount < RESOLVE_ALIASES; ++a)
    CopyName(*a, &out->Aliases[out->AliasCount++]);
  out->AddrType = found->h_addrtype;
  out->AddrLen = found->h_length;
  if (found->h_addrtype == AF_INET && found->h_length == sizeof(in_addr))
    for (char** a = found->h_addr_list; a && *a && out->AddrCount < RESOLVE_ADDRS; ++a)
      std::memcpy(&out->Addrs[out->AddrCount++], *a, sizeof(in_addr));
  return RESOLVE_OK;
}

namespace {
constexpr int kAnyFamily = AF_UNSPEC;
constexpr int kAnyType = SOCK_STREAM;
constexpr int kAnyProtocol = IPPROTO_TCP;
}  // namespace

int ResolveHostAny(const char* host, bool numericOnly, SockAddrInfo* out, int room, int* count) {
  return SockGetAddrInfo(host, nullptr, numericOnly ? AI_NUMERICHOST : 0, kAnyFamily, kAnyType,
                         kAnyProtocol, out, room, count);
}

int ResolveHostAll(const char* host, SockAddrList* out) {
  return out->Resolve(host, nullptr, 0, kAnyFamily, kAnyType, kAnyProtocol);
}
