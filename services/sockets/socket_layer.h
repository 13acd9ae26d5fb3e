// The socket layer of the network statements: start-up, TCP listen, accept
// and connect for IPv4 and IPv6, bounded TCP receive and send, UDP client
// and server sockets with a remembered peer, and the two address checks.
//
// Sockets are descriptors; -1 is "no socket".  The functions that close a
// socket on an error take the caller's field and set it to -1.  Every
// bounded wait is max(1, t) whole seconds of a step time-out t.
#pragma once
#include <sys/socket.h>

#include <array>
#include <cstdint>

inline constexpr int UDP_BUF = 2048;

// The UDP statements' socket and peer.
struct UdpState {
  int32_t Socket;   // -1: none
  int32_t Mode;     // 0 client (connected to the peer), 1 server (the peer is the last sender)
  int32_t PeerLen;  // bytes of addrClient in use, at most 128
  sockaddr_storage addrClient;
  std::array<char, UDP_BUF> Buf;
  int32_t LastLen;  // length of the last datagram read into Buf
};

extern UdpState sgUdp;

// Closes the record's socket, if any, and clears the record.
void UdpStateClear();

// 0 when the socket library is (now) ready; -1 when it could not be started.
int TarvWsaStartup();

// Closes *sock when it holds a socket and sets it to -1.
void WinCloseSocket(int32_t* sock);

// Listening IPv4 TCP socket on every address, backlog 5; -1, -3, -4 on failure.
int WinTcpListen(int port);
// Listens on every local address (IPv4 and IPv6) and waits without limit
// for the first client: the accepted connection (blocking), with its
// address in tcp.client.ip and tcp.client.port; -1, -5, -6, -7 on failure.
// The listening sockets are closed before it returns.
int WinTcpListenV6(int port);
// Connected IPv4 TCP socket, left non-blocking; -1 on every failure.  The
// text must have passed TarvIsIpV4.
int WinTcpConnect(const char* ipv4, int port);
// Connected TCP socket over IPv6 (dual-stack, blocking); -1 on every failure.
int WinTcpConnect2V6(const char* ipv6, int port);
// One receive within max(1, seconds) seconds: the count (1..capacity), or 0
// on time-out, orderly close or error.  Closes *sock on a socket error.
int WinTcpRecv(int32_t* sock, char* buf, int capacity, int seconds);
// One send within max(1, seconds) seconds: the bytes accepted (1..len), or 0
// on time-out, close or error.  Closes *sock on a socket error.
int WinTcpSend(int32_t* sock, const char* buf, int len, int seconds);

// Sends len bytes with one WinTcpSend after another while no more than
// `seconds` have passed, tracing each part with `trace` (one %d, the part's
// length) and its hex dump: the count sent.
int WinTcpSendAll(int32_t* sock, const char* src, int len, int seconds, const char* trace);

// IPv4 UDP socket connected to the peer; sets udp.client.localport; -1 on failure.
int WinUdpConnect2(const char* ipv4, int port);
// IPv6 UDP socket connected to the peer, which is kept in sgUdp; -1 on failure.
int WinUdpConnect2V6(const char* ipv6, int port);
// Binds every local address and waits without limit for the first datagram:
// the socket it is queued on (it stays queued); its sender becomes the peer
// and is published in udp.client.ip and udp.client.port; -1, -5..-8 on failure.
// A datagram longer than UDP_BUF is dropped with a warning, and the wait goes on.
int WinUdpListenV6(int port);
// One datagram within max(1, seconds) seconds, or without limit when seconds
// is 0: its length, or 0 on time-out or error.  The sender becomes the peer.
// Closes *sock on a socket error.
int WinUdpRecv4(int32_t* sock, char* buf, int capacity, int seconds);
// Sends one datagram: on the connected socket in client mode, to the peer in
// server mode.  The bytes sent, or -1.
int WinUdpSend3(int sock, const char* buf, int len);
// IPv4 UDP socket bound to every address; -1 on failure.
int WinUdpListen(int port);
// One blocking receive whose sender becomes the peer: its length, or a
// negative result.
int WinUdpRecv3(int sock, char* buf, int capacity);

// The address as the traces and variables show it: "a.b.c.d:port", or
// "[v6]:port"; -1 when it cannot be shown in room bytes.
int WinAddrText(const sockaddr_storage& addr, socklen_t len, char* dest, int room);
// Splits an address text at its last ':': the part behind it becomes the
// port variable, the part before it with every '[' and ']' removed the ip
// variable.  Without a ':' only the ip variable is set, from the whole text.
void TarvSetAddrVars(const char* text, const char* ipVar, const char* portVar);

// Address syntax checks, no name resolution: 0 when the text passes.
// IPv4: -1, -4..-8; IPv6: -1, -4..-6.
int TarvIsIpV4(const char* text);
int TarvIsIpV6(const char* text);
// The four byte values of a text that passed TarvIsIpV4, read as decimal
// (an empty part reads as 0).
void TarvIpV4Parts(const char* text, uint8_t parts[4]);
