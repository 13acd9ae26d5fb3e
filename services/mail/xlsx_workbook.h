// An .xlsx workbook read and edited in place: the package is a zip (libzip)
// of XML parts (pugixml). Only the sheets whose cells change are rewritten;
// every other part (styles, other sheets, drawings) is copied as it was.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
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

// Why a text cannot be a cell's value: bytes that are not UTF-8, or U+FFFE
// or U+FFFF, which XML cannot carry even escaped. Empty when it can.
std::string CellTextProblem(std::string_view text);

// The most that the parts read from one workbook may unpack to, and the most
// memory the XML trees built from them may take: a small package that
// unpacks to gigabytes is refused rather than read.
inline constexpr std::uint64_t kMaxUnpackedBytes = 64u << 20;
inline constexpr std::uint64_t kMaxTreeBytes = 320u << 20;

// What is left of both bounds for one workbook; `refused` says which one ran
// out first.
struct ReadBudget {
  std::uint64_t bytes_left = kMaxUnpackedBytes;
  std::uint64_t tree_left = kMaxTreeBytes;
  std::string refused;
};

// What Save gives when its time ran out.
inline constexpr std::string_view kSaveStopped = "Save stopped at the time limit";

class Workbook {
 public:
  ~Workbook();
  Workbook(const Workbook&) = delete;
  Workbook& operator=(const Workbook&) = delete;

  // Nothing, with `error` set, when the file is no readable workbook or
  // past the read bounds.
  static std::unique_ptr<Workbook> Open(const std::string& path, std::string& error);

  const std::string& path() const { return path_; }
  // Sheet names in workbook order.
  std::vector<std::string> SheetNames() const;
  // Index of the sheet of that name (compared without regard to ASCII case),
  // or -1.
  int FindSheet(std::string_view name) const;

  // Throws std::runtime_error when the sheet's part cannot be read or is past
  // the read bounds.
  CellValue Get(int sheet, CellRef cell);
  void Set(int sheet, CellRef cell, const CellValue& value);
  // Every cell of the rectangle from `first` to `last` (top-left and
  // bottom-right) in one walk over the sheet's rows, so that the time taken
  // grows with the cells written. `pace`, when given, is called every few
  // thousand cells and may throw to stop the write; a stopped write leaves
  // the file as it was, as nothing is saved. Throws std::runtime_error for a
  // text CellTextProblem refuses (before anything changes) and when the
  // sheet's tree would pass its memory bound.
  void SetRange(int sheet, CellRef first, CellRef last, const CellValue& value,
                const std::function<void()>& pace = {});
  bool dirty() const { return dirty_; }

  // Writes the changed sheets into a copy of the package beside the file the
  // path resolves to (through symbolic links) and renames the copy over that
  // file with its owner and mode. A file without write permission, for the
  // user or in its mode bits, is refused before anything changes, and so is
  // a file that is no longer the one read (another program saved or replaced
  // it): its content is left as that program wrote it. Other hard links keep
  // the old content. `expired`, when given, is asked while the sheets are
  // written out and compressed; once it holds, the copy is dropped, the file
  // stays as it was and the result is kSaveStopped. Empty on success, else
  // what went wrong.
  std::string Save(const std::function<bool()>& expired = {});

 private:
  struct Sheet {
    std::string name;
    std::string part;  // path inside the package
    std::unique_ptr<pugi::xml_document> doc;
    bool changed = false;
  };

  // What tells one version of a file from another.
  struct Stamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    timespec mtime{};
    bool operator==(const Stamp& o) const {
      return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
             mtime.tv_nsec == o.mtime.tv_nsec;
    }
  };
  static bool StampOf(const std::string& path, Stamp& out);
  std::string ChangedOnDisk() const;

  Workbook() = default;
  pugi::xml_document& SheetDoc(int sheet);

  std::string path_;
  Stamp stamp_;  // the file as it was read
  std::string book_part_;  // the workbook part inside the package
  bool formula_dropped_ = false;  // a formula cell was overwritten
  std::vector<Sheet> sheets_;
  std::vector<std::string> shared_;
  std::vector<bool> date_styles_;  // by cell style index
  ReadBudget budget_;
  bool dirty_ = false;
};

}  // namespace tarv::xlsx
