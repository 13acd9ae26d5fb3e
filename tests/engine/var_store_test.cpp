#include "engine/core/run_state.h"
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/var_store.h"

namespace {

class VarStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { TarvEngineReset(); }
  int Set(const std::string& n, const std::string& v) {
    return TarvSetVar4(n.data(), static_cast<int>(n.size()), v.data(), static_cast<int>(v.size()));
  }
  std::string Get(const std::string& n, int cap = 1024) {
    char buf[1024];
    int r = TarvGetVar4(n.data(), static_cast<int>(n.size()), buf, cap);
    return r < 0 ? "<" + std::to_string(r) + ">" : std::string(buf, r);
  }
};

TEST_F(VarStoreTest, LengthLimits) {
  EXPECT_EQ(Set(std::string(63, 'n'), "v"), 0);
  EXPECT_EQ(Set(std::string(64, 'n'), "v"), -1);
  EXPECT_EQ(Set("", "v"), -1);
  EXPECT_EQ(Set("a", std::string(1023, 'v')), 0);
  EXPECT_EQ(Set("b", std::string(1024, 'v')), -1);
  EXPECT_EQ(TarvSetVar4("c", 1, "x", -1), -1);
  EXPECT_EQ(Set("e", ""), 0);
  EXPECT_EQ(Get("e"), "");
  EXPECT_EQ(Get("b"), "<-2>");
  EXPECT_EQ(sgVar.Count, 3);
}

TEST_F(VarStoreTest, ValueRoomAndPoolGrowth) {
  ASSERT_EQ(Set("x", "0123456789"), 0);
  const int off = sgVar.ValOff[1];
  const int fill = sgVar.Fill;
  EXPECT_EQ(fill, 11);
  ASSERT_EQ(Set("x", "abcd"), 0);
  ASSERT_EQ(Set("x", "abcdefghi"), 0);
  EXPECT_EQ(sgVar.ValOff[1], off);
  EXPECT_EQ(sgVar.Fill, fill);
  EXPECT_EQ(Get("x"), "abcdefghi");
  ASSERT_EQ(Set("x", "abcdefghijk"), 0);
  EXPECT_EQ(sgVar.ValOff[1], fill);
  EXPECT_EQ(sgVar.Fill, fill + 11);
  EXPECT_EQ(Get("x"), "abcdefghijk");
  // Case matters.
  ASSERT_EQ(Set("X", "upper"), 0);
  EXPECT_EQ(sgVar.Count, 2);
  EXPECT_EQ(Get("x"), "abcdefghijk");
}

TEST_F(VarStoreTest, CapacityOfTheReader) {
  ASSERT_EQ(Set("v", "hello"), 0);
  EXPECT_EQ(Get("v", 5), "hello");
  EXPECT_EQ(Get("v", 4), "<-3>");
}

TEST_F(VarStoreTest, TooManyVariablesAndFullPool) {
  for (int i = 0; i < VAR_MAX; i++) ASSERT_EQ(Set("v" + std::to_string(i), "1"), 0) << i;
  EXPECT_EQ(Set("one-more", "1"), -3);
  EXPECT_EQ(Set("v17", "22"), 0);
  EXPECT_EQ(Get("v17"), "22");
  EXPECT_EQ(Get("v4093"), "1");
  EXPECT_EQ(TarvFindVar("v0", 2), 1);
  EXPECT_EQ(TarvFindVar("v4093", 5), VAR_MAX);
}

TEST_F(VarStoreTest, PoolLimitCountsTheNameOfAnExistingVariable) {
  ASSERT_EQ(Set("abcde", "x"), 0);
  // Grow the pool with 1023-byte values until 262,060 bytes are in use.
  std::string big(1000, 'b');
  int i = 0;
  while (sgVar.Fill + 1010 <= 262060) ASSERT_EQ(Set("f" + std::to_string(i++), big), 0);
  int rest = 262060 - sgVar.Fill - 4;
  ASSERT_GE(rest, 0);
  ASSERT_EQ(Set("zzzz", std::string(rest, 'c')), 0);
  ASSERT_EQ(sgVar.Fill, 262060);
  EXPECT_EQ(Set("abcde", "y"), -2);
  EXPECT_EQ(Get("abcde"), "x");
  EXPECT_EQ(Set("ab", "yy"), 0);  // 2 + 2 + 262,060 fits exactly
  EXPECT_EQ(sgVar.Fill, 262064);
}

TEST_F(VarStoreTest, ZeroKeepsTheVariable) {
  ASSERT_EQ(Set("z", "abc"), 0);
  sgRun.RunSteps = 7;
  EXPECT_EQ(TarvZeroVar("z"), 0);
  EXPECT_EQ(Get("z"), "");
  EXPECT_EQ(sgVar.editByStep[1], 0);
  EXPECT_EQ(TarvZeroVar("nope"), -1);
  EXPECT_EQ(TarvSetVarInt2("n", -42), 0);
  EXPECT_EQ(Get("n"), "-42");
  EXPECT_EQ(sgVar.editByStep[2], 7);
}

TEST_F(VarStoreTest, RemovedVariablesGiveBackTheirNumbersAndPool) {
  ASSERT_EQ(Set("a", "1"), 0);
  ASSERT_EQ(Set("bb", "22"), 0);
  ASSERT_EQ(Set("c", "3"), 0);
  ASSERT_EQ(Set("a", "grown past its room"), 0);  // a's value now lies after c
  VarSetCounterByName(0, "cnt", 5);
  ASSERT_EQ(Set("dd", "44"), 0);
  const std::string_view gone[] = {"bb", "missing", "dd", "bb"};
  EXPECT_EQ(TarvRemoveVars(gone, 4), 2);
  struct Case {
    std::string name, value;
    int index;
  };
  const Case kept[] = {{"a", "grown past its room", 1}, {"c", "3", 2}, {"cnt", "5", 3}};
  for (const Case& c : kept) {
    EXPECT_EQ(Get(c.name), c.value) << c.name;
    EXPECT_EQ(TarvFindVar(c.name.data(), static_cast<int>(c.name.size())), c.index) << c.name;
  }
  EXPECT_EQ(Get("bb"), "<-2>");
  EXPECT_EQ(Get("dd"), "<-2>");
  EXPECT_EQ(sgVar.Count, 3);
  EXPECT_EQ(sgVar.Fill, 1 + 19 + 1 + 1 + 3 + 1);
  // The counter writes its new number, not the one it had.
  VarSetCounterDirect(0, "cnt", 6, 1);
  VarSetCounterDirect(0, "cnt", 17, 1);
  EXPECT_EQ(Get("cnt"), "17");
  EXPECT_EQ(Get("c"), "3");
  ASSERT_EQ(Set("e", "5"), 0);
  EXPECT_EQ(TarvFindVar("e", 1), 4);
  EXPECT_EQ(TarvRemoveVars(gone, 4), 0);
}

TEST_F(VarStoreTest, RemovingMakesRoomInAFullStore) {
  std::vector<std::string> names;
  for (int i = 0; i < VAR_MAX; i++) {
    names.push_back("v" + std::to_string(i));
    ASSERT_EQ(Set(names.back(), std::string(10, 'x')), 0) << i;
  }
  EXPECT_EQ(Set("late", "1"), -3);
  std::vector<std::string_view> views(names.begin() + 1, names.end());
  EXPECT_EQ(TarvRemoveVars(views.data(), static_cast<int>(views.size())), VAR_MAX - 1);
  EXPECT_EQ(Set("late", "1"), 0);
  EXPECT_EQ(Get("v0"), std::string(10, 'x'));
  EXPECT_EQ(sgVar.Fill, 2 + 10 + 4 + 1);
}

}  // namespace
