// Families kept in modules: their rows wait for the loader, the first call
// registers the family and runs the statement, and a module that cannot be
// loaded fails its statement with a counted error naming it.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "engine/core/family.h"
#include "engine/core/handler.h"
#include "engine/core/handlers.h"
#include "engine/core/statement_table.h"
#include "services/registry.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::RunErrors;

// The first `n` rows no family claims, and a script line calling row `id`.
std::vector<int> FreeRows(size_t n) {
  std::vector<int> rows;
  for (int id = 1; id < MAX_FUN && rows.size() < n; id++)
    if (sgFun[id].Fun == StatementNotCompleted) rows.push_back(id);
  return rows;
}
std::string LineOf(int id) {
  return std::regex_replace(std::string(sgFun[id].Pattern), std::regex(R"(\{A\d+\})"), "{x}") + "\n";
}

// Frees the rows a test claimed, for the tests after it in the same process.
struct FreedAfter {
  std::vector<int> rows;
  ~FreedAfter() {
    for (int id : rows) sgFun[id].Fun = StatementNotCompleted;
  }
};

int gResets = 0, gEnds = 0, gCalls = 0;
int ProbeHandler() {
  HandlerBegin();
  gCalls++;
  return 0;
}

TEST(LazyFamily, FirstCallLoadsTheFamilyWhichThenStaysRegistered) {
  const std::vector<int> rows = FreeRows(1);
  ASSERT_EQ(rows.size(), 1u);
  FreedAfter freed{rows};
  static FamilyHandler handlers[] = {{rows[0], ProbeHandler}};
  static const Family probe = {"lazy-probe", handlers, [] { gResets++; }, [] { gEnds++; }};
  static const int32_t ids[] = {rows[0]};
  static const LazyFamily lazy = {"lazy-probe", "lazy-probe", ids, [] { return &probe; }};
  ASSERT_EQ(TarvDeclareLazyFamily(&lazy), 0);
  EXPECT_EQ(sgFun[rows[0]].Fun, LazyFamilyStep);

  tarvtest::TempDir dir;
  tarvtest::Run(dir, LineOf(rows[0]));
  EXPECT_EQ(RunErrors(), std::vector<std::string>{});
  EXPECT_EQ(sgFun[rows[0]].Fun, ProbeHandler);
  // Loaded during the run: reset once then, as the start of the run would have.
  EXPECT_EQ(gCalls, 1);
  EXPECT_EQ(gResets, 1);
  EXPECT_EQ(gEnds, 1);

  tarvtest::Run(dir, LineOf(rows[0]));
  EXPECT_EQ(gCalls, 2);
  EXPECT_EQ(gResets, 2);  // now by the engine's initialisation
  EXPECT_EQ(gEnds, 2);
}

TEST(LazyFamily, ModuleThatCannotBeLoadedFailsItsStatementAndTheRunGoesOn) {
  const std::vector<int> rows = FreeRows(1);
  ASSERT_EQ(rows.size(), 1u);
  FreedAfter freed{rows};
  static const int32_t ids[] = {rows[0]};
  static const LazyFamily lazy = {"absent", "absent", ids, nullptr};
  ASSERT_EQ(TarvDeclareLazyFamily(&lazy), 0);

  tarvtest::TempDir dir;
  for (int pass = 0; pass < 2; pass++) {  // a failed load is tried again, never half done
    tarvtest::Run(dir, LineOf(rows[0]) + "text.add {after}\n");
    const std::vector<std::string> errors = RunErrors();
    ASSERT_EQ(errors.size(), 1u);
    const std::string expected = std::string(sgFun[rows[0]].Name) + ":The module [tarv_absent.so] cannot be loaded: ";
    EXPECT_EQ(errors[0].substr(0, expected.size()), expected);
    EXPECT_NE(errors[0].find("tarv_absent.so", expected.size()), std::string::npos) << errors[0];
    EXPECT_EQ(tarvtest::Var("run.errors"), "1");
    EXPECT_EQ(tarvtest::Var("text.bytes"), "5");
    EXPECT_EQ(sgFun[rows[0]].Fun, LazyFamilyStep);
  }
  char error[256];
  EXPECT_EQ(TarvLoadLazyFamily("absent", error, sizeof error), -1);
  EXPECT_EQ(TarvLoadLazyFamily("never-declared", error, sizeof error), -1);
}

// The rows the program declares for each module are those its family fills.
TEST(LazyFamily, DeclaredRowsAreThoseOfTheLinkedFamily) {
  std::set<int> seen;
  for (const LazyFamily& lazy : TarvLazyFamilies()) {
    ASSERT_NE(lazy.Linked, nullptr) << lazy.Name;
    const Family* family = lazy.Linked();
    EXPECT_STREQ(family->Name, lazy.Name);
    std::vector<int> declared(lazy.Ids.begin(), lazy.Ids.end()), filled;
    for (const FamilyHandler& h : family->Handlers) filled.push_back(h.Id);
    std::sort(declared.begin(), declared.end());
    std::sort(filled.begin(), filled.end());
    EXPECT_EQ(declared, filled) << lazy.Name;
    for (int id : declared) {
      EXPECT_TRUE(seen.insert(id).second) << "row " << id << " declared twice";
      EXPECT_NE(sgFun[id].Fun, StatementNotCompleted) << "row " << id;
    }
  }
}

}  // namespace
