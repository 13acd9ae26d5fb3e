// The telnet session: one connection, the decoder in front of it, the
// cleaned bytes waiting for a statement, the queue of negotiation answers
// and the automatic answer to a trigger text.
#pragma once
#include <array>
#include <cstdint>

#include "services/telnet/telnet_decoder.h"

struct Family;
const Family* TelnetFamily();

inline constexpr int TELNET_RECV_BUF = 2048;
inline constexpr int TELNET_SEND_BUF = 1024;  // SIZE_1K
inline constexpr int TELNET_TRIGGER_MAX = 1024;

struct TelnetSession {
  int32_t Open;    // 1 after a successful connect
  int32_t Socket;  // -1: none
  int32_t sendBufLen;
  std::array<char, TELNET_SEND_BUF> SendBuf;  // negotiation answers not yet sent
  int32_t recvBufLen;
  std::array<char, TELNET_RECV_BUF> RecvBuf;  // cleaned bytes, not yet handed out
  int32_t DataLen;  // bytes of RecvBuf that may be handed out: all of them
  int32_t Delay;    // milliseconds after each byte a script sends; 0: none
  int32_t OnRecvLen;
  int32_t AutoSendLen;
  std::array<char, TELNET_TRIGGER_MAX> OnRecv;
  std::array<char, TELNET_TRIGGER_MAX> AutoSend;
  TelnetDecoder Decoder;
  int32_t AnswersLost;  // 1 once an answer could not be sent: later ones are dropped
};
extern TelnetSession sgTelnet;

// Closes the socket, if any, and clears the whole record.
void TelnetStateClear();
// Closes the socket, if any, and forgets the session's received bytes, the
// decoder's state and a failed answer; the answer queue, delay and trigger stay.
void TelnetSessionReset();

// Hands out up to `wanted` cleaned bytes (at most TELNET_RECV_BUF), first
// those waiting, then from the connection within `seconds`: the count, or -1
// (a run error) when no session is open.
int TarvTelnetRecv(char* dest, int wanted, int seconds);
// Sends len bytes within `seconds`: the count sent, or -1 (a run error) when
// no session is open; a shortfall is a run error whose code is the count.
int TarvTelnetSend(const char* src, int len, int seconds);
// Decodes one received chunk behind the cleaned bytes and sends the queued
// answers: the number of cleaned bytes.
int TarvTelnetCheck(const char* chunk, int len);
// Queues one answer byte.
void TarvTelnetSendChar(uint8_t byte);
// Sends up to count queued bytes (count < 1 or beyond the queue: all) within
// five seconds: the count sent.
int TarvTelnetFlushSend(int count);
// Removes len cleaned bytes at offset: the new length, or -1 when they are
// not all there.
int TarvTelnetDeleteTcpBuf(int offset, int len);

int telnet_connect_ip_a3_port_a5();
int telnet_recv_expect_a3();
int telnet_recv_for_a3_seconds();
int telnet_set_onrecv_a3_send_a5();
int telnet_set_delay_a3_ms_after_per_byte_send();
int telnet_send_a2();
int telnet_send_text();
int telnet_close();
