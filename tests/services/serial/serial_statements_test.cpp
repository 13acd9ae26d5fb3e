// The serial statements against a modem on a pseudo-terminal, and the SMS
// codec on its own.
#include "services/serial/serial_statements.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/run_state.h"
#include "services/serial/serial_port.h"
#include "services/serial/sms_codec.h"
#include "services/serial/sms_modem.h"
#include "tests/services/handler_slots.h"
#include "tests/platform/child_watch.h"
#include "tests/services/serial/fake_modem.h"

namespace {

using tarvtest::FakeModem;
using tarvtest::LastRunError;
using tarvtest::ModemAnswers;
using tarvtest::SetArg;
using Lines = std::vector<std::string>;

using tarvtest::Text;

class Serial : public ::testing::Test {
 protected:
  void SetUp() override {
    tarvtest::Start(dir_, "# nothing\n");
    sgRun.StepTimeout = 1;
  }
  void TearDown() override { CloseComm(); }
  // The open handler with its words 3, 5, 7, 9 and 11.
  int Open(const Lines& w) {
    for (int i = 0; i < 5; i++) SetArg(3 + 2 * i, w[i]);
    return sys_com_open_a3_baudrate_a5_bits_a7_parity_a9_stopbit_ab();
  }
  tarvtest::TempDir dir_;
};

// A pseudo-terminal keeps eight bits and no parity, so the line settings are
// checked on a termios record.
TEST(SerialSettings, MapToTermios) {
  struct Case {
    int baud, parity, bits, stop;
    bool ok;
    speed_t speed;
    tcflag_t cflag;
  };
  const Case cases[] = {
      {9600, COM_PARITY_NONE, 8, COM_STOP_ONE, true, B9600, CS8},
      {19200, COM_PARITY_ODD, 7, COM_STOP_TWO, true, B19200, CS7 | PARENB | PARODD | CSTOPB},
      {14400, COM_PARITY_NONE, 8, COM_STOP_ONE, false, B4800, CS5},
      {9600, COM_PARITY_NONE, 8, 3, false, B4800, CS5},
  };
  for (const Case& c : cases) {
    termios t{};
    t.c_cflag = CS5;
    cfsetospeed(&t, B4800);
    EXPECT_EQ(ComApplySettings(&t, c.baud, c.parity, c.bits, c.stop), c.ok) << c.baud;
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB), c.cflag);
  }
}

TEST_F(Serial, OpenRefusesBadWordsAndWhatIsNoPort) {
  const std::string file = dir_.Write("plain", "x");
  const std::pair<Lines, std::string> cases[] = {
      {{std::string(63, 'x'), "9600", "8", "N", "1"}, "Length of Arg 3 is :63 > 62 !"},
      {{"ttyS0", "9599", "8", "N", "1"}, "Arg:5=9599  < 9600 !"},
      {{"ttyS0", "9600", "8", "", "1"}, "Length of Arg 9 is :0  < 1 !"},
      {{"ttyS0", "9600", "8", "N", "x"}, "Arg:11 is not integer !"},
      {{"no-such-port", "9600", "8", "N", "1"}, "\nsys_com_open [/dev/no-such-port] Fail"},
      {{file, "9600", "8", "N", "1"}, "\nsys_com_open [" + file + "] Fail"},
  };
  for (const auto& [words, error] : cases) {
    EXPECT_LT(Open(words), 0);
    EXPECT_EQ(LastRunError(), error);
    EXPECT_EQ(sgCom.Fd, -1);
  }
}

TEST_F(Serial, OpenSetsARawExclusivePortThenSendsReceivesAndCloses) {
  FakeModem modem;
  ASSERT_EQ(Open({modem.path(), "115200", "7", "Yes", "2"}), 0);
  termios t{};
  ASSERT_EQ(tcgetattr(sgCom.Fd, &t), 0);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  int excl = 0;
  ASSERT_EQ(ioctl(sgCom.Fd, TIOCGEXCL, &excl), 0);
  EXPECT_EQ(excl, 1);
  // A name without '/' lies under /dev; a speed termios lacks keeps the
  // device's own.
  ASSERT_EQ(Open({modem.path().substr(5), "10000", "8", "N", "1"}), 0);
  ASSERT_EQ(tcgetattr(sgCom.Fd, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(tarvtest::RunErrors().size(), 0u);
  SetArg(4, "ATZ\r");
  EXPECT_EQ(sys_com_send_string_a4(), 0);
  SetArg(4, "OK");
  EXPECT_EQ(sys_com_recv_string_a4(), 0);
  EXPECT_EQ(modem.Got(), Lines{"ATZ"});
  SetArg(4, "RING");  // a quiet port ends the wait on its time-outs
  EXPECT_EQ(sys_com_recv_string_a4(), -2);
  EXPECT_EQ(LastRunError(), "sys_com_recv_string_a4 recv buf full, readlen=0");
  modem.Send("+CLIP: 1\r\n");
  SetArg(4, "0");
  EXPECT_EQ(sys_com_recv_time_a4_seconds(), 0);
  EXPECT_EQ(Text(), "\r\nOK\r\n+CLIP: 1\r\n");
  EXPECT_EQ(sys_com_close(), 0);
  EXPECT_EQ(sgCom.Fd, -1);
  // With no port, writes do nothing and reads bring nothing.
  SetArg(4, "OK");
  EXPECT_EQ(sys_com_recv_string_a4(), -2);
  EXPECT_EQ(LastRunError(), "sys_com_recv_string_a4 recv key not found, readlen=0");
  EXPECT_EQ(sys_com_close(), 0);
}

// A modem that keeps talking, fast or a byte at a time, holds neither
// receive past the step time-out (a second when it is 0): the wait for a key
// that never comes fails, the timed drain keeps what came.  A byte every
// 80 ms comes within the port's read interval, so only the receive's own
// deadline ends a read of the port; the slack is the reads' last wait and
// the modem's pace.
TEST_F(Serial, ReceivesFromAModemThatNeverStopsEndAtTheStepTimeOut) {
  childwatch::Watchdog dog(120, "ReceivesFromAModemThatNeverStopsEndAtTheStepTimeOut");
  struct Stream {
    std::string chunk;
    int everyMs;
  };
  const Stream streams[] = {{std::string(130, 'x'), 10}, {"y", 300}, {"z", 80}};
  for (const Stream& stream : streams) {
    for (const int timeout : {0, 2}) {
      for (const bool timed : {false, true}) {
        SCOPED_TRACE(stream.chunk.substr(0, 1) + " timeout " + std::to_string(timeout) + (timed ? " drain" : " key"));
        tarvtest::Start(dir_, "# nothing\n");
        sgRun.StepTimeout = timeout;
        FakeModem modem;
        ASSERT_EQ(Open({modem.path(), "9600", "8", "N", "1"}), 0);
        modem.Stream(stream.chunk, stream.everyMs);
        const auto start = std::chrono::steady_clock::now();
        SetArg(4, timed ? "0" : "NEVER");
        const int rc = timed ? sys_com_recv_time_a4_seconds() : sys_com_recv_string_a4();
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(took, std::max(1, timeout) + 0.3);
        EXPECT_EQ(rc, timed ? 0 : -2);
        if (timed) {
          EXPECT_EQ(tarvtest::RunErrors().size(), 0u);
        } else {
          EXPECT_EQ(tarvtest::RunErrors().size(), 1u);
          EXPECT_TRUE(LastRunError().starts_with("sys_com_recv_string_a4 recv key not found, readlen=")) << LastRunError();
        }
        EXPECT_FALSE(Text().empty());
        EXPECT_EQ(Text().find_first_not_of(stream.chunk.substr(0, 1)), std::string::npos);
        CloseComm();
      }
    }
  }
}

class Sms : public Serial {
 protected:
  // One message through the handler: what the modem got.
  Lines Send(const ModemAnswers& answers, const std::string& text) {
    FakeModem modem(answers);
    EXPECT_EQ(Open({modem.path(), "9600", "8", "N", "1"}), 0);
    SetArg(5, "12345");
    SetArg(7, text);
    EXPECT_EQ(sys_com_send_sms_telephone_a5_message_a7(), 0);
    CloseComm();
    return modem.Got();
  }
  // The user-data lengths of the PDUs.
  std::vector<int> Lengths(const std::string& text) {
    std::vector<int> out;
    for (const auto& g : Send({}, text))
      if (g.rfind("PDU:", 0) == 0) out.push_back(std::stoi(g.substr(4 + 22, 2), nullptr, 16));
    return out;
  }
};

TEST_F(Sms, SendsTheUcs2PduAfterThePrompt) {
  EXPECT_EQ(Send({}, "\xE4\xBD\xA0\xE5\xA5\xBD"),
            (Lines{"AT+CMGF=0", "AT+CMGS=15", "PDU:00310005A12143F50008A7044F60597D"}));
  EXPECT_EQ(tarvtest::RunErrors().size(), 0u);
}

TEST_F(Sms, RefusalsAreFoundWhateverFramesThem) {
  ModemAnswers refused, echoed, noPrompt, echoedOk;
  refused.sent = echoed.sent = "\r\n+CMS ERROR: 500\r\n";
  echoed.echo = echoedOk.echo = true;
  noPrompt.prompt = "\r\nERROR\r\n";
  const std::pair<ModemAnswers, size_t> cases[] = {
      {refused, 1}, {echoed, 1}, {noPrompt, 1}, {echoedOk, 0}};
  for (const auto& [answers, errors] : cases) {
    const size_t before = tarvtest::RunErrors().size();
    Send(answers, "hi");
    EXPECT_EQ(tarvtest::RunErrors().size() - before, errors) << answers.sent << answers.echo;
    if (errors > 0) {
      EXPECT_EQ(LastRunError(), "sendsms err!");
    }
  }
  EXPECT_EQ(EsSendOneMessage4("1234567890123456", 16, "x", 1), -1);  // beyond the record
}

TEST_F(Sms, LongMessagesGoInSlicesOfWholeCharacters) {
  EXPECT_EQ(Lengths(std::string(130, 'a')), (std::vector<int>{120, 120, 20}));
  std::string cjk, smiles;
  for (int i = 0; i < 70; i++) cjk += "\xE4\xBD\xA0";
  for (int i = 0; i < 31; i++) smiles += "\xF0\x9F\x98\x80";
  EXPECT_EQ(Lengths(cjk), (std::vector<int>{120, 20}));
  EXPECT_EQ(Lengths(smiles), (std::vector<int>{120, 4}));  // two units each, never split
  EXPECT_EQ(tarvtest::RunErrors().size(), 0u);
}

TEST_F(Sms, ListSkipsMalformedEntriesAndDeleteReadsTheAnswer) {
  ModemAnswers a;
  a.echo = true;
  a.list =
      "\r\n+CMGL: 1,\"REC READ\",\"+8613912345678\",,\"20/02/05,10:00:00+32\"\r\n4f60597D\r\n"
      "+CMGL: x,\"REC READ\",\"555\",,\"20/02/05,10:00:00+32\"\r\nno index\r\n"
      "+CMGL: 2,\"REC UNREAD\"\r\nno number\r\n"
      "+CMGL: 4,\"REC UNREAD\",\"1234567890123456\"\r\nnumber too long\r\n"
      "+CMGL: 5,\"REC UNREAD\",\"123\"\r\n" + std::string(300, 'z') + "\r\n"
      "+CMGL: 6,\"REC READ\",\"123\",,\"x\""  // no body line
      "+CMGL: 3,\"REC UNREAD\",\"12345\",,\"20/02/06,11:00:00+32\"\r\nhello there\r\n\r\nOK\r\n";
  FakeModem modem(a);
  ASSERT_EQ(Open({modem.path(), "9600", "8", "N", "1"}), 0);
  SmsRecord list[3];
  ASSERT_EQ(SmsReadMessageList(list, 3), 3);
  EXPECT_EQ(list[0].Index, 1);
  EXPECT_STREQ(list[0].Tpa, "+8613912345678");
  EXPECT_STREQ(list[0].Scts, "20/02/05,10:00:00");
  EXPECT_STREQ(list[0].Data, "\xE4\xBD\xA0\xE5\xA5\xBD");
  EXPECT_EQ(list[1].Index, 5);
  EXPECT_EQ(list[1].Data, std::string(SMS_DATA_MAX, 'z'));  // cut to the record
  EXPECT_EQ(list[2].Index, 3);
  EXPECT_STREQ(list[2].Data, "hello there");
  EXPECT_EQ(SmsDeleteMessage(3), 1);
  EXPECT_EQ(modem.Got().back(), "AT+CMGD=3");
}

// The SMS codec on its own.
std::string Hex(const uint8_t* b, int n) {
  char out[2 * 256 + 1];
  EXPECT_EQ(SmsBytesToHex(b, n, out), 2 * n);
  return out;
}

std::string Pdu(uint8_t dcs, const std::string& data, const char* number = "12345") {
  SmsRecord r{};
  std::strcpy(r.Tpa, number);
  r.Dcs = dcs;
  std::memcpy(r.Data, data.data(), data.size());
  char out[SMS_PDU_ROOM];
  const int n = SmsEncodePdu(r, out);
  EXPECT_EQ(n, static_cast<int>(std::strlen(out)));
  return out;
}

const std::string kNihao = "\xE4\xBD\xA0\xE5\xA5\xBD";  // two CJK characters

TEST(SmsCodec, Ucs2BothWays) {
  uint8_t ud[140];
  char text[SMS_TEXT_MAX + 1];
  const std::pair<std::string, std::string> encoded[] = {
      {kNihao, "4F60597D"},
      {"\xF0\x9F\x98\x80", "D83DDE00"},
      {"\xC3" "a", "FFFD0061"},  // a malformed byte is one replacement character
  };
  for (const auto& [in, hex] : encoded) {
    const int n = EncodeUcs2(in.data(), static_cast<int>(in.size()), ud);
    EXPECT_EQ(Hex(ud, n), hex);
    EXPECT_EQ(DecodeUcs2(ud, n, text), in[0] == '\xC3' ? 4 : static_cast<int>(in.size()));
  }
  EXPECT_EQ(EncodeUcs2(std::string(70, 'a').data(), 70, ud), 136);  // cut to 68 units
  const std::string pairAtCut = std::string(67, 'a') + "\xF0\x9F\x98\x80";
  EXPECT_EQ(EncodeUcs2(pairAtCut.data(), 71, ud), 134);  // never half a pair
  uint8_t many[120];
  for (int i = 0; i < 120; i += 2) many[i] = 0x4F, many[i + 1] = 0x60;
  EXPECT_EQ(DecodeUcs2(many, 120, text), 159);  // 53 whole characters within 160 bytes
}

TEST(SmsCodec, PduOfEachCoding) {
  EXPECT_EQ(Pdu(SMS_DCS_7BIT, "hellohello"), "00310005A12143F50000A70AE8329BFD4697D9EC37");
  EXPECT_EQ(Pdu(4, "AB", "1234"), "00310004A121430004A7024142");
  EXPECT_EQ(Pdu(SMS_DCS_7BIT, std::string(SMS_DATA_MAX, 'a'), "1").size(), 20u + 2 * 175);
}

}  // namespace
