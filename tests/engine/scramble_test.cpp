#include "engine/statements/scramble.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/util/util.h"

namespace {

class ScrambleTest : public ::testing::Test {
 protected:
  void SetUp() override { TarvEngineReset(); }

  // Scrambles `value` in a buffer of exactly the promised room, so that a
  // write past it shows under the sanitizers.
  static std::string Encrypt(const std::string& value, int* rc = nullptr) {
    std::vector<char> buf(SCRAMBLE_TEXT_ROOM);
    std::copy(value.begin(), value.end(), buf.begin());
    int r = TarvEncrypt(buf.data(), static_cast<int>(value.size()));
    if (rc) *rc = r;
    return r < 0 ? std::string() : std::string(buf.data(), r);
  }

  // Unscrambles in a buffer of exactly the text's size.
  static int Decrypt(const std::string& text, std::string* value) {
    std::vector<char> buf(text.empty() ? 1 : text.size());
    std::copy(text.begin(), text.end(), buf.begin());
    int r = TarvDecrypt(buf.data(), static_cast<int>(text.size()));
    if (r >= 0) *value = std::string(buf.data(), r);
    return r;
  }

  static std::string Decode(const std::string& text) {
    char out[1024];
    int n = TarvUrlDecode(text.data(), static_cast<int>(text.size()), out, sizeof out);
    return n < 0 ? std::string() : std::string(out, n);
  }
  static std::string Encode(const std::string& raw) {
    char out[1024];
    int n = TarvUrlEncode(raw.data(), static_cast<int>(raw.size()), out, sizeof out);
    return n < 0 ? std::string() : std::string(out, n);
  }
};

TEST_F(ScrambleTest, RoundTripsEveryKindOfValue) {
  // The longest value, and the one whose bytes all need escapes, give the
  // longest texts; the texts of the statements' values are pinned by
  // cases/var_statements.cases.
  const std::vector<std::string> values = {
      "",
      "a",
      "hello",
      "pass word",
      "%+=~{}&?",
      std::string("\0\x01\x7f\x80\xff", 5),
      "\xe4\xb8\xad\xe6\x96\x87",  // UTF-8 text
      std::string(20, 'z'),
      std::string(20, '\0'),
  };
  for (const auto& v : values) {
    SCOPED_TRACE(testing::PrintToString(v));
    int rc = 0;
    std::string text = Encrypt(v, &rc);
    ASSERT_GT(rc, 0);
    EXPECT_EQ(static_cast<int>(text.size()), rc);
    EXPECT_LE(rc, SCRAMBLE_TEXT_ROOM - 1);
    // Printable, without blanks: the text can stand in a script word.
    for (unsigned char c : text) EXPECT_TRUE(c >= 0x21 && c <= 0x7e) << int(c);
    std::string back;
    EXPECT_EQ(Decrypt(text, &back), static_cast<int>(v.size()));
    EXPECT_EQ(back, v);
  }
}

TEST_F(ScrambleTest, DeclaredLengthMustLieWithinTheDecodedBytes) {
  // Flipping plain bytes through the scrambled form: XOR commutes, so the
  // digits can be changed without knowing the key.
  const std::string raw = Decode(Encrypt("abc"));  // "Len<003>abc" scrambled
  ASSERT_EQ(raw.size(), 11u);
  auto withDigits = [&](const char* digits) {
    std::string r = raw;
    for (int i = 0; i < 4; i++) r[4 + i] = static_cast<char>(r[4 + i] ^ "003>"[i] ^ digits[i]);
    return Encode(r);
  };
  struct {
    const char* digits;
    int want;
    const char* value;
  } cases[] = {
      {"003>", 3, "abc"},
      {"002>", 2, "ab"},  // a shorter declared length cuts
      {"000>", 0, ""},
      {"004>", -1, ""},   // one byte past the data
      {"999>", -1, ""},
      {"-01>", -1, ""},
      {"-1>x", -1, ""},
      {" 3> ", 3, "abc"},  // read the way atoi reads
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.digits);
    std::string back = "<unset>";
    EXPECT_EQ(Decrypt(withDigits(c.digits), &back), c.want);
    if (c.want >= 0) {
      EXPECT_EQ(back, c.value);
    }
  }
}

TEST_F(ScrambleTest, TextsThatHoldNoValue) {
  std::string back;
  const std::string good = Encrypt("abc");
  for (const std::string& text : {std::string("hello"), std::string(), std::string("%"),
                                  good.substr(0, 2),  // cut inside the prefix
                                  "x" + good,         // shifted against the key
                                  std::string(1023, 'a'),  // longer than a slot
                                  Encode(Decode(good).substr(0, 6))}) {  // no end of the length
    EXPECT_EQ(Decrypt(text, &back), -1) << text.substr(0, 40);
  }
  std::vector<char> buf(4, 'a');
  EXPECT_EQ(TarvDecrypt(buf.data(), -1), -1);
}

}  // namespace
