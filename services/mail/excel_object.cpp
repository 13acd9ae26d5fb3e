// Excel.Application: workbooks opened from .xlsx files, their worksheets and
// cell ranges. A value written as text is taken as Excel takes typed input:
// a number or TRUE/FALSE becomes that, anything else stays text. A number in
// a date or time format is read as a date.
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "services/mail/host_objects.h"
#include "services/mail/xlsx_workbook.h"
#include "services/scripthost/vbs_eval.h"
#include "services/scripthost/vbs_objects.h"

namespace tarv::hostobj {

namespace {

using vbs::EqualsNoCase;
using vbs::Value;

// The longest text a cell holds.
constexpr std::size_t kMaxCellText = 32767;

// A workbook as the objects share it; null once closed. `in` is asked for
// the run's time limit inside long writes; may be null.
struct BookState {
  std::unique_ptr<xlsx::Workbook> book;
  const vbs::Interpreter* in = nullptr;
};

xlsx::Workbook& Book(const std::shared_ptr<BookState>& s) {
  if (!s->book) vbs::ThrowRuntime(vbs::kErrObjectRequired, "The workbook is closed");
  return *s->book;
}

// Workbook failures (a broken part, a file that cannot be written) reach the
// script as run-time errors with their reason.
template <typename F>
auto Guard(F&& f) {
  try {
    return f();
  } catch (const std::runtime_error& e) {
    vbs::ThrowRuntime(vbs::kErrPermissionDenied, e.what());
  }
}

Value FromCell(const xlsx::CellValue& c) {
  switch (c.kind) {
    case xlsx::CellValue::Kind::Empty:
      return Value();
    case xlsx::CellValue::Kind::Number:
      return c.date ? Value::Date(c.number) : Value::Double(c.number);
    case xlsx::CellValue::Kind::Boolean:
      return Value::Boolean(c.boolean);
    case xlsx::CellValue::Kind::Text:
    case xlsx::CellValue::Kind::Error:
      return Value::String(c.text);
  }
  return Value();
}

bool DecimalText(std::string_view t) {
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t exp = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++exp;
    if (exp == 0) return false;
  }
  return i == t.size();
}

xlsx::CellValue ToCell(const Value& raw) {
  const Value& v = *vbs::Plain(raw);
  xlsx::CellValue c;
  switch (v.kind()) {
    case vbs::Kind::Empty:
      return c;
    case vbs::Kind::Null:
    case vbs::Kind::Array:
    case vbs::Kind::Object:
      vbs::ThrowRuntime(vbs::kErrTypeMismatch);
    case vbs::Kind::Boolean:
      c.kind = xlsx::CellValue::Kind::Boolean;
      c.boolean = v.boolean();
      return c;
    case vbs::Kind::String:
      break;
    default:
      c.kind = xlsx::CellValue::Kind::Number;
      c.number = vbs::ToDouble(v);
      return c;
  }
  const std::string& t = v.str();
  if (t.size() > kMaxCellText) vbs::ThrowRuntime(vbs::kErrInvalidCall, "Text too long for a cell");
  if (!t.empty() && t.front() == '\'') {  // typed as text on purpose
    c.kind = xlsx::CellValue::Kind::Text;
    c.text = t.substr(1);
    return c;
  }
  if (DecimalText(t)) {
    const double d = std::strtod(t.c_str(), nullptr);
    if (std::isfinite(d)) {
      c.kind = xlsx::CellValue::Kind::Number;
      c.number = d;
      return c;
    }
  }
  if (EqualsNoCase(t, "true") || EqualsNoCase(t, "false")) {
    c.kind = xlsx::CellValue::Kind::Boolean;
    c.boolean = EqualsNoCase(t, "true");
    return c;
  }
  if (!t.empty()) {
    c.kind = xlsx::CellValue::Kind::Text;
    c.text = t;
  }
  return c;
}

int WholeArg(const Value& v, int lo, int hi) {
  const std::int32_t n = vbs::ToLong(v);
  if (n < lo || n > hi) vbs::ThrowRuntime(vbs::kErrInvalidCall);
  return n;
}

// A rectangle of cells of one sheet.
class RangeObj : public vbs::BuiltinObject {
 public:
  RangeObj(std::shared_ptr<BookState> s, int sheet, xlsx::CellRef first, xlsx::CellRef last)
      : state_(std::move(s)), sheet_(sheet), first_(first), last_(last) {}
  std::string TypeName() const override { return "Range"; }

  void SetProperty(std::string_view name, std::span<const Value> args, const Value& v) override {
    if (!name.empty() && !EqualsNoCase(name, "value") && !EqualsNoCase(name, "value2"))
      vbs::ThrowRuntime(vbs::kErrNoSuchMember);
    vbs::ArgCount(args, 0, 0);
    const xlsx::CellValue cell = ToCell(v);
    const vbs::Interpreter* in = state_->in;
    Guard([&] {
      // A large range ends at the run's time limit with nothing saved.
      Book(state_).SetRange(sheet_, first_, last_, cell, [in] {
        if (in) in->CheckDeadline();
      });
      return 0;
    });
  }

  Value Call(std::string_view name, std::span<const Value> args) override {
    if (name.empty() || EqualsNoCase(name, "value") || EqualsNoCase(name, "value2") || EqualsNoCase(name, "text")) {
      vbs::ArgCount(args, 0, 0);
      if (first_.row != last_.row || first_.col != last_.col) vbs::ThrowRuntime(vbs::kErrTypeMismatch);
      const Value v = Guard([&] { return FromCell(Book(state_).Get(sheet_, first_)); });
      return EqualsNoCase(name, "text") ? Value::String(vbs::ToString(v)) : v;
    }
    if (EqualsNoCase(name, "item") || EqualsNoCase(name, "cells")) {
      // Relative to the range's top-left cell, from 1.
      vbs::ArgCount(args, 2, 2);
      const int r = WholeArg(args[0], 1 - first_.row + 1, 1048576 - first_.row + 1);
      const int c = WholeArg(args[1], 1 - first_.col + 1, 16384 - first_.col + 1);
      const xlsx::CellRef at{first_.row + r - 1, first_.col + c - 1};
      return Value::Object(std::make_shared<RangeObj>(state_, sheet_, at, at));
    }
    if (EqualsNoCase(name, "row")) return Value::Long(first_.row);
    if (EqualsNoCase(name, "column")) return Value::Long(first_.col);
    if (EqualsNoCase(name, "address")) {
      std::string a = xlsx::FormatCellRef(first_);
      if (first_.row != last_.row || first_.col != last_.col) a += ":" + xlsx::FormatCellRef(last_);
      return Value::String(a);
    }
    vbs::ThrowRuntime(vbs::kErrNoSuchMember);
  }

 private:
  std::shared_ptr<BookState> state_;
  int sheet_;
  xlsx::CellRef first_, last_;
};

class SheetObj : public vbs::BuiltinObject {
 public:
  SheetObj(std::shared_ptr<BookState> s, int sheet) : state_(std::move(s)), sheet_(sheet) {}
  std::string TypeName() const override { return "Worksheet"; }

  Value Call(std::string_view name, std::span<const Value> args) override {
    if (EqualsNoCase(name, "range")) {
      vbs::ArgCount(args, 1, 1);
      const std::string ref = vbs::ToString(*vbs::Plain(args[0]));
      const std::size_t colon = ref.find(':');
      const auto first = xlsx::ParseCellRef(std::string_view(ref).substr(0, colon));
      const auto last = colon == std::string::npos ? first : xlsx::ParseCellRef(std::string_view(ref).substr(colon + 1));
      if (!first || !last) vbs::ThrowRuntime(vbs::kErrInvalidCall, "Method 'Range' of object '_Worksheet' failed");
      const xlsx::CellRef lo{std::min(first->row, last->row), std::min(first->col, last->col)};
      const xlsx::CellRef hi{std::max(first->row, last->row), std::max(first->col, last->col)};
      return Value::Object(std::make_shared<RangeObj>(state_, sheet_, lo, hi));
    }
    if (EqualsNoCase(name, "cells")) {
      vbs::ArgCount(args, 2, 2);
      const xlsx::CellRef at{WholeArg(args[0], 1, 1048576), WholeArg(args[1], 1, 16384)};
      return Value::Object(std::make_shared<RangeObj>(state_, sheet_, at, at));
    }
    if (EqualsNoCase(name, "activate") || EqualsNoCase(name, "select")) {
      vbs::ArgCount(args, 0, 0);
      Book(state_);
      return Value();
    }
    if (EqualsNoCase(name, "name")) return Value::String(Book(state_).SheetNames().at(static_cast<std::size_t>(sheet_)));
    vbs::ThrowRuntime(vbs::kErrNoSuchMember);
  }

 private:
  std::shared_ptr<BookState> state_;
  int sheet_;
};

class BookObj : public vbs::BuiltinObject {
 public:
  explicit BookObj(std::shared_ptr<BookState> s) : state_(std::move(s)) {}
  std::string TypeName() const override { return "Workbook"; }

  Value Call(std::string_view name, std::span<const Value> args) override {
    if (EqualsNoCase(name, "worksheets") || EqualsNoCase(name, "sheets")) {
      vbs::ArgCount(args, 1, 1);
      const Value& key = *vbs::Plain(args[0]);
      xlsx::Workbook& b = Book(state_);
      int index = -1;
      if (key.kind() == vbs::Kind::String) {
        index = b.FindSheet(key.str());
      } else {
        const std::int32_t n = vbs::ToLong(key);
        if (n >= 1 && static_cast<std::size_t>(n) <= b.SheetNames().size()) index = n - 1;
      }
      if (index < 0) vbs::ThrowRuntime(vbs::kErrSubscriptOutOfRange);
      return Value::Object(std::make_shared<SheetObj>(state_, index));
    }
    if (EqualsNoCase(name, "save")) {
      vbs::ArgCount(args, 0, 0);
      SaveOrThrow();
      return Value();
    }
    if (EqualsNoCase(name, "close")) {
      // Close(SaveChanges): unsaved changes are dropped unless it is True.
      vbs::ArgCount(args, 0, 3);
      if (!args.empty() && vbs::ToBoolean(*vbs::Plain(args[0]))) SaveOrThrow();
      state_->book.reset();
      return Value();
    }
    if (EqualsNoCase(name, "fullname")) return Value::String(Book(state_).path());
    vbs::ThrowRuntime(vbs::kErrNoSuchMember);
  }

 private:
  // The save, the writing and compressing of a large sheet included, ends
  // at the run's time limit with the file as it was.
  void SaveOrThrow() {
    const vbs::Interpreter* in = state_->in;
    const std::string error = Book(state_).Save([in] {
      return in && in->deadline() && vbs::Clock::now() >= *in->deadline();
    });
    if (error == xlsx::kSaveStopped && in) in->CheckDeadline();
    if (!error.empty()) vbs::ThrowRuntime(vbs::kErrPermissionDenied, error);
  }
  std::shared_ptr<BookState> state_;
};

struct AppState {
  std::vector<std::shared_ptr<BookState>> books;
  bool visible = false;
  const vbs::Interpreter* in = nullptr;
};

class WorkbooksObj : public vbs::BuiltinObject {
 public:
  explicit WorkbooksObj(std::shared_ptr<AppState> app) : app_(std::move(app)) {}
  std::string TypeName() const override { return "Workbooks"; }
  Value Call(std::string_view name, std::span<const Value> args) override {
    if (EqualsNoCase(name, "open")) {
      vbs::ArgCount(args, 1, 15);
      const std::string path = vbs::ToString(*vbs::Plain(args[0]));
      std::string error;
      auto book = xlsx::Workbook::Open(path, error);
      if (!book) vbs::ThrowRuntime(vbs::kErrFileNotFound, error);
      auto state = std::make_shared<BookState>();
      state->book = std::move(book);
      state->in = app_->in;
      app_->books.push_back(state);
      return Value::Object(std::make_shared<BookObj>(state));
    }
    if (EqualsNoCase(name, "count")) {
      std::int32_t n = 0;
      for (const auto& b : app_->books) n += b->book ? 1 : 0;
      return Value::Long(n);
    }
    vbs::ThrowRuntime(vbs::kErrNoSuchMember);
  }

 private:
  std::shared_ptr<AppState> app_;
};

class ExcelApp : public vbs::BuiltinObject {
 public:
  explicit ExcelApp(const vbs::Interpreter* in)
      : app_(std::make_shared<AppState>()), books_(std::make_shared<WorkbooksObj>(app_)) {
    app_->in = in;
  }
  std::string TypeName() const override { return "Application"; }

  void SetProperty(std::string_view name, std::span<const Value> args, const Value& v) override {
    vbs::ArgCount(args, 0, 0);
    if (EqualsNoCase(name, "visible")) {
      app_->visible = vbs::ToBoolean(*vbs::Plain(v));
      return;
    }
    if (EqualsNoCase(name, "displayalerts") || EqualsNoCase(name, "screenupdating")) return;
    vbs::ThrowRuntime(vbs::kErrNoSuchMember);
  }

  Value Call(std::string_view name, std::span<const Value> args) override {
    if (EqualsNoCase(name, "workbooks")) {
      vbs::ArgCount(args, 0, 0);
      return Value::Object(books_);
    }
    if (EqualsNoCase(name, "visible")) return Value::Boolean(app_->visible);
    if (EqualsNoCase(name, "quit")) {
      vbs::ArgCount(args, 0, 0);
      // Workbooks still open are dropped with their unsaved changes.
      for (auto& b : app_->books) b->book.reset();
      app_->books.clear();
      return Value();
    }
    vbs::ThrowRuntime(vbs::kErrNoSuchMember);
  }

 private:
  std::shared_ptr<AppState> app_;
  std::shared_ptr<WorkbooksObj> books_;
};

}  // namespace

std::shared_ptr<vbs::Object> NewExcelApplication(const vbs::Interpreter* in) {
  return std::make_shared<ExcelApp>(in);
}

}  // namespace tarv::hostobj
