// Short messages through a GSM modem on the open serial port: sending in
// PDU mode, listing and deleting stored messages.  Every exchange waits for
// the modem's final answer (OK, or an answer holding ERROR) within the step
// time-out, and looks for it in the whole answer, echo and framing included.
#pragma once
#include "services/serial/sms_codec.h"

// 1 when the modem took the message, 0 when it refused it or did not answer.
int SmsSendMessage(const SmsRecord& record);
// The stored messages into records (at most capacity): the count.  Entries
// that do not parse are skipped.
int SmsReadMessageList(SmsRecord* records, int capacity);
// 1 when the modem deleted the message, else 0.
int SmsDeleteMessage(int index);
// Sends text (m bytes) to the number (n bytes) as one UCS-2 message: 0, -1
// for lengths outside the record's fields, -3 when the modem refused it (a
// run error).
int EsSendOneMessage4(const char* number, int n, const char* text, int m);
