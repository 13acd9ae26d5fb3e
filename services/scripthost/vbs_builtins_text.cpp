// Text functions: positions and lengths count UTF-16 units (vbs_text.h).
#include <algorithm>
#include <charconv>

#include "services/scripthost/vbs_builtins.h"
#include "services/scripthost/vbs_text.h"

namespace tarv::vbs {

namespace {

using Args = std::span<const Value>;

bool IsNull(const Value& v) { return v.kind() == Kind::Null; }

// The compare argument: 0 binary, 1 text; absent means binary.
bool TextMode(Args a, std::size_t i) {
  if (!HasArg(a, i)) return false;
  const std::int32_t m = ToLong(a[i]);
  if (m < -1 || m > 2) ThrowRuntime(kErrInvalidCall);
  return m == 1;
}

std::int64_t Count(const Value& v) {
  const std::int32_t n = ToLong(v);
  if (n < 0) ThrowRuntime(kErrInvalidCall);
  return n;
}

// The text of a value, read in place when it is text, and how many of its
// first bytes are ASCII.
class TextOf {
 public:
  explicit TextOf(const Value& v) {
    if (v.kind() == Kind::String) {
      text_ = v.str();
      ascii_ = v.AsciiPrefix();
    } else {
      own_ = ToString(v);
      text_ = own_;
    }
  }
  TextOf(const TextOf&) = delete;
  TextOf& operator=(const TextOf&) = delete;
  std::string_view text() const { return text_; }
  std::size_t ascii() const { return ascii_; }
  // What is known of the text from byte b on.
  std::size_t AsciiFrom(std::size_t b) const { return ascii_ > b ? ascii_ - b : 0; }

 private:
  std::string own_;
  std::string_view text_;
  std::size_t ascii_ = 0;
};

// Half a unit left by a byte function is no character.
Value Len(Interpreter&, Args a) {
  const Plain x(a[0]);
  if (IsNull(*x)) return *x;
  const TextOf t(*x);
  const std::string_view s = t.text();
  return Value::Long(static_cast<std::int32_t>(Units(s, t.ascii()) - (EndsWithHalfUnit(s) ? 1 : 0)));
}

// A start or length out of range is refused even when the text is Null.
Value Mid(Interpreter&, Args a) {
  if (IsNull(a[1]) || (HasArg(a, 2) && IsNull(a[2]))) ThrowRuntime(kErrInvalidUseOfNull);
  const Plain x(a[0]);
  const std::int32_t start = ToLong(a[1]);
  if (start < 1) ThrowRuntime(kErrInvalidCall);
  const std::int64_t n = HasArg(a, 2) ? Count(a[2]) : 0;
  if (IsNull(*x)) return *x;
  const TextOf t(*x);
  const std::string_view s = t.text();
  const std::size_t b = ByteAt(s, start - 1, t.ascii());
  if (!HasArg(a, 2)) return Value::String(std::string(s.substr(b)));
  const std::size_t e = b + ByteAt(s.substr(b), n, t.AsciiFrom(b));
  return Value::String(std::string(s.substr(b, e - b)));
}

Value Left(Interpreter&, Args a) {
  const Plain x(a[0]);
  const std::int64_t n = Count(a[1]);
  if (IsNull(*x)) return *x;
  const std::string s = ToString(*x);
  return Value::String(s.substr(0, ByteAt(s, n)));
}

Value Right(Interpreter&, Args a) {
  const Plain x(a[0]);
  const std::int64_t n = Count(a[1]);
  if (IsNull(*x)) return *x;
  const std::string s = ToString(*x);
  const std::int64_t total = Units(s);
  if (n >= total) return Value::String(s);
  return Value::String(s.substr(ByteAt(s, total - n)));
}

}  // namespace

std::size_t SearchStart(std::span<const Value> a, std::int64_t* start) {
  std::size_t i = 0;
  if (a.size() >= 3) {
    if (IsNull(a[0])) ThrowRuntime(kErrInvalidUseOfNull);
    *start = ToLong(a[0]);
    if (*start < 1) ThrowRuntime(kErrInvalidCall);
    i = 1;
  }
  if (a.size() - i < 2) ThrowRuntime(kErrWrongArgCount);
  return i;
}

namespace {

// InStr([start,] hay, needle[, compare])
Value InStr(Interpreter&, Args a) {
  std::int64_t start = 1;
  const std::size_t i = SearchStart(a, &start);
  const Plain h(a[i]);
  const Plain n(a[i + 1]);
  if (IsNull(*h) || IsNull(*n)) return Value::Null();
  const bool text = TextMode(a, i + 2);
  const TextOf ht(*h);
  const TextOf nt(*n);
  const std::string_view hay = ht.text();
  const std::string_view needle = nt.text();
  if (start > Units(hay, ht.ascii())) return Value::Long(0);
  const std::size_t from = ByteAt(hay, start - 1, ht.ascii());
  if (needle.empty()) return Value::Long(static_cast<std::int32_t>(start));
  const std::size_t at = FindMode(hay, needle, from, text);
  if (at == std::string::npos) return Value::Long(0);
  return Value::Long(static_cast<std::int32_t>(Units(hay.substr(0, at), std::min(at, ht.ascii())) + 1));
}

// InStrRev(hay, needle[, start[, compare]]): unlike InStr it takes its two
// texts as texts, so a Null is an error rather than passed through.
Value InStrRev(Interpreter&, Args a) {
  const Plain h(a[0]);
  const Plain n(a[1]);
  if (IsNull(*h) || IsNull(*n)) ThrowRuntime(kErrInvalidUseOfNull);
  const std::string hay = ToString(*h);
  const std::string needle = ToString(*n);
  const std::int64_t total = Units(hay);
  std::int64_t start = HasArg(a, 2) ? ToLong(a[2]) : -1;
  if (start == -1) start = total;
  if (start < 1) ThrowRuntime(kErrInvalidCall);
  const bool text = TextMode(a, 3);
  if (start > total) return Value::Long(0);
  if (needle.empty()) return Value::Long(static_cast<std::int32_t>(start));
  const std::string h2 = text ? LowerText(hay) : hay;
  const std::string n2 = text ? LowerText(needle) : needle;
  // The match must end at or before unit `start`.
  const std::size_t end = ByteAt(h2, start);
  if (n2.size() > end) return Value::Long(0);
  const std::size_t at = std::string_view(h2).substr(0, end).rfind(n2);
  if (at == std::string::npos) return Value::Long(0);
  return Value::Long(static_cast<std::int32_t>(Units(std::string_view(hay).substr(0, at)) + 1));
}

// Replace(text, find, with[, start[, count[, compare]]]): the result begins
// at `start`, as VBScript's does.
Value Replace(Interpreter&, Args a) {
  for (std::size_t i = 0; i < 3; ++i) {
    if (IsNull(a[i])) ThrowRuntime(kErrInvalidUseOfNull);
  }
  const std::string s = ToString(a[0]);
  const std::string find = ToString(a[1]);
  const std::string with = ToString(a[2]);
  const std::int32_t start = HasArg(a, 3) ? ToLong(a[3]) : 1;
  if (start < 1) ThrowRuntime(kErrInvalidCall);
  std::int32_t count = HasArg(a, 4) ? ToLong(a[4]) : -1;
  if (count < -1) ThrowRuntime(kErrInvalidCall);
  const bool text = TextMode(a, 5);
  const std::string rest = s.substr(ByteAt(s, start - 1));
  if (find.empty() || count == 0) return Value::String(rest);
  const std::string folded = text ? LowerText(rest) : std::string();
  const std::string folded_find = text ? LowerText(find) : std::string();
  const std::string_view hay = text ? std::string_view(folded) : std::string_view(rest);
  const std::string_view needle = text ? std::string_view(folded_find) : std::string_view(find);
  std::string out;
  std::size_t at = 0;
  for (;;) {
    if (count == 0) break;
    const std::size_t hit = hay.find(needle, at);
    if (hit == std::string::npos) break;
    out.append(rest, at, hit - at);
    out.append(with);
    CheckTextSize(out.size(), with.size());
    at = hit + needle.size();
    if (count > 0) --count;
  }
  out.append(rest, at);
  CheckTextSize(out.size());
  return Value::String(std::move(out));
}

// Split(text[, delimiter[, count[, compare]]])
Value Split(Interpreter&, Args a) {
  if (IsNull(a[0])) ThrowRuntime(kErrInvalidUseOfNull);
  const std::string s = ToString(a[0]);
  const std::string delim = HasArg(a, 1) ? ToString(a[1]) : " ";
  std::int32_t count = HasArg(a, 2) ? ToLong(a[2]) : -1;
  if (count < -1) ThrowRuntime(kErrInvalidCall);
  // Split knows only the binary and the text comparison.
  if (HasArg(a, 3) && ToLong(a[3]) == 2) ThrowRuntime(kErrInvalidCall);
  const bool text = TextMode(a, 3);
  std::vector<Value> parts;
  if (s.empty() || count == 0) return Value::Array(Array::Of(std::move(parts)));
  if (delim.empty()) {
    parts.push_back(Value::String(s));
    return Value::Array(Array::Of(std::move(parts)));
  }
  const std::string hay = text ? LowerText(s) : s;
  const std::string needle = text ? LowerText(delim) : delim;
  std::size_t at = 0;
  for (;;) {
    if (count > 0 && static_cast<std::int32_t>(parts.size()) == count - 1) break;
    const std::size_t hit = hay.find(needle, at);
    if (hit == std::string::npos) break;
    parts.push_back(Value::String(s.substr(at, hit - at)));
    at = hit + needle.size();
  }
  parts.push_back(Value::String(s.substr(at)));
  return Value::Array(Array::Of(std::move(parts)));
}

const Array& OneDimensional(const Value& v) {
  if (v.kind() != Kind::Array) ThrowRuntime(kErrTypeMismatch);
  const Array& arr = *v.array();
  if (arr.upper.size() > 1) ThrowRuntime(kErrSubscriptOutOfRange);
  return arr;
}

Value Join(Interpreter&, Args a) {
  const Array& arr = OneDimensional(a[0]);
  const std::string delim = HasArg(a, 1) ? ToString(a[1]) : " ";
  std::string out;
  for (std::size_t i = 0; i < arr.items.size(); ++i) {
    if (i > 0) out += delim;
    const std::size_t before = out.size();
    if (arr.items[i].kind() != Kind::Null) out += ToString(arr.items[i]);
    CheckTextSize(out.size(), out.size() - before);
  }
  return Value::String(std::move(out));
}

// Filter(array, match[, include[, compare]])
Value Filter(Interpreter&, Args a) {
  if (IsNull(a[0]) || IsNull(a[1])) ThrowRuntime(kErrInvalidUseOfNull);
  const Array& arr = OneDimensional(a[0]);
  const std::string match = ToString(a[1]);
  const bool include = HasArg(a, 2) ? ToBoolean(a[2]) : true;
  const bool text = TextMode(a, 3);
  std::vector<Value> out;
  for (const Value& item : arr.items) {
    const std::string s = ToString(item);
    const bool found = FindMode(s, match, 0, text) != std::string::npos;
    if (found == include) out.push_back(Value::String(s));
  }
  return Value::Array(Array::Of(std::move(out)));
}

template <std::string (*F)(std::string_view)>
Value MapCase(Interpreter&, Args a) {
  const Plain x(a[0]);
  if (IsNull(*x)) return *x;
  return Value::String(F(ToString(*x)));
}

bool IsSpace(char c) { return c == ' '; }

template <bool kLeft, bool kRight>
Value TrimText(Interpreter&, Args a) {
  const Plain x(a[0]);
  if (IsNull(*x)) return *x;
  std::string s = ToString(*x);
  std::size_t b = 0, e = s.size();
  if (kLeft) {
    while (b < e && IsSpace(s[b])) ++b;
  }
  if (kRight) {
    while (e > b && IsSpace(s[e - 1])) --e;
  }
  return Value::String(s.substr(b, e - b));
}

Value Space(Interpreter&, Args a) {
  const std::int64_t n = Count(a[0]);
  CheckTextSize(static_cast<std::uint64_t>(n));
  return Value::String(std::string(static_cast<std::size_t>(n), ' '));
}

// String(count, character): the character is the first of a text, or a
// character code.
Value StringOf(Interpreter&, Args a) {
  if (IsNull(a[0]) || IsNull(a[1])) return Value::Null();
  const std::int64_t n = Count(a[0]);
  std::string unit;
  const Plain c(a[1]);
  if ((*c).kind() == Kind::String) {
    if ((*c).str().empty()) ThrowRuntime(kErrInvalidCall);
    std::size_t len = 0;
    FirstCodePoint((*c).str(), &len);
    unit = (*c).str().substr(0, len);
  } else {
    const std::int32_t code = ToLong(*c) & 0xFF;
    AppendUtf8(unit, static_cast<char32_t>(code));
  }
  CheckTextSize(static_cast<std::uint64_t>(n) * unit.size());
  if (unit.size() == 1) return Value::String(std::string(static_cast<std::size_t>(n), unit[0]));
  std::string out;
  out.reserve(static_cast<std::size_t>(n) * unit.size());
  for (std::int64_t i = 0; i < n; ++i) out += unit;
  return Value::String(std::move(out));
}

Value StrReverse(Interpreter&, Args a) {
  if (IsNull(a[0])) ThrowRuntime(kErrInvalidUseOfNull);
  const std::string s = ToString(a[0]);
  std::string out;
  out.reserve(s.size());
  std::size_t i = s.size();
  // Whole characters move, so multi-byte text stays valid.
  while (i > 0) {
    std::size_t b = i - 1;
    while (b > 0 && (static_cast<unsigned char>(s[b]) & 0xC0) == 0x80) --b;
    out.append(s, b, i - b);
    i = b;
  }
  return Value::String(std::move(out));
}

Value StrComp(Interpreter&, Args a) {
  const Plain x(a[0]);
  const Plain y(a[1]);
  if (IsNull(*x) || IsNull(*y)) return Value::Null();
  return Value::Integer(static_cast<std::int16_t>(CompareMode(ToString(*x), ToString(*y), TextMode(a, 2))));
}

Value ChrOf(std::int32_t code) {
  if (code < 0) code += 65536;
  if (code < 0 || code > 0xFFFF || (code >= 0xD800 && code <= 0xDFFF)) ThrowRuntime(kErrInvalidCall);
  std::string out;
  AppendUtf8(out, static_cast<char32_t>(code));
  return Value::String(std::move(out));
}

// Chr takes the codes of one byte, ChrW any UTF-16 unit.
Value Chr(Interpreter&, Args a) {
  const std::int32_t code = ToLong(a[0]);
  if (code < 0 || code > 255) ThrowRuntime(kErrInvalidCall);
  return ChrOf(code);
}
Value ChrW(Interpreter&, Args a) { return ChrOf(ToLong(a[0])); }

// The first UTF-16 unit as a signed Integer (the high surrogate of a pair).
// Asc gives the same: text here has no narrower code page than Unicode.
Value AscW(Interpreter&, Args a) {
  const std::string s = ToString(a[0]);
  if (s.empty()) ThrowRuntime(kErrInvalidCall);
  std::size_t n = 0;
  char32_t cp = FirstCodePoint(s, &n);
  if (cp >= 0x10000) cp = 0xD800 + ((cp - 0x10000) >> 10);
  return Value::Integer(static_cast<std::int16_t>(static_cast<std::uint16_t>(cp)));
}

// Hex and Oct: negative numbers show their two's complement, 16 bits for an
// Integer, 32 for a Long.
template <int kBase>
Value Radix(Interpreter&, Args a) {
  const Plain x(a[0]);
  std::uint32_t bits;
  switch ((*x).kind()) {
    case Kind::Null: return *x;
    case Kind::Empty: bits = 0; break;
    case Kind::Boolean:
    case Kind::Byte:
    case Kind::Integer: bits = static_cast<std::uint16_t>(ToInteger(*x)); break;
    default: bits = static_cast<std::uint32_t>(ToLong(*x)); break;
  }
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, bits, kBase);
  std::string out(buf, r.ptr);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return (c >= 'a' && c <= 'f') ? static_cast<char>(c - 32) : c; });
  return Value::String(std::move(out));
}

constexpr Builtin kText[] = {
    {"asc", 1, 1, AscW},
    {"ascw", 1, 1, AscW},
    {"chr", 1, 1, Chr},
    {"chrw", 1, 1, ChrW},
    {"filter", 2, 4, Filter},
    {"hex", 1, 1, Radix<16>},
    {"instr", 2, 4, InStr},
    {"instrrev", 2, 4, InStrRev},
    {"join", 1, 2, Join},
    {"lcase", 1, 1, MapCase<LowerText>},
    {"left", 2, 2, Left},
    {"len", 1, 1, Len},
    {"ltrim", 1, 1, TrimText<true, false>},
    {"mid", 2, 3, Mid},
    {"oct", 1, 1, Radix<8>},
    {"replace", 3, 6, Replace},
    {"right", 2, 2, Right},
    {"rtrim", 1, 1, TrimText<false, true>},
    {"space", 1, 1, Space},
    {"split", 1, 4, Split},
    {"strcomp", 2, 3, StrComp},
    {"string", 2, 2, StringOf},
    {"strreverse", 1, 1, StrReverse},
    {"trim", 1, 1, TrimText<true, true>},
    {"ucase", 1, 1, MapCase<UpperText>},
};

}  // namespace

std::span<const Builtin> TextBuiltins() { return kText; }

}  // namespace tarv::vbs
