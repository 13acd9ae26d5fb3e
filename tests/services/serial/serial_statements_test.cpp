#include "services/serial/serial_statements.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "services/serial/serial_port.h"
#include "services/serial/sms_modem.h"
#include "tests/engine/harness.h"
#include "tests/services/handler_slots.h"
#include "tests/services/serial/fake_modem.h"

namespace {

using tarvtest::FakeModem;
using tarvtest::ModemAnswers;

using tarvtest::LastRunError;
using tarvtest::SetArg;

size_t OpenDescriptors() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return static_cast<size_t>(std::distance(begin(fds), end(fds)));
}

std::string Text() { return std::string(sgRun.Text.data() + 1, sgRun.TextLen); }

class Serial : public ::testing::Test {
 protected:
  void SetUp() override {
    tarvtest::Start(dir_, "# nothing\n");
    sgRun.StepTimeout = 1;
  }
  void TearDown() override { CloseComm(); }

  // Opens the port with the words of the open handler; its result.
  int Open(const std::string& name, const std::string& baud = "115200",
           const std::string& bits = "8", const std::string& parity = "N",
           const std::string& stop = "1") {
    SetArg(3, name);
    SetArg(5, baud);
    SetArg(7, bits);
    SetArg(9, parity);
    SetArg(11, stop);
    return sys_com_open_a3_baudrate_a5_bits_a7_parity_a9_stopbit_ab();
  }
  termios Settings() {
    termios t{};
    EXPECT_EQ(tcgetattr(sgCom.Fd, &t), 0);
    return t;
  }

  tarvtest::TempDir dir_;
};

TEST_F(Serial, OpenSetsRawExclusivePort) {
  FakeModem modem;
  ASSERT_TRUE(modem.ok());
  ASSERT_EQ(Open(modem.path(), "115200", "7", "Yes", "2"), 0);
  termios t = Settings();
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  int excl = 0;
  ASSERT_EQ(ioctl(sgCom.Fd, TIOCGEXCL, &excl), 0);
  EXPECT_EQ(excl, 1);

  // A name without '/' is a device under /dev; opening again replaces the port.
  const auto before = OpenDescriptors();
  ASSERT_EQ(Open(modem.path().substr(5), "9600", "6", "E", "1"), 0);
  EXPECT_EQ(OpenDescriptors(), before);
  t = Settings();
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(tarvtest::RunErrors().size(), 0u);
}

// A pseudo-terminal keeps eight bits and no parity, so the line settings are
// checked on a termios record of their own.
TEST(SerialSettings, MapToTermios) {
  struct Case {
    int baud, parity, bits, stop;
    bool ok;
    speed_t speed;
    tcflag_t cflag;  // the size, parity and stop bits
  };
  const Case cases[] = {
      {9600, COM_PARITY_NONE, 8, COM_STOP_ONE, true, B9600, CS8},
      {19200, COM_PARITY_ODD, 7, COM_STOP_TWO, true, B19200, CS7 | PARENB | PARODD | CSTOPB},
      {38400, COM_PARITY_NONE, 6, COM_STOP_ONE5, true, B38400, CS6 | CSTOPB},
      {115200, COM_PARITY_ODD, 8, COM_STOP_ONE, true, B115200, CS8 | PARENB | PARODD},
      {14400, COM_PARITY_NONE, 8, COM_STOP_ONE, false, B4800, CS5},
      {9600, COM_PARITY_NONE, 8, 3, false, B4800, CS5},
      {9600, 2, 8, COM_STOP_ONE, false, B4800, CS5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.baud);
    termios t{};
    t.c_cflag = CS5;
    cfsetospeed(&t, B4800);
    EXPECT_EQ(ComApplySettings(&t, c.baud, c.parity, c.bits, c.stop), c.ok);
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB), c.cflag);
  }
}

TEST_F(Serial, SettingsWithoutTermiosFormKeepTheDevicesOwn) {
  FakeModem modem;
  ASSERT_EQ(Open(modem.path(), "57600"), 0);
  ASSERT_EQ(Open(modem.path(), "10000", "8", "N", "3"), 0);
  const termios t = Settings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
  EXPECT_EQ(t.c_lflag & ICANON, 0u);
}

TEST_F(Serial, OpenRefusesBadWordsAndMissingDevices) {
  struct Case {
    std::vector<std::string> words;  // name, baud, bits, parity, stop
    int code;
    std::string error;
  };
  const std::string none = "/nonexistent/ttyX";
  const Case cases[] = {
      {{"", "9600", "8", "N", "1"}, -3, "Length of Arg 3 is :0  < 1 !"},
      {{std::string(63, 'x'), "9600", "8", "N", "1"}, -3, "Length of Arg 3 is :63 > 62 !"},
      {{"ttyS0", "96x0", "8", "N", "1"}, -5, "Arg:5 is not integer !"},
      {{"ttyS0", "9599", "8", "N", "1"}, -5, "Arg:5=9599  < 9600 !"},
      {{"ttyS0", "115201", "8", "N", "1"}, -5, "Arg:5=115201 > 115200 !"},
      {{"ttyS0", "9600", "5", "N", "1"}, -7, "Arg:7=5  < 6 !"},
      {{"ttyS0", "9600", "9", "N", "1"}, -7, "Arg:7=9 > 8 !"},
      {{"ttyS0", "9600", "8", std::string(21, 'N'), "1"}, -9, "Length of Arg 9 is :21 > 20 !"},
      {{"ttyS0", "9600", "8", "N", "0"}, -11, "Arg:11=0  < 1 !"},
      {{"ttyS0", "9600", "8", "N", "4"}, -11, "Arg:11=4 > 3 !"},
      {{none, "9600", "8", "N", "1"}, -1, "\nsys_com_open [" + none + "] Fail"},
      {{"nonexistent-port", "9600", "8", "N", "1"}, -1,
       "\nsys_com_open [/dev/nonexistent-port] Fail"},
      {{dir_.Write("plain", "x"), "9600", "8", "N", "1"}, -1,
       "\nsys_com_open [" + dir_.File("plain") + "] Fail"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    const auto& w = c.words;
    EXPECT_EQ(Open(w[0], w[1], w[2], w[3], w[4]), c.code);
    EXPECT_EQ(LastRunError(), c.error);
    EXPECT_EQ(sgCom.Fd, -1);
  }
}

TEST_F(Serial, SendReceiveAndClose) {
  FakeModem modem;
  ASSERT_EQ(Open(modem.path()), 0);
  SetArg(4, "ATZ\r");
  EXPECT_EQ(sys_com_send_string_a4(), 0);
  // The modem's "\r\nOK\r\n" is read until the expected text is seen.
  SetArg(4, "OK");
  EXPECT_EQ(sys_com_recv_string_a4(), 0);
  EXPECT_EQ(Text(), "\r\nOK\r\n");
  EXPECT_EQ(modem.Raw(), "ATZ\r");
  // A quiet port ends the wait on its time-outs.
  SetArg(4, "RING");
  EXPECT_EQ(sys_com_recv_string_a4(), -2);
  EXPECT_EQ(LastRunError(), "sys_com_recv_string_a4 recv buf full, readlen=0");
  modem.Send("+CLIP: 1\r\n");
  SetArg(4, "0");
  EXPECT_EQ(sys_com_recv_time_a4_seconds(), 0);
  EXPECT_EQ(Text(), "\r\nOK\r\n+CLIP: 1\r\n");
  SetArg(4, "86401");
  EXPECT_EQ(sys_com_recv_time_a4_seconds(), -4);
  EXPECT_EQ(sys_com_close(), 0);
  EXPECT_EQ(sgCom.Fd, -1);
  EXPECT_EQ(tarvtest::RunErrors().size(), 2u);
}

TEST_F(Serial, WithoutPortWritesNothingAndReadsNothing) {
  SetArg(4, "AT\r");
  EXPECT_EQ(sys_com_send_string_a4(), 0);
  SetArg(4, "OK");
  EXPECT_EQ(sys_com_recv_string_a4(), -2);
  EXPECT_EQ(LastRunError(), "sys_com_recv_string_a4 recv key not found, readlen=0");
  SetArg(4, "0");
  EXPECT_EQ(sys_com_recv_time_a4_seconds(), 0);
  EXPECT_EQ(sys_com_close(), 0);
  EXPECT_EQ(sgRun.TextLen, 0);
  SetArg(4, std::string(1023, 'x'));
  EXPECT_EQ(sys_com_send_string_a4(), -4);
}

TEST_F(Serial, UnfinishedHandlersAnswerNotCompleted) {
  EXPECT_EQ(sys_com_send_var_a4(), -99);
  EXPECT_EQ(sys_com_recv_var_a4(), -99);
  EXPECT_EQ(sys_com_recv_sms_a4_seconds(), -99);
  const std::vector<std::string> want = {
      "sys_com_send_var_a4:This statement is not yet completed.",
      "sys_com_recv_var_a4:This statement is not yet completed.",
      "sys_com_recv_sms_a4_seconds:This statement is not yet completed."};
  EXPECT_EQ(tarvtest::RunErrors(), want);
}

// One message through the handler; what the modem saw.
struct Sent {
  std::vector<std::string> commands;
  std::vector<std::string> pdus;
};

class Sms : public Serial {
 protected:
  Sent Send(const ModemAnswers& answers, const std::string& number, const std::string& text) {
    FakeModem modem(answers);
    EXPECT_EQ(Open(modem.path()), 0);
    SetArg(5, number);
    SetArg(7, text);
    EXPECT_EQ(sys_com_send_sms_telephone_a5_message_a7(), 0);
    CloseComm();
    return {modem.Commands(), modem.Pdus()};
  }
};

TEST_F(Sms, SendsUcs2PduAfterThePrompt) {
  const Sent s = Send({}, "12345", "\xE4\xBD\xA0\xE5\xA5\xBD");
  const std::vector<std::string> commands = {"AT+CMGF=0", "AT+CMGS=15"};
  EXPECT_EQ(s.commands, commands);
  ASSERT_EQ(s.pdus.size(), 1u);
  EXPECT_EQ(s.pdus[0], "00310005A12143F50008A7044F60597D");
  EXPECT_EQ(tarvtest::RunErrors().size(), 0u);
}

TEST_F(Sms, RefusalsAreErrorsWhateverFramesThem) {
  ModemAnswers refused;
  refused.sent = "\r\n+CMS ERROR: 500\r\n";
  ModemAnswers echoed = refused;
  echoed.echo = true;
  ModemAnswers noPrompt;
  noPrompt.prompt = "\r\nERROR\r\n";
  ModemAnswers echoedOk;
  echoedOk.echo = true;
  struct Case {
    ModemAnswers answers;
    size_t pdus;
    size_t errors;
  };
  const Case cases[] = {{refused, 1, 1}, {echoed, 1, 1}, {noPrompt, 0, 1}, {echoedOk, 1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers.sent + c.answers.prompt);
    const size_t before = tarvtest::RunErrors().size();
    const Sent s = Send(c.answers, "12345", "hi");
    EXPECT_EQ(s.pdus.size(), c.pdus);
    EXPECT_EQ(tarvtest::RunErrors().size() - before, c.errors);
    if (c.errors > 0) {
      EXPECT_EQ(LastRunError(), "sendsms err!");
    }
  }
}

// The user-data lengths of the PDUs the modem got.
std::vector<int> DataLengths(const std::vector<std::string>& pdus) {
  std::vector<int> out;
  for (const auto& p : pdus) out.push_back(std::stoi(p.substr(22, 2), nullptr, 16));
  return out;
}

TEST_F(Sms, LongMessagesGoInSlicesOfWholeCharacters) {
  EXPECT_EQ(DataLengths(Send({}, "12345", std::string(130, 'a')).pdus),
            (std::vector<int>{120, 120, 20}));
  std::string cjk;
  for (int i = 0; i < 70; i++) cjk += "\xE4\xBD\xA0";
  EXPECT_EQ(DataLengths(Send({}, "12345", cjk).pdus), (std::vector<int>{120, 20}));
  // A character of two units is never split, nor cut at 68 units.
  std::string smiles;
  for (int i = 0; i < 31; i++) smiles += "\xF0\x9F\x98\x80";
  EXPECT_EQ(DataLengths(Send({}, "12345", smiles).pdus), (std::vector<int>{120, 4}));
  EXPECT_EQ(tarvtest::RunErrors().size(), 0u);
}

TEST_F(Sms, SendRefusesBadWords) {
  SetArg(5, std::string(16, '1'));
  SetArg(7, "x");
  EXPECT_EQ(sys_com_send_sms_telephone_a5_message_a7(), -5);
  EXPECT_EQ(LastRunError(), "Length of Arg 5 is :16 > 15 !");
  SetArg(5, "1");
  SetArg(7, std::string(421, 'x'));
  EXPECT_EQ(sys_com_send_sms_telephone_a5_message_a7(), -7);
  EXPECT_EQ(LastRunError(), "Length of Arg 7 is :421 > 420 !");
  EXPECT_EQ(EsSendOneMessage4("1", 1, "", 0), -1);
  EXPECT_EQ(EsSendOneMessage4("1234567890123456", 16, "x", 1), -1);
}

TEST_F(Sms, ListSkipsMalformedEntriesAndDeletes) {
  ModemAnswers a;
  a.list =
      "AT+CMGL=\"ALL\"\r\r\n"
      "+CMGL: 1,\"REC READ\",\"+8613912345678\",,\"20/02/05,10:00:00+32\"\r\n4F60597D\r\n"
      "+CMGL: x,\"REC READ\",\"555\",,\"20/02/05,10:00:00+32\"\r\nno index\r\n"
      "+CMGL: 2,\"REC UNREAD\"\r\nno number\r\n"
      "+CMGL: 3,\"REC UNREAD\",\"12345\",,\"20/02/06,11:00:00+32\"\r\nhello there\r\n"
      "\r\nOK\r\n";
  a.remove = "\r\n+CMS ERROR: 321\r\n";
  FakeModem modem(a);
  ASSERT_EQ(Open(modem.path()), 0);
  SmsRecord list[4];
  ASSERT_EQ(SmsReadMessageList(list, 4), 2);
  EXPECT_EQ(list[0].Index, 1);
  EXPECT_STREQ(list[0].Tpa, "+8613912345678");
  EXPECT_STREQ(list[0].Scts, "20/02/05,10:00:00");
  EXPECT_STREQ(list[0].Data, "\xE4\xBD\xA0\xE5\xA5\xBD");
  EXPECT_EQ(list[1].Index, 3);
  EXPECT_STREQ(list[1].Data, "hello there");
  EXPECT_EQ(SmsReadMessageList(list, 1), 1);
  EXPECT_EQ(SmsDeleteMessage(3), 0);
  EXPECT_EQ(modem.Commands().back(), "AT+CMGD=3");
}

TEST_F(Sms, DeleteAnswerFoundBehindItsEcho) {
  ModemAnswers a;
  a.echo = true;
  FakeModem modem(a);
  ASSERT_EQ(Open(modem.path()), 0);
  EXPECT_EQ(SmsDeleteMessage(7), 1);
}

}  // namespace
