// docs/statements.md and the statement table never drift apart: every row's
// pattern has its one line in the reference, the reference names no pattern
// the table lacks, and the rows it calls "not yet completed" answer -99 while
// the rows that no family claims are called so.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "engine/core/handlers.h"
#include "engine/core/statement_table.h"
#include "tests/engine/harness.h"

namespace {

const std::string kReference =
    (std::filesystem::path(TARV_SOURCE_DIR) / "docs" / "statements.md").string();

struct Entry {
  std::string pattern;
  bool notCompleted = false;
};

// The statement rows of the reference: table lines whose first cell is one
// pattern in backquotes.
std::vector<Entry> ReferenceRows(const std::string& text) {
  std::vector<Entry> rows;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.rfind("| `", 0) != 0) continue;
    const size_t close = line.find('`', 3);
    if (close == std::string::npos || line.compare(close, 3, "` |") != 0) continue;
    rows.push_back({line.substr(3, close - 3),
                    line.find("**not yet completed**") != std::string::npos});
  }
  return rows;
}

std::string LineOf(const std::string& pattern) {
  return std::regex_replace(pattern, std::regex(R"(\{A\d+\})"), "{x}") + "\n";
}

TEST(StatementReference, NamesEveryRowOnceAndNothingElse) {
  const std::string text = tarvtest::ReadFile(kReference);
  ASSERT_FALSE(text.empty()) << kReference;
  std::map<std::string, int> documented;
  for (const Entry& e : ReferenceRows(text)) documented[e.pattern]++;

  std::set<std::string> table;
  for (const FunRow& row : sgFun) table.insert(row.Pattern);
  for (const std::string& p : table)
    EXPECT_EQ(documented.count(p), 1u) << "missing from docs/statements.md: " << p;
  for (const auto& [p, n] : documented) {
    EXPECT_EQ(table.count(p), 1u) << "docs/statements.md names a pattern the table lacks: " << p;
    EXPECT_EQ(n, 1) << "docs/statements.md names " << p << " " << n << " times";
  }
}

TEST(StatementReference, RowsNoFamilyClaimsAreMarkedNotCompleted) {
  std::map<std::string, bool> marked;
  for (const Entry& e : ReferenceRows(tarvtest::ReadFile(kReference))) marked[e.pattern] = e.notCompleted;
  for (const FunRow& row : sgFun) {
    if (row.Fun != StatementNotCompleted) continue;
    EXPECT_TRUE(marked[row.Pattern]) << row.Pattern << " answers -99 but is not marked";
  }
}

// Each row the reference marks is run on its own and must answer -99.
TEST(StatementReference, RowsMarkedNotCompletedAnswerMinus99) {
  int checked = 0;
  for (const Entry& e : ReferenceRows(tarvtest::ReadFile(kReference))) {
    if (!e.notCompleted) continue;
    tarvtest::TempDir dir;
    const auto o = tarvtest::RunCase(dir, LineOf(e.pattern));
    EXPECT_EQ(o.Code(1), -99) << e.pattern;
    checked++;
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
