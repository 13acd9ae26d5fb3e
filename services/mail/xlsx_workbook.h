// An .xlsx workbook read and edited in place: the package is a zip (libzip)
// of XML parts (pugixml). Only the sheets whose cells change are rewritten;
// every other part (styles, other sheets, drawings) is copied as it was.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pugi {
class xml_document;
}

namespace tarv::xlsx {

struct CellValue {
  enum class Kind { Empty, Number, Text, Boolean, Error };
  Kind kind = Kind::Empty;
  double number = 0;
  std::string text;  // Text and Error
  bool boolean = false;
  bool date = false;  // a Number shown in a date or time format
};

// A cell position, both from 1.
struct CellRef {
  int row = 0;
  int col = 0;
};

// "B3", "$B$3" or "b3"; nothing for anything else or beyond the sheet's
// limits (1048576 rows, 16384 columns).
std::optional<CellRef> ParseCellRef(std::string_view ref);
std::string FormatCellRef(CellRef c);

class Workbook {
 public:
  ~Workbook();
  Workbook(const Workbook&) = delete;
  Workbook& operator=(const Workbook&) = delete;

  // Nothing, with `error` set, when the file is no readable workbook.
  static std::unique_ptr<Workbook> Open(const std::string& path, std::string& error);

  const std::string& path() const { return path_; }
  // Sheet names in workbook order.
  std::vector<std::string> SheetNames() const;
  // Index of the sheet of that name (compared without regard to ASCII case),
  // or -1.
  int FindSheet(std::string_view name) const;

  // Throws std::runtime_error when the sheet's part cannot be read.
  CellValue Get(int sheet, CellRef cell);
  void Set(int sheet, CellRef cell, const CellValue& value);
  bool dirty() const { return dirty_; }

  // Writes the changed sheets into a copy of the package beside the file and
  // renames the copy over it. Empty on success, else what went wrong.
  std::string Save();

 private:
  struct Sheet {
    std::string name;
    std::string part;  // path inside the package
    std::unique_ptr<pugi::xml_document> doc;
    bool changed = false;
  };

  Workbook() = default;
  pugi::xml_document& SheetDoc(int sheet);

  std::string path_;
  std::string book_part_;  // the workbook part inside the package
  bool formula_dropped_ = false;  // a formula cell was overwritten
  std::vector<Sheet> sheets_;
  std::vector<std::string> shared_;
  std::vector<bool> date_styles_;  // by cell style index
  bool dirty_ = false;
};

}  // namespace tarv::xlsx
