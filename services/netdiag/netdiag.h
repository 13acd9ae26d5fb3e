// The network-diagnosis statements: name look-ups (dns.get, dns.set
// ipmode), ICMP echo (ping.ip) and hardware addresses of neighbours
// (arp.get), with the wrappers the statements call.
#pragma once
#include <netdb.h>

#include "platform/socket.h"

struct Family;
const Family* NetdiagFamily();

int dns_get_var_a3_host_a5();
int dns_set_ipmode_a3();
int ping_ip_a2_ttl_a4_size_a6();
int arp_get_var_a3_ip_a5();

inline constexpr int NETDIAG_OUT = 1024;  // the statements' result buffer

// First IPv4 address of the host as dotted text into out (room bytes): its
// length, 0 when the host has none, or a negative code after a run error.
int WinDnsGetIpV4(const char* host, char* out, int room);
// Last IPv6 address of the host into out (room bytes, cut at 46): 0, or -1
// after a run error.
int WinDnsGetIpV6(const char* host, char* out, int room);
// Pings the address (it passed the IPv4 / IPv6 syntax check) and publishes
// the ping variables: 0 on success, a negative code after a run error.
int WinPing(const char* ip, int ttl, int size);
int WinPingV6(const char* ip, int ttl, int size);
// MAC text "XX-XX-XX-XX-XX-XX" of an IPv4 address into out: its length, or
// a negative code after a warning entry.
int WinArpGetMac(const char* ip, char* out, int room);

// The ping status name of an IP_STATUS number.
const char* PingStatusName(int status, bool ipv6);

// Writes the trace entries of a getaddrinfo answer, numbered index (the
// long form for dns.get, the short form for ping), or of a whole list.
void DnsTraceAnswer(const SockAddrInfo& answer, int index, bool longForm);
void DnsTraceAnswers(const SockAddrInfo* answers, int count, bool longForm);
