// The tcp statements' connection: one raw TCP connection at a time, as a
// client or as a one-shot server, with a receive buffer in front of it.
#pragma once
#include <array>
#include <cstdint>

struct Family;
const Family* SocketsFamily();

int tcp_server_listen_port_a4();
int tcp_connect_ip_a3_port_a5();
int tcp_send_a2();
int tcp_send_text();
int tcp_recv_a2();
int tcp_recv_expect_a3();
int tcp_recv_for_a3_bytes();
int tcp_recv_for_a3_seconds();
int tcp_close();

inline constexpr int TCP_BUF = 2048;

struct TcpState {
  int32_t DataSocket;             // the connection; -1: none
  int32_t ListenSocket;           // closed by tcp.close; -1: none
  int32_t TcpMode;                // 1 while a connection is in use
  std::array<char, TCP_BUF> Buf;  // received, not yet handed to a statement
  int32_t BufLen;
};

extern TcpState sgTcp;

// Closes the record's sockets and clears it (buffered bytes too).
void TcpStateClear();

// Hands out up to `wanted` bytes (at most TCP_BUF), first from the receive
// buffer, then from the connection within `seconds`: the count, never negative.
int TarvTcpRecv(char* dest, int wanted, int seconds);
// Sends all len bytes within `seconds`: the count sent; a shortfall is a run
// error whose code is that count.
int TarvTcpSend(const char* src, int len, int seconds);
// Removes len bytes at offset from the receive buffer: the new length, or -1
// when they are not all there.
int TarvTcpDeleteTcpBuf(int offset, int len);
