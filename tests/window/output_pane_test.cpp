// The output pane against a fake edit: what each append shows, the
// automatic clear, and the pages.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/observer.h"
#include "engine/core/run_state.h"
#include "engine/core/text_buffer.h"
#include "engine/core/var_store.h"
#include "tests/engine/harness.h"
#include "tests/services/case_rows.h"
#include "window/output_pane.h"
#include "window/window_state.h"

namespace {

struct FakeEdit {
  std::string text;
  int clears = 0;
};
FakeEdit gEdit;

void FakeClear() {
  gEdit.text.clear();
  gEdit.clears++;
}
void FakeAppend(const char* text, int len) { gEdit.text.append(text, len); }
constexpr EditTarget kFake = {FakeClear, FakeAppend};
bool Showing() { return true; }
constexpr EngineObserver kObserver = {Showing, EditAppend, EditLog, nullptr, nullptr, nullptr};

class OutputPane : public ::testing::Test {
 protected:
  void SetUp() override {
    tarvtest::Start(dir_, "# nothing\n", "debug");
    gEdit = {};
    WindowStateReset();
    EditSetTarget(&kFake);
    TarvSetObserver(&kObserver);
  }
  void TearDown() override {
    TarvSetObserver(nullptr);
    EditSetTarget(nullptr);
    WindowStateReset();
  }
  // The pane's text after a page command, the edit emptied first.
  std::string Page(int command) {
    PageCommand(command);
    return gEdit.text;
  }
  tarvtest::TempDir dir_;
};

// pane.tsv: bytes masked and shown as valid text, and their UTF-16 count.
TEST_F(OutputPane, ShowsBytesMaskedAndAsValidText) {
  for (const auto& row : tarvtest::LoadRows("window/pane.tsv")) {
    gEdit.text.clear();
    EditAppend(row[0].data(), static_cast<int>(row[0].size()));
    EXPECT_EQ(gEdit.text, row[1]) << row[0];
    std::string out;
    EXPECT_EQ(EditText(row[0].c_str(), out), std::stoi(row[2])) << row[0];
  }
}

TEST_F(OutputPane, CutsAppendsAndDropsOverlongFormattedTexts) {
  const std::string big(3000, 'x');
  EditAppend(big.data(), 3000);
  EXPECT_EQ(gEdit.text, std::string(EDIT_APPEND_MAX, 'x'));

  gEdit.text.clear();
  ScreenPrintf("%s", std::string(1019, 'y').c_str());
  EXPECT_EQ(gEdit.text.size(), 1019u);
  gEdit.text.clear();
  ScreenPrintf("%s", std::string(1020, 'y').c_str());
  EXPECT_EQ(gEdit.text, "");
}

TEST_F(OutputPane, EmptiesItselfOnceMoreThan20000UnitsWentIn) {
  const std::string chunk(999, 'c');  // 1000 units with its terminator
  for (int i = 0; i < 21; i++) EditAppend(chunk.data(), 999);
  EXPECT_EQ(gEdit.clears, 0);  // 20000 units is not yet more than 20000
  EXPECT_EQ(sgWin.editChars.load(), 21000);
  EditAppend("z", 1);
  EXPECT_EQ(gEdit.clears, 1);
  EXPECT_EQ(gEdit.text, "z");
  EXPECT_EQ(sgWin.editChars.load(), 2);
}

TEST_F(OutputPane, HideModeShowsNothing) {
  sgRun.RunMode = RUNMODE_HIDE;
  EditAppend("seen", 4);
  PageCommand(ID_SHOW_VAR);
  EXPECT_EQ(gEdit.text, "");
  EXPECT_EQ(gEdit.clears, 0);
}

TEST_F(OutputPane, LogTextOnlyWhileTheLogPageShows) {
  ScreenLog("one", 3);
  EXPECT_EQ(gEdit.text, "one");
  EXPECT_EQ(Page(ID_SHOW_CLEAR), "");
  EXPECT_EQ(sgWin.displayType.load(), ID_SHOW_CLEAR);
  ScreenLog("two", 3);
  ScreenPrintf("header");
  EXPECT_EQ(gEdit.text, "header");
  EXPECT_EQ(Page(ID_SHOW_LOG), "Display Log,Type = 93, Byte = 0 .\n");
}

int EntriesShown(const std::string& page) {
  int n = 0;
  for (size_t at = page.find("\n ", 0); at != std::string::npos; at = page.find("\n ", at + 1)) n++;
  return n;
}

TEST_F(OutputPane, PagesOf120Variables) {
  for (int i = 0; sgVar.Count < 120; i++) TarvSetVar2(("v" + std::to_string(i)).c_str(), "x");
  const struct {
    int command;
    const char* range;
    int entries;
    int pageAfter;
  } steps[] = {
      {ID_SHOW_VAR, "Page = 0, Range:  1 - 50 .", 50, 0},
      {ID_PAGE_NEXT, "Page = 1, Range:  50 - 100 .", 51, 1},
      {ID_PAGE_NEXT, "Page = 2, Range:  100 - 120 .", 21, 2},
      {ID_PAGE_NEXT, "Page = 3, Range:  120 - 120 .", 1, 3},
      {ID_PAGE_LAST, "Page = 2, Range:  70 - 120 .", 51, 2},
      {ID_PAGE_PREV, "Page = 1, Range:  50 - 100 .", 51, 1},
      {ID_PAGE_FIRST, "Page = 0, Range:  1 - 50 .", 50, 0},
  };
  for (const auto& s : steps) {
    const std::string page = Page(s.command);
    EXPECT_NE(page.find(s.range), std::string::npos) << s.command << "\n" << page;
    EXPECT_EQ(EntriesShown(page), s.entries) << s.command;
    EXPECT_EQ(sgWin.displayPage.load(), s.pageAfter);
  }
  EXPECT_EQ(Page(ID_PAGE_LAST).rfind("Display Var: Type = 92, Page = 9999 .\n", 0), 0u);
  EXPECT_NE(gEdit.text.find("\n 120 v"), std::string::npos);
}

TEST_F(OutputPane, PagesReadOnlyWithinTheStore) {
  const int32_t count = sgVar.Count;
  sgVar.Count = 1 << 30;  // as a page could read it mid-write
  const std::string page = Page(ID_PAGE_LAST);
  sgVar.Count = count;
  EXPECT_NE(Page(ID_SHOW_VAR).find("Var: Count="), std::string::npos);
  EXPECT_NE(page, "");
  // Huge page numbers stay in range too.
  const PageRange r = ComputePageRange(PAGE_LAST - 1 + 1000000, 10, TEXT_PAGE_SIZE);
  EXPECT_EQ(r.last, 10);
  EXPECT_EQ(r.start, 10);
  EXPECT_EQ(ComputePageRange(-5, 0, VAR_PAGE_SIZE).start, 0);
}

TEST_F(OutputPane, TextPages) {
  EXPECT_EQ(Page(ID_SHOW_TEXT),
            "Display Text: Type = 91, Page = 0 .\n"
            "Text : Total 0 bytes. Page = 0, Bytes:  0 - 0 .\n*");
  std::string text;
  for (int i = 0; i < 5000; i++) text += static_cast<char>('a' + i % 26);
  ASSERT_EQ(TextAdd(text.data(), 5000), 5000);
  const std::string page = Page(ID_PAGE_NEXT);
  const std::string header = "Text : Total 5000 bytes. Page = 1, Bytes:  4096 - 5000 .\n";
  ASSERT_NE(page.find(header), std::string::npos) << page;
  EXPECT_EQ(page.substr(page.find(header) + header.size()), text.substr(4095));
}

}  // namespace
