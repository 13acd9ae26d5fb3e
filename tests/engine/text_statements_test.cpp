#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "engine/core/var_store.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;
using tarvtest::Var;

class TextScript : public ::testing::Test {
 protected:
  TempDir dir;
  tarvtest::Outcome run;
  // Runs the script in the hide mode; `prepare` runs before the first step.
  void Run(const std::string& script, const std::function<void()>& prepare = {}) {
    run = tarvtest::RunCase(dir, script, prepare);
  }
  int Code(int line) const { return run.Code(line); }
  std::string ErrorOn(int line) const { return run.ErrorOn(line); }
  // Runs the script; checks its last line's code and run error.
  void ExpectLast(const std::string& script, int code, const char* error) {
    Run(script);
    const int last = static_cast<int>(std::count(script.begin(), script.end(), '\n'));
    EXPECT_EQ(Code(last), code) << script;
    EXPECT_EQ(ErrorOn(last), error) << script;
  }
  static std::string Text() { return std::string(sgRun.Text.data() + 1, sgRun.TextLen); }
  std::string Saved(const std::string& name) { return tarvtest::ReadFile(dir.File(name)); }
  std::string Path(const std::string& name) { return "{" + dir.File(name) + "}"; }
};

TEST_F(TextScript, PointersStartAtZeroAndToTailIsAtLeastOne) {
  Run("text.tailpointer move to tail\n");
  EXPECT_EQ(sgRun.TextLen, 0);
  EXPECT_EQ(sgRun.headPointer, 0);
  EXPECT_EQ(sgRun.tailPointer, 1);
  EXPECT_EQ(Var("text.tailpointer"), "1");
  EXPECT_EQ(Var("text.headpointer"), "4194304");  // untouched built-in value
  Run("text.add {abcdef}\ntext.headpointer move to tail\ntext.tailpointer move to head\n");
  EXPECT_EQ(Var("text.headpointer"), "6");
  EXPECT_EQ(Var("text.tailpointer"), "1");
}

// In the rows H stands for "text.headpointer move", T for "text.tailpointer move".
TEST_F(TextScript, PointerMovesAtTheEdges) {
  const char* kNotFoundAfter = "text_headpointer_move_forward_after_a5, 字符串未找到!";
  // After "text.add {abcXYdef}" (8 bytes): the pointers, code and error at the end.
  struct { const char* lines; int head, tail, code; const char* error; } cases[] = {
      {"H to {0} byte", 0, 0, 0, ""},
      {"H to {1048476} byte", 1048476, 0, 0, ""},
      {"H to {1048477} byte", 0, 0, -4, "Arg:4=1048477 > 1048476 !"},
      {"T to {-1} byte", 0, 0, -4, "Arg:4 is not integer !"},
      {"H forward {8} bytes", 8, 0, 0, ""},
      {"H to head\nH forward {8} bytes", 1, 0, -4,
       "text_headpointer_move_forward_a4_bytes, not so much chars !"},
      {"H forward {+1} bytes", 0, 0, -5, "Arg:4 is not integer !"},
      {"T to tail\nT backward {7} bytes", 0, 1, 0, ""},
      {"T to tail\nT backward {8} bytes", 0, 8, -7,
       "text_tailpointer_move_backward_a4_bytes, not so much chars !"},
      // Forward after: the search covers TextLen - head bytes from the head.
      {"H to head\nH forward after {abc}", 4, 0, 0, ""},
      {"H to head\nH forward after {def}", 1, 0, -6, kNotFoundAfter},
      {"H to head\nH forward after {de}", 8, 0, 0, ""},
      {"H to {20} byte\nH forward after {a}", 20, 0, -6, kNotFoundAfter},
      // Backward: only occurrences ending before the tail are seen.
      {"T to {6} byte\nT backward before {XY}", 0, 4, 0, ""},
      {"T to {6} byte\nT backward after {XY}", 0, 6, 0, ""},
      {"T to {5} byte\nT backward before {XY}", 0, 5, -5,
       "text_tailpointer_move_backward_before_a5, Not Found !"},
      {"T to {5} byte\nT backward after {XY}", 0, 5, -6,
       "text_tail_pointer_move_backward_after_a5, Not Found !"},
      // Beyond the text the tail still searches what the array holds.
      {"T to {30} byte\nT backward after {%00%00}", 0, 30, 0, ""},
      {"H forward before {X}", 0, 0, -99,
       "text_head_pointer_move_forward_before_a5:This statement is not yet completed. Err!"},
  };
  for (const auto& c : cases) {
    std::string script = "text.add {abcXYdef}\n";
    for (const char* p = c.lines; *p; p++) {
      const bool atLine = p == c.lines || p[-1] == '\n';
      script += atLine && *p == 'H' ? "text.headpointer move"
                : atLine && *p == 'T' ? "text.tailpointer move"
                                      : std::string(1, *p);
    }
    ExpectLast(script + "\n", c.code, c.error);
    EXPECT_EQ(sgRun.headPointer, c.head) << c.lines;
    EXPECT_EQ(sgRun.tailPointer, c.tail) << c.lines;
    if (c.code == 0) {
      const bool head = c.lines[0] == 'H';  // no row moves both pointers
      EXPECT_EQ(Var(head ? "text.headpointer" : "text.tailpointer"),
                std::to_string(head ? c.head : c.tail))
          << c.lines;
    }
  }
}

TEST_F(TextScript, SaveNeedsTwoBytesWithinTheText) {
  Run("text.add {0123456789}\n"
      "text.headpointer move to {4} byte\ntext.tailpointer move to {4} byte\n"
      "text.save to file " + Path("same.txt") + "\n"
      "text.tailpointer move to {11} byte\n"
      "text.save to file " + Path("beyond.txt") + "\n"
      "text.headpointer move to {0} byte\ntext.tailpointer move to {3} byte\n"
      "text.save to file " + Path("zero.txt") + "\n"
      "text.save append to file " + Path("zero.txt") + "\n"
      "text.save to file {" + dir.File("no/such/dir/x.txt") + "}\n"
      "text.save append to file {" + dir.File("no/such/dir/x.txt") + "}\n");
  EXPECT_EQ(Code(4), -9);
  EXPECT_EQ(ErrorOn(4),
            "no elected text: text.bytes=[10], text.headpointer=[4], text.tailpointer=[4]!");
  EXPECT_FALSE(std::filesystem::exists(dir.File("same.txt")));
  EXPECT_EQ(Code(6), -9);
  EXPECT_FALSE(std::filesystem::exists(dir.File("beyond.txt")));
  EXPECT_EQ(Code(9), 0);
  EXPECT_EQ(Code(10), 0);
  EXPECT_EQ(Saved("zero.txt"), std::string("\0" "012\0" "012", 8));
  EXPECT_EQ(Code(11), -3);
  EXPECT_EQ(ErrorOn(11), "write file error! file=[" + dir.File("no/such/dir/x.txt") + "]!");
  EXPECT_EQ(Code(12), -3);
  EXPECT_EQ(ErrorOn(12), "append file error! file=[" + dir.File("no/such/dir/x.txt") + "]");
}

TEST_F(TextScript, BinaryFilesRoundTrip) {
  std::string bytes;
  for (int i = 0; i < 256; i++) bytes += static_cast<char>(i);
  bytes += bytes;
  const std::string in = dir.Write("in.bin", bytes);
  dir.Write("empty.bin", "");
  Run("text.add {<}\n"
      "text.add from file {" + in + "}\n"
      "text.add from file " + Path("missing.bin") + "\n"
      "text.add from file " + Path("empty.bin") + "\n"
      "text.add {>}\n"
      "text.headpointer move to head\ntext.tailpointer move to tail\n"
      "text.save to file " + Path("out.bin") + "\n");
  EXPECT_EQ(Code(2), 512);
  EXPECT_EQ(Code(3), -3);
  EXPECT_EQ(ErrorOn(3), "text_add_from_file_a4 : ret<=0.");
  EXPECT_EQ(Code(4), 0);
  EXPECT_EQ(ErrorOn(4), "text_add_from_file_a4 : ret<=0.");
  EXPECT_EQ(Saved("out.bin"), "<" + bytes + ">");
  EXPECT_EQ(Var("run.errors"), "2");
}

TEST_F(TextScript, AddFromFileNeverReadsPastItsRoom) {
  // A text grown by text.replace beyond the file statement's own limit
  // leaves it no room at all, instead of a negative one.
  const std::string big = dir.Write("big.bin", std::string(4194260, 'q') + "aaaa");
  dir.Write("more.bin", std::string(100, 'm'));
  Run("text.add from file {" + big + "}\n"
      "text.tailpointer move to tail\ntext.headpointer move to {1048476} byte\n"
      "text.headpointer move forward {3145780} bytes\n"
      "text.replace {a} with {aaa}\n"
      "text.add from file " + Path("more.bin") + "\n",
      [] { std::memset(sgRun.Text.data() + 4194265, '.', 41); });
  EXPECT_EQ(Code(5), 0);
  ASSERT_EQ(sgRun.TextLen, 4194272);
  EXPECT_EQ(Code(6), 0);
  EXPECT_EQ(sgRun.TextLen, 4194272);
  EXPECT_EQ(std::string(sgRun.Text.data() + 4194257, 16), "qqqqaaaaaaaaaaaa");
  EXPECT_EQ(std::string(sgRun.Text.data() + 4194273, 33), std::string(33, '.'));
}

TEST_F(TextScript, Deletes) {
  // After "text.add {abcdef}".
  struct { const char* lines; const char* text; int code; const char* error; } cases[] = {
      {"text.headpointer move to {3} byte\ntext.delete from headpointer", "ab", 0, ""},
      {"text.headpointer move to {7} byte\ntext.delete from headpointer", "abcdef", -4,
       " text.headpointer=[7],text.bytes=[6]!"},
      {"text.delete from headpointer", "abcdef", -4, " text.headpointer=[0],text.bytes=[6]!"},
      {"text.tailpointer move to {6} byte\ntext.delete from tailpointer", "abcde", 0, ""},
      {"text.tailpointer move to {9} byte\ntext.delete from tailpointer", "abcdef", -4,
       "text.tailPointer=9,text.bytes=[6]!"},
      {"text.delete from {0} byte", "", 0, ""},
      {"text.delete from {6} byte", "abcdef", 0, ""},
      {"text.delete from {7} byte", "abcdef", -3, "Arg:3 = [7] > [text.bytes=6]!"},
      {"text.delete from {4194304} byte", "abcdef", -3, "Arg:3 = [4194304] > 4194304!"},
      {"text.delete from {x} byte", "abcdef", -3, "Arg:3 is not integer!"},
  };
  for (const auto& c : cases) {
    ExpectLast(std::string("text.add {abcdef}\n") + c.lines + "\n", c.code, c.error);
    EXPECT_EQ(Text(), c.text) << c.lines;
  }
  // Deleting keeps the pointers; the bytes behind the text stay in the array.
  Run("text.add {abcdef}\ntext.tailpointer move to tail\ntext.delete from {2} byte\n"
      "text.add {XY}\n");
  EXPECT_EQ(sgRun.tailPointer, 6);
  EXPECT_EQ(std::string(sgRun.Text.data() + 1, 6), "abXYef");
}

TEST_F(TextScript, AddAndShow) {
  using namespace std::string_literals;
  struct { const char* line; std::string text; int code; const char* error; } cases[] = {
      {"text.add {}", "", -2, "Length of Arg 2 is :0  < 1 !"},
      {"text.add {a%00b}", "a\0b"s, 0, ""},
      {"text.show {ab} size {6} align {middle}", "  ab  ", 6, ""},
      {"text.show {ab} size {0} align {right}", "ab", 2, ""},
      {"text.show {ab} size {2} align {nowhere}", "ab", 2, ""},
      {"text.show {abc} size {2} align {left}", "", -4,
       "text_show_a2_size_a4_align_a6->size 2 < length of A:2 3!"},
      {"text.show {ab} size {5} align {Left}", "", -6,
       "text_show_a2_size_a4_align_a6->A:6(Left) is not support!"},
      {"text.show {ab} size {1023} align {left}", "", -4, "Arg:4=1023 > 1022 !"},
  };
  for (const auto& c : cases) {
    ExpectLast(std::string(c.line) + "\n", c.code, c.error);
    EXPECT_EQ(Text(), c.text) << c.line;
  }
}

// --- text.replace ------------------------------------------------------------

TEST_F(TextScript, ReplaceRefusesASelectionShorterThanTheKey) {
  ExpectLast("text.add {abc}\ntext.headpointer move to {2} byte\n"
             "text.tailpointer move to {3} byte\ntext.replace {abc} with {x}\n",
             -8, "文本选中区域len=1 <3!");
  EXPECT_EQ(Text(), "abc");
}

// The statement's definition: a scan that moves the rest of the text at every
// match.  Positions are 1-based; `arr` holds the whole array, stale bytes
// included.  Matches must lie within the text and never start at byte 0
// (byte 0 is zero, and keys hold zero bytes; tails reach past the text).
struct Reference {
  std::string arr;
  int64_t len, head, tail;
  bool limitHit = false;
  void Replace(const std::string& key, const std::string& rep, int64_t limit) {
    const int64_t k = key.size(), r = rep.size();
    for (int64_t i = std::max<int64_t>(head, 1); i <= tail && i + k - 1 <= len;) {
      if (arr.compare(i, k, key) != 0) {
        i++;
        continue;
      }
      if (len + r - k >= limit) {
        limitHit = true;
        return;
      }
      std::memmove(&arr[i + r], &arr[i + k], len - (i + k) + 1);
      std::memcpy(&arr[i], rep.data(), r);
      len += r - k;
      tail += r - k;
      i += r;
    }
  }
};

TEST_F(TextScript, ReplaceMatchesTheMoveAtEveryMatchDefinition) {
  std::mt19937 rng(20240611);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto word = [&](int n) {
    std::string s;
    for (int i = 0; i < n; i++) s += "ab\0"[pick(0, 2)];
    return s;
  };
  for (int round = 0; round < 400; round++) {
    Reference ref;
    ref.len = pick(0, 60);
    ref.arr = word(ref.len + 400);  // stale bytes behind the text as well
    ref.arr[0] = 0;
    ref.head = pick(0, ref.len + 2);
    ref.tail = pick(0, 3) == 0 ? pick(ref.len, ref.len + 20) : pick(ref.head - 1, ref.len + 1);
    const std::string key = word(pick(1, 4));
    const std::string rep = word(pick(1, 5));
    const int64_t head0 = ref.head, tail0 = ref.tail;
    Run("text.replace {~k~} with {~r~}\n", [&] {
      std::memcpy(sgRun.Text.data(), ref.arr.data(), ref.arr.size());
      sgRun.TextLen = static_cast<int>(ref.len);
      sgRun.headPointer = static_cast<int>(head0);
      sgRun.tailPointer = static_cast<int>(tail0);
      TarvSetVar4("k", 1, key.data(), static_cast<int>(key.size()));
      TarvSetVar4("r", 1, rep.data(), static_cast<int>(rep.size()));
    });
    const bool refused = tail0 - head0 + 1 < static_cast<int64_t>(key.size());
    if (!refused) ref.Replace(key, rep, TEXT_SIZE);
    ASSERT_EQ(sgRun.TextLen, ref.len) << round;
    ASSERT_EQ(sgRun.tailPointer, ref.tail) << round;
    ASSERT_EQ(std::string(sgRun.Text.data(), ref.arr.size()), ref.arr) << round;
    ASSERT_EQ(Code(1), refused ? -8 : 0) << round;
  }
}

TEST_F(TextScript, ReplaceStopsAtTheSizeLimitKeepingEarlierReplacements) {
  Reference ref;
  ref.len = 4194300;
  ref.arr.assign(TEXT_SIZE + 2, 'x');
  for (int64_t p : {5, 4194290, 4194295, 4194299}) ref.arr[p] = 'a';
  ref.arr[0] = 0;
  ref.head = 1;
  ref.tail = ref.len;
  Run("text.replace {a} with {bcd}\n", [&] {
    std::memcpy(sgRun.Text.data(), ref.arr.data(), ref.arr.size());
    sgRun.TextLen = 4194300;
    sgRun.headPointer = 1;
    sgRun.tailPointer = 4194300;
  });
  ref.Replace("a", "bcd", TEXT_SIZE);
  ASSERT_TRUE(ref.limitHit);
  EXPECT_EQ(sgRun.TextLen, 4194302);
  EXPECT_EQ(sgRun.TextLen, ref.len);
  EXPECT_EQ(sgRun.tailPointer, ref.tail);
  EXPECT_TRUE(std::memcmp(sgRun.Text.data(), ref.arr.data(), ref.arr.size()) == 0);
  EXPECT_EQ(Code(1), -8);
  EXPECT_EQ(ErrorOn(1), "文本区len=TextLen + AddLen >=4194304!");
}

}  // namespace
