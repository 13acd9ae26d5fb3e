#include "services/serial/serial_statements.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/text_buffer.h"
#include "engine/log/log.h"
#include "engine/util/util.h"
#include "services/serial/serial_port.h"
#include "services/serial/sms_modem.h"
#include "services/sockets/statement_helpers.h"

namespace {

constexpr int kTextMax = 1022;
constexpr int kBlock = 1020;
constexpr int kParityWordMax = 20;
constexpr int kMessageMax = 420;
// A slice is one message of at most 60 UTF-16 units, so that it stays whole
// within the 68 units of a UCS-2 message and its UTF-8 within the record's
// user data.
constexpr int kSliceUnits = 60;
constexpr int kFirstDrain = 100;
constexpr int kMoreDrain = 1000;
constexpr int kMaxWaitSeconds = 86400;

int NotCompleted(const char* name) {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\n%s ,begin ...", name);
  return NmsRunError(-99, "%s:This statement is not yet completed.", name);
}

void Begin(const char* name) {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\n%s ,begin ...", name);
}

// The end of a receive's wait: a modem that keeps talking must not hold the
// step past its time-out (one second when the time-out is 0, as for the
// SMS exchange).
using Clock = std::chrono::steady_clock;
Clock::time_point StepEnd() { return Clock::now() + std::chrono::seconds(std::max(1, sgRun.StepTimeout)); }

int64_t MsLeft(Clock::time_point end) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
}

}  // namespace

int sys_com_open_a3_baudrate_a5_bits_a7_parity_a9_stopbit_ab() {
  Begin("sys_com_open_a3_baudrate_a5_bits_a7_parity_a9_stopbit_ab");
  int baud = 0, bits = 0, stop = 0;
  if (!ArgLength(3, COM_NAME_MAX)) return -3;
  if (!ArgNumber(5, 9600, 115200, &baud)) return -5;
  if (!ArgNumber(7, 6, 8, &bits)) return -7;
  if (!ArgLength(9, kParityWordMax)) return -9;
  if (!ArgNumber(11, 1, 3, &stop)) return -11;
  const int parity = agA[9][0] == 'Y' ? COM_PARITY_ODD : COM_PARITY_NONE;
  const int stopBits = stop == 1 ? COM_STOP_ONE : stop;
  char device[COM_PATH_ROOM];
  const bool named = ComDevicePath(agA[3], igL[3], device);
  if (!named || OpenComm(device, baud, parity, bits, stopBits) != 1)
    return NmsRunError(-1, "\nsys_com_open [%s] Fail", named ? device : agA[3]);
  TarvDebugLog("\nsys_com_open [%s] ok", device);
  return TarvReturn(0, "\nsys_com_open [%s] ok", device);
}

int sys_com_send_string_a4() {
  Begin("sys_com_send_string_a4");
  if (!ArgLength(4, kTextMax)) return -4;
  WriteComm(agA[4], igL[4]);
  return TarvReturn(0, "sys_com_send_string_a4 return.");
}

int sys_com_recv_string_a4() {
  Begin("sys_com_recv_string_a4");
  if (!ArgLength(4, kTextMax)) return -4;
  const int keyLen = igL[4];
  const int start = sgRun.TextLen;
  int total = 0;
  char block[kBlock];
  const Clock::time_point end = StepEnd();
  for (;;) {
    const int n = ReadCommWithin(block, kBlock, MsLeft(end));
    // A port that talked and then ran into the deadline has not found the
    // key; one that never said a word ends as a quiet port always has.
    if (n < 0 || (n == 0 && total > 0 && MsLeft(end) <= 0))
      return NmsRunError(-2, "sys_com_recv_string_a4 recv key not found, readlen=%d", total);
    const int before = sgRun.TextLen;
    if (TextAdd(block, n) < 1)
      return NmsRunError(-2, "sys_com_recv_string_a4 recv buf full, readlen=%d", n);
    total += n;
    if (total < keyLen) continue;
    // Only an occurrence that ends in the new block is new.
    const int from = std::max(start, before - (keyLen - 1));
    if (TarvMemFind4(sgRun.Text.data() + from + 1, sgRun.TextLen - from, agA[4], keyLen) >= 0)
      return TarvReturn(0, "sys_com_recv_string_a4 recv key ok");
    if (MsLeft(end) <= 0)
      return NmsRunError(-2, "sys_com_recv_string_a4 recv key not found, readlen=%d", total);
  }
}

int sys_com_recv_time_a4_seconds() {
  Begin("sys_com_recv_time_a4_seconds");
  int seconds = 0;
  if (!ArgNumber(4, 0, kMaxWaitSeconds, &seconds)) return -4;
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  char buf[kMoreDrain + 1];
  // The drain ends at the step time-out; what comes later stays in the port.
  const Clock::time_point end = StepEnd();
  int n = std::max(ReadCommWithin(buf, kFirstDrain, MsLeft(end)), 0);
  buf[n] = 0;
  TarvDebugLogEscaped("\n\r\nsys_com_recv_time_a4_seconds = %d <%s>", n, buf);
  int total = 0;
  while (n > 0) {
    if (TextAdd(buf, n) < 0) break;  // the text is full: the run error is counted
    total += n;
    if (MsLeft(end) <= 0) {
      TarvDebugLog("\n\r\nsys_com_recv_time_a4_seconds ends at the step time-out");
      break;
    }
    n = std::max(ReadCommWithin(buf, kMoreDrain, MsLeft(end)), 0);
    TarvDebugLog("\n\r\nsys_com_recv_time_a4_seconds len=%d", n);
  }
  if (total == 0) TarvDebugLog("\n...text.len = %d,!!!", sgRun.TextLen);
  return TarvReturn(0, "sys_com_recv_time_a4_seconds return.");
}

int sys_com_send_sms_telephone_a5_message_a7() {
  Begin("sys_com_send_sms_telephone_a5_message_a7");
  if (!ArgLength(5, SMS_NUMBER_MAX)) return -5;
  if (!ArgLength(7, kMessageMax)) return -7;
  const char* msg = agA[7];
  const int len = igL[7];
  int cut = 0;
  int units = 0;
  for (int i = 0; i < len;) {
    uint32_t code;
    const int step = SmsUtf8Next(msg + i, len - i, &code);
    const int u = code >= 0x10000 ? 2 : 1;
    if (units + u > kSliceUnits) {
      EsSendOneMessage4(agA[5], igL[5], msg + cut, i - cut);
      cut = i;
      units = 0;
    }
    units += u;
    i += step;
  }
  if (cut < len) EsSendOneMessage4(agA[5], igL[5], msg + cut, len - cut);
  return TarvReturn(0, "sys_com_send_sms_telephone_a5_message_a7 return.");
}

int sys_com_close() {
  Begin("sys_com_close");
  if (sgCom.Fd >= 0 && CloseComm() == 0) {
    TarvDebugLog("\nsys_com_close Fail");
    return NmsRunError(-1, "\nEsLocalsys_com_close Fail");
  }
  TarvDebugLog("\nsys_com_close ok");
  return TarvReturn(0, "\nEsLocalsys_com_close ok");
}

int sys_com_send_var_a4() { return NotCompleted("sys_com_send_var_a4"); }
int sys_com_recv_var_a4() { return NotCompleted("sys_com_recv_var_a4"); }
int sys_com_recv_sms_a4_seconds() { return NotCompleted("sys_com_recv_sms_a4_seconds"); }
