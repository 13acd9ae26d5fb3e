// The text of each value syntax an answer may carry.
#include <gtest/gtest.h>

#include <string>

#include "services/snmp/snmp_statements.h"
#include "tests/services/case_rows.h"

namespace {

// values.tsv: the text of each value syntax an answer may carry.
TEST(SnmpValueToStr, EverySyntax) {
  for (const auto& row : tarvtest::LoadRows("services/snmp/values.tsv")) {
    char out[1024];
    const SnmpValue v{std::stoi(row[1]), std::stoll(row[2]), reinterpret_cast<const uint8_t*>(row[3].data()),
                      row[3].size()};
    EXPECT_EQ(tarvSnmpValueToStr(v, out), static_cast<int>(row[4].size())) << row[0];
    EXPECT_EQ(std::string(out), row[4]) << row[0];
  }
  const std::string big(1500, 'x');
  char out[1024];
  const SnmpValue longOctets{4, 0, reinterpret_cast<const uint8_t*>(big.data()), big.size()};
  EXPECT_EQ(tarvSnmpValueToStr(longOctets, out), 1020);
  EXPECT_EQ(std::string(out), big.substr(0, 1020));
}

}  // namespace
