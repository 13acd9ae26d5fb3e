#include "services/scripthost/vbs_value.h"

#include <algorithm>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <variant>

#include <unistd.h>

#include "services/scripthost/vbs_date.h"
#include "services/scripthost/vbs_object.h"
#include "services/scripthost/vbs_text.h"

namespace tarv::vbs {

std::string_view ErrorDescription(int number) {
  switch (number) {
    case kErrInvalidCall: return "Invalid procedure call or argument";
    case kErrOverflow: return "Overflow";
    case kErrOutOfMemory: return "Out of memory";
    case kErrSubscriptOutOfRange: return "Subscript out of range";
    case kErrArrayFixed: return "This array is fixed or temporarily locked";
    case kErrDivisionByZero: return "Division by zero";
    case kErrTypeMismatch: return "Type mismatch";
    case kErrOutOfStack: return "Out of stack space";
    case kErrSubNotDefined: return "Sub or Function not defined";
    case kErrBadFileName: return "Bad file name or number";
    case kErrFileNotFound: return "File not found";
    case kErrBadFileMode: return "Bad file mode";
    case kErrFileExists: return "File already exists";
    case kErrInputPastEnd: return "Input past end of file";
    case kErrPermissionDenied: return "Permission denied";
    case kErrPathNotFound: return "Path not found";
    case kErrObjectNotSet: return "Object variable not set";
    case kErrInvalidUseOfNull: return "Invalid use of Null";
    case kErrObjectRequired: return "Object required";
    case kErrCannotCreateObject: return "ActiveX component can't create object";
    case kErrNoAutomation: return "Class doesn't support Automation";
    case kErrNoSuchMember: return "Object doesn't support this property or method";
    case kErrActionNotSupported: return "Object doesn't support this action";
    case kErrWrongArgCount: return "Wrong number of arguments or invalid property assignment";
    case kErrNotACollection: return "Object not a collection";
    case kErrKeyExists: return "This key is already associated with an element of this collection";
    case kErrBadVarType: return "Variable uses an Automation type not supported in VBScript";
    case kErrVariableUndefined: return "Variable is undefined";
    case kErrIllegalAssignment: return "Illegal assignment";
    case kErrClassNotDefined: return "Class not defined";
    case kErrSyntax: return "Syntax error";
    case kErrExpectedRParen: return "Expected ')'";
    case kErrExpectedIdentifier: return "Expected identifier";
    case kErrExpectedEquals: return "Expected '='";
    case kErrExpectedTo: return "Expected 'To'";
    case kErrExpectedEnd: return "Expected 'End'";
    case kErrExpectedFunction: return "Expected 'Function'";
    case kErrExpectedSub: return "Expected 'Sub'";
    case kErrExpectedThen: return "Expected 'Then'";
    case kErrExpectedWend: return "Expected 'Wend'";
    case kErrExpectedLoop: return "Expected 'Loop'";
    case kErrExpectedNext: return "Expected 'Next'";
    case kErrExpectedCase: return "Expected 'Case'";
    case kErrExpectedSelect: return "Expected 'Select'";
    case kErrExpectedExpression: return "Expected expression";
    case kErrExpectedStatement: return "Expected statement";
    case kErrExpectedEndOfStatement: return "Expected end of statement";
    case kErrExpectedWith: return "Expected 'With'";
    case kErrIdentifierTooLong: return "Identifier too long";
    case kErrInvalidNumber: return "Invalid number";
    case kErrInvalidCharacter: return "Invalid character";
    case kErrUnterminatedString: return "Unterminated string constant";
    case kErrInvalidExit: return "Invalid 'exit' statement";
    case kErrInvalidForVariable: return "Invalid 'for' loop control variable";
    case kErrNameRedefined: return "Name redefined";
    case kErrExpectedIn: return "Expected 'In'";
    case kErrRegexpSyntax: return "Syntax error in regular expression";
    case kErrElementNotFound: return "Element not found";
    case kErrTimeout: return "Script timed out";
    default: return "Unknown runtime error";
  }
}

void ThrowRuntime(int number) {
  Error e;
  e.number = number;
  e.description = std::string(ErrorDescription(number));
  throw ScriptError(std::move(e));
}

void ThrowRuntime(int number, std::string description) {
  Error e;
  e.number = number;
  e.description = std::move(description);
  throw ScriptError(std::move(e));
}

namespace {
thread_local std::uint64_t tMemoryCeiling = 0;
thread_local std::uint64_t tTextSinceCheck = 0;
constexpr std::uint64_t kTextBetweenChecks = 16u << 20;
}  // namespace

void CheckTextSize(std::uint64_t bytes, std::uint64_t fresh) {
  if (bytes > kMaxTextBytes) ThrowRuntime(kErrOutOfMemory);
  tTextSinceCheck += fresh;
  if (tTextSinceCheck > kTextBetweenChecks) {
    tTextSinceCheck = 0;
    CheckMemory();
  }
}

std::uint64_t ResidentBytes() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  unsigned long long size = 0, resident = 0;
  const int n = std::fscanf(f, "%llu %llu", &size, &resident);
  std::fclose(f);
  if (n != 2) return 0;
  return static_cast<std::uint64_t>(resident) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

std::uint64_t SetMemoryCeiling(std::uint64_t bytes) {
  const std::uint64_t old = tMemoryCeiling;
  tMemoryCeiling = bytes;
  return old;
}

void CheckMemory() {
  if (tMemoryCeiling != 0 && ResidentBytes() > tMemoryCeiling) ThrowRuntime(kErrOutOfMemory);
}

// ---- Value ----------------------------------------------------------------

void Value::BadKind() { throw std::bad_variant_access(); }

void Value::CopyOwned(const Value& o) {
  switch (o.kind_) {
    case Kind::String:
      new (&u_.s) std::string(o.u_.s);
      ascii_ = o.ascii_;
      break;
    case Kind::Object: new (&u_.o) std::shared_ptr<vbs::Object>(o.u_.o); break;
    default: new (&u_.a) std::shared_ptr<vbs::Array>(o.u_.a); break;
  }
  kind_ = o.kind_;
}

void Value::MoveOwned(Value& o) noexcept {
  switch (o.kind_) {
    case Kind::String:
      new (&u_.s) std::string(std::move(o.u_.s));
      ascii_ = o.ascii_;
      o.ascii_ = 0;
      break;
    case Kind::Object: new (&u_.o) std::shared_ptr<vbs::Object>(std::move(o.u_.o)); break;
    default: new (&u_.a) std::shared_ptr<vbs::Array>(std::move(o.u_.a)); break;
  }
  kind_ = o.kind_;
}

void Value::CopyAssign(const Value& o) {
  if (this == &o) return;
  Value copy(o);  // o may live inside what this value holds
  MoveAssign(copy);
}

void Value::MoveAssign(Value& o) noexcept {
  if (this == &o) return;
  if (!Owns(kind_)) {
    MoveOwned(o);  // o holds text, an object or an array
    return;
  }
  if (kind_ == Kind::String) {
    // Text holds no value that o could be part of.
    if (o.kind_ == Kind::String) {
      u_.s = std::move(o.u_.s);
      ascii_ = o.ascii_;
      o.ascii_ = 0;
      return;
    }
    Release();
    if (Owns(o.kind_)) MoveOwned(o);
    else Bits(o);
    return;
  }
  Value keep(std::move(o));  // o may live inside what this value holds
  Release();
  if (Owns(keep.kind_)) MoveOwned(keep);
  else Bits(keep);
}

void Value::Release() noexcept {
  const Kind k = kind_;
  kind_ = Kind::Empty;
  switch (k) {
    case Kind::String:
      u_.s.~basic_string();
      ascii_ = 0;
      break;
    case Kind::Object: u_.o.~shared_ptr(); break;
    case Kind::Array: u_.a.~shared_ptr(); break;
    default: break;
  }
  u_.bits = 0;
}

std::size_t Array::Offset(std::span<const Value> indices) const {
  if (indices.size() != upper.size()) ThrowRuntime(kErrSubscriptOutOfRange);
  std::size_t offset = 0;
  std::size_t stride = 1;
  for (std::size_t d = 0; d < indices.size(); ++d) {
    const std::int32_t i = ToLong(indices[d]);
    if (i < 0 || i > upper[d]) ThrowRuntime(kErrSubscriptOutOfRange);
    offset += static_cast<std::size_t>(i) * stride;
    stride *= static_cast<std::size_t>(upper[d]) + 1;
  }
  return offset;
}

namespace {
thread_local std::vector<Value> tReleasing;
thread_local bool tDraining = false;
}  // namespace

void ReleaseLater(Value& v) {
  const bool last = (v.kind() == Kind::Array && v.array().use_count() == 1) ||
                    (v.kind() == Kind::Object && v.object().use_count() == 1);
  if (!last) return;
  try {
    tReleasing.push_back(std::move(v));
  } catch (const std::bad_alloc&) {
    // No room to queue it: it is freed where it is, one level deeper.
  }
}

void ReleaseNow() {
  if (tDraining) return;  // an outer ReleaseNow is emptying the list
  tDraining = true;
  while (!tReleasing.empty()) {
    Value doomed = std::move(tReleasing.back());
    tReleasing.pop_back();
    doomed = Value();  // freeing it may queue what it held, behind it
  }
  tDraining = false;
}

Array::~Array() {
  for (Value& v : items) ReleaseLater(v);
  ReleaseNow();
}

std::shared_ptr<Array> Array::Of(std::vector<Value> values) {
  auto a = std::make_shared<Array>();
  a->upper.push_back(static_cast<std::int32_t>(values.size()) - 1);
  a->items = std::move(values);
  return a;
}

bool Value::IsNumeric() const {
  switch (kind()) {
    case Kind::Boolean:
    case Kind::Integer:
    case Kind::Long:
    case Kind::Double:
    case Kind::Byte:
    case Kind::Single:
    case Kind::Currency: return true;
    default: return false;
  }
}

std::string TypeName(const Value& v) {
  switch (v.kind()) {
    case Kind::Empty: return "Empty";
    case Kind::Null: return "Null";
    case Kind::Boolean: return "Boolean";
    case Kind::Integer: return "Integer";
    case Kind::Long: return "Long";
    case Kind::Double: return "Double";
    case Kind::String: return "String";
    case Kind::Object: return v.object() ? v.object()->TypeName() : "Nothing";
    case Kind::Date: return "Date";
    case Kind::Array: return "Variant()";
    case Kind::Byte: return "Byte";
    case Kind::Single: return "Single";
    case Kind::Currency: return "Currency";
  }
  return "Unknown";
}

Value Unwrap(const Value& v) {
  if (v.kind() != Kind::Object) return v;
  if (!v.object()) ThrowRuntime(kErrObjectNotSet);
  Value inner = v.object()->GetProperty("", {});
  // A default property that is itself an object has no plain value to give.
  if (inner.kind() == Kind::Object) ThrowRuntime(kErrTypeMismatch);
  return inner;
}

namespace {

class Missing : public Object {
 public:
  std::string TypeName() const override { return "Error"; }
  Value GetProperty(std::string_view, std::span<const Value>) override { ThrowRuntime(kErrTypeMismatch); }
  void SetProperty(std::string_view, std::span<const Value>, const Value&) override {
    ThrowRuntime(kErrTypeMismatch);
  }
  Value Call(std::string_view, std::span<const Value>) override { ThrowRuntime(kErrTypeMismatch); }
};

const std::shared_ptr<Object>& MissingObject() {
  static const std::shared_ptr<Object> missing = std::make_shared<Missing>();
  return missing;
}

}  // namespace

Value MissingArgument() { return Value::Object(MissingObject()); }

bool IsMissing(const Value& v) { return v.kind() == Kind::Object && v.object() == MissingObject(); }

// ---- Text and numbers -----------------------------------------------------

std::string FoldCase(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  // Asked for every member an object is called by: compared in place.
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string FormatSingle(float f) {
  if (f == 0) return "0";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, f, std::chars_format::general, 7);
  std::string out(buf, r.ptr);
  for (char& c : out) {
    if (c == 'e') c = 'E';
  }
  return out;
}

std::string FormatDouble(double d) {
  if (d == 0) return "0";  // also turns -0 into 0
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
  std::string out(buf, r.ptr);
  for (char& c : out) {
    if (c == 'e') c = 'E';
  }
  return out;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// &H and &O text: up to 16 bits reads as an Integer, up to 32 as a Long, so
// "&HFFFF" is -1 as in a script literal.
std::optional<double> ParseRadix(std::string_view s) {
  if (s.size() < 3 || s[0] != '&') return std::nullopt;
  const char tag = s[1];
  const int base = (tag == 'h' || tag == 'H') ? 16 : (tag == 'o' || tag == 'O') ? 8 : 0;
  if (base == 0) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : s.substr(2)) {
    const int d = HexDigit(c);
    if (d < 0 || d >= base) return std::nullopt;
    v = v * base + static_cast<unsigned>(d);
    if (v > 0xFFFFFFFFu) ThrowRuntime(kErrOverflow);
  }
  if (v <= 0xFFFF) return static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

// Digits grouped by thousands separators as US English writes them,
// "1,234,567.5", made the same text without the separators. Nothing when a
// separator stands anywhere else: "1,2,3" is a list, not the number 123.
std::optional<std::string> WithoutGrouping(std::string_view t) {
  std::size_t lead = 0;
  while (lead < t.size() && IsDigit(t[lead])) ++lead;
  if (lead == 0 || lead > 3) return std::nullopt;
  std::string out(t.substr(0, lead));
  std::size_t i = lead;
  while (i < t.size() && t[i] == ',') {
    for (std::size_t k = 1; k <= 3; ++k) {
      if (i + k >= t.size() || !IsDigit(t[i + k])) return std::nullopt;
    }
    if (i + 4 < t.size() && IsDigit(t[i + 4])) return std::nullopt;
    out.append(t.substr(i + 1, 3));
    i += 4;
  }
  if (t.find(',', i) != std::string_view::npos) return std::nullopt;
  out.append(t.substr(i));
  return out;
}

// "True", "False" and the forms "#TRUE#" and "#FALSE#" that Booleans take
// in files, in any case and with blanks around them.
std::optional<bool> BooleanWord(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  if (EqualsNoCase(s, "true") || EqualsNoCase(s, "#true#")) return true;
  if (EqualsNoCase(s, "false") || EqualsNoCase(s, "#false#")) return false;
  return std::nullopt;
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  if (text.find(',') != std::string_view::npos) {
    const std::optional<std::string> plain = WithoutGrouping(text);
    if (!plain) return std::nullopt;
    std::optional<double> v = ParseNumber(*plain);
    if (v && negative) *v = -*v;
    return v;
  }
  if (text.front() == '&') {
    auto v = ParseRadix(text);
    if (v && negative) *v = -*v;
    return v;
  }
  // digits [. digits] [E [sign] digits], at least one mantissa digit
  std::size_t i = 0;
  std::size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++exp_digits;
    if (exp_digits == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  double d = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), d, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // from_chars also reports underflow this way; only a huge value overflows.
    std::size_t e = text.find_first_of("eE");
    if (e != std::string_view::npos && text.substr(e + 1).starts_with('-')) return 0.0;
    ThrowRuntime(kErrOverflow);
  }
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
  return negative ? -d : d;
}

double RoundHalfEven(double d) {
  if (!std::isfinite(d) || std::fabs(d) >= 4503599627370496.0) return d;  // 2^52: already whole
  const double f = std::floor(d);
  const double diff = d - f;  // exact below 2^52
  if (diff < 0.5) return f;
  if (diff > 0.5) return f + 1;
  return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

// ---- Coercions ------------------------------------------------------------

namespace {

double StringToDouble(const std::string& s) {
  auto d = ParseNumber(s);
  if (!d) ThrowRuntime(kErrTypeMismatch);
  return *d;
}

std::int64_t RoundToRange(double d, std::int64_t lo, std::int64_t hi) {
  const double r = RoundHalfEven(d);
  if (!(r >= static_cast<double>(lo) && r <= static_cast<double>(hi))) ThrowRuntime(kErrOverflow);
  return static_cast<std::int64_t>(r);
}

// p / kCurrencyScale, half-way cases to even: a Currency made whole, or a
// product of two Currency amounts brought back to four decimals.
__int128 ScaleDownHalfEven(__int128 p) {
  __int128 q = p / kCurrencyScale;
  const __int128 r = p % kCurrencyScale;
  const __int128 twice = 2 * (r < 0 ? -r : r);
  if (twice > kCurrencyScale || (twice == kCurrencyScale && q % 2 != 0)) q += r < 0 ? -1 : 1;
  return q;
}

std::int64_t CurrencyWhole(std::int64_t units) { return static_cast<std::int64_t>(ScaleDownHalfEven(units)); }

std::int64_t ToWhole(const Value& v, std::int64_t lo, std::int64_t hi) {
  const Plain u_plain(v);
  const Value& u = *u_plain;
  std::int64_t n = 0;
  switch (u.kind()) {
    case Kind::Empty: return 0;
    case Kind::Null: ThrowRuntime(kErrInvalidUseOfNull);
    case Kind::Boolean: return u.boolean() ? -1 : 0;
    case Kind::Integer: n = u.integer(); break;
    case Kind::Long: n = u.long_value(); break;
    case Kind::Double: return RoundToRange(u.dbl(), lo, hi);
    case Kind::String: return RoundToRange(StringToDouble(u.str()), lo, hi);
    case Kind::Date: return RoundToRange(u.date(), lo, hi);
    case Kind::Single: return RoundToRange(u.single(), lo, hi);
    case Kind::Byte: n = u.byte(); break;
    case Kind::Currency: n = CurrencyWhole(u.currency_units()); break;
    case Kind::Object:
    case Kind::Array: ThrowRuntime(kErrTypeMismatch);
  }
  if (n < lo || n > hi) ThrowRuntime(kErrOverflow);
  return n;
}

}  // namespace

double ToDouble(const Value& v) {
  const Plain u_plain(v);
  const Value& u = *u_plain;
  switch (u.kind()) {
    case Kind::Empty: return 0;
    case Kind::Null: ThrowRuntime(kErrInvalidUseOfNull);
    case Kind::Boolean: return u.boolean() ? -1 : 0;
    case Kind::Integer: return u.integer();
    case Kind::Long: return u.long_value();
    case Kind::Double: return u.dbl();
    case Kind::String: return StringToDouble(u.str());
    case Kind::Date: return u.date();
    case Kind::Byte: return u.byte();
    case Kind::Single: return u.single();
    case Kind::Currency: return static_cast<double>(u.currency_units()) / kCurrencyScale;
    case Kind::Object:
    case Kind::Array: break;
  }
  ThrowRuntime(kErrTypeMismatch);
}

namespace {

// Text that is a plain decimal number, "-922337203685477.5808" say, made
// into Currency units exactly: a Double would lose the last digits of the
// range. Digits past the fourth decimal round half to even. Anything else
// (exponents, grouping, &H) is for the general conversion.
std::optional<std::int64_t> ExactCurrencyText(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  bool negative = false;
  if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  std::optional<std::string> plain;
  if (t.find(',') != std::string_view::npos) {
    plain = WithoutGrouping(t);
    if (!plain) return std::nullopt;
    t = *plain;
  }
  __int128 units = 0;
  int decimals = -1;  // digits after the point so far; -1 before it
  int digits = 0, next = -1;
  bool rest = false;  // a non-zero digit after the one that decides rounding
  for (char c : t) {
    if (c == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    ++digits;
    if (decimals >= 4) {
      if (next < 0) next = c - '0';
      else rest = rest || c != '0';
      continue;
    }
    if (decimals >= 0) ++decimals;
    units = units * 10 + (c - '0');
    if (units > static_cast<__int128>(INT64_MAX) * 10) return std::nullopt;  // the Double path says Overflow
  }
  if (digits == 0) return std::nullopt;
  for (int d = decimals < 0 ? 0 : decimals; d < 4; ++d) units *= 10;
  if (next > 5 || (next == 5 && (rest || (units & 1) != 0))) ++units;
  if (negative) units = -units;
  if (units < INT64_MIN || units > INT64_MAX) ThrowRuntime(kErrOverflow);
  return static_cast<std::int64_t>(units);
}

}  // namespace

std::int64_t ToCurrencyUnits(const Value& v) {
  const Plain u_plain(v);
  const Value& u = *u_plain;
  switch (u.kind()) {
    case Kind::Currency: return u.currency_units();
    case Kind::Empty:
    case Kind::Boolean:
    case Kind::Integer:
    case Kind::Long:
    case Kind::Byte: return ToWhole(u, INT32_MIN, INT32_MAX) * kCurrencyScale;
    case Kind::String:
      if (const std::optional<std::int64_t> exact = ExactCurrencyText(u.str())) return *exact;
      break;
    default: break;
  }
  const double d = ToDouble(u);
  if (!(std::fabs(d) < 922337203685478.0)) ThrowRuntime(kErrOverflow);
  // The whole part scales exactly; the fraction rounds on the decimal digits
  // as written, so that a half-way case is decided by them.
  const double whole = std::trunc(d);
  double y = (d - whole) * kCurrencyScale;
  char buf[64];
  auto w = std::to_chars(buf, buf + sizeof buf, y, std::chars_format::general, 15);
  std::from_chars(buf, w.ptr, y, std::chars_format::general);
  const __int128 units = static_cast<__int128>(static_cast<std::int64_t>(whole)) * kCurrencyScale +
                         static_cast<std::int64_t>(RoundHalfEven(y));
  if (units < INT64_MIN || units > INT64_MAX) ThrowRuntime(kErrOverflow);
  return static_cast<std::int64_t>(units);
}

std::string FormatCurrencyUnits(std::int64_t units) {
  const bool negative = units < 0;
  const std::uint64_t mag = negative ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
  std::string out = (negative ? "-" : "") + std::to_string(mag / kCurrencyScale);
  const std::uint64_t frac = mag % kCurrencyScale;
  if (frac != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04u", static_cast<unsigned>(frac));
    std::string digits(buf);
    while (digits.back() == '0') digits.pop_back();
    out += "." + digits;
  }
  return out;
}

double ToDate(const Value& v) {
  const Plain u_plain(v);
  const Value& u = *u_plain;
  switch (u.kind()) {
    case Kind::Null: ThrowRuntime(kErrInvalidUseOfNull);
    case Kind::Date: return u.date();
    case Kind::String: {
      if (auto d = ParseDate(u.str())) return *d;
      if (auto n = ParseNumber(u.str())) return *n;
      ThrowRuntime(kErrTypeMismatch);
    }
    default: return ToDouble(u);
  }
}

std::int16_t ToInteger(const Value& v) {
  return static_cast<std::int16_t>(ToWhole(v, INT16_MIN, INT16_MAX));
}

std::int32_t ToLongOf(const Value& v) {
  return static_cast<std::int32_t>(ToWhole(v, INT32_MIN, INT32_MAX));
}

bool ToBoolean(const Value& v) {
  const Plain u_plain(v);
  const Value& u = *u_plain;
  switch (u.kind()) {
    case Kind::Empty: return false;
    case Kind::Null: ThrowRuntime(kErrInvalidUseOfNull);
    case Kind::Boolean: return u.boolean();
    case Kind::Integer: return u.integer() != 0;
    case Kind::Long: return u.long_value() != 0;
    case Kind::Double: return u.dbl() != 0;
    case Kind::String:
      if (const std::optional<bool> b = BooleanWord(u.str())) return *b;
      return StringToDouble(u.str()) != 0;
    case Kind::Date: return u.date() != 0;
    case Kind::Byte: return u.byte() != 0;
    case Kind::Single: return u.single() != 0;
    case Kind::Currency: return u.currency_units() != 0;
    case Kind::Object:
    case Kind::Array: break;
  }
  ThrowRuntime(kErrTypeMismatch);
}

std::string ToString(const Value& v) {
  const Plain u_plain(v);
  const Value& u = *u_plain;
  switch (u.kind()) {
    case Kind::Empty: return "";
    case Kind::Null: ThrowRuntime(kErrInvalidUseOfNull);
    case Kind::Boolean: return u.boolean() ? "True" : "False";
    case Kind::Integer: return std::to_string(u.integer());
    case Kind::Long: return std::to_string(u.long_value());
    case Kind::Double: return FormatDouble(u.dbl());
    case Kind::String: return u.str();
    case Kind::Date: return FormatDate(u.date());
    case Kind::Byte: return std::to_string(u.byte());
    case Kind::Single: return FormatSingle(u.single());
    case Kind::Currency: return FormatCurrencyUnits(u.currency_units());
    case Kind::Object:
    case Kind::Array: break;
  }
  ThrowRuntime(kErrTypeMismatch);
}

// ---- Arithmetic -----------------------------------------------------------

namespace {

// Arithmetic works on three widths; a whole-number result that outgrows its
// width moves up to the next one instead of failing. A Currency keeps its
// fixed decimals against whole numbers; a Double operand makes it a Double.
enum class Rank { Integer, Long, Currency, Double };

struct Num {
  Rank rank;
  std::int64_t i = 0;  // Integer and Long; ten-thousandths for Currency
  double d = 0;        // Double
  double AsDouble() const {
    if (rank == Rank::Double) return d;
    return rank == Rank::Currency ? static_cast<double>(i) / kCurrencyScale : static_cast<double>(i);
  }
  // Whole numbers and Currency in ten-thousandths.
  __int128 Units() const { return rank == Rank::Currency ? __int128{i} : __int128{i} * kCurrencyScale; }
};

// `u` is unwrapped and not Null.
Num ToNum(const Value& u) {
  switch (u.kind()) {
    case Kind::Empty: return {Rank::Integer, 0};
    case Kind::Boolean: return {Rank::Integer, u.boolean() ? -1 : 0};
    case Kind::Integer: return {Rank::Integer, u.integer()};
    case Kind::Long: return {Rank::Long, u.long_value()};
    case Kind::Double: return {Rank::Double, 0, u.dbl()};
    case Kind::String: return {Rank::Double, 0, StringToDouble(u.str())};
    case Kind::Byte: return {Rank::Integer, u.byte()};
    case Kind::Single: return {Rank::Double, 0, u.single()};
    case Kind::Date: return {Rank::Double, 0, u.date()};
    case Kind::Currency: return {Rank::Currency, u.currency_units()};
    default: ThrowRuntime(kErrTypeMismatch);
  }
}

Value FitCurrency(__int128 units) {
  if (units < INT64_MIN || units > INT64_MAX) ThrowRuntime(kErrOverflow);
  return Value::Currency(static_cast<std::int64_t>(units));
}


Value Fit(std::int64_t r, Rank at_least) {
  if (at_least == Rank::Integer && r >= INT16_MIN && r <= INT16_MAX) {
    return Value::Integer(static_cast<std::int16_t>(r));
  }
  if (at_least != Rank::Double && r >= INT32_MIN && r <= INT32_MAX) {
    return Value::Long(static_cast<std::int32_t>(r));
  }
  return Value::Double(static_cast<double>(r));
}

Value Finite(double d) {
  if (!std::isfinite(d)) ThrowRuntime(kErrOverflow);
  return Value::Double(d);
}

// A Single meeting a Single, an Integer, a Byte, a Boolean or Empty gives a
// Single; meeting anything wider it gives a Double.
bool SinglePrecision(const Value& x, const Value& y) {
  auto narrow = [](Kind k) {
    return k == Kind::Single || k == Kind::Integer || k == Kind::Byte || k == Kind::Boolean || k == Kind::Empty;
  };
  return (x.kind() == Kind::Single || y.kind() == Kind::Single) && narrow(x.kind()) && narrow(y.kind());
}

// The Single nearest to d, or d as a Double when it is beyond the Single range.
Value SingleOrDouble(double d) {
  if (!std::isfinite(d)) ThrowRuntime(kErrOverflow);
  if (std::fabs(d) > std::numeric_limits<float>::max()) return Value::Double(d);
  return Value::Single(static_cast<float>(d));
}

enum class ArithOp { Add, Sub, Mul };

Value Arith(const Value& a, const Value& b, ArithOp op) {
  const Plain ua_plain(a);
  const Value& ua = *ua_plain;
  const Plain ub_plain(b);
  const Value& ub = *ub_plain;
  if (ua.kind() == Kind::Null || ub.kind() == Kind::Null) return Value::Null();
  const Num x = ToNum(ua);
  const Num y = ToNum(ub);
  if (SinglePrecision(ua, ub)) {
    // Each side is exact in a double, and so is their sum or product before
    // it is rounded to a Single once.
    const double p = x.AsDouble(), q = y.AsDouble();
    return SingleOrDouble(op == ArithOp::Add ? p + q : op == ArithOp::Sub ? p - q : p * q);
  }
  const Rank rank = std::max(x.rank, y.rank);
  if (rank == Rank::Currency) {
    // Below 2^64 each, so neither sum nor product overflows 128 bits.
    switch (op) {
      case ArithOp::Add: return FitCurrency(x.Units() + y.Units());
      case ArithOp::Sub: return FitCurrency(x.Units() - y.Units());
      case ArithOp::Mul: return FitCurrency(ScaleDownHalfEven(x.Units() * y.Units()));
    }
  }
  if (rank != Rank::Double) {
    // Both fit 32 bits, so no result here overflows 64.
    switch (op) {
      case ArithOp::Add: return Fit(x.i + y.i, rank);
      case ArithOp::Sub: return Fit(x.i - y.i, rank);
      case ArithOp::Mul: return Fit(x.i * y.i, rank);
    }
  }
  const double p = x.AsDouble();
  const double q = y.AsDouble();
  switch (op) {
    case ArithOp::Add: return Finite(p + q);
    case ArithOp::Sub: return Finite(p - q);
    case ArithOp::Mul: return Finite(p * q);
  }
  return Value();
}

// Operand of \ and Mod: rounded to a whole number of at most 32 bits.
Num ToWholeNum(const Value& u) {
  Num n = ToNum(u);
  if (n.rank == Rank::Double) {
    n.i = RoundToRange(n.d, INT32_MIN, INT32_MAX);
    n.rank = Rank::Long;
  } else if (n.rank == Rank::Currency) {
    n.i = CurrencyWhole(n.i);
    if (n.i < INT32_MIN || n.i > INT32_MAX) ThrowRuntime(kErrOverflow);
    n.rank = Rank::Long;
  }
  return n;
}

// \ gives the quotient, Mod the remainder, of the same whole-number division.
Value WholeDivide(const Value& a, const Value& b, bool remainder) {
  const Plain ua_plain(a);
  const Value& ua = *ua_plain;
  const Plain ub_plain(b);
  const Value& ub = *ub_plain;
  if (ua.kind() == Kind::Null || ub.kind() == Kind::Null) return Value::Null();
  const Num x = ToWholeNum(ua);
  const Num y = ToWholeNum(ub);
  if (y.i == 0) ThrowRuntime(kErrDivisionByZero);
  const std::int64_t r = remainder ? x.i % y.i : x.i / y.i;
  // Only -2147483648 \ -1 leaves a Long, and \ gives no Double.
  if (r > INT32_MAX) ThrowRuntime(kErrOverflow);
  return Fit(r, std::max(x.rank, y.rank));
}

}  // namespace

Value Negate(const Value& a) {
  const Plain u_plain(a);
  const Value& u = *u_plain;
  if (u.kind() == Kind::Null) return u;
  if (u.kind() == Kind::Single) return Value::Single(-u.single());
  const Num n = ToNum(u);
  if (n.rank == Rank::Double) return Value::Double(-n.d);
  if (n.rank == Rank::Currency) return FitCurrency(-n.Units());
  return Fit(-n.i, n.rank);
}

Value Identity(const Value& a) { return Unwrap(a); }

Value Power(const Value& a, const Value& b) {
  const Plain ua_plain(a);
  const Value& ua = *ua_plain;
  const Plain ub_plain(b);
  const Value& ub = *ub_plain;
  if (ua.kind() == Kind::Null || ub.kind() == Kind::Null) return Value::Null();
  const double x = ToNum(ua).AsDouble();
  const double y = ToNum(ub).AsDouble();
  if (x < 0 && std::floor(y) != y) ThrowRuntime(kErrInvalidCall);
  if (x == 0 && y < 0) ThrowRuntime(kErrDivisionByZero);
  return Finite(std::pow(x, y));
}

Value Multiply(const Value& a, const Value& b) { return Arith(a, b, ArithOp::Mul); }

// A date moved by a number of days stays a date; two dates apart are days.
Value Subtract(const Value& a, const Value& b) {
  Value r = Arith(a, b, ArithOp::Sub);
  if (a.kind() == Kind::Date && b.kind() != Kind::Date && r.kind() != Kind::Null) {
    return Value::Date(ToDouble(r));
  }
  return r;
}

Value Add(const Value& a, const Value& b) {
  const Plain ua_plain(a);
  const Value& ua = *ua_plain;
  const Plain ub_plain(b);
  const Value& ub = *ub_plain;
  if (ua.kind() == Kind::Null || ub.kind() == Kind::Null) return Value::Null();
  // Two strings join; Empty joined to a string leaves the string as it is.
  if (ua.kind() == Kind::String && ub.kind() == Kind::String) {
    CheckTextSize(static_cast<std::uint64_t>(ua.str().size()) + ub.str().size());
    if (EndsWithHalfUnit(ua.str())) return Value::String(TextOfUnitBytes(UnitBytes(ua.str()) + UnitBytes(ub.str())));
    return Value::String(ua.str() + ub.str());
  }
  if (ua.kind() == Kind::Empty && ub.kind() == Kind::String) return ub;
  if (ua.kind() == Kind::String && ub.kind() == Kind::Empty) return ua;
  Value r = Arith(ua, ub, ArithOp::Add);
  if (ua.kind() == Kind::Date || ub.kind() == Kind::Date) return Value::Date(ToDouble(r));
  return r;
}

Value Divide(const Value& a, const Value& b) {
  const Plain ua_plain(a);
  const Value& ua = *ua_plain;
  const Plain ub_plain(b);
  const Value& ub = *ub_plain;
  if (ua.kind() == Kind::Null || ub.kind() == Kind::Null) return Value::Null();
  const double x = ToNum(ua).AsDouble();
  const double y = ToNum(ub).AsDouble();
  if (y == 0) ThrowRuntime(x == 0 ? kErrOverflow : kErrDivisionByZero);
  if (SinglePrecision(ua, ub)) return SingleOrDouble(static_cast<double>(static_cast<float>(x / y)));
  return Finite(x / y);
}

Value IntDivide(const Value& a, const Value& b) { return WholeDivide(a, b, false); }
Value Modulo(const Value& a, const Value& b) { return WholeDivide(a, b, true); }

Value Concat(const Value& a, const Value& b) {
  const Plain ua_plain(a);
  const Value& ua = *ua_plain;
  const Plain ub_plain(b);
  const Value& ub = *ub_plain;
  const bool a_null = ua.kind() == Kind::Null;
  const bool b_null = ub.kind() == Kind::Null;
  if (a_null && b_null) return Value::Null();
  std::string left = a_null ? std::string() : ToString(ua);
  const std::string right = b_null ? std::string() : ToString(ub);
  CheckTextSize(static_cast<std::uint64_t>(left.size()) + right.size());
  // Half a unit left by a byte function pairs with the bytes after it.
  if (EndsWithHalfUnit(left)) return Value::String(TextOfUnitBytes(UnitBytes(left) + UnitBytes(right)));
  left += right;
  return Value::String(std::move(left));
}

// ---- Comparison -----------------------------------------------------------

namespace {

int Sign(double d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

int CompareNumbers(const Value& a, const Value& b) {
  // A Single meets a Double at the Single's precision: CSng(0.1) = 0.1.
  // A Double beyond the Single range compares as it is.
  if ((a.kind() == Kind::Single && b.kind() == Kind::Double && std::fabs(b.dbl()) <= FLT_MAX) ||
      (a.kind() == Kind::Double && b.kind() == Kind::Single && std::fabs(a.dbl()) <= FLT_MAX)) {
    const float x = static_cast<float>(ToDouble(a)), y = static_cast<float>(ToDouble(b));
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  const Num x = ToNum(a);
  const Num y = ToNum(b);
  if (x.rank != Rank::Double && y.rank != Rank::Double) {
    const __int128 p = x.Units(), q = y.Units();
    return p < q ? -1 : (p > q ? 1 : 0);
  }
  return Sign(x.AsDouble() - y.AsDouble());
}

int CompareStrings(const std::string& a, const std::string& b) {
  const int c = a.compare(b);  // byte order, as a binary compare does
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

std::optional<int> Compare(const Value& a, const Value& b, bool a_literal, bool b_literal) {
  const Plain ua_plain(a);
  const Value& ua = *ua_plain;
  const Plain ub_plain(b);
  const Value& ub = *ub_plain;
  if (ua.kind() == Kind::Null || ub.kind() == Kind::Null) return std::nullopt;
  const bool a_str = ua.kind() == Kind::String;
  const bool b_str = ub.kind() == Kind::String;
  const bool a_empty = ua.kind() == Kind::Empty;
  const bool b_empty = ub.kind() == Kind::Empty;
  if (a_str && b_str) return CompareStrings(ua.str(), ub.str());
  // Empty takes the other side's kind: "" against a string, 0 against a number.
  if (a_empty && b_str) return CompareStrings("", ub.str());
  if (a_str && b_empty) return CompareStrings(ua.str(), "");
  if (!a_str && !b_str) return CompareNumbers(ua, ub);
  // A number meets a string.
  const Value& num = a_str ? ub : ua;
  const Value& str = a_str ? ua : ub;
  const bool num_literal = a_str ? b_literal : a_literal;
  const bool str_literal = a_str ? a_literal : b_literal;
  // Whether the text holds a number matters only when a side is a literal.
  const bool asks_number = num_literal || (str_literal && num.kind() == Kind::Boolean);
  const std::optional<double> str_number = asks_number ? ParseNumber(str.str()) : std::nullopt;
  int c;
  if (num.kind() == Kind::Boolean && asks_number && !str_number) {
    // A Boolean and text that is no number compare as text: "true" <> True.
    c = CompareStrings(ToString(num), str.str());
  } else if (num_literal) {
    // Text that holds no number stays text, and a number sorts before it.
    c = str_number ? CompareNumbers(num, Value::Double(*str_number)) : -1;
  } else if (str_literal) {
    c = CompareStrings(ToString(num), str.str());
  } else {
    c = -1;
  }
  return a_str ? -c : c;
}

// ---- Logic ----------------------------------------------------------------

namespace {

// Operand of the logical operators: Booleans stay Booleans, anything else is
// taken as the bits of a whole number.
struct Bits {
  bool boolean;
  Rank rank;
  std::int32_t v;
};

Bits ToBits(const Value& u) {
  switch (u.kind()) {
    case Kind::Boolean: return {true, Rank::Integer, u.boolean() ? -1 : 0};
    case Kind::Empty: return {false, Rank::Integer, 0};
    case Kind::Integer: return {false, Rank::Integer, u.integer()};
    case Kind::Long: return {false, Rank::Long, u.long_value()};
    case Kind::String:
      if (const std::optional<bool> b = BooleanWord(u.str())) return {true, Rank::Integer, *b ? -1 : 0};
      return {false, Rank::Long, ToLong(u)};
    default: return {false, Rank::Long, ToLong(u)};
  }
}

Value FromBits(std::int32_t v, bool boolean, Rank rank) {
  if (boolean) return Value::Boolean(v != 0);
  return rank == Rank::Integer ? Value::Integer(static_cast<std::int16_t>(v)) : Value::Long(v);
}

enum class LogicOp { And, Or, Xor, Eqv, Imp };

std::int32_t ApplyBits(LogicOp op, std::int32_t x, std::int32_t y) {
  switch (op) {
    case LogicOp::And: return x & y;
    case LogicOp::Or: return x | y;
    case LogicOp::Xor: return x ^ y;
    case LogicOp::Eqv: return ~(x ^ y);
    case LogicOp::Imp: return ~x | y;
  }
  return 0;
}

// Null is an unknown: the result is known only where the other side decides
// it alone (False And Null is False, True Or Null is True).
Value LogicWithNull(LogicOp op, const Bits& other, bool null_is_left) {
  switch (op) {
    case LogicOp::And:
      if (other.v == 0) return FromBits(0, other.boolean, other.rank);
      break;
    case LogicOp::Or:
      if (other.v == -1) return FromBits(-1, other.boolean, other.rank);
      break;
    case LogicOp::Imp:
      if (null_is_left && other.v == -1) return FromBits(-1, other.boolean, other.rank);
      if (!null_is_left && other.v == 0) return FromBits(-1, other.boolean, other.rank);
      break;
    case LogicOp::Xor:
    case LogicOp::Eqv: break;
  }
  return Value::Null();
}

Value Logic(const Value& a, const Value& b, LogicOp op) {
  const Plain ua_plain(a);
  const Value& ua = *ua_plain;
  const Plain ub_plain(b);
  const Value& ub = *ub_plain;
  const bool a_null = ua.kind() == Kind::Null;
  const bool b_null = ub.kind() == Kind::Null;
  if (a_null && b_null) return Value::Null();
  if (a_null) return LogicWithNull(op, ToBits(ub), true);
  if (b_null) return LogicWithNull(op, ToBits(ua), false);
  const Bits x = ToBits(ua);
  const Bits y = ToBits(ub);
  return FromBits(ApplyBits(op, x.v, y.v), x.boolean && y.boolean, std::max(x.rank, y.rank));
}

}  // namespace

Value Not(const Value& a) {
  const Plain u_plain(a);
  const Value& u = *u_plain;
  if (u.kind() == Kind::Null) return u;
  const Bits x = ToBits(u);
  return FromBits(~x.v, x.boolean, x.rank);
}

Value And(const Value& a, const Value& b) { return Logic(a, b, LogicOp::And); }
Value Or(const Value& a, const Value& b) { return Logic(a, b, LogicOp::Or); }
Value Xor(const Value& a, const Value& b) { return Logic(a, b, LogicOp::Xor); }
Value Eqv(const Value& a, const Value& b) { return Logic(a, b, LogicOp::Eqv); }
Value Imp(const Value& a, const Value& b) { return Logic(a, b, LogicOp::Imp); }

}  // namespace tarv::vbs
