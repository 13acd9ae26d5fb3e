#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "engine/core/var_store.h"
#include "tests/engine/harness.h"

namespace {

// text.get var and text.line get all words: cases/text_extract.cases.
TEST(TextExtract, Cases) { tarvtest::ExpectCaseFile("text_extract.cases"); }

TEST(TextExtract, WordNumberReportsAStoreThatRefuses) {
  tarvtest::TempDir dir;
  const auto o = tarvtest::RunCase(dir, "text.get var {fresh} word number {1}\n", [] {
    for (int i = 0; sgVar.Count < VAR_MAX; i++) TarvSetVar2(("f" + std::to_string(i)).c_str(), "");
    std::memcpy(sgRun.Text.data() + 1, "ab cd", 5);
    sgRun.TextLen = 5;
    sgRun.headPointer = 1;
    sgRun.tailPointer = 5;
  });
  EXPECT_EQ(o.Code(1), -9);
  EXPECT_EQ(tarvtest::Var("fresh"), "<missing>");
  EXPECT_EQ(o.errors.size(), 1u);
}

}  // namespace
