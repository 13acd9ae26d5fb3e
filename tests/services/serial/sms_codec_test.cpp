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
