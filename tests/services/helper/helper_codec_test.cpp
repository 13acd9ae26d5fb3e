#include "services/helper/helper_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Entry = std::pair<std::string, std::string>;

// Reads every entry of the record, as a caller's loop would.
std::vector<Entry> ReadAll(const std::string& record, int* last) {
  std::vector<Entry> out;
  int at = 0;
  for (int guard = 0; guard < 100; guard++) {
    char name[HELPER_NAME_MAX + 1];
    char value[HELPER_VALUE_MAX + 1];
    int nl = -1, vl = -1;
    *last = HelperGetFirstVar(record.data() + at, static_cast<int>(record.size()) - at, name, &nl,
                              value, &vl);
    if (*last <= 0) break;
    EXPECT_EQ(*last, nl + vl + 6);
    out.emplace_back(std::string(name, nl), std::string(value, vl));
    at += *last;
  }
  return out;
}

TEST(HelperCodec, RoundTripsEveryEntryAndEndsOnTheEmptyRest) {
  const std::vector<Entry> entries = {{"a", "1"},
                                      {"empty", ""},
                                      {std::string(HELPER_NAME_MAX, 'n'), "v"},
                                      {"big", std::string(HELPER_VALUE_MAX, 'x')},
                                      {"bin", std::string("\0\r\n", 3)}};
  char buf[4096];
  int len = 0;
  for (const auto& [n, v] : entries) {
    const int w = HelperSetVar(buf + len, static_cast<int>(sizeof buf) - len, n.data(),
                               static_cast<int>(n.size()), v.data(), static_cast<int>(v.size()));
    ASSERT_EQ(w, static_cast<int>(n.size() + v.size() + 6)) << n;
    len += w;
  }
  EXPECT_EQ(std::string(buf, 19), "01a0001105empty0000");
  int last = 1;
  EXPECT_EQ(ReadAll(std::string(buf, len), &last), entries);
  EXPECT_EQ(last, 0);
}

TEST(HelperCodec, WritesNothingBeyondAnExactRoom) {
  char buf[16];
  std::fill(std::begin(buf), std::end(buf), '#');
  EXPECT_EQ(HelperSetVar(buf, 9, "abc", 3, "", 0), 9);
  EXPECT_EQ(std::string(buf, 10), "03abc0000#");
  EXPECT_EQ(HelperSetVar(buf, 9, "abc", 3, "x", 1), -5);
  EXPECT_EQ(buf[9], '#');
}

TEST(HelperCodec, SetRefusesLengthsOutsideTheFields) {
  char buf[2048];
  const std::string big(HELPER_VALUE_MAX + 1, 'x');
  EXPECT_EQ(HelperSetVar(buf, 2048, "n", 0, "v", 1), -1);
  EXPECT_EQ(HelperSetVar(buf, 2048, big.data(), HELPER_NAME_MAX + 1, "v", 1), -2);
  EXPECT_EQ(HelperSetVar(buf, 2048, "n", 1, big.data(), HELPER_VALUE_MAX + 1), -3);
  EXPECT_EQ(HelperSetVar(buf, 2048, "n", 1, "v", -1), -4);
}

TEST(HelperCodec, GetRefusesMalformedAndCutEntries) {
  const std::pair<std::string, int> cases[] = {
      {"1", -3},                        // the name length is cut
      {"a1bc0001x", -103},              // not digits
      {"00", -101},
      {"62" + std::string(70, 'n'), -102},
      {"05abc", -3},                    // the name is cut
      {"03abc00", -3},                  // the value length is cut
      {"03abc00x1y", -106},
      {"03abc0009xy", -4},              // the value is cut
      {"03abc1022" + std::string(1022, 'x'), -105},
  };
  for (const auto& [in, code] : cases) {
    SCOPED_TRACE(in.substr(0, 20));
    char name[HELPER_NAME_MAX + 1];
    char value[HELPER_VALUE_MAX + 1];
    int nl = -1, vl = -1;
    EXPECT_EQ(HelperGetFirstVar(in.data(), static_cast<int>(in.size()), name, &nl, value, &vl),
              code);
    EXPECT_LE(nl, HELPER_NAME_MAX);
    EXPECT_EQ(vl, 0);
  }
}

}  // namespace
