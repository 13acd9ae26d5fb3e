// Writing workbooks: every text that is taken makes XML a strict reader
// accepts and every one that could not is refused before the file changes;
// a file another program replaced is left to it; range writes grow with the
// cells written and end at the step time-out; and a sheet whose tree would
// pass its memory bound is refused by that bound.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

#include "engine/core/engine.h"
#include "services/mail/host_objects.h"
#include "services/mail/mail_statements.h"
#include "services/mail/xlsx_workbook.h"
#include "services/scripthost/script_host.h"
#include "services/scripthost/vbs_eval.h"
#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/platform/child_watch.h"
#include "tests/services/binary_run.h"
#include "tests/services/mail/workbook_files.h"
#include "tests/services/statement_checks.h"

namespace {

using Strings = std::vector<std::string>;
namespace fs = std::filesystem;
namespace xlsx = tarv::xlsx;

using workbooktest::Book;
using workbooktest::Python;

xlsx::CellValue TextCell(const std::string& text) {
  xlsx::CellValue v;
  v.kind = xlsx::CellValue::Kind::Text;
  v.text = text;
  return v;
}

xlsx::CellValue NumberCell(double n) {
  xlsx::CellValue v;
  v.kind = xlsx::CellValue::Kind::Number;
  v.number = n;
  return v;
}

// Every XML part of the package through expat, which refuses any byte that
// is not well-formed UTF-8 XML, then the sheet through openpyxl: the cells
// it holds, as (coordinate, value) pairs in Python's notation.
std::string StrictCells(const tarvtest::TempDir& dir, const std::string& book) {
  return Python(dir, "import zipfile, xml.etree.ElementTree as ET, openpyxl\n"
                     "z = zipfile.ZipFile('" + book + "')\n"
                     "for n in z.namelist():\n"
                     "  if n.endswith('.xml') or n.endswith('.rels'): ET.fromstring(z.read(n))\n"
                     "ws = openpyxl.load_workbook('" + book + "')['S']\n"
                     "print(sorted((c.coordinate, c.value) for r in ws.iter_rows() for c in r if c.value is not None))\n");
}

TEST(ExcelWrites, TextsThatAreNotUtf8AreRefusedAndTheWorkbookStaysAsItWas) {
  struct Case {
    std::string value, error;
  };
  const Case cases[] = {
      {"bad%ffutf", "Cell text is not valid UTF-8 (byte 4 of 7)"},
      {"%ef%bf%be", "Cell text holds U+FFFE, which a workbook cannot hold (byte 1)"},
      {"x%ef%bf%bf", "Cell text holds U+FFFF, which a workbook cannot hold (byte 2)"},
      {"%c3", "Cell text is not valid UTF-8 (byte 1 of 1)"},
      {"ab%c3 ", "Cell text is not valid UTF-8 (byte 3 of 4)"},
      {"%ed%a0%80", "Cell text is not valid UTF-8 (byte 1 of 3)"},  // a surrogate
      {"%c0%af", "Cell text is not valid UTF-8 (byte 1 of 2)"},     // an overlong '/'
      {"%e0%80%af", "Cell text is not valid UTF-8 (byte 1 of 3)"},  // the same in three bytes
      {"a%f0%80%80%af", "Cell text is not valid UTF-8 (byte 2 of 5)"},  // and in four
      {"%f4%90%80%80", "Cell text is not valid UTF-8 (byte 1 of 4)"},  // past U+10FFFF
      {"%80", "Cell text is not valid UTF-8 (byte 1 of 1)"},
      {"'%ff", "Cell text is not valid UTF-8 (byte 1 of 1)"},  // text typed as text
  };
  tarvtest::TempDir dir;
  const std::string book = Book(dir, "book.xlsx", "ws['A1'] = 'old'");
  const std::string before = tarvtest::ReadFile(book);
  std::string script = "excel.open {" + book + "} sheet {S}\n";
  Strings errors;
  for (const Case& c : cases) {
    script += "excel.cell {B7} value {" + c.value + "}\n";
    errors.push_back("vbscript_set_excel_cell,Error:" + c.error);
  }
  tarvtest::Run(dir, script);
  EXPECT_EQ(tarvtest::RunErrors(), errors);
  EXPECT_TRUE(tarvtest::ReadFile(book) == before) << "the workbook changed";
}

// Texts at the edges of what XML carries: controls it cannot hold raw, the
// characters it must escape, the last characters before and after the two
// it refuses, and four-byte characters.
TEST(ExcelWrites, EveryTextTakenIsReadByAStrictParser) {
  tarvtest::TempDir dir;
  const std::string book = Book(dir, "book.xlsx", "ws['A1'] = 'old'");
  tarvtest::Run(dir, "excel.open {" + book + "} sheet {S}\n"
                     "excel.cell {B1} value {a%01b%1fc%7fd}\n"
                     "excel.cell {B2} value {<a href=\"x\">&amp;]]></a>}\n"
                     "excel.cell {B3} value {%ef%bf%bd%ef%bf%bc%ee%80%80}\n"
                     "excel.cell {B4} value {%f0%9f%98%80%f4%8f%bf%bd}\n"
                     "excel.cell {B5} value {%c2%85%c2%a0%e2%80%a8}\n"
                     "excel.cell {B6} value {tab%09end}\n"
                     "excel.get var {b1} cell {B1}\n"
                     "excel.get var {b4} cell {B4}\n");
  EXPECT_EQ(tarvtest::RunErrors(), Strings{});
  EXPECT_EQ(tarvtest::Vars({"b1", "b4"}), "a\x01" "b\x1f" "c\x7f" "d|\xF0\x9F\x98\x80\xF4\x8F\xBF\xBD");
  EXPECT_EQ(StrictCells(dir, book),
            "[('A1', 'old'), ('B1', 'a_x0001_b_x001F_c_x007F_d'), ('B2', '<a href=\"x\">&amp;]]></a>'), "
            "('B3', '\xEF\xBF\xBD\xEF\xBF\xBC\\ue000'), ('B4', '\xF0\x9F\x98\x80\\U0010fffd'), ('B5', '\\x85\\xa0\\u2028'), "
            "('B6', 'tab\\tend')]\n");
}

// Files beside the workbook that a save makes (their names begin with a
// dot).
int SaveCopies(const tarvtest::TempDir& dir) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) n += e.path().filename().string().starts_with(".");
  return n;
}

// A carriage return comes back byte for byte from every reader: through
// excel.get and through openpyxl, in the cells written, and in a cell
// another program wrote that a save of other cells rewrites.
TEST(ExcelWrites, ACarriageReturnComesBackAsItWasWritten) {
  tarvtest::TempDir dir;
  const std::string book = Book(dir, "book.xlsx", "ws['A1'] = 'theirs\\r\\nline\\r'");
  tarvtest::Run(dir, "excel.open {" + book + "} sheet {S}\n"
                     "excel.cell {A2} value {a%0db}\n"
                     "excel.cell {A3} value {%0d%0a x%0d%0d}\n"
                     "excel.get var {a1} cell {A1}\n"
                     "excel.get var {a2} cell {A2}\n"
                     "excel.get var {a3} cell {A3}\n");
  EXPECT_EQ(tarvtest::RunErrors(), Strings{});
  EXPECT_EQ(tarvtest::Vars({"a1", "a2", "a3"}), "theirs\r\nline\r|a\rb|\r\n x\r\r");
  EXPECT_EQ(StrictCells(dir, book), "[('A1', 'theirs\\r\\nline\\r'), ('A2', 'a\\rb'), ('A3', '\\r\\n x\\r\\r')]\n");
}

// A save of one cell into a sheet of a million cells, whose writing and
// compressing take many seconds, ends at the step time-out: one counted
// error, the workbook byte for byte as it was, and no copy left beside it.
TEST(ExcelWrites, ASaveOfALargeSheetEndsAtTheStepTimeOut) {
  tarvtest::TempDir dir;
  const std::string plain = Book(dir, "plain.xlsx", "ws['A1'] = 1");
  const std::string book = dir.File("cells.xlsx");
  Python(dir, "import zipfile\nsrc = zipfile.ZipFile('" + plain + "')\n"
              "def col(n):\n"
              "  s = ''\n"
              "  while n: n, r = divmod(n - 1, 26); s = chr(65 + r) + s\n"
              "  return s\n"
              "cols = [col(c) for c in range(1, 1001)]\n"
              "rows = ''.join('<row r=\"%d\">' % r + ''.join('<c r=\"%s%d\" s=\"0\"/>' % (c, r) for c in cols) + "
              "'</row>' for r in range(1, 1001)).encode()\n"
              "dst = zipfile.ZipFile('" + book + "', 'w', zipfile.ZIP_DEFLATED)\n"
              "for i in src.infolist():\n"
              "  d = src.read(i.filename)\n"
              "  if i.filename == 'xl/worksheets/sheet1.xml':\n"
              "    d = d[:d.index(b'<sheetData>') + 11] + rows + d[d.index(b'</sheetData>'):]\n"
              "  dst.writestr(i.filename, d, zipfile.ZIP_DEFLATED)\n"
              "dst.close()\n");
  const std::string before = tarvtest::ReadFile(book);
  ASSERT_GT(before.size(), 2000000u);
  childwatch::Watchdog bound{30, "a save past the step time-out"};
  tarvtest::Start(dir, "run.set step.timeout {1} seconds\n"
                       "excel.open {" + book + "} sheet {S}\n"
                       "excel.cell {B2} value {hi}\n");
  const auto start = std::chrono::steady_clock::now();
  TarvRunToEnd();
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(tarvtest::RunErrors(), Strings{"vbscript_set_excel_cell,Error:Script timed out"});
  EXPECT_LT(took, 2.0);
  EXPECT_TRUE(tarvtest::ReadFile(book) == before) << "the workbook changed";
  EXPECT_EQ(SaveCopies(dir), 0);
  // Through the binary: the step's second, the error's second and the start.
  const std::string out = tarvtest::RunSaved(dir, "cells.nms",
                                             "run.set step.timeout {1} seconds\n"
                                             "excel.open {" + book + "} sheet {S}\n"
                                             "excel.cell {B2} value {hi}\n"
                                             "text.add {~run.errors~|~run.error.1~}\n",
                                             1 + 1 + tarvtest::MachineScaled(2));
  EXPECT_EQ(out, "1|run.steps [3], Line No. [3], Error: [vbscript_set_excel_cell,Error:Script timed out]");
  EXPECT_TRUE(tarvtest::ReadFile(book) == before) << "the workbook changed";
  EXPECT_EQ(SaveCopies(dir), 0);
}

// A save told to stop as it begins, or while it writes a sheet out (before
// the zip library has begun the package, which it writes to a file of its
// own), leaves the file as it was and no copy beside it; one never told to
// stop saves.
TEST(ExcelWrites, ASaveStoppedByItsTimeLimitLeavesTheFileAsItWas) {
  tarvtest::TempDir dir;
  const std::string book = Book(dir, "book.xlsx", "ws['A1'] = 'old'");
  const std::string before = tarvtest::ReadFile(book);
  for (int stopAt : {1, 2, 0}) {
    SCOPED_TRACE(stopAt);
    std::string error;
    auto wb = xlsx::Workbook::Open(book, error);
    ASSERT_TRUE(wb) << error;
    wb->Set(0, {1, 2}, TextCell("new"));
    int asked = 0;
    int copies = -1;
    const std::string saved = wb->Save([&] {
      if (++asked != stopAt) return false;
      copies = SaveCopies(dir);
      return true;
    });
    EXPECT_EQ(SaveCopies(dir), 0);
    if (stopAt == 0) {
      EXPECT_EQ(saved, "");
      EXPECT_GT(asked, 2);
      break;
    }
    EXPECT_EQ(saved, xlsx::kSaveStopped);
    EXPECT_EQ(asked, stopAt);
    EXPECT_EQ(copies, stopAt - 1);
    EXPECT_TRUE(tarvtest::ReadFile(book) == before) << "the workbook changed";
  }
  EXPECT_EQ(StrictCells(dir, book), "[('A1', 'old'), ('B1', 'new')]\n");
}

// The file is replaced (a rename over it) or rewritten in place after it
// was read: saving refuses with the reason and leaves the other program's
// file as it is, and a sheet not yet read is not taken from the new file.
TEST(ExcelWrites, AWorkbookChangedOnDiskIsNotSavedOverIt) {
  tarvtest::TempDir dir;
  const std::string other = Book(dir, "other.xlsx", "ws['A1'] = 'theirs'; ws['A2'] = 'second'");
  enum class When { AfterReading, BeforeTheSheet };
  struct Case {
    const char* name;
    When when;
    bool in_place;  // same file, same size, a new modification time
  };
  const Case cases[] = {
      {"renamed over after reading", When::AfterReading, false},
      {"rewritten in place after reading", When::AfterReading, true},
      {"renamed over before the sheet is read", When::BeforeTheSheet, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string book = Book(dir, "book.xlsx", "ws['A1'] = 'mine'");
    std::string error;
    auto wb = xlsx::Workbook::Open(book, error);
    ASSERT_TRUE(wb) << error;
    if (c.when == When::AfterReading) {
      EXPECT_EQ(wb->Get(0, {1, 1}).text, "mine");
    }
    std::string theirs;
    if (c.in_place) {
      theirs = tarvtest::ReadFile(book);
      struct stat st {};
      ASSERT_EQ(stat(book.c_str(), &st), 0);
      const timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec - 5, st.st_mtim.tv_nsec}};
      ASSERT_EQ(utimensat(AT_FDCWD, book.c_str(), times, 0), 0);
    } else {
      fs::copy_file(other, dir.File("incoming.xlsx"), fs::copy_options::overwrite_existing);
      fs::rename(dir.File("incoming.xlsx"), book);
      theirs = tarvtest::ReadFile(book);
    }
    const std::string changed = "Workbook changed on disk since it was opened: " + book;
    if (c.when == When::BeforeTheSheet) {
      try {
        wb->Set(0, {3, 1}, TextCell("new"));
        ADD_FAILURE() << "the sheet of the new file was taken";
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(e.what(), changed);
      }
    } else {
      wb->Set(0, {3, 1}, TextCell("new"));
      EXPECT_EQ(wb->Save(), changed);
    }
    EXPECT_TRUE(tarvtest::ReadFile(book) == theirs) << "the other program's file changed";
  }
  // Nothing is left behind beside the workbooks, and a workbook nobody
  // touched is saved, twice in a row.
  for (const auto& e : fs::directory_iterator(dir.path())) EXPECT_FALSE(e.path().filename().string().starts_with("."));
  std::string error;
  auto wb = xlsx::Workbook::Open(other, error);
  ASSERT_TRUE(wb) << error;
  wb->Set(0, {1, 2}, TextCell("one"));
  EXPECT_EQ(wb->Save(), "");
  wb->Set(0, {2, 2}, TextCell("two"));
  EXPECT_EQ(wb->Save(), "");
  EXPECT_EQ(StrictCells(dir, other), "[('A1', 'theirs'), ('A2', 'second'), ('B1', 'one'), ('B2', 'two')]\n");
}

// Three hundred thousand cells are written well within the step time-out
// (each cell's own walk over the rows took many minutes for them), in place
// among the rows already there.
TEST(ExcelWrites, ARangeWriteGrowsWithTheCellsWritten) {
  tarvtest::TempDir dir;
  const std::string book = Book(dir, "book.xlsx", "ws['A5'] = 'keep'; ws['B50000'] = 'keep'; ws['A200000'] = 'last'");
  tarvtest::Run(dir, "run.set step.timeout {30} seconds\n"
                     "excel.open {" + book + "} sheet {S}\n"
                     "excel.cell {C100000:A1} value {x}\n");
  EXPECT_EQ(tarvtest::RunErrors(), Strings{});
  EXPECT_EQ(Python(dir, "import openpyxl\nws = openpyxl.load_workbook('" + book + "')['S']\n"
                        "vals = {}\n"
                        "for r in ws.iter_rows():\n"
                        "  for c in r:\n"
                        "    if c.value is not None: vals[c.value] = vals.get(c.value, 0) + 1\n"
                        "print(sorted(vals.items()), ws['A5'].value, ws['C100000'].value, ws['A200000'].value)\n"),
            "[('last', 1), ('x', 300000)] x x last\n");
}

// A write of the whole sheet ends at the step time-out or, sooner, at the
// tree's memory bound: one counted error, and the workbook as it was.
TEST(ExcelWrites, AWriteOfTheWholeSheetEndsWithOneErrorAndNothingSaved) {
  tarvtest::TempDir dir;
  const std::string book = Book(dir, "book.xlsx", "ws['A1'] = 'old'");
  const std::string before = tarvtest::ReadFile(book);
  const auto start = std::chrono::steady_clock::now();
  tarvtest::Run(dir, "run.set step.timeout {2} seconds\n"
                     "excel.open {" + book + "} sheet {S}\n"
                     "excel.cell {A1:XFD1048576} value {1}\n");
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const Strings errors = tarvtest::RunErrors();
  ASSERT_EQ(errors.size(), 1u) << ::testing::PrintToString(errors);
  EXPECT_TRUE(errors[0] == "vbscript_set_excel_cell,Error:Script timed out" ||
              errors[0] == "vbscript_set_excel_cell,Error:Workbook too large: its cells need more than " +
                               std::to_string(xlsx::kMaxTreeBytes >> 20) + " MiB of memory")
      << errors[0];
  EXPECT_TRUE(tarvtest::ReadFile(book) == before) << "the workbook changed";
  // The step's two seconds and the run's second after its error.
  EXPECT_LT(took, 2 + 1 + 1.5);
}

// The script's time limit stops a range write in its middle: a limit that
// passes long before the tree's bound would be reached ends the write
// with the time-out, not with the bound.
TEST(ExcelWrites, TheScriptsTimeLimitStopsARangeWrite) {
  tarvtest::TempDir dir;
  const std::string book = Book(dir, "book.xlsx", "ws['A1'] = 'old'");
  tarv::hostobj::SingleClassFactory factory(tarv::hostobj::kExcelClass);
  tarv::vbs::Interpreter vm(&factory);
  factory.SetInterpreter(&vm);
  vm.SetDeadline(tarv::vbs::Clock::now() + std::chrono::milliseconds(150));
  try {
    vm.AddCode(tarv::mailscript::BuildSetCellScript(book, "S", "A1:XFD1048576", "1"));
    tarv::scripthost::TarvMainText(vm);
    ADD_FAILURE() << "the write of the whole sheet ended";
  } catch (const tarv::vbs::ScriptError& e) {
    EXPECT_EQ(e.error().number, tarv::vbs::kErrTimeout) << e.error().description;
  }
}

// Past the tree's memory bound a write stops, whatever its time limit.
TEST(ExcelWrites, AWriteStopsAtTheTreesMemoryBound) {
  tarvtest::TempDir dir;
  const std::string book = Book(dir, "book.xlsx", "ws['A1'] = 'old'");
  std::string error;
  auto wb = xlsx::Workbook::Open(book, error);
  ASSERT_TRUE(wb) << error;
  std::uint64_t paced = 0;
  try {
    // Two million cells are well past the bound; the count keeps a
    // write without it from taking all the machine's memory.
    wb->SetRange(0, {1, 1}, {1048576, 16384}, NumberCell(1), [&paced] {
      if (++paced * 4096 > 2000000) throw std::logic_error("no bound");
    });
    ADD_FAILURE() << "the write ended";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Workbook too large: its cells need more than " +
                                         std::to_string(xlsx::kMaxTreeBytes >> 20) + " MiB of memory");
  } catch (const std::logic_error&) {
    ADD_FAILURE() << "the write passed the bound";
  }
  EXPECT_GT(paced, 0u);
}

// A sheet of a few tens of megabytes that holds millions of empty cells
// would build a tree of hundreds: the tree's own bound refuses it, with the
// memory the program may take left open so that nothing else would.
TEST(ExcelWrites, ASheetOfMillionsOfEmptyCellsIsRefusedByTheTreeBound) {
  tarvtest::TempDir dir;
  const std::string plain = Book(dir, "plain.xlsx", "ws['A1'] = 1");
  const std::string book = dir.File("cells.xlsx");
  Python(dir, "import zipfile\nsrc = zipfile.ZipFile('" + plain + "')\n"
              "dst = zipfile.ZipFile('" + book + "', 'w', zipfile.ZIP_DEFLATED, compresslevel=9)\n"
              "for i in src.infolist():\n"
              "  d = src.read(i.filename)\n"
              "  if i.filename == 'xl/worksheets/sheet1.xml':\n"
              "    d = d[:d.index(b'<sheetData>') + 11] + b'<row r=\"1\">' + b'<c/>' * 6000000 + b'</row>' + "
              "d[d.index(b'</sheetData>'):]\n"
              "  dst.writestr(i.filename, d, zipfile.ZIP_DEFLATED)\n"
              "dst.close()\n");
  ASSERT_LT(fs::file_size(book), 1u << 20);
  const std::string out = tarvtest::RunSaved(dir, "cells.nms",
                                             "excel.open {" + book + "} sheet {S}\n"
                                             "excel.get var {v} cell {A1}\n"
                                             "text.add {~run.errors~ ~run.error.1~}\n",
                                             120);
  EXPECT_NE(out.find("vbscript_get_excel_cell,Error:Workbook too large: its cells need more than " +
                     std::to_string(xlsx::kMaxTreeBytes >> 20) + " MiB of memory: " + book),
            std::string::npos)
      << out;
}

}  // namespace
