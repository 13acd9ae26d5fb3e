// The argument checks the socket statements share.
#include "services/sockets/statement_helpers.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/text_buffer.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "platform/socket.h"
#include "services/sockets/socket_layer.h"

bool ArgLength(int w, int max) { return ArgCheckLength(w, max, -w) == 0; }

bool ArgNumber(int w, int lo, int hi, int* value) {
  if (ArgCheckRange(w, lo, hi) != 0) return false;
  *value = igV[w];
  return true;
}

ExpectEnd ExpectText(std::string_view expect, const ExpectSource& source, int* count) {
  constexpr int kWindow = 2048;
  constexpr int kFlush = 512;
  const int len = static_cast<int>(std::min<size_t>(expect.size(), kWindow - kFlush));
  if (len < 1) return ExpectEnd::Match;
  const char last = expect[len - 1];
  char window[kWindow] = {};
  int filled = 0;
  const auto start = SocketClock::now();
  // A time-out of 0 still gives the text a second to arrive, as every
  // other receive does.
  const int64_t timeout = std::max<int64_t>(1, sgRun.StepTimeout);
  int remaining = Left(timeout, start);
  if (remaining <= 0) return ExpectEnd::TimeOut;
  TextAppender text;

  // The bytes are looked at in runs: those waiting, up to the next flush of
  // the window.  The clock is read after every run, before a take that may
  // wait and at least every 512 bytes, so a steady stream still times out.
  ExpectEnd end;
  for (;;) {
    const char* data = nullptr;
    int ready = source.Ready(&data);
    char taken = 0;
    const bool waited = ready < 1;
    if (waited) {
      const int n = source.Take(&taken, remaining);
      if (n < 1) {
        *count = n;
        end = ExpectEnd::NoData;
        break;
      }
      data = &taken;
      ready = 1;
    }
    // filled stays below len + kFlush between runs: every run gets a byte.
    const int run = std::min(ready, len + kFlush - filled);
    char* const from = window + filled;
    std::memcpy(from, data, run);
    // The first byte of the run that completes the expected text.
    int used = run;
    bool matched = false;
    for (char* p = from; (p = static_cast<char*>(std::memchr(p, last, from + run - p))); p++) {
      const int upto = static_cast<int>(p - window) + 1;
      if (upto >= len && std::memcmp(window + upto - len, expect.data(), len) == 0) {
        used = upto - filled;
        matched = true;
        break;
      }
    }
    if (!waited) source.Skip(used);
    filled += used;
    if (matched) {
      end = ExpectEnd::Match;
      break;
    }
    remaining = Left(timeout, start);
    if (filled - len >= kFlush) {
      text.Add(window, kFlush);
      filled -= kFlush;
      std::memmove(window, window + kFlush, filled);
    }
    if (remaining < 1) {
      end = ExpectEnd::TimeOut;
      break;
    }
  }
  source.Settle();
  // What arrived before the peer fell silent still belongs to the text.
  if (filled > 0) text.Add(window, filled);
  return end;
}

int ReceiveForSeconds(int seconds, int (*recv)(char* dest, int wanted, int seconds)) {
  constexpr int kChunk = 1020;
  const auto start = SocketClock::now();
  char buf[1024];
  TextAppender text;
  for (int remaining = Left(seconds, start); remaining >= 1; remaining = Left(seconds, start)) {
    std::memset(buf, 0, sizeof buf);
    const int n = recv(buf, kChunk, remaining);
    if (n < 0) return n;
    if (n > 0)
      text.Add(buf, n);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  }
  return 0;
}

int ConnectHostPort(const char* name) {
  constexpr int kHostMax = 250;
  constexpr int kPortMax = 65534;
  int port = 0;
  if (!ArgLength(3, kHostMax) || !ArgNumber(5, 1, kPortMax, &port)) return -1;
  return TcpConnectArg(name, 3, port, -99);
}

int TcpConnectArg(const char* name, int w, int port, int failCode) {
  int sock;
  if (TarvIsIpV4(agA[w]) == 0)
    sock = WinTcpConnect(agA[w], port);
  else if (TarvIsIpV6(agA[w]) == 0)
    sock = WinTcpConnect2V6(agA[w], port);
  else
    return NmsRunError(-2, "%s: arg <%d> is not ip address", name, w);
  if (sock < 0) return NmsRunError(failCode, "%s: WinTcpConnect < 0 .", name);
  return sock;
}

bool SendSelection(const char** data, int* len) {
  const int64_t head = sgRun.headPointer;
  const int64_t tail = sgRun.tailPointer;
  if (!(tail - head >= 1 && head >= 1 && tail <= sgRun.TextLen)) return false;
  *data = sgRun.Text.data() + head;
  *len = static_cast<int>(tail - head + 1);
  return true;
}

int64_t StepDeadlineMs() {
  return SockNowMs() + int64_t{std::max(1, static_cast<int>(sgRun.StepTimeout))} * 1000;
}
