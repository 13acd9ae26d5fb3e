#include "engine/util/util.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/log/log.h"
#include "tests/engine/harness.h"

namespace {

using namespace std::string_literals;
using tarvtest::TempDir;

int Len(const std::string& s) { return static_cast<int>(s.size()); }

// Destination buffers are filled with '#' so that a byte written past the
// returned length (or a stray terminator) shows.
constexpr char kFill = '#';
std::array<char, 1200> Filled() {
  std::array<char, 1200> b;
  b.fill(kFill);
  return b;
}

std::string AllBytes() {
  std::string all;
  for (int c = 0; c < 256; c++) all += static_cast<char>(c);
  return all;
}

std::vector<std::string> Split(const std::string& s) {
  std::vector<std::string> parts(1);
  for (const char c : s) {
    if (c == '|') {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

// One call of cases/util.txt: "FUNCTION:ARGUMENTS".  Every destination is
// checked for bytes written past the result.
std::string Call(const std::string& input) {
  const size_t colon = input.find(':');
  const std::string fn = input.substr(0, colon);
  const std::vector<std::string> a = Split(input.substr(colon + 1));
  auto dest = Filled();
  auto text = [&](int n) { return n < 0 ? "<" + std::to_string(n) + ">" : std::string(dest.data(), n); };
  if (fn == "find")
    return std::to_string(TarvMemFind4(a[0].data(), Len(a[0]), a[1].data(), Len(a[1]))) + " " +
           std::to_string(TarvMemFindLast4(a[0].data(), Len(a[0]), a[1].data(), Len(a[1])));
  if (fn == "word") {
    const int n = a[1].empty() ? TarvGetWord3(a[0].c_str(), std::stoi(a[2]), dest.data())
                               : GetWord4(a[0].c_str(), std::stoi(a[2]), dest.data(), a[1][0]);
    EXPECT_EQ(dest[n < 0 ? 0 : n], kFill) << "wrote past the word: " << input.substr(0, 40);
    return text(n);
  }
  if (fn == "firstword") {
    int outLen = -7;
    const int r = TarvGetFirstWord4(a[0].data(), Len(a[0]), dest.data(), &outLen);
    EXPECT_EQ(dest[outLen], outLen == 0 ? '\0' : kFill) << input.substr(0, 40);
    return std::to_string(r) + " " + std::to_string(outLen) + " " + text(outLen);
  }
  if (fn == "encode" || fn == "decode") {
    const int cap = std::stoi(a[0]);
    const int n = fn == "encode" ? TarvUrlEncode(a[1].data(), Len(a[1]), dest.data(), cap)
                                 : TarvUrlDecode(a[1].data(), Len(a[1]), dest.data(), cap);
    if (n >= 0) {
      EXPECT_EQ(dest[n], '\0') << input;
    }
    for (int i = cap; i < 20; i++) EXPECT_EQ(dest[i], kFill) << "wrote past capacity: " << input;
    return text(n);
  }
  if (fn == "replace") {
    std::copy(a[0].begin(), a[0].end(), dest.begin());
    int len = Len(a[0]);
    const int r = TarvMemReplace6(dest.data(), &len, a[1].data(), Len(a[1]), a[2].data(), Len(a[2]));
    if (len < Len(a[0])) {
      EXPECT_EQ(dest[len], a[0][len]) << "a terminator was added: " << input.substr(0, 40);
    }
    return std::to_string(r) + " " + text(len);
  }
  if (fn == "number")
    return std::to_string(TarvIsInteger2(a[0].data(), Len(a[0]))) + " " +
           std::to_string(TarvIsNumber2(a[0].data(), Len(a[0])));
  if (fn == "atoi") return std::to_string(TarvAtoi(a[0].c_str()));
  if (fn == "escape") {
    TarvEscapeQuotes(a[0].c_str(), dest.data());
    EXPECT_EQ(dest[1023], kFill) << "wrote past 1023 bytes";
    return dest.data();
  }
  if (fn == "path") {
    auto file = Filled();
    const int d = PathDirectory(a[0].c_str(), dest.data());
    const int f = PathFileName(a[0].c_str(), file.data());
    EXPECT_EQ(file[1024], kFill);
    return std::to_string(d) + " " + dest.data() + " | " + std::to_string(f) + " " + file.data();
  }
  if (fn == "html") return text(HtmlEscape(a[1].data(), Len(a[1]), dest.data(), std::stoi(a[0])));
  ADD_FAILURE() << "no function " << fn;
  return "";
}

TEST(Util, Cases) { tarvtest::ExpectLineCases("util.txt", Call); }

// Only the given length is read.
TEST(Util, OnlyTheGivenLengthIsRead) {
  EXPECT_EQ(TarvMemFindLast4("abcab", 4, "ab", 2), 0);
  EXPECT_EQ(TarvMemFind4("abcab", 4, "cab", 3), -2);
  EXPECT_EQ(TarvIsInteger2("12a", 2), 0);
  EXPECT_EQ(TarvIsNumber2("12-", 2), 0);
  EXPECT_EQ(TarvIsInteger2("a", -1), 0);
  char dest[8];
  ASSERT_EQ(TarvUrlDecode("%41", 2, dest, sizeof dest), 1);
  EXPECT_EQ(dest[0], '\x04');
}

TEST(Util, UrlEncodingRoundTripsEveryByte) {
  const std::string all = AllBytes();
  char enc[1024], dec[1024];
  int e = TarvUrlEncode(all.data(), Len(all), enc, sizeof enc);
  ASSERT_GT(e, 0);
  EXPECT_EQ(std::string(dec, TarvUrlDecode(enc, e, dec, sizeof dec)), all);
}

TEST(UtilText, FormatInto) {
  for (const auto& [size, result] : std::vector<std::pair<int, int>>{
           {0, 0}, {1021, 1021}, {1022, 0}, {5000, 0}}) {
    SCOPED_TRACE(size);
    const std::string arg(size, 'f');
    auto dest = Filled();
    int n = TarvFormatInto(dest.data(), "%s", arg.c_str());
    EXPECT_EQ(n, result);
    EXPECT_EQ(std::string(dest.data(), n), arg.substr(0, n));
    EXPECT_EQ(dest[n], kFill) << "wrote a terminator or past the text";
  }
  auto dest = Filled();
  EXPECT_EQ(TarvFormatInto(dest.data(), "%02X|%-4s|%3d", 10, "ab", 7), 11);
  EXPECT_EQ(std::string(dest.data(), 12), "0A|ab  |  7#");
}

TEST(UtilFile, ReadFile) {
  TempDir dir;
  const std::string bytes = "line\r\n\0\x1A\xFFtail"s;
  const std::string path = dir.Write("data.bin", bytes);
  for (const auto& [capacity, result] : std::vector<std::pair<int, int>>{
           {100, Len(bytes)}, {Len(bytes), Len(bytes)}, {4, 4}, {0, 0}}) {
    SCOPED_TRACE(capacity);
    auto buf = Filled();
    int n = TarvReadFile(path.c_str(), buf.data(), capacity);
    ASSERT_EQ(n, result);
    EXPECT_EQ(std::string(buf.data(), n), bytes.substr(0, n));  // no text conversion
    EXPECT_EQ(buf[n], kFill) << "a terminator was added";
  }
  char buf[8];
  EXPECT_EQ(TarvReadFile(dir.File("missing.bin").c_str(), buf, sizeof buf), -3);
}

// The digest of the same bytes as the system's md5sum / sha1sum print it.
std::string ToolDigest(const char* tool, const std::string& path) {
  std::FILE* p = popen((std::string(tool) + " '" + path + "'").c_str(), "r");
  if (!p) return "<popen failed>";
  char line[256] = {};
  const bool got = std::fgets(line, sizeof line, p) != nullptr;
  pclose(p);
  std::string hex;
  for (const char* c = line; got && std::isxdigit(static_cast<unsigned char>(*c)); c++)
    hex += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
  return hex;
}

TEST(UtilDigest, MatchesSystemTools) {
  TempDir dir;
  std::string big;
  for (int i = 0; i < 100000; i++) big += static_cast<char>(i * 31 + i / 7);
  const std::vector<std::string> inputs = {"", "abc", "\0\0\0"s, AllBytes(), big};
  struct Alg {
    HashAlg alg;
    const char* tool;
    int digits;
  };
  for (const Alg a : {Alg{HashAlg::MD5, "md5sum", 32}, Alg{HashAlg::SHA1, "sha1sum", 40}}) {
    for (size_t i = 0; i < inputs.size(); i++) {
      SCOPED_TRACE(std::string(a.tool) + " input " + std::to_string(i));
      const std::string want = ToolDigest(a.tool, dir.Write("in" + std::to_string(i), inputs[i]));
      ASSERT_EQ(Len(want), a.digits) << want;
      auto dest = Filled();
      EXPECT_EQ(HashToHex(inputs[i].data(), Len(inputs[i]), a.alg, dest.data()), a.digits);
      EXPECT_EQ(std::string(dest.data()), want);
      EXPECT_EQ(dest[a.digits + 1], kFill);
    }
  }
  char dest[41];
  EXPECT_EQ(HashToHex("x", -1, HashAlg::MD5, dest), -3);
}

}  // namespace
