#include "engine/log/hex_dump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "engine/core/engine.h"
#include "engine/log/log.h"
#include "tests/engine/harness.h"

namespace {

class HexDumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TarvEngineReset();
    path_ = tarvtest::LogInto(dir_);
    TarvSetLogLevel(4);
  }
  void TearDown() override { TarvEngineReset(); }

  // The info entries written so far, from the first dump on.
  std::string Dumps() {
    TarvFlushLog();
    const std::string log = tarvtest::ReadFile(path_);
    size_t at = log.find("\nHexLog DataLen=");
    if (at == std::string::npos) at = log.find("\nHight4Bit");
    return at == std::string::npos ? "" : log.substr(at);
  }

  // Starts over with no log file yet.
  void Fresh() {
    TarvEngineReset();
    SetUp();
    std::filesystem::remove(path_);
  }

  tarvtest::TempDir dir_;
  std::string path_;
};

TEST_F(HexDumpTest, DumpsOfReceivedAndSentBytes) {
  struct Case {
    const char* name;
    std::string data;
    int offset, len;
    bool sent;
  };
  std::string wide;
  for (int i = 0; i < 250; i++) wide += static_cast<char>('a' + i % 26);
  wide.replace(5, 3, "\x7f\x1f\xe4");
  const Case cases[] = {
      {"chunks end after a newline", "AB\nCD", 0, 5, false},
      {"empty", "x", 0, 0, false},
      {"negative length", "x", 0, -4, false},
      // A 120-byte chunk shows its count as "12", the first two characters of 120.
      {"full chunks get wider rows", wide, 0, 250, false},
      {"shown bytes are escaped", "a<b>&", 0, 5, false},
      {"sent: at most 64 bytes", std::string(100, 'x'), 0, 100, true},
      {"sent: from an offset", "hello0123456789tail", 5, 10, true},
      {"sent: a newline ends it", "ab\ncd", 0, 5, true},
      {"sent: GB2312 pair", "\xc4\xe3!", 0, 3, true},
      {"sent: lone high byte", "a\xc4", 0, 2, true},
      {"sent: high byte before ASCII", "\xc4" "a\xa1\xf8", 0, 4, true},
      {"sent: newline as byte 65", std::string(64, 'y') + "\nzz", 0, 67, true},
      {"sent: markup", "<&>", 0, 3, true},
  };
  std::string all;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    // Exactly the case's bytes on the heap: a read past them is caught by the
    // address sanitizer, and could pick up a newline that is not there.
    auto bytes = std::make_unique<char[]>(c.data.size());
    std::memcpy(bytes.get(), c.data.data(), c.data.size());
    if (c.sent) {
      HexLogSent(bytes.get(), c.offset, c.len);
    } else {
      EXPECT_EQ(HexLog(bytes.get(), c.len), 0);
    }
    all += tarvtest::Section(c.name, Dumps());
  }
  tarvtest::ExpectGolden("hex_dumps.txt", all);
}

// Whatever the data, every chunk's three rows keep each byte in one column,
// also past offset 9999 where the label widens.
TEST_F(HexDumpTest, ColumnsStayAlignedOverLargeData) {
  std::mt19937 rng(7);
  std::string data(20000, 0);
  for (char& c : data) {
    const unsigned r = rng() % 100;
    c = r < 2 ? '\n' : static_cast<char>('A' + r % 26);
  }
  ASSERT_EQ(HexLog(data.data(), static_cast<int>(data.size())), 0);
  const std::string dumps = Dumps();
  size_t at = dumps.find('\n', 1);  // after "HexLog DataLen=20000"
  size_t covered = 0;
  int chunks = 0;
  while (dumps.compare(at, 10, "\nHight4Bit") == 0) {
    std::string rows[3];
    size_t p = at + 1;
    for (auto& r : rows) {
      const size_t nl = dumps.find('\n', p);
      r = dumps.substr(p, nl - p);
      p = nl + 1;
    }
    at = p;
    ASSERT_EQ(rows[0].size(), rows[1].size());
    ASSERT_EQ(rows[0].size(), rows[2].size());
    const size_t label = rows[2].find("] [") + 3;
    ASSERT_EQ(rows[2].substr(0, 1), "[");
    EXPECT_EQ(std::stoul(rows[2].substr(1)), covered);
    EXPECT_EQ(rows[0][label - 1], '[');
    EXPECT_EQ(rows[1][label - 1], '[');
    size_t k = 0;
    for (; label + k < rows[2].size() && rows[2][label + k] != ']'; k++) {
      const unsigned char b = static_cast<unsigned char>(data[covered + k]);
      ASSERT_EQ(rows[0][label + k], "0123456789ABCDEF"[b >> 4]);
      ASSERT_EQ(rows[1][label + k], "0123456789ABCDEF"[b & 15]);
      ASSERT_EQ(rows[2][label + k], b == '\n' ? '.' : static_cast<char>(b));
    }
    ASSERT_GT(k, 0u);
    ASSERT_LE(k, 120u);
    // A chunk is cut at 120 bytes or right after a newline.
    const std::string chunk = data.substr(covered, k);
    EXPECT_TRUE(k == 120 || chunk.back() == '\n' || covered + k == data.size());
    EXPECT_EQ(chunk.find('\n'), chunk.back() == '\n' ? k - 1 : std::string::npos);
    covered += k;
    chunks++;
  }
  EXPECT_EQ(covered, data.size());
  EXPECT_GT(chunks, 200);
  EXPECT_EQ(dumps.substr(at), "\nHexLog Data End.");
}

TEST_F(HexDumpTest, NothingBelowLevelFour) {
  TarvSetLogLevel(2);
  EXPECT_EQ(HexLog("abc", 3), 0);
  HexLogSent("abc", 0, 3);
  HtmlLogSuccess("marker");
  EXPECT_EQ(Dumps(), "");
  EXPECT_EQ(tarvtest::ReadFile(path_).find("Hight4Bit ["), std::string::npos);
}

}  // namespace
