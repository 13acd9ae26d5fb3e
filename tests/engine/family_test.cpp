// How a family joins the engine: its handlers fill only the rows it names,
// its hooks run at the engine's initialisation and at the end of a run,
// and rows nobody claims answer with their own name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/family.h"
#include "engine/core/handler.h"
#include "engine/core/handlers.h"
#include "engine/core/script.h"
#include "engine/core/statement_table.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::RunErrors;

int gResets = 0;
int gEnds = 0;
int gCalls = 0;
int ProbeHandler() {
  HandlerBegin();
  gCalls++;
  return 0;
}

// Row 42 (telnet.send sys.file) is one that no family of the program claims.
constexpr int kFreeRow = 42;
constexpr FamilyHandler kProbeHandlers[] = {{kFreeRow, ProbeHandler}};
constexpr Family kProbe = {"probe", kProbeHandlers, [] { gResets++; }, [] { gEnds++; }};

TEST(Family, UnclaimedRowAnswersWithItsOwnName) {
  ASSERT_EQ(sgFun[kFreeRow].Fun, StatementNotCompleted);
  tarvtest::TempDir dir;
  tarvtest::Run(dir, "telnet.send sys.file {x.txt}\n");
  EXPECT_EQ(RunErrors(), std::vector<std::string>{
                             "telnet_send_sys_file_a3:This statement is not yet completed."});
  EXPECT_EQ(sgNms.ErrorSteps[1], 1);  // the window's count of failed steps by line
}

TEST(Family, RecordWithARowOutsideTheTableIsRefusedWhole) {
  for (int bad : {0, -1, MAX_FUN, MAX_FUN + 100}) {
    const FamilyHandler handlers[] = {{kFreeRow, ProbeHandler}, {bad, ProbeHandler}};
    const Family family = {"bad", handlers, nullptr, nullptr};
    EXPECT_EQ(TarvRegisterFamily(&family), -1) << bad;
    EXPECT_EQ(sgFun[kFreeRow].Fun, StatementNotCompleted) << bad;
  }
  const FamilyHandler none[] = {{kFreeRow, nullptr}};
  const Family noHandler = {"null", none, nullptr, nullptr};
  EXPECT_EQ(TarvRegisterFamily(&noHandler), -1);
  EXPECT_EQ(sgFun[kFreeRow].Fun, StatementNotCompleted);
}

TEST(Family, HandlersAndHooksRunOnceHoweverOftenRegistered) {
  ASSERT_EQ(TarvRegisterFamily(&kProbe), 0);
  ASSERT_EQ(TarvRegisterFamily(&kProbe), 0);
  EXPECT_EQ(sgFun[kFreeRow].Fun, ProbeHandler);
  gResets = gEnds = gCalls = 0;
  tarvtest::TempDir dir;
  tarvtest::Run(dir, "telnet.send sys.file {x.txt}\n");
  sgFun[kFreeRow].Fun = StatementNotCompleted;  // the row is free again for others
  EXPECT_EQ(gCalls, 1);
  EXPECT_EQ(gResets, 1);
  EXPECT_EQ(gEnds, 1);
  EXPECT_EQ(RunErrors(), std::vector<std::string>{});
}

}  // namespace
