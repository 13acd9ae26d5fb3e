// Workbooks as files: cell references at the edges of the letter columns,
// packages that unpack to far more than they weigh, and saving through
// symbolic links, hard links and write protection.
#include "services/mail/xlsx_workbook.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/machine_wait.h"
#include "tests/services/binary_run.h"
#include "tests/services/mail/workbook_files.h"
#include "tests/services/statement_checks.h"

namespace {

using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

using workbooktest::Book;
using workbooktest::Python;

std::string Cells(const tarvtest::TempDir& dir, const std::string& book) {
  return Python(dir, "import openpyxl\nws = openpyxl.load_workbook('" + book + "')['S']\n"
                     "print(sorted((c.coordinate, c.value) for r in ws.iter_rows() for c in r if c.value is not None))\n");
}

TEST(ExcelFiles, LetterColumnsAtMultiplesOf26) {
  struct Case {
    int col;
    std::string letters;
  };
  const Case cases[] = {{1, "A"}, {26, "Z"}, {27, "AA"}, {52, "AZ"}, {53, "BA"}, {702, "ZZ"}, {703, "AAA"}, {16384, "XFD"}};
  for (const Case& c : cases) {
    EXPECT_EQ(tarv::xlsx::FormatCellRef({7, c.col}), c.letters + "7");
    const auto parsed = tarv::xlsx::ParseCellRef(c.letters + "7");
    ASSERT_TRUE(parsed) << c.letters;
    EXPECT_EQ(parsed->col, c.col) << c.letters;
  }
  tarvtest::TempDir dir;
  const std::string book = Book(dir, "cols.xlsx", "ws['Y1'] = 'y'; ws['Z1'] = 'z'; ws['AZ1'] = 'az'; ws['BA1'] = 'ba'");
  tarvtest::Run(dir, "excel.open {" + book + "} sheet {S}\n"
                     "excel.get var {z} cell {Z1}\n"
                     "excel.get var {az} cell {AZ1}\n"
                     "excel.cell {Z2} value {26}\n"
                     "excel.cell {AZ2} value {52}\n"
                     "excel.cell {ZZ3} value {702}\n");
  EXPECT_EQ(tarvtest::RunErrors(), Strings{});
  EXPECT_EQ(tarvtest::Vars({"z", "az"}), "z|az");
  EXPECT_EQ(Cells(dir, book),
            "[('AZ1', 'az'), ('AZ2', 52), ('BA1', 'ba'), ('Y1', 'y'), ('Z1', 'z'), ('Z2', 26), ('ZZ3', 702)]\n");
}

// A package of a few hundred kilobytes whose sheet unpacks to a hundred
// megabytes, and one whose sheet is small enough but builds a tree of
// millions of empty rows: both are refused with their reason, under an
// address-space limit of 600 MB that reading either whole would break.
TEST(ExcelFiles, PackagesThatUnpackPastTheBoundsAreRefused) {
  tarvtest::TempDir dir;
  const std::string plain = Book(dir, "plain.xlsx", "ws['A1'] = 1");
  struct Case {
    std::string name, rows, error;
  };
  const Case cases[] = {
      {"bytes.xlsx", "b'<row><c><v>1</v></c></row>' * 4000000",
       "Workbook too large: its parts unpack to more than " + std::to_string(tarv::xlsx::kMaxUnpackedBytes >> 20) + " MiB"},
      {"tree.xlsx", "b'<row/>' * 10000000",
       "Workbook too large: its cells need more than " + std::to_string(tarv::xlsx::kMaxTreeBytes >> 20) +
           " MiB of memory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string book = dir.File(c.name);
    Python(dir, "import zipfile\nsrc = zipfile.ZipFile('" + plain + "')\n"
                "dst = zipfile.ZipFile('" + book + "', 'w', zipfile.ZIP_DEFLATED, compresslevel=9)\n"
                "for i in src.infolist():\n"
                "  d = src.read(i.filename)\n"
                "  if i.filename == 'xl/worksheets/sheet1.xml':\n"
                "    d = d[:d.index(b'<sheetData>') + 11] + " + c.rows + " + d[d.index(b'</sheetData>'):]\n"
                "  dst.writestr(i.filename, d, zipfile.ZIP_DEFLATED)\n"
                "dst.close()\n");
    ASSERT_LT(fs::file_size(book), 1u << 20);
    fs::remove(dir.File("out.txt"));
    // The sanitizer's shadow memory cannot live under an address-space
    // limit: there the limit is left out.
    const std::vector<std::string> limit =
        tarvtest::kSanitized ? std::vector<std::string>{} : std::vector<std::string>{"/usr/bin/prlimit", "--as=600000000"};
    const std::string out = tarvtest::RunSaved(dir, "bomb.nms",
                                               "excel.open {" + book + "} sheet {S}\n"
                                               "excel.get var {v} cell {A1}\n"
                                               "text.add {~run.errors~ ~run.error.1~}\n",
                                               120, limit);
    EXPECT_NE(out.find("vbscript_get_excel_cell,Error:" + c.error + ": " + book), std::string::npos) << out;
  }
}

// Saving goes to the file a symbolic link leads to and keeps the link, the
// file's mode and owner, and the other links' old content; a
// write-protected workbook is refused and left as it was.
TEST(ExcelFiles, SymbolicLinksHardLinksAndWriteProtection) {
  tarvtest::TempDir dir;
  fs::create_directory(dir.path() / "real");
  const std::string target = Book(dir, "real/book.xlsx", "ws['A1'] = 'old'");
  const std::string read_only = Book(dir, "ro.xlsx", "ws['A1'] = 'old'");
  const std::string hard = Book(dir, "hard.xlsx", "ws['A1'] = 'old'");
  const std::string link = dir.File("link.xlsx");
  fs::create_symlink("real/book.xlsx", link);
  fs::create_hard_link(hard, dir.File("other.xlsx"));
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  const bool root = geteuid() == 0;  // only root may give the file to someone else
  if (root) {
    ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(chmod(read_only.c_str(), 0444), 0);
  const std::string before = tarvtest::ReadFile(read_only);
  tarvtest::Run(dir, "excel.open {" + link + "} sheet {S}\n"
                     "excel.cell {A1} value {new}\n"
                     "excel.open {" + read_only + "} sheet {S}\n"
                     "excel.cell {A1} value {new}\n"
                     "excel.open {" + hard + "} sheet {S}\n"
                     "excel.cell {A1} value {new}\n");
  EXPECT_EQ(tarvtest::RunErrors(), Strings{"vbscript_set_excel_cell,Error:Workbook is read-only: " + read_only});
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Cells(dir, link), "[('A1', 'new')]\n");
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 65534u);
  }
  EXPECT_TRUE(tarvtest::ReadFile(read_only) == before) << "the read-only workbook changed";
  EXPECT_EQ(Cells(dir, hard), "[('A1', 'new')]\n");
  EXPECT_EQ(Cells(dir, dir.File("other.xlsx")), "[('A1', 'old')]\n");
  // Nothing is left behind beside the workbooks.
  Strings names;
  for (const auto& e : fs::recursive_directory_iterator(dir.path()))
    if (e.path().filename().string().starts_with(".")) names.push_back(e.path().string());
  EXPECT_EQ(names, Strings{});
}

// Someone who may not write a workbook, but may write its folder, cannot
// replace it through the rename either.
TEST(ExcelFiles, NonOwnerCannotReplaceAWorkbook) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the binary as another user";
  const std::vector<std::string> nobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  std::vector<std::string> probe(nobody.begin() + 1, nobody.end());
  probe.insert(probe.end(), {"/usr/bin/test", "-x", tarvtest::TarvBinary()});
  if (tarvtest::RunProgram(nobody.front(), probe, "/", tarvtest::MachineScaled(10)).exitCode != 0)
    GTEST_SKIP() << "the binary's folder is closed to other users";
  tarvtest::TempDir dir;
  const std::string book = Book(dir, "book.xlsx", "ws['A1'] = 'old'");
  ASSERT_EQ(chmod(book.c_str(), 0644), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  const std::string before = tarvtest::ReadFile(book);
  const std::string out = tarvtest::RunSaved(dir, "edit.nms",
                                             "excel.open {" + book + "} sheet {S}\n"
                                             "excel.cell {A1} value {new}\n"
                                             "text.add {~run.error.1~}\n",
                                             60, nobody);
  EXPECT_NE(out.find("Workbook is read-only: " + book), std::string::npos) << out;
  EXPECT_TRUE(tarvtest::ReadFile(book) == before) << "the workbook changed";
}

// A name that is no regular file is refused at once: a FIFO would hold an
// open until some writer came, and a device never ends.
TEST(ExcelFiles, AFifoOrADeviceIsNoWorkbook) {
  tarvtest::TempDir dir;
  const std::string fifo = dir.File("fifo.xlsx");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    // The run is given 30 seconds; a read that waits for a writer would outlast them.
    const std::string out = tarvtest::RunSaved(dir, "odd.nms",
                                               "excel.open {" + path + "} sheet {S}\n"
                                               "excel.get var {v} cell {A1}\n"
                                               "excel.cell {A1} value {x}\n"
                                               "text.add {~run.errors~ ~run.error.1~}\n",
                                               30);
    EXPECT_NE(out.find("vbscript_get_excel_cell,Error:Not a workbook: " + path), std::string::npos) << out;
    EXPECT_TRUE(out.starts_with("3 ")) << out;
  }
}

}  // namespace
