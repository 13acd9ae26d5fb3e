// The telnet session's transfers: received chunks go through the decoder
// into the buffer of cleaned bytes; the decoder's answers are queued and
// sent after each chunk.
#include "services/telnet/telnet_session.h"

#include <algorithm>
#include <cstring>

#include "engine/core/run_state.h"
#include "engine/log/hex_dump.h"
#include "engine/log/log.h"
#include "engine/util/util.h"
#include "services/sockets/socket_layer.h"
#include "services/sockets/statement_helpers.h"

TelnetSession sgTelnet = {0, -1, 0, {}, 0, {}, 0, 0, 0, 0, {}, {}, {}, 0};

namespace {

constexpr int kReplySeconds = 5;    // answers go out within their own five seconds
constexpr int kReplyFlushAt = 510;  // a queue this long is sent before it grows

void HandOut(char* dest, int count) {
  std::memcpy(dest, sgTelnet.RecvBuf.data(), count);
  TarvTelnetDeleteTcpBuf(0, count);
}

int NotOpen() { return NmsRunError(-1, "telnet.status = CLOSED"); }

// The automatic answer: a chunk that holds the trigger text, as it came
// from the connection, gets the answer text sent back.
void AnswerTrigger(const char* chunk, int len) {
  if (sgTelnet.OnRecvLen < 1 || len < sgTelnet.OnRecvLen) return;
  if (TarvMemFind4(chunk, len, sgTelnet.OnRecv.data(), sgTelnet.OnRecvLen) < 0) return;
  TarvDebugLog("\ntelnet_recv :onrecv receved expected string");
  TarvTelnetSend(sgTelnet.AutoSend.data(), sgTelnet.AutoSendLen, sgRun.StepTimeout);
}

}  // namespace

void TelnetSessionReset() {
  WinCloseSocket(&sgTelnet.Socket);
  sgTelnet.Open = 0;
  sgTelnet.recvBufLen = 0;
  sgTelnet.DataLen = 0;
  sgTelnet.AnswersLost = 0;
  TelnetDecoderClear(&sgTelnet.Decoder);
}

void TelnetStateClear() {
  WinCloseSocket(&sgTelnet.Socket);
  sgTelnet = TelnetSession{};
  sgTelnet.Socket = -1;
}

int TarvTelnetDeleteTcpBuf(int offset, int len) {
  if (offset < 0 || len < 0 || int64_t{offset} + len > sgTelnet.recvBufLen)
    return TarvReturn(-1, "TarvTelnetDeleteTcpBuf Len=%d,too big", len);
  sgTelnet.recvBufLen -= len;
  std::memmove(sgTelnet.RecvBuf.data() + offset, sgTelnet.RecvBuf.data() + offset + len,
               sgTelnet.recvBufLen - offset);
  sgTelnet.DataLen = sgTelnet.recvBufLen;
  if (offset != 0 || len != 1)
    TarvReturn(0, "TelnetDeleteTcpBuf p=%d,delLen=%d,DataLen=%d .", offset, len,
               sgTelnet.DataLen);
  return sgTelnet.recvBufLen;
}

int TarvTelnetSend(const char* src, int len, int seconds) {
  if (!sgTelnet.Open) return NotOpen();
  if (len < 1) return 0;
  const int sent =
      WinTcpSendAll(&sgTelnet.Socket, src, len, seconds, "\n\r\nTarvTelnetSend iLen = %d ");
  if (sent >= len) return TarvReturn(sent, "TarvTelnetSend: send return,len=%d.", sent);
  return NmsRunError(sent, "TarvTelnetSend: send return,len=%d.", sent);
}

int TarvTelnetFlushSend(int count) {
  if (sgTelnet.AnswersLost) sgTelnet.sendBufLen = 0;
  const int n = count < 1 || count > sgTelnet.sendBufLen ? sgTelnet.sendBufLen : count;
  if (n < 1) return 0;
  const int sent = TarvTelnetSend(sgTelnet.SendBuf.data(), n, kReplySeconds);
  if (sent < 1) {
    // A peer that takes no answers has gone or stopped reading: the rest of
    // the session's answers are dropped unsent, so that a long run of
    // requests already received costs one error (and one pause), not one
    // for every answer, while what it sent is still received.
    sgTelnet.sendBufLen = 0;
    sgTelnet.AnswersLost = 1;
    return sent;
  }
  sgTelnet.sendBufLen -= sent;
  std::memmove(sgTelnet.SendBuf.data(), sgTelnet.SendBuf.data() + sent, sgTelnet.sendBufLen);
  return sent;
}

void TarvTelnetSendChar(uint8_t byte) {
  if (sgTelnet.sendBufLen >= kReplyFlushAt) TarvTelnetFlushSend(kReplyFlushAt);
  if (sgTelnet.sendBufLen >= TELNET_SEND_BUF) {
    NmsRunError(-1, "TarvTelnetSendChar sgTelnet.sendBufLen >= SIZE_1K");
    return;
  }
  sgTelnet.SendBuf[sgTelnet.sendBufLen++] = static_cast<char>(byte);
}

int TarvTelnetCheck(const char* chunk, int len) {
  TarvDebugLog("\nTelnet->TarvTelnetCheck( ),sgTelnet.recvBufLen=%d", sgTelnet.recvBufLen);
  // The caller leaves room for the chunk and a held ESC behind the cleaned bytes.
  const int64_t room = TELNET_RECV_BUF - int64_t{sgTelnet.recvBufLen};
  if (len + 1 > room) len = static_cast<int>(room - 1);
  if (len > 0) {
    sgTelnet.recvBufLen += TelnetDecode(&sgTelnet.Decoder, chunk, len,
                                        sgTelnet.RecvBuf.data() + sgTelnet.recvBufLen,
                                        TarvTelnetSendChar);
    sgTelnet.DataLen = sgTelnet.recvBufLen;
  }
  if (sgTelnet.sendBufLen > 0) TarvTelnetFlushSend(0);
  return sgTelnet.recvBufLen;
}

int TarvTelnetRecv(char* dest, int wanted, int seconds) {
  if (!sgTelnet.Open) return NotOpen();
  if (wanted < 1) return 0;
  wanted = std::min(wanted, TELNET_RECV_BUF);
  if (sgTelnet.DataLen >= wanted) {
    HandOut(dest, wanted);
    return wanted;
  }
  const auto start = SocketClock::now();
  char chunk[TELNET_RECV_BUF];
  do {
    // One byte of room stays for an ESC the decoder may be holding.
    const int room = TELNET_RECV_BUF - 1 - sgTelnet.recvBufLen;
    if (SecondsSince(start) > seconds || room < 1) break;
    const int before = sgTelnet.recvBufLen;
    const int n = WinTcpRecv(&sgTelnet.Socket, chunk, room, Left(seconds, start));
    TarvDebugLog("\n\r\nsgTelnet.recvBufLen=%d,TarvTelnetRecv iLen = %d ", before, n);
    if (n < 1) break;
    HexLog(chunk, n);
    AnswerTrigger(chunk, n);
    TarvTelnetCheck(chunk, n);
    TarvDebugLog("\n\r\n ilDataLen = %d ", sgTelnet.DataLen);
  } while (sgTelnet.DataLen < wanted);
  const int count = std::min(wanted, static_cast<int>(sgTelnet.DataLen));
  HandOut(dest, count);
  return TarvReturn(count, "TarvTelnetRecv: recv return,len=%d.", count);
}
