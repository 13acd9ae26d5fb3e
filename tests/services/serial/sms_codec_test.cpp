#include "services/serial/sms_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Hex(const uint8_t* b, int n) {
  char out[2 * 600 + 1];
  SmsBytesToHex(b, n, out);
  return out;
}

std::string Pdu(const char* number, uint8_t dcs, const std::string& data) {
  SmsRecord r{};
  std::strcpy(r.Tpa, number);
  r.Dcs = dcs;
  std::memcpy(r.Data, data.data(), data.size());
  char out[SMS_PDU_ROOM];
  const int n = SmsEncodePdu(r, out);
  EXPECT_EQ(n, static_cast<int>(std::strlen(out)));
  return out;
}

TEST(SmsCodec, HexBothWaysInEitherCase) {
  const uint8_t bytes[] = {0x00, 0xAB, 0xFF, 0x1A};
  EXPECT_EQ(Hex(bytes, 4), "00ABFF1A");
  uint8_t back[4] = {};
  EXPECT_EQ(SmsHexToBytes("00abFF1a", back, 8), 4);
  EXPECT_EQ(std::memcmp(back, bytes, 4), 0);
  EXPECT_EQ(SmsHexToBytes("0G", back, 2), -1);
  EXPECT_EQ(SmsIsHexString("12aF", 4), 1);
  EXPECT_EQ(SmsIsHexString("12aG", 4), 0);
  EXPECT_EQ(SmsIsHexString("12aG", 3), 1);
}

TEST(SmsCodec, SevenBitPacksExactlyTheSeptets) {
  uint8_t packed[16];
  EXPECT_EQ(SmsEncode7bit("hellohello", 10, packed), 9);
  EXPECT_EQ(Hex(packed, 9), "E8329BFD4697D9EC37");
  char text[16];
  EXPECT_EQ(SmsDecode7bit(packed, 9, text), 10);
  EXPECT_STREQ(text, "hellohello");
  // Eight septets fill seven octets; the eighth character comes back.
  EXPECT_EQ(SmsEncode7bit("ABCDEFGH", 8, packed), 7);
  EXPECT_EQ(SmsDecode7bit(packed, 7, text), 8);
  EXPECT_STREQ(text, "ABCDEFGH");
  EXPECT_EQ(SmsEncode7bit("", 0, packed), 0);
}

TEST(SmsCodec, EightBitCopies) {
  uint8_t raw[4];
  EXPECT_EQ(SmsEncode8bit("a\x80z", 3, raw), 3);
  char text[5] = "xxxx";
  EXPECT_EQ(SmsDecode8bit(raw, 3, text), 3);
  EXPECT_STREQ(text, "a\x80z");
}

TEST(SmsCodec, NumberDigitsSwapInPairs) {
  char out[20];
  EXPECT_EQ(SmsInvertNumbers("12345", out, 5), 6);
  EXPECT_STREQ(out, "2143F5");
  EXPECT_EQ(SmsInvertNumbers("1234", out, 4), 4);
  EXPECT_STREQ(out, "2143");
  EXPECT_EQ(SmsSerializeNumbers("2143F5", out, 6), 5);
  EXPECT_STREQ(out, "12345");
  EXPECT_EQ(SmsSerializeNumbers("2143", out, 4), 4);
  EXPECT_STREQ(out, "1234");
}

TEST(SmsCodec, Ucs2KeepsSixtyEightUnitsAndWholePairs) {
  uint8_t ud[140];
  const std::string nihao = "\xE4\xBD\xA0\xE5\xA5\xBD";  // two CJK characters
  EXPECT_EQ(EncodeUcs2(nihao.data(), 6, ud), 4);
  EXPECT_EQ(Hex(ud, 4), "4F60597D");
  const std::string seventy(70, 'a');
  EXPECT_EQ(EncodeUcs2(seventy.data(), 70, ud), 136);
  // 67 units and a character of two: the pair would be cut, so it goes whole.
  const std::string tail = std::string(67, 'a') + "\xF0\x9F\x98\x80";
  EXPECT_EQ(EncodeUcs2(tail.data(), static_cast<int>(tail.size()), ud), 134);
  const std::string smile = "\xF0\x9F\x98\x80";
  EXPECT_EQ(EncodeUcs2(smile.data(), 4, ud), 4);
  EXPECT_EQ(Hex(ud, 4), "D83DDE00");
  // A malformed byte is one replacement character.
  EXPECT_EQ(EncodeUcs2("\xC3", 1, ud), 2);
  EXPECT_EQ(Hex(ud, 2), "FFFD");
  EXPECT_EQ(EncodeUcs2("\xC0\x80", 2, ud), 4);
}

TEST(SmsCodec, Ucs2DecodesToWholeUtf8Characters) {
  char text[SMS_TEXT_MAX + 1];
  const uint8_t nihao[] = {0x4F, 0x60, 0x59, 0x7D};
  EXPECT_EQ(DecodeUcs2(nihao, 4, text), 6);
  EXPECT_STREQ(text, "\xE4\xBD\xA0\xE5\xA5\xBD");
  const uint8_t pair[] = {0xD8, 0x3D, 0xDE, 0x00, 0xDC, 0x00};
  EXPECT_EQ(DecodeUcs2(pair, 6, text), 7);
  EXPECT_STREQ(text, "\xF0\x9F\x98\x80\xEF\xBF\xBD");
  // Sixty CJK characters are 180 bytes: 53 whole ones fit in 160.
  uint8_t many[120];
  for (int i = 0; i < 120; i += 2) many[i] = 0x4F, many[i + 1] = 0x60;
  EXPECT_EQ(DecodeUcs2(many, 120, text), 159);
}

TEST(SmsCodec, PduOfEachCoding) {
  EXPECT_EQ(Pdu("12345", SMS_DCS_UCS2, "\xE4\xBD\xA0\xE5\xA5\xBD"),
            "00310005A12143F50008A7044F60597D");
  EXPECT_EQ(Pdu("12345", SMS_DCS_7BIT, "hellohello"), "00310005A12143F50000A70AE8329BFD4697D9EC37");
  EXPECT_EQ(Pdu("1234", 4, "AB"), "00310004A121430004A7024142");
  // The record's whole user data goes out, as 7-bit.
  const std::string full(SMS_DATA_MAX, 'a');
  EXPECT_EQ(Pdu("1", SMS_DCS_7BIT, full).size(), 6u + 2 + 2 + 2 + 8 + 2 * 175);
}

TEST(SmsCodec, ListEntries) {
  struct Case {
    std::string entry;
    int result;
    const char* number;
    const char* stamp;
    std::string data;
  };
  const Case cases[] = {
      {"+8613912345678\",,\"20/02/05,10:00:00+32\"\r\n4F60597D\r\n", 0, "+8613912345678",
       "20/02/05,10:00:00", "\xE4\xBD\xA0\xE5\xA5\xBD"},
      {"123\",,\"20/02/05,10:00:00+32\"\r\n4f60597d\r\n", 0, "123", "20/02/05,10:00:00",
       "\xE4\xBD\xA0\xE5\xA5\xBD"},
      {"123\",,\r\nhello there\r\nnext line", 0, "123", "", "hello there"},
      {"123\",,\"21/01/01,00:00:00\"\r\nABC\r\n", 0, "123", "21/01/01,00:00:00", "ABC"},
      {"123\"\r\n" + std::string(300, 'z'), 0, "123", "", std::string(SMS_DATA_MAX, 'z')},
      {"123\",,\"x\"", -1, "", "", ""},                      // no body line
      {"1234567890123456\"\r\nbody\r\n", -1, "", "", ""},    // number too long
      {"123\r\n\"body\r\n", -1, "", "", ""},                 // number not closed on its line
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    SmsRecord r;
    EXPECT_EQ(SmsDecodeListEntry(c.entry.data(), static_cast<int>(c.entry.size()), &r), c.result);
    if (c.result != 0) continue;
    EXPECT_STREQ(r.Sca, "00");
    EXPECT_STREQ(r.Tpa, c.number);
    EXPECT_STREQ(r.Scts, c.stamp);
    EXPECT_EQ(std::string(r.Data), c.data);
  }
}

TEST(SmsCodec, Utf8CharactersCountWhole) {
  uint32_t c = 0;
  EXPECT_EQ(SmsUtf8Next("\xE4\xBD\xA0", 3, &c), 3);
  EXPECT_EQ(c, 0x4F60u);
  EXPECT_EQ(SmsUtf8Next("\xE4\xBD", 2, &c), 1);  // cut at the end of the text
  EXPECT_EQ(c, 0xFFFDu);
  EXPECT_EQ(SmsUtf8Next("\xED\xA0\x80", 3, &c), 1);  // an encoded surrogate
}

}  // namespace
