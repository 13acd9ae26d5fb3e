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
  std::string Saved(const std::string& name) { return tarvtest::ReadFile(dir.File(name)); }
  std::string Path(const std::string& name) { return "{" + dir.File(name) + "}"; }
};

TEST_F(TextScript, AddFromFileNeverReadsPastItsRoom) {
  // A text grown by text.replace beyond the file statement's own limit
  // leaves it no room at all, instead of a negative one: nothing of the
  // file is kept, and that is the statement's error.
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
  EXPECT_EQ(Code(6), -1);
  EXPECT_NE(ErrorOn(6).find("kept=[0] of [100] bytes of file"), std::string::npos) << ErrorOn(6);
  EXPECT_EQ(sgRun.TextLen, 4194272);
  EXPECT_EQ(std::string(sgRun.Text.data() + 4194257, 16), "qqqqaaaaaaaaaaaa");
  EXPECT_EQ(std::string(sgRun.Text.data() + 4194273, 33), std::string(33, '.'));
}

// The pointers, deletes, adds, shows and saves: cases/text_statements.cases.
TEST(TextStatements, Cases) { tarvtest::ExpectCaseFile("text_statements.cases"); }

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
