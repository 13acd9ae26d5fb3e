// The text of each value syntax an answer may carry.
#include <gtest/gtest.h>

#include <string>

#include "services/snmp/snmp_statements.h"

namespace {

struct Case {
  const char* name;
  int syntax;
  int64_t number;
  std::string bytes;
  const char* text;
};

TEST(SnmpValueToStr, EverySyntax) {
  const std::string big(1500, 'x');
  const Case cases[] = {
      {"integer", 2, -5, "", "-5"},
      {"octets cut at a zero byte", 4, 0, std::string("AB\0CD", 5), "AB"},
      {"empty octets", 4, 0, "", "OCTETS NULL"},
      {"opaque", 68, 0, "op", "op"},
      {"address", 64, 0, "\x0a\x01\x02\xfe", "10.1.2.254"},
      {"short address read no further than its bytes", 64, 0, "\x01\x02", "1.2.0.0"},
      {"empty address", 64, 0, "", "0.0.0.0"},
      {"nsap address", 69, 0, "\x01\x02\x03\x04\x05", "1.2.3.4"},
      {"largest counter", 65, 4294967295LL, "", "4294967295"},
      {"gauge", 66, 7, "", "7"},
      {"unsigned", 71, 3000000000LL, "", "3000000000"},
      {"one day of ticks", 67, 8640000, "", "1 Days 0 Hours 0 Minutes 0 Seconds"},
      {"one minute of ticks", 67, 6000, "", "0 Days 0 Hours 1 Minutes 0 Seconds"},
      {"largest ticks", 67, 4294967295LL, "", "497 Days 2 Hours 27 Minutes 52 Seconds"},
      {"object id", 6, 0, "", "NULL"},
      {"null", 5, 0, "", "NULL"},
      {"counter64", 70, 0, "", "NULL"},
      {"end of the view", 0x82, 0, "", "NULL"},
  };
  for (const Case& c : cases) {
    char out[1024];
    const SnmpValue v{c.syntax, c.number, reinterpret_cast<const uint8_t*>(c.bytes.data()),
                      c.bytes.size()};
    const int n = tarvSnmpValueToStr(v, out);
    EXPECT_EQ(std::string(out), c.text) << c.name;
    EXPECT_EQ(n, static_cast<int>(std::string(c.text).size())) << c.name;
  }
  char out[1024];
  const SnmpValue longOctets{4, 0, reinterpret_cast<const uint8_t*>(big.data()), big.size()};
  EXPECT_EQ(tarvSnmpValueToStr(longOctets, out), 1020);
  EXPECT_EQ(std::string(out), big.substr(0, 1020));
}

}  // namespace
