#include "services/helper/helper_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/services/case_rows.h"

namespace {

using Entry = std::pair<std::string, std::string>;

int Set(char* out, int room, const std::string& n, const std::string& v, int vl = -2) {
  return HelperSetVar(out, room, n.data(), static_cast<int>(n.size()), v.data(),
                      vl == -2 ? static_cast<int>(v.size()) : vl);
}

// The first entry of in: its result, and the entry when one was taken.
std::pair<int, Entry> Get(const std::string& in) {
  char name[HELPER_NAME_MAX + 1];
  char value[HELPER_VALUE_MAX + 1];
  int nl = -1, vl = -1;
  const int r = HelperGetFirstVar(in.data(), static_cast<int>(in.size()), name, &nl, value, &vl);
  if (r <= 0) return {r, {}};
  EXPECT_EQ(r, nl + vl + 6);
  return {r, {std::string(name, nl), std::string(value, vl)}};
}

TEST(HelperCodec, RoundTripsAndAnEmptyValueIsTaken) {
  const std::vector<Entry> entries = {{"a", "1"},
                                      {"empty", ""},
                                      {std::string(HELPER_NAME_MAX, 'n'), "v"},
                                      {"big", std::string(HELPER_VALUE_MAX, 'x')},
                                      {"bin", std::string("\0\r\n", 3)}};
  std::string record(4096, '\0');
  int len = 0;
  for (const auto& [n, v] : entries) len += Set(record.data() + len, 4096 - len, n, v);
  record.resize(static_cast<size_t>(len));
  EXPECT_EQ(record.substr(0, 19), "01a0001105empty0000");
  std::vector<Entry> back;
  for (auto [r, e] = Get(record); r > 0 && back.size() < 10; std::tie(r, e) = Get(record)) {
    back.push_back(e);
    record.erase(0, static_cast<size_t>(r));
  }
  EXPECT_EQ(back, entries);
  EXPECT_TRUE(record.empty());
}

TEST(HelperCodec, SetKeepsToTheFieldsAndTheRoom) {
  char buf[2048];
  std::fill(std::begin(buf), std::end(buf), '#');
  EXPECT_EQ(Set(buf, 9, "abc", ""), 9);  // an exact room: nothing written past it
  EXPECT_EQ(std::string(buf, 10), "03abc0000#");
  EXPECT_EQ(Set(buf, 9, "abc", "x"), -5);
  EXPECT_EQ(buf[9], '#');
  const std::string big(HELPER_VALUE_MAX + 1, 'x');
  EXPECT_EQ(Set(buf, 2048, "", "v"), -1);
  EXPECT_EQ(Set(buf, 2048, big.substr(0, HELPER_NAME_MAX + 1), "v"), -2);
  EXPECT_EQ(Set(buf, 2048, "n", big), -3);
  EXPECT_EQ(Set(buf, 2048, "n", "v", -1), -4);
}

// bad_entries.tsv: malformed and cut entries.
TEST(HelperCodec, GetRefusesMalformedAndCutEntries) {
  for (const auto& row : tarvtest::LoadRows("services/helper/bad_entries.tsv"))
    EXPECT_EQ(Get(row[0]).first, std::stoi(row[1])) << row[0].substr(0, 12);
}

}  // namespace
