#include "engine/util/util.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

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

// A result as text: the bytes written, or "<code>" for a refusal.
std::string Got(int n, const char* dest) {
  return n < 0 ? "<" + std::to_string(n) + ">" : std::string(dest, n);
}

std::string AllBytes() {
  std::string all;
  for (int c = 0; c < 256; c++) all += static_cast<char>(c);
  return all;
}

TEST(UtilFind, FirstAndLast) {
  struct Case {
    std::string buf, pat;
    int first, last;
  };
  const std::vector<Case> cases = {
      {"xabab", "ab", 1, 3},      {"xabab", "xababx", -1, -1}, {"aaa", "ba", -2, -2},
      {"abc", "", 0, 3},          {"", "", 0, 0},              {"", "a", -1, -1},
      {"abcd", "cd", 2, 2},       {"aaaa", "aa", 0, 2},        {"a\0b\0b"s, "\0b"s, 1, 3},
      {"abcabd", "abd", 3, 3},  // a partial match must not hide the real one
      {"\xE4\xB8\xAD\xE6\x96\x87", "\xE6\x96\x87", 3, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.buf + " / " + c.pat);
    EXPECT_EQ(TarvMemFind4(c.buf.data(), Len(c.buf), c.pat.data(), Len(c.pat)), c.first);
    EXPECT_EQ(TarvMemFindLast4(c.buf.data(), Len(c.buf), c.pat.data(), Len(c.pat)), c.last);
  }
  // Only the given length is searched, not up to a terminator.
  EXPECT_EQ(TarvMemFindLast4("abcab", 4, "ab", 2), 0);
  EXPECT_EQ(TarvMemFind4("abcab", 4, "cab", 3), -2);
}

// TarvGetWord3 splits at blanks (sep 0), GetWord4 at one separator byte.
TEST(UtilWords, WordsAndFields) {
  struct Case {
    std::string line;
    char sep;
    int index;
    std::string word;
  };
  const std::vector<Case> cases = {
      {"  one two\n", 0, 2, "two"},
      {"  one two\n", 0, 3, "<-3>"},
      {"one two", 0, 0, "<-3>"},
      {" \t\r\n", 0, 1, "<-3>"},
      {"a\tb\vc\fd\re\nf", 0, 6, "f"},
      {"x\xA0y", 0, 1, "x\xA0y"},  // bytes a locale calls blank belong to words
      {std::string(1030, 'w'), 0, 1, std::string(1022, 'w')},
      {std::string(1021, 'a') + " b", 0, 2, "<-3>"},  // 'b' lies past the cut
      {std::string(1020, 'a') + " b", 0, 2, "b"},
      {"alpha,beta", ',', 1, "alpha"},  // no separator before the first field
      {"a,,c", ',', 2, ""},
      {"a,,c", ',', 3, "c"},
      {"a,,c", ',', 4, "<-1>"},
      {"a,,c", ',', 0, "<-1>"},
      {"", ',', 1, ""},
      {"x,", ',', 2, ""},
      {"a,b\n", ',', 2, "b "},  // the final newline becomes a blank of the field
      {"a b", ' ', 2, "b"},      // the blank added after the line is no separator
      {"a b", ' ', 3, "<-1>"},
      {std::string(1021, 'a') + ",b", ',', 2, ""},
      {std::string(1200, 'z'), ',', 1, std::string(1022, 'z')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 40) + " #" + std::to_string(c.index));
    auto dest = Filled();
    int n = c.sep ? GetWord4(c.line.c_str(), c.index, dest.data(), c.sep)
                  : TarvGetWord3(c.line.c_str(), c.index, dest.data());
    EXPECT_EQ(Got(n, dest.data()), c.word);
    EXPECT_EQ(dest[n < 0 ? 0 : n], kFill) << "wrote past the word";
  }
}

TEST(UtilWords, GetFirstWord4) {
  struct Case {
    std::string buf, word;
    int result;
  };
  const std::vector<Case> cases = {
      {"  ab cd", "ab", 5},
      {"ab", "ab", 2},
      {"", "", 0},
      {"   ", "", 3},
      {"\x01\x20x\tz", "x", 4},               // every byte below 0x21 separates
      {"\xE4\xB8\xAD x", "\xE4\xB8\xAD", 4},  // bytes from 0x80 belong to words
      {std::string(1025, 'w') + " x", std::string(1022, 'w'), 1026},
      {std::string(1024, 'w') + " x", std::string(1024, 'w'), 1025},  // kept whole
      {std::string(1023, 'w'), std::string(1023, 'w'), 1023},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.buf.substr(0, 40));
    auto dest = Filled();
    int outLen = -7;
    EXPECT_EQ(TarvGetFirstWord4(c.buf.data(), Len(c.buf), dest.data(), &outLen), c.result);
    ASSERT_EQ(outLen, Len(c.word));
    EXPECT_EQ(std::string(dest.data(), outLen), c.word);
    EXPECT_EQ(dest[outLen], c.word.empty() ? '\0' : kFill);
  }
}

TEST(UtilUrl, EncodeAndDecode) {
  struct Case {
    bool encode;
    std::string in;
    int capacity;
    std::string out;
  };
  const std::vector<Case> cases = {
      {true, "a b=%", 100, "a+b%3d%25"},
      {true, "+&?", 100, "%2b&?"},
      {true, "!~\x7F\x20\x21\xC3", 100, "!~%7f+!%c3"},
      {true, "\n\0"s, 100, "%0a%00"},
      {true, "abc", 7, "abc"},   // room of 5 before the last byte is enough
      {true, "abc", 6, "<-1>"},  // ... and 4 is not
      {true, "", 0, "<-1>"},
      {false, "a+b%3d", 100, "a b="},
      {false, "%ff%FF", 100, "\xFF\xFF"},
      {false, "%4g", 100, "\x04"},     // one hex digit is taken too
      {false, "% 5", 100, "\x05"},     // %x skips a leading blank
      {false, "%41%zzB", 100, "AAB"},  // no number: the last one decoded
      {false, "%zz", 100, "\0"s},      // ... none yet
      {false, "x%", 100, "x\0"s},      // '%' at the end reads nothing beyond
      {false, "abc", 4, "abc"},
      {false, "abc", 3, "<-1>"},       // the count reached the capacity
      {false, "", 1, ""},
      {false, "", 0, "<-1>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in + (c.encode ? " encode" : " decode"));
    auto dest = Filled();
    int n = c.encode ? TarvUrlEncode(c.in.data(), Len(c.in), dest.data(), c.capacity)
                     : TarvUrlDecode(c.in.data(), Len(c.in), dest.data(), c.capacity);
    EXPECT_EQ(Got(n, dest.data()), c.out);
    if (n >= 0) {
      EXPECT_EQ(dest[n], '\0');
    }
    for (int i = c.capacity; i < 20; i++) ASSERT_EQ(dest[i], kFill) << "wrote past capacity";
  }
  // The digits after '%' are read only inside the given length.
  char dest[8];
  ASSERT_EQ(TarvUrlDecode("%41", 2, dest, sizeof dest), 1);
  EXPECT_EQ(dest[0], '\x04');
  const std::string all = AllBytes();
  char enc[1024], dec[1024];
  int e = TarvUrlEncode(all.data(), Len(all), enc, sizeof enc);
  ASSERT_GT(e, 0);
  EXPECT_EQ(std::string(dec, TarvUrlDecode(enc, e, dec, sizeof dec)), all);
}

TEST(UtilReplace, Replace) {
  struct Case {
    std::string text, key, rep;
    int result;
    std::string after;
  };
  const std::string x1020(1020, 'x');
  const std::vector<Case> cases = {
      {"aXbX", "X", "YY", 2, "aYYbYY"},
      {"aXbX", "X", "", 2, "ab"},
      {"aXbX", "Z", "YY", 0, "aXbX"},
      {"ab", "abc", "Z", -1, "ab"},
      {"aaaa", "aa", "b", 2, "bb"},  // occurrences do not overlap
      {"ab", "a", "aa", 1, "aab"},   // inserted text is not searched again
      {"abc", "bc", "Z", 1, "aZ"},
      {x1020 + "K", "K", "yy", 1, x1020 + "yy"},      // exactly 1022 bytes out
      {x1020 + "xK", "K", "yy", -2, x1020 + "xK"},    // 1023: unchanged
      {x1020 + "xxxK", "K", "", -2, x1020 + "xxxK"},  // 1022 copied, one more byte
      {"K" + x1020 + "xx", "K", "", 1, x1020 + "xx"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 30) + " / " + c.key + " / " + c.rep);
    std::array<char, 1200> text = Filled();
    std::copy(c.text.begin(), c.text.end(), text.begin());
    int len = Len(c.text);
    EXPECT_EQ(TarvMemReplace6(text.data(), &len, c.key.data(), Len(c.key), c.rep.data(),
                              Len(c.rep)),
              c.result);
    EXPECT_EQ(std::string(text.data(), len), c.after);
    if (len < Len(c.text)) {
      EXPECT_EQ(text[len], c.text[len]) << "a terminator was added";
    }
  }
  int len = 3;
  char t[] = "abc";
  EXPECT_EQ(TarvMemReplace6(t, &len, "", 0, "x", 1), -1);  // an empty key never loops
  EXPECT_EQ(len, 3);
}

TEST(UtilNumber, IntegerAndNumberChecks) {
  struct Case {
    std::string text;
    int integer, number;
  };
  const std::vector<Case> cases = {
      {" 12 ", 0, 0},  {"1\xE4" "2", 0, 0},  // bytes from 0x80 count as blank
      {"\t7\n", 0, 0}, {"", 0, 0},     {"-1", -1, 0},   {"1.5", -1, 0},
      {"12a", -1, -1}, {"+1", -1, -1}, {"\x7F", -1, -1}, {"- 3", -1, 0},
      {".5", -1, 0},   {"1.2.3", -1, -1}, {"3-", -1, -1}, {"--1", -1, -1}, {"1e3", -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TarvIsInteger2(c.text.data(), Len(c.text)), c.integer);
    EXPECT_EQ(TarvIsNumber2(c.text.data(), Len(c.text)), c.number);
  }
  // Only the given length is checked.
  EXPECT_EQ(TarvIsInteger2("12a", 2), 0);
  EXPECT_EQ(TarvIsNumber2("12-", 2), 0);
  EXPECT_EQ(TarvIsInteger2("a", -1), 0);
}

TEST(UtilNumber, Atoi) {
  struct Case {
    std::string text;
    int32_t value;
  };
  const std::vector<Case> cases = {
      {"  -17x", -17},       {"\t+5", 5},          {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX}, {"-2147483648", INT32_MIN}, {"-2147483649", INT32_MIN},
      {"99999999999999999999999999", INT32_MAX}, {"-99999999999999999999999999", INT32_MIN},
      {"", 0},               {"- 5", 0},           {"\xA0" "5", 0},  // not a blank for the reader
  };
  for (const auto& c : cases) EXPECT_EQ(TarvAtoi(c.text.c_str()), c.value) << c.text;
}

TEST(UtilText, EscapeQuotes) {
  auto repeat = [](const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; i++) r += s;
    return r;
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\\'\"", "\\\\\\'\\\""},
      {"", ""},
      {std::string(1500, 'a'), std::string(1000, 'a')},  // input cut to 1000
      {std::string(30, '\'') + std::string(970, 'a'),     // stops past 1020
       repeat("\\'", 30) + std::string(961, 'a')},
      {std::string(600, '"'), repeat("\\\"", 511)},
  };
  for (const auto& [in, out] : cases) {
    SCOPED_TRACE(in.substr(0, 20));
    auto dest = Filled();
    TarvEscapeQuotes(in.c_str(), dest.data());
    EXPECT_EQ(std::string(dest.data()), out);
    EXPECT_EQ(dest[1023], kFill) << "wrote past 1023 bytes";
  }
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

TEST(UtilPath, DirectoryAndFileName) {
  struct Case {
    std::string path, dir, file;
  };
  std::string deep(1100, 'a');
  deep[1050] = '/';
  const std::vector<Case> cases = {
      {"/usr/bin/tarv", "/usr/bin/", "tarv"},
      {"/tarv", "", "/tarv"},  // a separator only at the first byte
      {"tarv", "", "tarv"},
      {"dir/", "dir/", ""},
      {"a//b", "a//", "b"},
      {"", "", ""},
      {deep, "", std::string(1023, 'a')},  // only the first 1023 bytes are read
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 40));
    auto d = Filled();
    auto f = Filled();
    EXPECT_EQ(PathDirectory(c.path.c_str(), d.data()), Len(c.dir));
    EXPECT_EQ(std::string(d.data()), c.dir);
    EXPECT_EQ(PathFileName(c.path.c_str(), f.data()), Len(c.file));
    EXPECT_EQ(std::string(f.data()), c.file);
    EXPECT_EQ(f[1024], kFill);
  }
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
