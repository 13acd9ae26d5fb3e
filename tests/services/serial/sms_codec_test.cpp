#include "services/serial/sms_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

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

TEST(SmsCodec, HexAndNumberDigits) {
  uint8_t b[4] = {};
  EXPECT_EQ(SmsHexToBytes("00abFF1a", b, 8), 4);
  EXPECT_EQ(Hex(b, 4), "00ABFF1A");
  EXPECT_EQ(SmsHexToBytes("0G", b, 2), -1);
  EXPECT_EQ(SmsIsHexString("12aF", 4), 1);
  EXPECT_EQ(SmsIsHexString("12aG", 4), 0);
  char d[8];
  EXPECT_EQ(SmsInvertNumbers("12345", d, 5), 6);
  EXPECT_STREQ(d, "2143F5");
  EXPECT_EQ(SmsSerializeNumbers("2143F5", d, 6), 5);
  EXPECT_STREQ(d, "12345");
}

TEST(SmsCodec, SevenBitPacksExactlyTheSeptets) {
  uint8_t packed[16];
  char text[16];
  EXPECT_EQ(SmsEncode7bit("hellohello", 10, packed), 9);
  EXPECT_EQ(Hex(packed, 9), "E8329BFD4697D9EC37");
  EXPECT_EQ(SmsDecode7bit(packed, 9, text), 10);
  EXPECT_STREQ(text, "hellohello");
}

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
  EXPECT_EQ(Pdu(SMS_DCS_UCS2, kNihao), "00310005A12143F50008A7044F60597D");
  EXPECT_EQ(Pdu(SMS_DCS_7BIT, "hellohello"), "00310005A12143F50000A70AE8329BFD4697D9EC37");
  EXPECT_EQ(Pdu(4, "AB", "1234"), "00310004A121430004A7024142");
  EXPECT_EQ(Pdu(SMS_DCS_7BIT, std::string(SMS_DATA_MAX, 'a'), "1").size(), 20u + 2 * 175);
}

TEST(SmsCodec, ListEntries) {
  const std::string cases[][4] = {  // entry, number, time stamp, body ("-" malformed)
      {"123\",,\"20/02/05,10:00:00+32\"\r\n4f60597D\r\n", "123", "20/02/05,10:00:00", kNihao},
      {"123\"\r\n" + std::string(300, 'z'), "123", "", std::string(SMS_DATA_MAX, 'z')},
      {"123\",,\"x\"", "-"},                  // no body line
      {"1234567890123456\"\r\nbody", "-"},    // number too long
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    SmsRecord r;
    const int result = SmsDecodeListEntry(c[0].data(), static_cast<int>(c[0].size()), &r);
    EXPECT_EQ(result, c[1] == "-" ? -1 : 0);
    if (result != 0) continue;
    EXPECT_STREQ(r.Sca, "00");
    EXPECT_EQ(r.Tpa, c[1]);
    EXPECT_EQ(r.Scts, c[2]);
    EXPECT_EQ(r.Data, c[3]);
  }
}

}  // namespace
