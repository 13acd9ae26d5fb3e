#include "engine/util.h"

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

TEST(UtilFind, FirstAndLast) {
  struct Case {
    std::string buf, pat;
    int first, last;
  };
  const std::vector<Case> cases = {
      {"xabab", "ab", 1, 3},
      {"xabab", "xababx", -1, -1},
      {"aaa", "ba", -2, -2},
      {"abc", "", 0, 3},
      {"", "", 0, 0},
      {"", "a", -1, -1},
      {"abc", "abc", 0, 0},
      {"abcd", "cd", 2, 2},     // match that ends on the last byte
      {"abcd", "ab", 0, 0},     // match on the first byte
      {"aaaa", "aa", 0, 2},     // overlapping candidates
      {"a\0b\0b"s, "\0b"s, 1, 3},  // NUL bytes are ordinary bytes
      {"\xE4\xB8\xAD\xE6\x96\x87", "\xE6\x96\x87", 3, 3},
      {"abcabd", "abd", 3, 3},  // a partial match must not hide the real one
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.buf + " / " + c.pat);
    EXPECT_EQ(TarvMemFind4(c.buf.data(), Len(c.buf), c.pat.data(), Len(c.pat)), c.first);
    EXPECT_EQ(TarvMemFindLast4(c.buf.data(), Len(c.buf), c.pat.data(), Len(c.pat)), c.last);
  }
  // Only the given length is searched, not up to a terminator.
  EXPECT_EQ(TarvMemFind4("abcab", 4, "ab", 2), 0);
  EXPECT_EQ(TarvMemFindLast4("abcab", 4, "ab", 2), 0);
  EXPECT_EQ(TarvMemFind4("abcab", 4, "cab", 3), -2);
}

TEST(UtilWords, GetWord3) {
  struct Case {
    std::string line;
    int index;
    std::string word;  // "<-3>" for none
  };
  const std::string longWord(1030, 'w');
  const std::vector<Case> cases = {
      {"  one two\n", 1, "one"},
      {"  one two\n", 2, "two"},
      {"  one two\n", 3, "<-3>"},
      {"one two", 0, "<-3>"},
      {"one two", -1, "<-3>"},
      {"", 1, "<-3>"},
      {" \t\r\n", 1, "<-3>"},
      {"a\tb\vc\fd\re\nf", 6, "f"},
      {"\xE4\xB8\xAD \xE6\x96\x87", 2, "\xE6\x96\x87"},  // UTF-8 bytes belong to words
      {"x\xA0y", 1, "x\xA0y"},                           // even those a locale calls blank
      {longWord, 1, std::string(1022, 'w')},             // cut to 1022 bytes
      {std::string(1021, 'a') + " b", 2, "<-3>"},        // 'b' lies past the cut
      {std::string(1020, 'a') + " b", 2, "b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 40) + " #" + std::to_string(c.index));
    auto dest = Filled();
    int n = TarvGetWord3(c.line.c_str(), c.index, dest.data());
    std::string got = n < 0 ? "<" + std::to_string(n) + ">" : std::string(dest.data(), n);
    EXPECT_EQ(got, c.word);
    EXPECT_EQ(dest[n < 0 ? 0 : n], kFill) << "wrote past the word";
  }
}

TEST(UtilWords, GetWord4Fields) {
  struct Case {
    std::string line;
    char sep;
    int index;
    std::string field;  // "<-1>" for too few fields
  };
  const std::vector<Case> cases = {
      {"a,,c", ',', 1, "a"},
      {"a,,c", ',', 2, ""},
      {"a,,c", ',', 3, "c"},
      {"a,,c", ',', 4, "<-1>"},
      {"a,,c", ',', 0, "<-1>"},
      {"a,,c", ',', -2, "<-1>"},
      {"abc", ',', 1, "abc"},
      {"abc", ',', 2, "<-1>"},
      {"", ',', 1, ""},
      {",x", ',', 1, ""},
      {"x,", ',', 2, ""},
      {"a,b\n", ',', 2, "b "},      // the final newline becomes a blank of the field
      {"a b", ' ', 2, "b"},         // the blank added after the line is no separator
      {"a b", ' ', 3, "<-1>"},
      {"1|22|333|4444", '|', 3, "333"},
      {std::string(1021, 'a') + ",b", ',', 2, ""},  // 'b' lies past the cut
      {std::string(1200, 'z'), ',', 1, std::string(1022, 'z')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 40) + " #" + std::to_string(c.index));
    auto dest = Filled();
    int n = GetWord4(c.line.c_str(), c.index, dest.data(), c.sep);
    std::string got = n < 0 ? "<" + std::to_string(n) + ">" : std::string(dest.data(), n);
    EXPECT_EQ(got, c.field);
    EXPECT_EQ(dest[n < 0 ? 0 : n], kFill) << "wrote past the field";
  }
}

TEST(UtilWords, GetFirstWord4) {
  struct Case {
    std::string buf;
    std::string word;
    int result;
  };
  const std::vector<Case> cases = {
      {"  ab cd", "ab", 5},
      {"ab", "ab", 2},               // the word reaches the end
      {"ab ", "ab", 3},
      {"", "", 0},
      {"   ", "", 3},                // separators only
      {"\x01\x20x\tz", "x", 4},      // every byte below 0x21 separates
      {"\xE4\xB8\xAD x", "\xE4\xB8\xAD", 4},  // bytes from 0x80 belong to words
      {"!~", "!~", 2},
      {std::string(1100, 'w') + " x", std::string(1022, 'w'), 1101},
      {std::string(1025, 'w') + " x", std::string(1022, 'w'), 1026},
      {std::string(1024, 'w') + " x", std::string(1024, 'w'), 1025},  // kept whole
      {std::string(1023, 'w'), std::string(1023, 'w'), 1023},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.buf.substr(0, 40));
    auto dest = Filled();
    int outLen = -7;
    int r = TarvGetFirstWord4(c.buf.data(), Len(c.buf), dest.data(), &outLen);
    EXPECT_EQ(r, c.result);
    ASSERT_EQ(outLen, Len(c.word));
    EXPECT_EQ(std::string(dest.data(), outLen), c.word);
    if (c.word.empty()) {
      EXPECT_EQ(dest[0], '\0');
    } else {
      EXPECT_EQ(dest[outLen], kFill) << "wrote past the word";
    }
  }
  // Walking a buffer word by word the way the word statements do.
  const std::string text = " one  two\tthree";
  std::vector<std::string> words;
  int used = 0;
  char dest[1024];
  for (int guard = 0; used < Len(text) && guard < 10; guard++) {
    int n = 0;
    used += TarvGetFirstWord4(text.data() + used, Len(text) - used, dest, &n);
    if (n > 0) words.emplace_back(dest, n);
  }
  EXPECT_EQ(words, (std::vector<std::string>{"one", "two", "three"}));
}

TEST(UtilUrl, Encode) {
  struct Case {
    std::string in;
    int capacity;
    std::string out;  // "<-1>" when it does not fit
  };
  const std::vector<Case> cases = {
      {"a b=%", 100, "a+b%3d%25"},
      {"\xC3", 100, "%c3"},
      {"+&?", 100, "%2b&?"},
      {"!~\x7F\x20\x21", 100, "!~%7f+!"},
      {"\n\0"s, 100, "%0a%00"},
      {"", 1, ""},
      {"abc", 7, "abc"},   // room of 5 before the last byte is enough
      {"abc", 6, "<-1>"},  // ... and 4 is not
      {"", 0, "<-1>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    auto dest = Filled();
    int n = TarvUrlEncode(c.in.data(), Len(c.in), dest.data(), c.capacity);
    std::string got = n < 0 ? "<" + std::to_string(n) + ">" : std::string(dest.data(), n);
    EXPECT_EQ(got, c.out);
    if (n >= 0) {
      EXPECT_EQ(dest[n], '\0');
    }
    for (int i = c.capacity; i < 20; i++) ASSERT_EQ(dest[i], kFill) << "wrote past capacity";
  }
}

TEST(UtilUrl, Decode) {
  struct Case {
    std::string in;
    int capacity;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"a+b%3d", 100, "a b="},
      {"%41%42", 100, "AB"},
      {"%ff%FF", 100, "\xFF\xFF"},
      {"%4g", 100, "\x04"},                   // one hex digit is taken too
      {"% 5", 100, "\x05"},                   // %x skips a leading blank
      {"%zz", 100, "\0"s},                    // no number: the last one decoded (none yet)
      {"%41%zzB", 100, "AAB"},                // ... or the last decoded
      {"x%", 100, "x\0"s},                    // '%' at the end reads nothing beyond
      {"abc", 4, "abc"},
      {"abc", 3, "<-1>"},                     // the count reached the capacity
      {"", 1, ""},
      {"", 0, "<-1>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    auto dest = Filled();
    int n = TarvUrlDecode(c.in.data(), Len(c.in), dest.data(), c.capacity);
    std::string got = n < 0 ? "<" + std::to_string(n) + ">" : std::string(dest.data(), n);
    EXPECT_EQ(got, c.out);
    if (n >= 0) {
      EXPECT_EQ(dest[n], '\0');
    }
    for (int i = c.capacity; i < 20; i++) ASSERT_EQ(dest[i], kFill) << "wrote past capacity";
  }
  // The digits after '%' are read only inside the given length.
  char dest[8];
  ASSERT_EQ(TarvUrlDecode("%41", 2, dest, sizeof dest), 1);
  EXPECT_EQ(dest[0], '\x04');
  // Encoding and decoding give the bytes back.
  std::string all;
  for (int c = 0; c < 256; c++) all += static_cast<char>(c);
  char enc[1024], dec[1024];
  int e = TarvUrlEncode(all.data(), Len(all), enc, sizeof enc);
  ASSERT_GT(e, 0);
  int d = TarvUrlDecode(enc, e, dec, sizeof dec);
  EXPECT_EQ(std::string(dec, d), all);
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
      {"aXbX", "Z", "YY", 0, "aXbX"},
      {"aXbX", "X", "", 2, "ab"},           // an empty replacement deletes
      {"ab", "abc", "Z", -1, "ab"},
      {"aaaa", "aa", "b", 2, "bb"},         // occurrences do not overlap
      {"ab", "a", "aa", 1, "aab"},          // inserted text is not searched again
      {"abc", "bc", "Z", 1, "aZ"},          // key on the last bytes
      {"abc", "abc", "", 1, ""},
      {x1020 + "K", "K", "yy", 1, x1020 + "yy"},         // exactly 1022 bytes out
      {x1020 + "xK", "K", "yy", -2, x1020 + "xK"},       // 1023: unchanged
      {x1020 + "xxxK", "K", "", -2, x1020 + "xxxK"},     // 1022 copied, one more byte
      {x1020 + "xx", "K", "y", 0, x1020 + "xx"},
      {"K" + x1020 + "xx", "K", "", 1, x1020 + "xx"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 30) + " / " + c.key + " / " + c.rep);
    std::array<char, 1200> text = Filled();
    std::copy(c.text.begin(), c.text.end(), text.begin());
    int len = Len(c.text);
    int r = TarvMemReplace6(text.data(), &len, c.key.data(), Len(c.key), c.rep.data(), Len(c.rep));
    EXPECT_EQ(r, c.result);
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
      {"12", 0, 0},
      {" 12 ", 0, 0},
      {"1\xE4" "2", 0, 0},     // bytes from 0x80 count as blank
      {"\t7\n", 0, 0},
      {"", 0, 0},
      {"-1", -1, 0},
      {"1.5", -1, 0},
      {"12a", -1, -1},
      {"+1", -1, -1},
      {"\x7F", -1, -1},        // DEL is not blank
      {"-3.5", -1, 0},
      {"-12.5", -1, 0},
      {"10", 0, 0},
      {" 7", 0, 0},
      {"- 3", -1, 0},
      {".5", -1, 0},
      {"+3", -1, -1},
      {"1.2.3", -1, -1},
      {"3-", -1, -1},
      {"5-3", -1, -1},
      {"--1", -1, -1},
      {"1e3", -1, -1},
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
      {"42", 42},
      {"  -17x", -17},
      {"\t+5", 5},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},
      {"99999999999999999999999999", INT32_MAX},
      {"-99999999999999999999999999", INT32_MIN},
      {"", 0},
      {"abc", 0},
      {"- 5", 0},
      {"\xA0" "5", 0},  // not a blank for the reader
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TarvAtoi(c.text.c_str()), c.value);
  }
}

TEST(UtilText, EscapeQuotes) {
  struct Case {
    std::string in, out;
  };
  const std::vector<Case> cases = {
      {"\\'\"", "\\\\\\'\\\""},
      {"", ""},
      {"it's", "it\\'s"},
      {std::string(1500, 'a'), std::string(1000, 'a')},                 // input cut to 1000
      {std::string(30, '\'') + std::string(970, 'a'),                    // stops past 1020
       [] {
         std::string s;
         for (int i = 0; i < 30; i++) s += "\\'";
         return s + std::string(961, 'a');
       }()},
      {std::string(600, '"'),
       [] {
         std::string s;
         for (int i = 0; i < 511; i++) s += "\\\"";
         return s;
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in.substr(0, 20));
    auto dest = Filled();
    TarvEscapeQuotes(c.in.c_str(), dest.data());
    EXPECT_EQ(std::string(dest.data()), c.out);
    EXPECT_EQ(dest[1023], kFill) << "wrote past 1023 bytes";
  }
}

TEST(UtilText, FormatInto) {
  struct Case {
    std::string arg;
    int result;
  };
  const std::vector<Case> cases = {
      {"abc", 3},
      {"", 0},
      {std::string(1021, 'f'), 1021},
      {std::string(1022, 'f'), 0},
      {std::string(5000, 'f'), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arg.size());
    auto dest = Filled();
    int n = TarvFormatInto(dest.data(), "%s", c.arg.c_str());
    EXPECT_EQ(n, c.result);
    if (n > 0) {
      EXPECT_EQ(std::string(dest.data(), n), c.arg);
    }
    EXPECT_EQ(dest[n], kFill) << "wrote a terminator or past the text";
  }
  auto dest = Filled();
  EXPECT_EQ(TarvFormatInto(dest.data(), "%02X|%-4s|%3d", 10, "ab", 7), 11);
  EXPECT_EQ(std::string(dest.data(), 12), "0A|ab  |  7#");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"
  EXPECT_EQ(TarvFormatInto(dest.data(), ""), 0);
#pragma GCC diagnostic pop
  EXPECT_EQ(TarvFormatInto(dest.data(), "%s", ""), 0);
}

TEST(UtilFile, ReadFile) {
  TempDir dir;
  const std::string bytes = "line\r\n\0\x1A\xFFtail"s;
  const std::string path = dir.Write("data.bin", bytes);
  struct Case {
    int capacity;
    int result;
  };
  for (const Case c : {Case{100, Len(bytes)}, Case{Len(bytes), Len(bytes)}, Case{4, 4}, Case{0, 0}}) {
    SCOPED_TRACE(c.capacity);
    auto buf = Filled();
    int n = TarvReadFile(path.c_str(), buf.data(), c.capacity);
    ASSERT_EQ(n, c.result);
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
      {"C:/a/b.exe", "C:/a/", "b.exe"},
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

TEST(UtilTime, DateTimeLayout) {
  auto dest = Filled();
  TarvGetDateTime(dest.data());
  const std::string s(dest.data());
  ASSERT_EQ(s.size(), 19u) << s;
  for (int i = 0; i < 19; i++) {
    const char want = i == 4 || i == 7 ? '-' : i == 10 ? ' ' : i == 13 || i == 16 ? ':' : 'd';
    if (want == 'd') {
      EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(s[i]))) << s;
    } else {
      EXPECT_EQ(s[i], want) << s;
    }
  }
  EXPECT_EQ(dest[30], kFill);
}

// The digest of the same bytes as the system's md5sum / sha1sum print it.
std::string ToolDigest(const char* tool, const std::string& path) {
  const std::string cmd = std::string(tool) + " '" + path + "'";
  std::FILE* p = popen(cmd.c_str(), "r");
  if (!p) return "<popen failed>";
  char line[256] = {};
  const bool got = std::fgets(line, sizeof line, p) != nullptr;
  pclose(p);
  if (!got) return "<no output>";
  std::string hex;
  for (const char* c = line; std::isxdigit(static_cast<unsigned char>(*c)); c++)
    hex += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
  return hex;
}

TEST(UtilDigest, MatchesSystemTools) {
  TempDir dir;
  std::string all;
  for (int c = 0; c < 256; c++) all += static_cast<char>(c);
  std::string big;
  for (int i = 0; i < 100000; i++) big += static_cast<char>(i * 31 + i / 7);
  const std::vector<std::string> inputs = {"", "MD5", "SHA", "abc", "\0\0\0"s, all, big};
  struct Alg {
    HashAlg alg;
    const char* tool;
    int digits;
  };
  for (const Alg a : {Alg{HashAlg::MD5, "md5sum", 32}, Alg{HashAlg::SHA1, "sha1sum", 40}}) {
    for (size_t i = 0; i < inputs.size(); i++) {
      SCOPED_TRACE(std::string(a.tool) + " input " + std::to_string(i));
      const std::string path = dir.Write("in" + std::to_string(i), inputs[i]);
      const std::string want = ToolDigest(a.tool, path);
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
