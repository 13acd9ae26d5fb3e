#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "engine/core/var_store.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;
using tarvtest::Var;

struct Selection {
  std::string text;  // bytes 1.. of the text
  int head, tail;
  std::string stale = "";  // bytes behind the text's end
};

class TextExtract : public ::testing::Test {
 public:
  TempDir dir;
  tarvtest::Outcome run;
  // Runs the one-line statement over the selection; `vars` are set first.
  int Run(const std::string& line, const Selection& sel,
          const std::map<std::string, std::string>& vars = {}) {
    run = tarvtest::RunCase(dir, line + "\n", [&] {
      std::memcpy(sgRun.Text.data() + 1, sel.text.data(), sel.text.size());
      std::memcpy(sgRun.Text.data() + 1 + sel.text.size(), sel.stale.data(), sel.stale.size());
      sgRun.TextLen = static_cast<int>(sel.text.size());
      sgRun.headPointer = sel.head;
      sgRun.tailPointer = sel.tail;
      for (const auto& [n, v] : vars)
        TarvSetVar4(n.data(), static_cast<int>(n.size()), v.data(), static_cast<int>(v.size()));
    });
    EXPECT_EQ(sgRun.TextLen, static_cast<int>(sel.text.size())) << line;
    EXPECT_EQ(sgRun.headPointer, sel.head) << line;
    EXPECT_EQ(sgRun.tailPointer, sel.tail) << line;
    return run.Code(1);
  }
  std::string Error() const { return run.errors.empty() ? "" : run.errors.back(); }
  static std::vector<std::string> Words() {
    std::vector<std::string> w;
    const int n = std::stoi(Var("word.count"));
    for (int i = 1; i <= n; i++) w.push_back(Var("word." + std::to_string(i)));
    return w;
  }
};

struct VarCase {
  const char* line;  // after "text.get var {v} "
  Selection sel;
  int code;
  std::string value;  // of v, or the error message
};

// A failing statement leaves v as it was.
void CheckVarCases(TextExtract& t, const std::vector<VarCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.line) + " over " + c.sel.text.substr(0, 40));
    EXPECT_EQ(t.Run(std::string("text.get var {v} ") + c.line, c.sel, {{"v", "old"}}), c.code);
    EXPECT_EQ(Var("v"), c.code == 0 ? c.value : "old");
    if (c.code != 0) {
      EXPECT_EQ(t.Error(), c.value);
    }
  }
}

TEST_F(TextExtract, ByOffsetAfterAndBetween) {
  const Selection digits{"0123456789", 1, 10};
  const Selection kv{"key=<value>;<>rest", 1, 18};
  const std::vector<VarCase> cases = {
      // id 66: S = tail - head bytes are available.
      {"after {4} bytes length {5}", digits, 0, "45678"},
      {"after {4} bytes length {6}", digits, -8, "文本选中区域len=9 <10!"},
      {"after {0} bytes length {0}", digits, 0, ""},
      {"after {1023} bytes length {1}", digits, -5, "Arg:5=1023 > 1022 !"},
      {"after {1} bytes length {1023}", digits, -8, "Arg:8=1023 > 1022 !"},
      // A tail beyond the text: the value stops at the text's end.
      {"after {1} bytes length {5}", {"0123456789", 8, 30, "STALE"}, 0, "89"},
      {"after {9} bytes length {5}", {"0123456789", 8, 30, "STALE"}, 0, ""},
      // id 68
      {"after {id:} length {6}", {"aaaaid:123456", 1, 10}, 0, "123456"},
      {"after {id:} length {0}", {"abcid:x", 1, 6}, -5, "Length of Arg 5 is :3, Not Found !"},
      {"after {id:} length {7}", {"aaaaid:123456", 1, 10}, -8, "文本选中区域len=9 <10!"},
      {"after {id:} length {10}", {"id:12", 1, 20, "345"}, 0, "12"},
      {"after {id:} length {2}", {"id", 1, 20, ":12"}, -5, "Length of Arg 5 is :3, Not Found !"},
      // id 67
      {"between {<} and {>}", kv, 0, "value"},
      {"between {;<} and {>}", kv, 0, ""},
      {"between {<} and {#}", kv, -7, "Length of Arg 7 is :1, Not Found !"},
      {"between {#} and {>}", kv, -5, "Length of Arg 5 is :1, Not Found !"},
      {"between {<} and {>}", {"key=<value>;", 1, 11}, -7, "Length of Arg 7 is :1, Not Found !"},
      {"between {key=<value} and {>}", {"key=<value>;", 1, 11}, -8, "文本选中区域len=10 <11!"},
      {"between {<} and {>}", {"<ab", 1, 10, ">"}, -7, "Length of Arg 7 is :1, Not Found !"},
      {"between {<} and {>}", {"<" + std::string(1023, 'z') + ">.", 1, 1026}, -7,
       "text_get_var_a3_between_a5_and_a7 len=1025-2=1023 > 1022 !"},
      {"between {<} and {>}", {"<" + std::string(1022, 'z') + ">.", 1, 1025}, 0,
       std::string(1022, 'z')},
  };
  CheckVarCases(*this, cases);
}

TEST_F(TextExtract, WordNumber) {
  const Selection words{"  alpha beta\tgamma\n delta  ", 1, 27};
  const std::vector<VarCase> cases = {
      {"word number {1}", words, 0, "alpha"},
      {"word number {4}", words, 0, "delta"},
      {"word number {5}", words, -9, "text_get_var_a3_word_number_a6 return. error!"},
      {"word number {1}", {"ab", 0, 1}, 0, std::string("a")},
      {"word number {1}", {"ab", 2, 2}, -9,
       "text.getvar: TextLen=2, text.headpointer=[2],tailpointer=2, Error!"},
      {"word number {0}", words, -6, "Arg:6=0  < 1 !"},
      {"word number {1025}", words, -6, "Arg:6=1025 > 1024 !"},
      {"word number {2}", {"a " + std::string(1500, 'y') + " b", 1, 1504}, 0,
       std::string(1022, 'y')},
  };
  CheckVarCases(*this, cases);
}

TEST_F(TextExtract, WordNumberReportsAStoreThatRefuses) {
  std::map<std::string, std::string> full;
  for (int i = 0; i < VAR_MAX; i++) full["f" + std::to_string(i)] = "";
  EXPECT_EQ(Run("text.get var {fresh} word number {1}", {"ab cd", 1, 5}, full), -9);
  EXPECT_EQ(Var("fresh"), "<missing>");
  EXPECT_EQ(sgRun.RunErrors, 1);
}

// Words are cut only when longer than 1024 bytes: one of 1023 bytes is kept
// whole, one of 1024 reaches the store whole and is refused there.  The cut
// itself is the word scanner's (TarvGetFirstWord4).
TEST_F(TextExtract, WordsOf1023And1024BytesAreNotCut) {
  const Selection sel{std::string(1023, 'w') + " " + std::string(1024, 'x') + " .", 1, 2050};
  EXPECT_EQ(Run("text.get var {v} word number {1}", sel, {{"v", "old"}}), 0);
  EXPECT_EQ(Var("v").size(), 1023u);
  EXPECT_EQ(Run("text.get var {v} word number {2}", sel, {{"v", "old"}}), -9);
  EXPECT_EQ(Error(), "TarvSetVar4, len=1024, error!");
  EXPECT_EQ(Var("v"), "old");
  EXPECT_EQ(Run("text.line get all words", sel, {{"word.count", "7"}}), -9);
  EXPECT_EQ(Error(), "TarvSetVar4, len=1024, error!");
  EXPECT_EQ(Var("word.1").size(), 1023u);
  EXPECT_EQ(Var("word.count"), "7");
}

TEST_F(TextExtract, AllWordsOfTheFirstLine) {
  struct { Selection sel; int code; std::vector<std::string> words; } cases[] = {
      {{"a b\nc d", 1, 7}, 0, {"a", "b"}},
      {{"  x  yy\tzzz ", 1, 12}, 0, {"x", "yy", "zzz"}},
      {{"x y\nz", 3, 4}, 0, {"y"}},
      {{"one two", 1, 5}, 0, {"one", "t"}},
      {{"\n\n", 1, 2}, 0, {}},
      {{"ab", 1, 1}, -9, {"kept"}},
  };
  for (const auto& c : cases) {
    const int r = Run("text.line get all words", c.sel,
                      {{"word.count", "1"}, {"word.1", "kept"}, {"word.3", "stale"}});
    EXPECT_EQ(r, c.code) << c.sel.text;
    EXPECT_EQ(Words(), c.words) << c.sel.text;
    EXPECT_EQ(Var("word.3"), c.words.size() >= 3 ? c.words[2] : "stale") << c.sel.text;
  }
  EXPECT_EQ(Error(), "text.getvars: TextLen=2, text.headpointer=[1],tailpointer=1, Error!");
}

// The flags and the separator come from variables, so any byte can be one.
TEST_F(TextExtract, FieldsBetweenFlags) {
  const std::string at24 = "text.getvars: TextLen=5, text.headpointer=[2],tailpointer=4,";
  struct {
    const char *start, *end, *sep;
    Selection sel;
    int code;
    std::vector<std::string> words;  // or the one error message
  } cases[] = {
      {"[", "]", ",", {"x[a,b].", 1, 7}, 0, {"a", "b"}},
      {"[", "]", ",", {"[a,,b].", 1, 7}, 0, {"a", ",b"}},  // doubled: no empty field
      {"[", "]", ",", {"[a,b,].", 1, 7}, 0, {"a", "b"}},   // before the end flag: none
      {"[", "]", ",", {"[,a].", 1, 5}, 0, {"", "a"}},      // at the start: an empty one
      {"[", "]", ",", {"[a].", 1, 4}, 0, {"a"}},
      {"[", "]", "", {"[abc].", 1, 6}, 0, {"", "a", "b", "c"}},  // empty separator
      {"[", "]", ",", {"[]x].", 1, 5}, 0, {"]x"}},  // end flag right after the start
      {"<<", ">>", "||", {"<<a||bc||d>>>", 1, 13}, 0, {"a", "bc", "d"}},
      // The end flag must end before the tail, like every search in the selection.
      {"[", "]", ",", {"[a,b]", 1, 5}, -20,
       {"text.getvars: TextLen=5, text.headpointer=[1],tailpointer=5,line end flag length=1,"
        "Not Found Error!"}},
      {"{", "]", ",", {"[a,b].", 1, 6}, -20,
       {"text.getvars: TextLen=6, text.headpointer=[1],tailpointer=6,line start flag length=1,"
        "Not Found Error!"}},
      {"abc", "]", ",", {"[a,b]", 2, 4}, -20, {at24 + "line start flag length=3,too big, Error!"}},
      {"[", "abc", ",", {"[a,b]", 2, 4}, -20, {at24 + "line end flag length=3,too big, Error!"}},
      {"[", "]", "abc", {"[a,b]", 2, 4}, -20,
       {at24 + "var separator  flag length=3,too big, Error!"}},
      {"[", "]", ",", {"[a,b]", 1, 6}, -19,
       {"text.getvars: TextLen=5, text.headpointer=[1],tailpointer=6, Error!"}},
      // A separator reaching past the text's end does not stand there.
      {"[", "]", "b]xY", {"[ab]x", 1, 5, "Y"}, 0, {"ab"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.start) + " " + c.end + " " + c.sep + " over " + c.sel.text);
    EXPECT_EQ(Run("text.line get all words between {~s~} and {~e~} separated by {~p~}", c.sel,
                  {{"s", c.start}, {"e", c.end}, {"p", c.sep}, {"word.count", "9"}}),
              c.code);
    if (c.code == 0) {
      EXPECT_EQ(Words(), c.words);
    } else {
      EXPECT_EQ(Error(), c.words[0]);
      EXPECT_EQ(Var("word.count"), "0");
    }
  }
}

TEST_F(TextExtract, FieldLengthsAndFlagChecks) {
  const std::string f1023(1023, 'a'), f1024(1024, 'b'), f1500(1500, 'c');
  const Selection sel{"<" + f1023 + "|" + f1500 + "|" + f1024 + ">.", 1, 3552};
  EXPECT_EQ(Run("text.line get all words between {<} and {>} separated by {|}", sel), -9);
  EXPECT_EQ(Error(), "TarvSetVar4, len=1024, error!");
  EXPECT_EQ(Var("word.1"), f1023);
  EXPECT_EQ(Var("word.2"), std::string(1022, 'c'));
  EXPECT_EQ(Var("word.count"), "0");

  const Selection ab{"[a,b].", 1, 6};
  struct { const char* line; int code; const char* error; } checks[] = {
      {"text.line get all words between {} and {]} separated by {,}", -10,
       "Length of Arg 6 is :0  < 1 !"},
      {"text.line get all words between {[} and {} separated by {,}", -13,
       "Length of Arg 8 is :0  < 1 !"},
      {"text.line get all words between {~big~} and {]} separated by {,}", -10,
       "Length of Arg 6 is :1021 > 1020 !"},
      {"text.line get all words between {[} and {]} separated by {~big~}", -16,
       "Arg:16, len=1021 > 1020 !"},
  };
  for (const auto& c : checks) {
    EXPECT_EQ(Run(c.line, ab, {{"big", std::string(1021, 'z')}}), c.code) << c.line;
    EXPECT_EQ(Error(), c.error) << c.line;
  }
}

}  // namespace
