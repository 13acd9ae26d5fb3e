// The pages' copy of the text buffer is brought up to date from the first
// byte an edit changed and by what was appended: after any mix of appends,
// replaces and cuts between two copies it holds the text byte for byte.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "tests/engine/harness.h"
#include "window/page_copy.h"

namespace {

std::string CopiedText() {
  std::string text;
  PagesShow([&text](const PageSource& from) { text.assign(from.text + 1, static_cast<size_t>(from.textLen)); });
  return text;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

TEST(PageCopy, TheTextCopiedAfterEditsAndAppendsIsTheText) {
  tarvtest::TempDir dir;
  std::string big(70000, 'a');
  big.replace(0, 4, "MARK");
  big.replace(50000, 4, "MARK");
  const std::string file = dir.Write("big.txt", big);
  const std::vector<std::string> head = {"text.add from file {" + file + "}", "text.headpointer move to head",
                                         "text.tailpointer move to tail"};
  const struct {
    const char* name;
    std::vector<std::string> steps;  // after the three lines above
  } kCases[] = {
      {"appends", {"text.add {bb}", "text.add {cc}"}},
      {"same length replace", {"text.replace {MARK} with {DONE}"}},
      {"shorter replace", {"text.replace {MARK} with {D}"}},
      {"longer replace", {"text.replace {MARK} with {DONE-DONE}"}},
      {"cut to a byte, then append", {"text.delete from {100} byte", "text.add {zz}"}},
      {"cut at the head pointer, then append over what was cut",
       {"text.headpointer move to {10} byte", "text.delete from headpointer", "text.add {~big~}"}},
      {"cut at the tail pointer, then append",
       {"text.tailpointer move to {60000} byte", "text.delete from tailpointer", "text.add {yy}"}},
      {"cut to nothing, then append", {"text.delete from {0} byte", "text.add {bb}"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    // The copy is taken after the text is loaded and after the last step
    // only: the edits between add up.
    std::vector<std::string> lines = {"var {big} value {" + std::string(200, 'q') + "}"};
    lines.insert(lines.end(), head.begin(), head.end());
    lines.insert(lines.end(), c.steps.begin(), c.steps.end());
    const std::set<int> copyAfter = {2, static_cast<int>(lines.size())};
    PagesReset();
    tarvtest::Start(dir, Lines(lines));
    int copies = 0;
    for (long steps = 0; sgRun.StepRunState != RUNEND && steps < 100; steps++) {
      const int line = sgRun.CurLine;
      EsRunNextStep();
      if (copyAfter.count(line) == 0) continue;
      PagesPublish();
      copies++;
      EXPECT_EQ(CopiedText(), tarvtest::Text()) << "after line " << line;
    }
    EXPECT_EQ(sgRun.StepRunState, RUNEND);
    EXPECT_EQ(copies, 2);
    EXPECT_EQ(sgRun.RunErrors, 0) << tarvtest::Var("run.error.1");
    const std::string out = tarvtest::Text();
    EXPECT_NE(out, big);  // the last steps changed the text
  }
  PagesReset();
}

}  // namespace
