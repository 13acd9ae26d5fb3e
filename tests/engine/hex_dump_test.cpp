#include "engine/log/hex_dump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/log/log.h"
#include "tests/engine/harness.h"

namespace {

// One row of a dump: its text, blank-filled to the row's width, and a newline.
std::string Row(const std::string& text, size_t width) {
  return text + std::string(width - 1 - text.size(), ' ') + "\n";
}

// The log shows dump text with &, < and > as entities.
std::string Esc(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

std::string Hex(const std::string& bytes, bool high) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) out += kDigits[high ? b >> 4 : b & 15];
  return out;
}

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

  tarvtest::TempDir dir_;
  std::string path_;
};

TEST_F(HexDumpTest, ChunksEndAfterANewline) {
  const std::string data = "AB\nCD";
  EXPECT_EQ(HexLog(data.data(), 5), 0);
  EXPECT_EQ(Dumps(), "\nHexLog DataLen=5\n" + Row("Hight4Bit [440]", 120) +
                         Row("Low  4Bit [12A]", 120) + Row("[0000/03] [AB.]", 120) + "\n" +
                         Row("Hight4Bit [44]", 120) + Row("Low  4Bit [34]", 120) +
                         Row("[0003/02] [CD]", 120) + "\nHexLog Data End.");
}

TEST_F(HexDumpTest, EmptyDataWritesOnlyTheFrame) {
  for (int len : {0, -4}) {
    TarvEngineReset();
    SetUp();
    std::filesystem::remove(path_);
    EXPECT_EQ(HexLog("x", len), 0);
    EXPECT_EQ(Dumps(), "\nHexLog DataLen=" + std::to_string(len) + "\nHexLog Data End.");
  }
}

TEST_F(HexDumpTest, FullChunksGetWiderRows) {
  std::string data;
  for (int i = 0; i < 250; i++) data += static_cast<char>('a' + i % 26);
  data[5] = '\x7f';
  data[6] = '\x1f';
  data[7] = '\xe4';
  ASSERT_EQ(HexLog(data.data(), 250), 0);
  auto shown = [](std::string s) {
    for (char& c : s)
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '.';
    return s;
  };
  // A 120-byte chunk shows its count as "12", the first two characters of 120.
  std::string expected = "\nHexLog DataLen=250";
  const std::vector<std::pair<int, std::string>> chunks = {
      {0, "12"}, {120, "12"}, {240, "10"}};
  for (const auto& [offset, count] : chunks) {
    const std::string chunk = data.substr(offset, 120);
    const size_t width = std::max<size_t>(120, 11 + chunk.size() + 2);
    char label[16];
    std::snprintf(label, sizeof label, "[%04d/%s] [", offset, count.c_str());
    expected += "\n" + Row("Hight4Bit [" + Hex(chunk, true) + "]", width) +
                Row("Low  4Bit [" + Hex(chunk, false) + "]", width) +
                Row(label + shown(chunk) + "]", width);
  }
  expected += "\nHexLog Data End.";
  EXPECT_EQ(Dumps(), expected);
}

TEST_F(HexDumpTest, ShownBytesAreEscaped) {
  const std::string data = "a<b>&";
  ASSERT_EQ(HexLog(data.data(), 5), 0);
  EXPECT_EQ(Dumps(), "\nHexLog DataLen=5\n" + Row("Hight4Bit [63632]", 120) +
                         Row("Low  4Bit [1C2E6]", 120) +
                         Row("[0000/05] [a&lt;b&gt;&amp;]", 120 + 10) + "\nHexLog Data End.");
  EXPECT_EQ(Esc(Row("[0000/05] [a<b>&]", 120)), Row("[0000/05] [a&lt;b&gt;&amp;]", 130));
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

TEST_F(HexDumpTest, SentDumpShowsAtMost64Bytes) {
  const std::string data(100, 'x');
  HexLogSent(data.data(), 0, 100);
  const std::string shown(64, 'x');
  EXPECT_EQ(Dumps(), "\n" + Esc(Row("Hight4Bit <" + Hex(shown, true) + ">", 80) +
                                 Row("Low  4Bit <" + Hex(shown, false) + ">", 80) +
                                 Row("<0000/64> [" + shown + "]", 80)));
}

TEST_F(HexDumpTest, SentDumpCases) {
  struct Case {
    std::string name;
    std::string data;
    int offset, len;
    std::string high, low, label, text;
  };
  const std::string ten = "0123456789";
  const std::vector<Case> cases = {
      {"offset", "hello" + ten + "tail", 5, 10, Hex(ten, true), Hex(ten, false), "<0005/10> [",
       ten},
      {"newline ends it", "ab\ncd", 0, 5, "660", "12A", "<0000/03> [", "ab."},
      {"GB2312 pair", "\xc4\xe3!", 0, 3, "Ce2", "431", "<0000/03> [", "\xc4\xe3!"},
      {"lone high byte", "a\xc4", 0, 2, "6C", "14", "<0000/02> [", "a."},
      {"high byte before ASCII", "\xc4" "a\xa1\xf8", 0, 4, "C6AF", "4118", "<0000/04> [",
       ".a.."},
      {"newline as byte 65", std::string(64, 'y') + "\n" + "zz", 0, 67,
       Hex(std::string(64, 'y'), true) + "0", Hex(std::string(64, 'y'), false) + "A",
       "<0000/65> [", std::string(64, 'y') + "."},
      {"markup", "<&>", 0, 3, "323", "C6E", "<0000/03> [", "<&>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TarvEngineReset();
    SetUp();
    std::filesystem::remove(path_);
    HexLogSent(c.data.data(), c.offset, c.len);
    EXPECT_EQ(Dumps(), "\n" + Esc(Row("Hight4Bit <" + c.high + ">", 80) +
                                   Row("Low  4Bit <" + c.low + ">", 80) +
                                   Row(c.label + c.text + "]", 80)));
  }
}

TEST_F(HexDumpTest, SentDumpReadsOnlyTheBytesItIsGiven) {
  // Exactly three bytes on the heap: a scan past them would be caught by the
  // address sanitizer and could pick up a newline that is not there.
  auto data = std::make_unique<char[]>(3);
  std::memcpy(data.get(), "abc", 3);
  HexLogSent(data.get(), 0, 3);
  EXPECT_EQ(Dumps(), "\n" + Esc(Row("Hight4Bit <666>", 80) + Row("Low  4Bit <123>", 80) +
                                 Row("<0000/03> [abc]", 80)));
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
