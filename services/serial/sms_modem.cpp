#include "services/serial/sms_modem.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

#include "engine/core/run_state.h"
#include "engine/log/log.h"
#include "services/serial/serial_port.h"

namespace {

constexpr char kCtrlZ = 0x1A;
constexpr int kAnswerRoom = 1024;
constexpr int kAnswerRead = 128;
constexpr int kListRoom = 65536;
constexpr int kListFirstRead = 10000;
constexpr int kListMoreRead = 1024;
constexpr int kPromptPauseMs = 500;
constexpr int kListPauseMs = 1500;
constexpr int kListMorePauseMs = 10;
constexpr int kIndexMax = 255;  // the record's index is one byte

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Answer {
  char text[kAnswerRoom];
  int len;
};

// Reads the modem's answer until it holds one of the keys (searched in
// order, over the whole answer) or the step time-out has passed: the index
// of the key found, or -1.
int Await(std::initializer_list<std::string_view> keys, Answer* a) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::seconds(std::max(1, sgRun.StepTimeout));
  a->len = 0;
  a->text[0] = 0;
  while (a->len < kAnswerRoom - 1) {
    const int n = ReadCommChecked(a->text + a->len, std::min(kAnswerRead, kAnswerRoom - 1 - a->len));
    if (n < 0) break;
    a->len += n;
    a->text[a->len] = 0;
    const std::string_view seen(a->text, static_cast<size_t>(a->len));
    int k = 0;
    for (std::string_view key : keys) {
      if (seen.find(key) != std::string_view::npos) return k;
      k++;
    }
    if (Clock::now() >= end) break;
  }
  return -1;
}

// The exchange's final answer: 1 for OK, 0 for an error or no answer.
int FinalOk(Answer* a) { return Await({"ERROR", "OK"}, a) == 1 ? 1 : 0; }

int WriteText(const char* text) { return WriteComm(text, static_cast<int>(std::strlen(text))); }

// The index after "+CMGL:" and blanks, or -1 when there is none.
int ListIndex(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') i++;
  int v = -1;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++) {
    v = std::max(v, 0) * 10 + (s[i] - '0');
    if (v > kIndexMax) return -1;
  }
  return v;
}

}  // namespace

int SmsSendMessage(const SmsRecord& record) {
  char pdu[SMS_PDU_ROOM + 1];
  const int pduLen = SmsEncodePdu(record, pdu);
  pdu[pduLen] = kCtrlZ;
  pdu[pduLen + 1] = 0;
  uint8_t sca = 0;
  SmsHexToBytes(pdu, &sca, 2);

  Answer a;
  const char* mode = "AT+CMGF=0\r\n";
  TarvDebugLogEscaped("\n\r\n WriteComm Cmd l=%d,<%s>", static_cast<int>(std::strlen(mode)), mode);
  WriteText(mode);
  FinalOk(&a);
  TarvDebugLogEscaped("\n\r\n ReadComm after Cmd l=%d,<%s>", a.len, a.text);

  char cmgs[32];
  std::snprintf(cmgs, sizeof cmgs, "AT+CMGS=%d\r\n", pduLen / 2 - sca - 1);
  TarvDebugLogEscaped("\n\r\ntel l=%d,<%s>", static_cast<int>(strnlen(record.Tpa, 15)), record.Tpa);
  TarvDebugLogEscaped("\n\r\nsms l=%d,<%.199s>", static_cast<int>(strnlen(record.Data, 199)),
                      record.Data);
  TarvDebugLogEscaped("\n\r\npdu l=%d,<%.*s>", pduLen, pduLen, pdu);
  WriteText(cmgs);
  Pause(kPromptPauseMs);
  if (Await({"ERROR", "\r\n> "}, &a) != 1) return 0;
  WriteComm(pdu, pduLen + 1);
  const int ok = FinalOk(&a);
  TarvDebugLogEscaped("\n\r\n ReadComm after PDU l=%d,<%s>", a.len, a.text);
  return ok;
}

int SmsReadMessageList(SmsRecord* records, int capacity) {
  static char answer[kListRoom + 1];
  WriteText("AT+CMGL=\"ALL\"\r\n");
  Pause(kListPauseMs);
  int len = ReadComm(answer, kListFirstRead);
  for (int n = len; n > 0 && len < kListRoom;) {
    Pause(kListMorePauseMs);
    n = ReadComm(answer + len, std::min(kListMoreRead, kListRoom - len));
    len += n;
  }
  answer[len] = 0;
  if (std::strncmp(answer, "ERROR", 20) == 0) return 0;
  const std::string_view all(answer, static_cast<size_t>(len));
  constexpr std::string_view kEntry = "+CMGL:";
  int count = 0;
  for (size_t at = all.find(kEntry); at != std::string_view::npos && count < capacity;) {
    const size_t next = all.find(kEntry, at + kEntry.size());
    const std::string_view entry = all.substr(at + kEntry.size(), next - at - kEntry.size());
    at = next;
    const int index = ListIndex(entry);
    const size_t group = entry.find("\",\"");
    if (index < 0 || group == std::string_view::npos) continue;
    const std::string_view from = entry.substr(group + 3);
    SmsRecord& r = records[count];
    if (SmsDecodeListEntry(from.data(), static_cast<int>(from.size()), &r) != 0) continue;
    r.Index = static_cast<uint8_t>(index);
    TarvDebugLog("\n  index=%d\r\n", r.Index);
    count++;
  }
  return count;
}

int SmsDeleteMessage(int index) {
  char cmd[32];
  std::snprintf(cmd, sizeof cmd, "AT+CMGD=%d\r", index);
  WriteText(cmd);
  Answer a;
  return FinalOk(&a);
}

int EsSendOneMessage4(const char* number, int n, const char* text, int m) {
  if (n < 1 || m < 1) return TarvReturn(-1, "EsSendOneMessage4 Len < 1");
  if (n > SMS_NUMBER_MAX || m > SMS_DATA_MAX)
    return TarvReturn(-1, "EsSendOneMessage4 Len > %d", n > SMS_NUMBER_MAX ? SMS_NUMBER_MAX : SMS_DATA_MAX);
  SmsRecord r{};
  std::memcpy(r.Sca, "00", 3);
  std::memcpy(r.Tpa, number, static_cast<size_t>(n));
  r.Pid = 0;
  r.Dcs = SMS_DCS_UCS2;
  std::memcpy(r.Data, text, static_cast<size_t>(m));
  if (SmsSendMessage(r) == 0) return NmsRunError(-3, "sendsms err!");
  TarvDebugLog("\nsys_com_sendsms ok");
  return 0;
}
