#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/core/statement_table.h"

namespace {

int CountWords(const std::string& p) {
  int n = 1;
  for (char c : p) n += c == ' ';
  return n;
}

TEST(StatementTable, RowsAgreeWithTheirPatterns) {
  std::set<std::string> patterns;
  int status[3] = {};
  for (int i = 0; i < MAX_FUN; i++) {
    const FunRow& r = sgFun[i];
    SCOPED_TRACE(r.Pattern);
    EXPECT_EQ(r.Id, i);
    EXPECT_NE(r.Fun, nullptr);
    EXPECT_EQ(r.Words, CountWords(r.Pattern));
    EXPECT_EQ(r.Length, static_cast<int>(std::string(r.Pattern).size()));
    EXPECT_TRUE(patterns.insert(r.Pattern).second) << "duplicate pattern";
    ASSERT_GE(r.Status, -1);
    ASSERT_LE(r.Status, 1);
    status[r.Status + 1]++;
    // Every argument is written with its own word position.
    std::string p = r.Pattern;
    int pos = 1;
    for (size_t b = 0, e; b <= p.size(); b = e + 1, pos++) {
      e = p.find(' ', b);
      if (e == std::string::npos) e = p.size();
      std::string w = p.substr(b, e - b);
      if (w[0] == '{') {
        EXPECT_EQ(w, "{A" + std::to_string(pos) + "}");
      }
    }
  }
  EXPECT_EQ(status[2], 140);
  EXPECT_EQ(status[1], 14);
  EXPECT_EQ(status[0], 27);
}

TEST(StatementTable, HandlerNamesFollowTheNamingRule) {
  for (const FunRow& r : sgFun) {
    std::string expect;
    for (const char* c = r.Pattern; *c; c++) {
      if (c[0] == '{' && c[1] == 'A') {
        expect += 'a';
        for (c += 2; *c != '}'; c++) expect += *c;
      } else {
        expect += *c;
      }
    }
    for (char& c : expect)
      if (c == '.' || c == ' ') c = '_';
    if (r.Id == 0) expect = "EsBlankLine";
    if (r.Id >= 102 && r.Id <= 107) expect = "if_var_a2_vs_a4";
    if (r.Id == 54 || r.Id == 55)
      expect.replace(0, std::string("text_headpointer").size(), "text_head_pointer");
    if (r.Id == 61 || r.Id == 62)
      expect.replace(0, std::string("text_tailpointer").size(), "text_tail_pointer");
    if (r.Id == 179) expect = "tarv_createsource";
    if (r.Id == 180) expect = "tarv_debug_a2";
    EXPECT_EQ(r.Name, expect) << r.Id;
  }
}

TEST(StatementTable, GroupsFollowIdRanges) {
  const int firstOfGroup[] = {0,  1,  12, 32, 33, 34,  35,  46,  75,  82,  85,  95, 102,
                              115, 119, 123, 127, 131, 140, 148, 155, 162, 168, 176, 179};
  int group = 0;
  for (const FunRow& r : sgFun) {
    if (group + 1 < 25 && r.Id == firstOfGroup[group + 1]) group++;
    EXPECT_EQ(r.Group, group) << r.Id;
  }
  EXPECT_EQ(std::string(sgFun[159].Pattern), "sys.execute recv for {A4} seconds");
  EXPECT_EQ(sgFun[159].Words, 5);
  EXPECT_EQ(sgFun[159].Length, 33);
}

}  // namespace
