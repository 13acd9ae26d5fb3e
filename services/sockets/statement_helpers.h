// What the socket statements share: the step's clock in whole seconds and
// the checks of their length and number arguments.
#pragma once
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string_view>

#include "engine/core/text_buffer.h"

using SocketClock = std::chrono::steady_clock;

inline int64_t SecondsSince(SocketClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::seconds>(SocketClock::now() - start).count();
}

// Seconds left of a budget, kept within the int range the waits take.
inline int Left(int64_t budget, SocketClock::time_point start) {
  return static_cast<int>(
      std::clamp<int64_t>(budget - SecondsSince(start), INT32_MIN, INT32_MAX));
}

// The end of a wait of the step time-out (at least a second) from now, in
// SockNowMs time.
int64_t StepDeadlineMs();

// Length of argument w in 1..max; on failure the run error's code is -w.
bool ArgLength(int w, int max);
// Whole-number argument w in lo..hi into *value (and its integer slot); on
// failure the run error's code is -w.
bool ArgNumber(int w, int lo, int hi, int* value);

// Appends what a receive statement takes to the text.  The first append
// the full text refuses is the statement's one counted error; what comes
// after it is still taken off the connection but dropped, so that a flood
// costs one error (and its pause), not one per piece.
class TextAppender {
 public:
  void Add(const char* data, int len) {
    if (appending_ && TextAdd(data, len) < 0) appending_ = false;
  }

 private:
  bool appending_ = true;
};

// How an expect loop ended.
enum class ExpectEnd { Match, TimeOut, NoData };

// A source of received bytes for the expect loop: Take hands out one byte
// within `seconds` (its count, below 1 when none came); Ready points at the
// bytes Take can hand out without waiting and tells their count, and Skip
// hands out the first n of them as n calls of Take would; Settle is called
// before the loop ends, so a source that hands out bytes it still holds can
// give them up in one move.
struct ExpectSource {
  int (*Take)(char* dest, int seconds);
  int (*Ready)(const char** data);
  void (*Skip)(int n);
  void (*Settle)();
};

// Reads until the received bytes end in `expect` (1 to 1022 bytes), within
// the step time-out from now (at least a second).  Everything read goes to
// the text buffer, in 512 byte parts while waiting and the rest when the
// loop ends, whatever the end, through one TextAppender; *count gets the
// last count of Take when it ends with NoData.
ExpectEnd ExpectText(std::string_view expect, const ExpectSource& source, int* count);

// Receives for `seconds` with recv (wanting 1020 bytes at a time into a
// cleared buffer, waiting the seconds left), appending what comes to the
// text through one TextAppender and pausing a second after a receive that
// got nothing.  0, or the first negative count of recv, which ends it.
int ReceiveForSeconds(int seconds, int (*recv)(char* dest, int wanted, int seconds));

// The connect of tcp.connect and telnet.connect: argument 3 an IPv4 or IPv6
// address of at most 250 bytes, argument 5 a port in 1..65534.  The
// connected socket; or, once the run error is counted (its message names
// the statement), -99 when the connect failed and another negative result
// when the arguments were refused.
int ConnectHostPort(const char* name);

// The TCP connect to the address in argument word w (an IPv4, else an IPv6
// address) at port.  The connected socket; or, once the run error is counted
// under the statement's name, -2 when the word is no address and failCode
// when the connect failed.
int TcpConnectArg(const char* name, int w, int port, int failCode);

// The selection the send-text statements send: from headPointer to
// tailPointer inclusive, at least two bytes, all within the text.  False
// when there is no such selection.
bool SendSelection(const char** data, int* len);
