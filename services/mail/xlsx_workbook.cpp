#include "services/mail/xlsx_workbook.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <pugixml.hpp>
#include <stdexcept>

namespace tarv::xlsx {

namespace {

constexpr int kMaxRows = 1048576;
constexpr int kMaxCols = 16384;

constexpr unsigned kParse = pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata;
constexpr unsigned kFormat = pugi::format_raw | pugi::format_no_declaration;

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;

// While a part is parsed, pugixml's allocations are counted against the
// workbook's tree bound; past it they fail and the parse stops.
thread_local std::uint64_t* tree_left = nullptr;

void* CountedAllocate(std::size_t size) {
  if (tree_left) {
    if (size > *tree_left) return nullptr;
    *tree_left -= size;
  }
  return std::malloc(size);
}

// Counts pugixml's allocations against a bound while it lives.
struct TreeCounting {
  explicit TreeCounting(std::uint64_t* left) { tree_left = left; }
  ~TreeCounting() { tree_left = nullptr; }
  TreeCounting(const TreeCounting&) = delete;
  TreeCounting& operator=(const TreeCounting&) = delete;
};

std::string TreeFull() {
  return "Workbook too large: its cells need more than " + std::to_string(kMaxTreeBytes >> 20) + " MiB of memory";
}

// A node, attribute or value that the tree's bound let through; past the
// bound pugixml gives an empty one (or false), and the write stops.
template <typename T>
T Need(T made) {
  if (!made) throw std::runtime_error(TreeFull());
  return made;
}

// Reads and parses a part. The size that the package gives is checked
// before anything is unpacked, and no more than that is read.
bool LoadPart(zip_t* z, const std::string& name, pugi::xml_document& doc, unsigned options,
              ReadBudget& budget) {
  static const bool counted = [] {
    pugi::set_memory_management_functions(CountedAllocate, std::free);
    return true;
  }();
  (void)counted;
  if (!budget.refused.empty()) return false;
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat(z, name.c_str(), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE)) return false;
  if (st.size > budget.bytes_left) {
    budget.refused = "Workbook too large: its parts unpack to more than " +
                     std::to_string(kMaxUnpackedBytes >> 20) + " MiB";
    return false;
  }
  budget.bytes_left -= st.size;
  // The part is unpacked straight into the buffer the tree then owns and
  // parses in place, both within the tree's bound.
  TreeCounting counting(&budget.tree_left);
  const std::string too_many = TreeFull();
  char* buffer = static_cast<char*>(pugi::get_memory_allocation_function()(std::max<std::size_t>(st.size, 1)));
  if (!buffer) {
    budget.refused = too_many;
    return false;
  }
  zip_file_t* f = zip_fopen(z, name.c_str(), 0);
  const zip_int64_t n = f ? zip_fread(f, buffer, st.size) : -1;
  if (f) zip_fclose(f);
  if (n < 0 || static_cast<zip_uint64_t>(n) != st.size) {
    pugi::get_memory_deallocation_function()(buffer);
    return false;
  }
  const pugi::xml_parse_result r = doc.load_buffer_inplace_own(buffer, st.size, options);
  if (r.status == pugi::status_out_of_memory) {
    doc.reset();
    budget.refused = too_many;
  }
  return static_cast<bool>(r);
}

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

std::string_view LocalName(const char* qualified) {
  std::string_view n(qualified);
  const std::size_t colon = n.find(':');
  return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

// The first child with that local name, whatever prefix the part uses.
pugi::xml_node Child(pugi::xml_node n, std::string_view local) {
  for (pugi::xml_node c : n.children())
    if (c.type() == pugi::node_element && LocalName(c.name()) == local) return c;
  return {};
}

// The prefix ("x:" or "") of the element, for new elements beside it.
std::string PrefixOf(pugi::xml_node n) {
  std::string_view name(n.name());
  const std::size_t colon = name.find(':');
  return colon == std::string_view::npos ? std::string() : std::string(name.substr(0, colon + 1));
}

// A target of a relationship, resolved against the folder of its source part.
std::string ResolveTarget(const std::string& base_dir, std::string_view target) {
  if (!target.empty() && target.front() == '/') return std::string(target.substr(1));
  std::filesystem::path p = std::filesystem::path(base_dir) / std::string(target);
  return p.lexically_normal().generic_string();
}

std::string DirOf(const std::string& part) {
  const std::size_t slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash);
}

std::string RelsOf(const std::string& part) {
  const std::string dir = DirOf(part);
  const std::string file = part.substr(dir.empty() ? 0 : dir.size() + 1);
  return (dir.empty() ? std::string() : dir + "/") + "_rels/" + file + ".rels";
}

struct Rel {
  std::string type, target;
};

std::map<std::string, Rel> ReadRels(zip_t* z, const std::string& part, ReadBudget& budget) {
  std::map<std::string, Rel> out;
  pugi::xml_document doc;
  if (!LoadPart(z, RelsOf(part), doc, pugi::parse_default, budget)) return out;
  for (pugi::xml_node r : Child(doc, "Relationships").children())
    if (LocalName(r.name()) == "Relationship")
      out[r.attribute("Id").value()] = {r.attribute("Type").value(), r.attribute("Target").value()};
  return out;
}

// Characters XML cannot carry are written as _xHHHH_, as the format does,
// and a literal "_x" that would read as such an escape is escaped itself.
bool IsEscapeAt(std::string_view s, std::size_t i) {
  if (i + 7 > s.size() || s[i] != '_' || s[i + 1] != 'x' || s[i + 6] != '_') return false;
  for (std::size_t k = i + 2; k < i + 6; ++k)
    if (!std::isxdigit(static_cast<unsigned char>(s[k]))) return false;
  return true;
}

std::string DecodeText(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (IsEscapeAt(s, i)) {
      const unsigned code = static_cast<unsigned>(std::strtoul(std::string(s.substr(i + 2, 4)).c_str(), nullptr, 16));
      if (code < 0x80) {
        out += static_cast<char>(code);
        i += 6;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

std::string EncodeText(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F || (c == '_' && IsEscapeAt(s, i))) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "_x%04X_", c);
      out += esc;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The text of a string item: its <t>, or its rich-text runs joined.
std::string ItemText(pugi::xml_node si) {
  if (pugi::xml_node t = Child(si, "t")) return DecodeText(t.text().get());
  std::string out;
  for (pugi::xml_node r : si.children())
    if (LocalName(r.name()) == "r")
      if (pugi::xml_node t = Child(r, "t")) out += DecodeText(t.text().get());
  return out;
}

std::string NumberText(double d) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  // The shortest text that reads back as the same number.
  for (int prec = 1; prec <= 17; ++prec) {
    char t[40];
    std::snprintf(t, sizeof t, "%.*g", prec, d);
    if (std::strtod(t, nullptr) == d) return t;
  }
  return buf;
}

int RowOf(pugi::xml_node row, int previous) {
  const int r = row.attribute("r").as_int(0);
  return r > 0 ? r : previous + 1;
}

int ColOf(pugi::xml_node c, int previous) {
  if (auto ref = ParseCellRef(c.attribute("r").value())) return ref->col;
  return previous + 1;
}

// Widens the sheet's dimension to take in the cell.
void WidenDimension(pugi::xml_node worksheet, CellRef cell) {
  pugi::xml_node dim = Child(worksheet, "dimension");
  if (!dim) return;
  std::string_view ref = dim.attribute("ref").value();
  const std::size_t colon = ref.find(':');
  auto first = ParseCellRef(ref.substr(0, colon));
  auto last = colon == std::string_view::npos ? first : ParseCellRef(ref.substr(colon + 1));
  if (!first || !last) return;
  first->row = std::min(first->row, cell.row);
  first->col = std::min(first->col, cell.col);
  last->row = std::max(last->row, cell.row);
  last->col = std::max(last->col, cell.col);
  dim.attribute("ref").set_value((FormatCellRef(*first) + ":" + FormatCellRef(*last)).c_str());
}

// Whether a number format shows a date or a time: the built-in formats 14-22
// and 45-47, or a format code with day, month, year, hour or second fields
// outside quoted text, escapes and [colour] sections.
bool IsDateFormat(int id, std::string_view code) {
  if ((id >= 14 && id <= 22) || (id >= 45 && id <= 47)) return true;
  if (id < 164) return false;
  bool quoted = false;
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted) {
      continue;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;  // the next character is literal or padding
    } else if (c == '[') {
      const std::size_t end = code.find(']', i);
      if (end == std::string_view::npos) return false;
      const char k = static_cast<char>(std::tolower(static_cast<unsigned char>(code[i + 1])));
      if (k == 'h' || k == 'm' || k == 's') return true;  // elapsed time
      i = end;
    } else if (std::string_view("dmyhsDMYHS").find(c) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

// The cell styles whose number format is a date format.
std::vector<bool> DateStyles(const pugi::xml_document& doc) {
  std::vector<bool> out;
  pugi::xml_node sheet = Child(doc, "styleSheet");
  std::map<int, std::string> codes;
  for (pugi::xml_node f : Child(sheet, "numFmts").children())
    if (LocalName(f.name()) == "numFmt") codes[f.attribute("numFmtId").as_int(-1)] = f.attribute("formatCode").value();
  for (pugi::xml_node xf : Child(sheet, "cellXfs").children()) {
    if (LocalName(xf.name()) != "xf") continue;
    const int id = xf.attribute("numFmtId").as_int(0);
    const auto it = codes.find(id);
    out.push_back(IsDateFormat(id, it == codes.end() ? std::string_view() : std::string_view(it->second)));
  }
  return out;
}

// Thrown by the part writer when the save's time is up; caught in Save.
struct SaveStopped {};

// Collects a serialized part. pugixml writes a carriage return in text raw,
// and every XML reader (pugixml itself included) turns a raw one into a line
// feed, so each is written as a character reference, which readers give
// back as it was. `expired`, when set, is asked at every piece the
// serializer hands over, so that a large sheet is not written past the time
// limit.
class PartWriter : public pugi::xml_writer {
 public:
  explicit PartWriter(const std::function<bool()>* expired) : expired_(expired) {}
  void write(const void* data, std::size_t size) override {
    const char* p = static_cast<const char*>(data);
    const char* const end = p + size;
    while (p < end) {
      const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(end - p)));
      if (!cr) {
        out.append(p, end);
        break;
      }
      out.append(p, cr);
      out += "&#13;";
      p = cr + 1;
    }
    if (expired_ && *expired_ && (*expired_)()) throw SaveStopped{};
  }
  std::string out;

 private:
  const std::function<bool()>* expired_;
};

std::string Serialize(const pugi::xml_document& doc, const std::function<bool()>* expired = nullptr) {
  PartWriter writer(expired);
  doc.save(writer, "", kFormat, pugi::encoding_utf8);
  return std::move(writer.out);
}

// Puts `text` into the package as `part`; the text must live until the
// package is closed.
bool PutPart(zip_t* z, const std::string& part, const std::string& text) {
  zip_source_t* src = zip_source_buffer(z, text.data(), text.size(), 0);
  if (src && zip_file_add(z, part.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) >= 0) return true;
  if (src) zip_source_free(src);
  return false;
}

// Takes the calculation chain out of the package, with its relationship and
// content type: it lists formula cells, and one that lost its formula would
// make Excel report the file as damaged. Excel builds the chain anew.
bool DropCalcChain(zip_t* z, const std::string& book_part, std::deque<std::string>& texts,
                   ReadBudget& budget) {
  const std::string rels_part = RelsOf(book_part);
  pugi::xml_document rels;
  if (!LoadPart(z, rels_part, rels, kParse, budget)) return budget.refused.empty();
  std::string chain;
  pugi::xml_node root = Child(rels, "Relationships");
  for (pugi::xml_node r : root.children()) {
    if (LocalName(r.name()) == "Relationship" && EndsWith(r.attribute("Type").value(), "/calcChain")) {
      chain = ResolveTarget(DirOf(book_part), r.attribute("Target").value());
      root.remove_child(r);
      break;
    }
  }
  if (chain.empty()) return true;
  texts.push_back(Serialize(rels));
  if (!PutPart(z, rels_part, texts.back())) return false;
  const std::string types_part = "[Content_Types].xml";
  {
    pugi::xml_document types;
    if (LoadPart(z, types_part, types, kParse, budget)) {
      pugi::xml_node troot = Child(types, "Types");
      for (pugi::xml_node o : troot.children())
        if (LocalName(o.name()) == "Override" && std::string_view(o.attribute("PartName").value()) == "/" + chain) {
          troot.remove_child(o);
          break;
        }
      texts.push_back(Serialize(types));
      if (!PutPart(z, types_part, texts.back())) return false;
    }
  }
  const zip_int64_t index = zip_name_locate(z, chain.c_str(), 0);
  return index < 0 || zip_delete(z, static_cast<zip_uint64_t>(index)) == 0;
}

}  // namespace

std::string CellTextProblem(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    // The length of the sequence its first byte announces, and the least
    // code it may carry (shorter forms of a code are not UTF-8).
    const std::size_t len = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    std::uint32_t code = len == 2 ? b & 0x1Fu : len == 3 ? b & 0x0Fu : b & 0x07u;
    bool whole = len != 0 && i + len <= text.size();
    for (std::size_t k = 1; whole && k < len; ++k) {
      const auto cont = static_cast<unsigned char>(text[i + k]);
      whole = (cont & 0xC0) == 0x80;
      code = (code << 6) | (cont & 0x3Fu);
    }
    const std::uint32_t least = len == 3 ? 0x800 : len == 4 ? 0x10000 : 0x80;
    if (!whole || code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return "Cell text is not valid UTF-8 (byte " + std::to_string(i + 1) + " of " + std::to_string(text.size()) +
             ")";
    if (code == 0xFFFE || code == 0xFFFF) {
      char name[16];
      std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(code));
      return "Cell text holds " + std::string(name) + ", which a workbook cannot hold (byte " + std::to_string(i + 1) +
             ")";
    }
    i += len;
  }
  return {};
}

std::optional<CellRef> ParseCellRef(std::string_view ref) {
  std::size_t i = 0;
  if (i < ref.size() && ref[i] == '$') ++i;
  CellRef c;
  std::size_t letters = 0;
  while (i < ref.size() && std::isalpha(static_cast<unsigned char>(ref[i])) && letters < 4) {
    c.col = c.col * 26 + (std::toupper(static_cast<unsigned char>(ref[i])) - 'A' + 1);
    ++i;
    ++letters;
  }
  if (letters == 0 || c.col > kMaxCols) return std::nullopt;
  if (i < ref.size() && ref[i] == '$') ++i;
  std::size_t digits = 0;
  while (i < ref.size() && std::isdigit(static_cast<unsigned char>(ref[i])) && digits < 8) {
    c.row = c.row * 10 + (ref[i] - '0');
    ++i;
    ++digits;
  }
  if (digits == 0 || i != ref.size() || c.row < 1 || c.row > kMaxRows) return std::nullopt;
  return c;
}

std::string FormatCellRef(CellRef c) {
  std::string letters;
  for (int n = c.col; n > 0; n = (n - 1) / 26) letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
  return letters + std::to_string(c.row);
}

Workbook::~Workbook() = default;

bool Workbook::StampOf(const std::string& path, Stamp& out) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  out = {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
  return true;
}

// Empty while the file on disk is still the one read.
std::string Workbook::ChangedOnDisk() const {
  Stamp now;
  if (StampOf(path_, now) && now == stamp_) return {};
  return "Workbook changed on disk since it was opened: " + path_;
}

std::unique_ptr<Workbook> Workbook::Open(const std::string& path, std::string& error) {
  // Taken before the package is opened: a file replaced in between then
  // counts as changed, never the other way round.
  Stamp stamp;
  const bool stamped = StampOf(path, stamp);
  int zerr = 0;
  ZipPtr z(zip_open(path.c_str(), ZIP_RDONLY, &zerr));
  if (!z || !stamped) {
    error = std::filesystem::exists(path) ? "Not a workbook: " + path : "File not found: " + path;
    return nullptr;
  }
  std::unique_ptr<Workbook> wb(new Workbook);
  wb->stamp_ = stamp;
  ReadBudget& budget = wb->budget_;
  std::string book_part = "xl/workbook.xml";
  for (const auto& [id, rel] : ReadRels(z.get(), "", budget)) {
    (void)id;
    if (EndsWith(rel.type, "/officeDocument")) book_part = ResolveTarget("", rel.target);
  }
  pugi::xml_document book;
  if (!LoadPart(z.get(), book_part, book, pugi::parse_default, budget)) {
    error = (budget.refused.empty() ? "Not a workbook" : budget.refused) + ": " + path;
    return nullptr;
  }
  wb->path_ = path;
  wb->book_part_ = book_part;
  const auto rels = ReadRels(z.get(), book_part, budget);
  const std::string base = DirOf(book_part);
  for (pugi::xml_node s : Child(Child(book, "workbook"), "sheets").children()) {
    if (LocalName(s.name()) != "sheet") continue;
    std::string rid;
    for (pugi::xml_attribute a : s.attributes())
      if (LocalName(a.name()) == "id" && std::string_view(a.name()) != "id") rid = a.value();
    const auto it = rels.find(rid);
    if (it == rels.end()) continue;
    Sheet sheet;
    sheet.name = s.attribute("name").value();
    sheet.part = ResolveTarget(base, it->second.target);
    wb->sheets_.push_back(std::move(sheet));
  }
  for (const auto& [id, rel] : rels) {
    (void)id;
    if (EndsWith(rel.type, "/styles")) {
      pugi::xml_document styles;
      if (LoadPart(z.get(), ResolveTarget(base, rel.target), styles, pugi::parse_default, budget))
        wb->date_styles_ = DateStyles(styles);
    }
    if (!EndsWith(rel.type, "/sharedStrings")) continue;
    pugi::xml_document sst;
    if (!LoadPart(z.get(), ResolveTarget(base, rel.target), sst, kParse, budget)) continue;
    for (pugi::xml_node si : Child(sst, "sst").children())
      if (LocalName(si.name()) == "si") wb->shared_.push_back(ItemText(si));
  }
  if (!budget.refused.empty()) {
    error = budget.refused + ": " + path;
    return nullptr;
  }
  return wb;
}

std::vector<std::string> Workbook::SheetNames() const {
  std::vector<std::string> out;
  for (const Sheet& s : sheets_) out.push_back(s.name);
  return out;
}

int Workbook::FindSheet(std::string_view name) const {
  for (std::size_t i = 0; i < sheets_.size(); ++i) {
    const std::string& n = sheets_[i].name;
    if (n.size() == name.size() &&
        std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        }))
      return static_cast<int>(i);
  }
  return -1;
}

pugi::xml_document& Workbook::SheetDoc(int sheet) {
  Sheet& s = sheets_.at(static_cast<std::size_t>(sheet));
  if (s.doc) return *s.doc;
  int zerr = 0;
  ZipPtr z(zip_open(path_.c_str(), ZIP_RDONLY, &zerr));
  if (!z) throw std::runtime_error("Cannot open " + path_);
  // A sheet of another version of the file would not match the shared
  // strings already read.
  if (const std::string changed = ChangedOnDisk(); !changed.empty()) throw std::runtime_error(changed);
  auto doc = std::make_unique<pugi::xml_document>();
  if (!LoadPart(z.get(), s.part, *doc, kParse, budget_) || !Child(*doc, "worksheet"))
    throw std::runtime_error(budget_.refused.empty() ? "Cannot read sheet " + s.name : budget_.refused + ": " + path_);
  s.doc = std::move(doc);
  return *s.doc;
}

CellValue Workbook::Get(int sheet, CellRef cell) {
  pugi::xml_node data = Child(Child(SheetDoc(sheet), "worksheet"), "sheetData");
  int r = 0;
  for (pugi::xml_node row : data.children()) {
    if (LocalName(row.name()) != "row") continue;
    r = RowOf(row, r);
    if (r < cell.row) continue;
    if (r > cell.row) break;
    int col = 0;
    for (pugi::xml_node c : row.children()) {
      if (LocalName(c.name()) != "c") continue;
      col = ColOf(c, col);
      if (col != cell.col) continue;
      CellValue v;
      const std::string_view t = c.attribute("t").value();
      pugi::xml_node val = Child(c, "v");
      if (t == "inlineStr") {
        v.kind = CellValue::Kind::Text;
        v.text = ItemText(Child(c, "is"));
      } else if (!val) {
        // no value: empty
      } else if (t == "s") {
        const long idx = val.text().as_llong(-1);
        if (idx < 0 || static_cast<std::size_t>(idx) >= shared_.size())
          throw std::runtime_error("Broken shared string in " + FormatCellRef(cell));
        v.kind = CellValue::Kind::Text;
        v.text = shared_[static_cast<std::size_t>(idx)];
      } else if (t == "str") {
        v.kind = CellValue::Kind::Text;
        v.text = DecodeText(val.text().get());
      } else if (t == "b") {
        v.kind = CellValue::Kind::Boolean;
        v.boolean = val.text().as_int() != 0;
      } else if (t == "e") {
        v.kind = CellValue::Kind::Error;
        v.text = val.text().get();
      } else {
        v.kind = CellValue::Kind::Number;
        v.number = val.text().as_double();
        const long style = c.attribute("s").as_llong(0);
        v.date = style >= 0 && static_cast<std::size_t>(style) < date_styles_.size() &&
                 date_styles_[static_cast<std::size_t>(style)];
      }
      return v;
    }
    break;
  }
  return {};
}

void Workbook::Set(int sheet, CellRef cell, const CellValue& value) { SetRange(sheet, cell, cell, value); }

namespace {

// What every cell of a range write gets: its type and its value text,
// encoded once.
struct CellContent {
  const char* type = nullptr;  // the "t" attribute, if any
  bool inline_text = false;
  std::string text;
};

CellContent ContentOf(const CellValue& value) {
  CellContent out;
  switch (value.kind) {
    case CellValue::Kind::Empty:
      break;
    case CellValue::Kind::Number:
      out.text = NumberText(value.number);
      break;
    case CellValue::Kind::Boolean:
      out.type = "b";
      out.text = value.boolean ? "1" : "0";
      break;
    case CellValue::Kind::Text:
    case CellValue::Kind::Error:
      out.type = "inlineStr";
      out.inline_text = true;
      out.text = EncodeText(value.text);
      break;
  }
  return out;
}

// The next element named `local` at or after `n` whose number (by `number`
// from the one before) is at least `want`: that element when its number is
// `want`, else a new one put before it (or at the end of `parent`). `n` and
// `last` move past what was walked, so that the next call goes on from
// there; the new element takes `want` as its number.
template <typename NumberOf>
pugi::xml_node Seek(pugi::xml_node parent, pugi::xml_node& n, int& last, int want, std::string_view local,
                    const std::string& qualified, NumberOf number) {
  for (; n; n = n.next_sibling()) {
    if (LocalName(n.name()) != local) continue;
    const int at = number(n, last);
    if (at > want) break;
    last = at;
    if (at == want) {
      pugi::xml_node found = n;
      n = n.next_sibling();
      return found;
    }
  }
  last = want;
  return Need(n ? parent.insert_child_before(qualified.c_str(), n) : parent.append_child(qualified.c_str()));
}

}  // namespace

void Workbook::SetRange(int sheet, CellRef first, CellRef last, const CellValue& value,
                        const std::function<void()>& pace) {
  if (value.kind == CellValue::Kind::Text || value.kind == CellValue::Kind::Error)
    if (const std::string problem = CellTextProblem(value.text); !problem.empty()) throw std::runtime_error(problem);
  pugi::xml_node ws = Child(SheetDoc(sheet), "worksheet");
  // What the write adds to the tree counts against the same bound as what
  // was read.
  TreeCounting counting(&budget_.tree_left);
  sheets_.at(static_cast<std::size_t>(sheet)).changed = true;
  dirty_ = true;
  const std::string px = PrefixOf(ws);
  const std::string row_name = px + "row", cell_name = px + "c", v_name = px + "v", is_name = px + "is",
                    t_name = px + "t";
  const CellContent content = ContentOf(value);
  pugi::xml_node data = Child(ws, "sheetData");
  if (!data) data = Need(ws.append_child((px + "sheetData").c_str()));
  pugi::xml_node next_row = data.first_child();
  int row_at = 0;
  std::uint64_t written = 0;
  for (int r = first.row; r <= last.row; ++r) {
    pugi::xml_node row = Seek(data, next_row, row_at, r, "row", row_name, RowOf);
    if (!row.attribute("r")) Need(row.prepend_attribute("r").set_value(r));
    row.remove_attribute("spans");  // an optional hint that may no longer hold
    pugi::xml_node next_cell = row.first_child();
    int col_at = 0;
    for (int col = first.col; col <= last.col; ++col) {
      // The cell, created in order when missing; its style stays.
      pugi::xml_node c = Seek(row, next_cell, col_at, col, "c", cell_name, ColOf);
      if (!c.attribute("r")) Need(c.prepend_attribute("r").set_value(FormatCellRef({r, col}).c_str()));
      c.remove_attribute("t");
      if (Child(c, "f")) formula_dropped_ = true;
      while (pugi::xml_node child = c.first_child()) c.remove_child(child);
      if (content.type) Need(c.append_attribute("t").set_value(content.type));
      if (content.inline_text) {
        pugi::xml_node t = Need(Need(c.append_child(is_name.c_str())).append_child(t_name.c_str()));
        Need(t.append_attribute("xml:space").set_value("preserve"));
        Need(t.text().set(content.text.c_str()));
      } else if (value.kind != CellValue::Kind::Empty) {
        Need(Need(c.append_child(v_name.c_str())).text().set(content.text.c_str()));
      }
      if (++written % 4096 == 0 && pace) pace();
    }
  }
  WidenDimension(ws, first);
  WidenDimension(ws, last);
}

std::string Workbook::Save(const std::function<bool()>& expired) {
  if (!dirty_) return {};
  if (expired && expired()) return std::string(kSaveStopped);
  // A symbolic link stays and the file it leads to is replaced.
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::canonical(path_, ec);
  struct stat st {};
  if (ec || stat(target.c_str(), &st) != 0) return "File not found: " + path_;
  if (std::string changed = ChangedOnDisk(); !changed.empty()) return changed;
  // Write protection holds for root too, as a read-only file does on the
  // desktop: the rename would get past it, so it is checked here.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
    return "Workbook is read-only: " + path_;
  std::string temp = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(temp.data());
  if (fd < 0) return "Cannot create a temporary file beside " + target.string();
  close(fd);
  std::filesystem::copy_file(target, temp, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return "Cannot copy " + path_;
  }
  int zerr = 0;
  ZipPtr z(zip_open(temp.c_str(), 0, &zerr));
  std::deque<std::string> texts;  // the sources read them at zip_close: they must not move
  bool ok = static_cast<bool>(z);
  bool stopped = false;
  try {
    for (Sheet& s : sheets_) {
      if (!ok || !s.changed) continue;
      texts.push_back(Serialize(*s.doc, &expired));
      ok = PutPart(z.get(), s.part, texts.back());
    }
  } catch (const SaveStopped&) {
    ok = false;
    stopped = true;
  }
  if (ok && formula_dropped_) ok = DropCalcChain(z.get(), book_part_, texts, budget_);
  // Compressing a large sheet takes most of a save: the zip library asks
  // between its pieces whether to give up, and a cancelled close leaves the
  // copy to be removed below.
  if (ok && expired)
    zip_register_cancel_callback_with_state(
        z.get(),
        [](zip_t*, void* state) { return (*static_cast<const std::function<bool()>*>(state))() ? 1 : 0; },
        nullptr, const_cast<std::function<bool()>*>(&expired));
  if (ok && zip_close(z.get()) != 0) {
    ok = false;
    stopped = zip_error_code_zip(zip_get_error(z.get())) == ZIP_ER_CANCELLED;
  }
  if (ok) {
    (void)z.release();
    // The copy was made from the file as read only if it is still that file.
    if (std::string changed = ChangedOnDisk(); !changed.empty()) {
      std::filesystem::remove(temp, ec);
      return changed;
    }
    // The package written (a new file, as the zip library writes one) takes
    // the workbook's owner where we may give it, then its mode, as a change
    // of owner clears set-id bits.
    if (chown(temp.c_str(), st.st_uid, st.st_gid) != 0) {
      // Not ours to give away: the file stays with its writer.
    }
    if (chmod(temp.c_str(), st.st_mode & 07777) == 0 && std::rename(temp.c_str(), target.c_str()) == 0) {
      StampOf(path_, stamp_);  // the file is now the one written
      for (Sheet& s : sheets_) s.changed = false;
      dirty_ = false;
      formula_dropped_ = false;
      return {};
    }
  }
  std::filesystem::remove(temp, ec);
  return stopped ? std::string(kSaveStopped) : "Cannot save " + path_;
}

}  // namespace tarv::xlsx
