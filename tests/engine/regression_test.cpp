// Faults once found in the engine, each kept from coming back.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <string>

#include "engine/core/run_state.h"
#include "engine/core/statement_table.h"
#include "engine/log/log.h"
#include "engine/util/util.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::RunErrors;
using tarvtest::TempDir;
using tarvtest::Var;

// Runs body on its own thread; a body still running after `seconds` fails
// the test and ends the process rather than leaving it hanging.
void WithinSeconds(int seconds, const char* what, const std::function<void()>& body) {
  auto done = std::async(std::launch::async, body);
  if (done.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready) return done.get();
  std::fprintf(stderr, "%s: still running after %d seconds\n", what, seconds);
  std::_Exit(1);
}

bool Contains(const std::vector<std::string>& v, const std::string& s) {
  for (const auto& e : v)
    if (e == s) return true;
  return false;
}

TEST(Regression, ArgumentWordBrokenByABraceFailsAndItsHandlerDoesNotRun) {
  TempDir dir;
  // A second '{' inside the word, and a '{' still open at the end of file:
  // the word's slot still holds "2" from the line before.
  for (const char* broken : {"{x{", "{x"}) {
    tarvtest::Run(dir, std::string("text.add {one two three}\n"
                                   "var {r} replace {x} with {2}\n"
                                   "text.headpointer move to head\n"
                                   "text.tailpointer move to tail\n"
                                   "text.get var {w} word number ") +
                           broken);
    EXPECT_EQ(Var("w"), "<missing>") << broken;
    EXPECT_TRUE(Contains(RunErrors(), "run:CurStepGetArg Len=<-2> < 0 Err!")) << broken;
  }
}

int gFaultAt = 0;
int LogWriterFaults() {
  sgRun.StepRunState = ENDOK;
  // A bad format argument: the text to format lies on a page that may not
  // be read, so the fault happens inside the writer's formatting.
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  gFaultAt++;
  HtmlLogError("%s", static_cast<const char*>(page));
  TarvDebugLog("\n%s", static_cast<const char*>(page));
  return 0;
}

TEST(Regression, AFaultInsideALogWriterLeavesTheLogUsable) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "log");
  const Handler saved = sgFun[94].Fun;
  sgFun[94].Fun = LogWriterFaults;
  WithinSeconds(30, "log after a faulting writer", [&] {
    tarvtest::Run(dir, "tcp.close\nvar {after} value {logged}\n", "debug");
  });
  sgFun[94].Fun = saved;
  EXPECT_EQ(gFaultAt, 1);
  EXPECT_EQ(Var("after"), "logged");
  std::string log;
  for (const auto& e : std::filesystem::directory_iterator(dir.path() / "log"))
    log += tarvtest::ReadFile(e.path().string());
  EXPECT_NE(log.find("var_a2_value_a4 ,begin ..."), std::string::npos);
}

TEST(Regression, SourceExpansionStopsOnceTheTextBufferRefuses) {
  TempDir dir;
  // Twelve words of eight choices: 8^12 combinations, far more than the
  // text buffer holds.
  std::string line = "tarv.createsource";
  for (int w = 0; w < 12; w++) line += " +a/b/c/d/e/f/g/h";
  WithinSeconds(120, "tarv.createsource", [&] { tarvtest::Run(dir, line + "\n"); });
  const auto errors = RunErrors();
  ASSERT_GE(errors.size(), 2u);
  EXPECT_EQ(errors.front().rfind("BufLen=<", 0), 0u) << errors.front();
  EXPECT_EQ(errors.back(), "tarv_createsource::This statement is not run in normal!");
  EXPECT_GT(sgRun.TextLen, 0);
}

TEST(Regression, DeveloperStatementEndsWithItsErrorAfterALengthError) {
  TempDir dir;
  tarvtest::Run(dir, "tarv.debug {}\n");
  EXPECT_EQ(RunErrors(), (std::vector<std::string>{
                             "Length of Arg 2 is :0  < 1 !",
                             "tarv_debug_a2 can only run in development mode!"}));
}

TEST(Regression, ABlankLineAtTheDebugLevelIsNotedWithoutReadingAWord) {
  // A blank line owns no word; its note once copied from a null view (the
  // sanitizer build stops there).
  TempDir dir;
  tarvtest::Run(dir, "run.set loglevel {debug}\n\nvar {after} value {1}\n\n");
  EXPECT_EQ(Var("after"), "1");
  EXPECT_TRUE(RunErrors().empty());
}

}  // namespace
