#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/handlers.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;
using tarvtest::Var;

// The statements' results, errors and values: cases/var_statements.cases.
TEST(VarStatements, Cases) { tarvtest::ExpectCaseFile("var_statements.cases"); }

TEST(VarStatements, ValueReportsAFullStore) {
  TempDir dir;
  tarvtest::Start(dir, "var {new} value {x}\n");
  for (int i = 0; sgVar.Count < VAR_MAX; i++) {
    std::string n = "f" + std::to_string(i);
    ASSERT_EQ(TarvSetVar4(n.data(), static_cast<int>(n.size()), "1", 1), 0);
  }
  ASSERT_EQ(EsPrepareStep(), 0);
  EXPECT_EQ(EsCallStep(), -11);
  EXPECT_EQ(sgRun.RunErrors, 1);
  EXPECT_EQ(Var("new"), "<missing>");
}

// The layout itself belongs to the date utility.
TEST(VarStatements, ValueDatetimeStoresTheDateAndTime) {
  TempDir dir;
  const auto o = tarvtest::RunCase(dir, "var {now} value {x}\nvar {now} value datetime\n");
  EXPECT_EQ(o.Code(2), 0);
  EXPECT_EQ(o.errors, std::vector<std::string>{});
  EXPECT_TRUE(tarvtest::Shaped(Var("now"), "9999-99-99 99:99:99")) << Var("now");
}

TEST(VarStatements, ReplaceWithoutMatchStillMarksTheVariable) {
  TempDir dir;
  tarvtest::RunCase(dir, "var {s} value {abc}\nvar {t} value {x}\nvar {s} replace {Z} with {Y}\n");
  const int i = TarvFindVar("s", 1);
  ASSERT_GT(i, 0);
  EXPECT_EQ(sgVar.editByStep[i], sgRun.RunSteps);
}

// A 1023-byte value fits a variable but not a slot.
TEST(VarStatements, CopyVarRefusesAValueLongerThanASlot) {
  TempDir dir;
  tarvtest::Start(dir, "var {b} copy var {a}\n");
  std::string big(1023, 'w');
  ASSERT_EQ(TarvSetVar4("a", 1, big.data(), 1023), 0);
  ASSERT_EQ(EsPrepareStep(), 0);
  EXPECT_EQ(EsCallStep(), -5);
  EXPECT_EQ(Var("b"), "<missing>");
}

}  // namespace
