// Hardware (MAC) addresses of IPv4 hosts on the local links.
#pragma once
#include <netinet/in.h>

#include <cstdint>

inline constexpr int NEIGHBOUR_MAC_MAX = 8;  // room for one hardware address

// The hardware address of an IPv4 address, as ARP would give it: for an
// address of one of our own interfaces that interface's address (all zero
// for loopback); otherwise the kernel's neighbour table, prompting
// resolution with one datagram to the address when it holds no complete
// entry, and looking again until an entry completes or timeoutMs ends.
// The address's length (1..NEIGHBOUR_MAC_MAX) into *len, 0 when no
// neighbour answered.  Returns 0, or -errno when the address cannot be
// reached on a local link (-ENETUNREACH: no route; -EHOSTUNREACH: it lies
// behind a router; -EINVAL: not a unicast address).
int NeighbourMacV4(in_addr addr, uint8_t mac[NEIGHBOUR_MAC_MAX], int* len, int timeoutMs);

// The table entry for the address when it is complete: its length, or 0.
int NeighbourLookupV4(in_addr addr, uint8_t mac[NEIGHBOUR_MAC_MAX]);
