// Tests that need the IPv6 loopback skip, saying so, where ::1 cannot be
// bound (a container or host without IPv6).
#pragma once
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvtest {

inline bool Ipv6LoopbackUsable() {
  static const bool usable = [] {
    const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
  }();
  return usable;
}

}  // namespace tarvtest

#define TARV_SKIP_WITHOUT_IPV6()                                                         \
  if (!tarvtest::Ipv6LoopbackUsable())                                                   \
  GTEST_SKIP() << "skipped: the IPv6 loopback ::1 cannot be bound on this machine, and " \
                  "this test needs it"
