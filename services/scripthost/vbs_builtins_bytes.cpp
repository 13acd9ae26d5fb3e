// Byte functions, which see text as its UTF-16 units two bytes each (see
// UnitBytes), and Escape/Unescape, which write units as %XX and %uXXXX.
#include <algorithm>
#include <cstdio>

#include "services/scripthost/vbs_builtins.h"
#include "services/scripthost/vbs_text.h"

namespace tarv::vbs {

namespace {

using Args = std::span<const Value>;

bool IsNull(const Value& v) { return v.kind() == Kind::Null; }

std::int64_t ByteCount(const Value& v) {
  const std::int32_t n = ToLong(v);
  if (n < 0) ThrowRuntime(kErrInvalidCall);
  return n;
}

Value FromBytes(std::string_view bytes) { return Value::String(TextOfUnitBytes(bytes)); }

Value LenB(Interpreter&, Args a) {
  const Plain x(a[0]);
  if (IsNull(*x)) return *x;
  return Value::Long(static_cast<std::int32_t>(UnitBytes(ToString(*x)).size()));
}

Value AscB(Interpreter&, Args a) {
  const std::string b = UnitBytes(ToString(a[0]));
  if (b.empty()) ThrowRuntime(kErrInvalidCall);
  return Value::Integer(static_cast<unsigned char>(b[0]));
}

Value ChrB(Interpreter&, Args a) {
  const std::int32_t code = ToLong(a[0]);
  if (code < 0 || code > 255) ThrowRuntime(kErrInvalidCall);
  return FromBytes(std::string(1, static_cast<char>(code)));
}

Value LeftB(Interpreter&, Args a) {
  const Plain x(a[0]);
  const std::int64_t n = ByteCount(a[1]);
  if (IsNull(*x)) return *x;
  const std::string b = UnitBytes(ToString(*x));
  return FromBytes(std::string_view(b).substr(0, static_cast<std::size_t>(std::min<std::int64_t>(n, b.size()))));
}

Value RightB(Interpreter&, Args a) {
  const Plain x(a[0]);
  const std::int64_t n = ByteCount(a[1]);
  if (IsNull(*x)) return *x;
  const std::string b = UnitBytes(ToString(*x));
  if (n >= static_cast<std::int64_t>(b.size())) return FromBytes(b);
  return FromBytes(std::string_view(b).substr(b.size() - static_cast<std::size_t>(n)));
}

Value MidB(Interpreter&, Args a) {
  if (IsNull(a[1]) || (HasArg(a, 2) && IsNull(a[2]))) ThrowRuntime(kErrInvalidUseOfNull);
  const Plain x(a[0]);
  const std::int32_t start = ToLong(a[1]);
  if (start < 1) ThrowRuntime(kErrInvalidCall);
  const std::int64_t n = HasArg(a, 2) ? ByteCount(a[2]) : 0;
  if (IsNull(*x)) return *x;
  const std::string b = UnitBytes(ToString(*x));
  const std::size_t from = std::min<std::size_t>(static_cast<std::size_t>(start) - 1, b.size());
  const std::string_view rest = std::string_view(b).substr(from);
  if (!HasArg(a, 2)) return FromBytes(rest);
  return FromBytes(rest.substr(0, static_cast<std::size_t>(std::min<std::int64_t>(n, rest.size()))));
}

// InStrB([start,] hay, needle[, compare]): byte positions, always binary.
Value InStrB(Interpreter&, Args a) {
  std::int64_t start = 1;
  const std::size_t i = SearchStart(a, &start);
  const Plain h(a[i]);
  const Plain n(a[i + 1]);
  if (IsNull(*h) || IsNull(*n)) return Value::Null();
  const std::string hay = UnitBytes(ToString(*h));
  const std::string needle = UnitBytes(ToString(*n));
  if (start > static_cast<std::int64_t>(hay.size())) return Value::Long(0);
  if (needle.empty()) return Value::Long(static_cast<std::int32_t>(start));
  const std::size_t at = hay.find(needle, static_cast<std::size_t>(start) - 1);
  return Value::Long(at == std::string::npos ? 0 : static_cast<std::int32_t>(at) + 1);
}

bool KeptByEscape(char32_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return c == '@' || c == '*' || c == '_' || c == '+' || c == '-' || c == '.' || c == '/';
}

Value Escape(Interpreter&, Args a) {
  const Plain x(a[0]);
  if (IsNull(*x)) return *x;
  const std::string b = UnitBytes(ToString(*x));
  std::string out;
  char buf[8];
  for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
    const unsigned u = static_cast<unsigned char>(b[i]) | static_cast<unsigned>(static_cast<unsigned char>(b[i + 1])) << 8;
    if (KeptByEscape(u)) {
      out.push_back(static_cast<char>(u));
      continue;
    }
    std::snprintf(buf, sizeof buf, u < 0x100 ? "%%%02X" : "%%u%04X", u);
    out += buf;
    CheckTextSize(out.size(), 6);
  }
  return Value::String(std::move(out));
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The number of `digits` hex digits at s[at], or -1.
int HexAt(std::string_view s, std::size_t at, std::size_t digits) {
  if (at + digits > s.size()) return -1;
  int v = 0;
  for (std::size_t k = 0; k < digits; ++k) {
    const int d = HexValue(s[at + k]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

// %uXXXX and %XX become their units; any other % stays as it is.
Value Unescape(Interpreter&, Args a) {
  const Plain x(a[0]);
  if (IsNull(*x)) return *x;
  const std::string s = ToString(*x);
  std::string bytes;
  auto unit = [&bytes](int u) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>((u >> 8) & 0xFF));
  };
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '%') {
      const bool wide = i + 1 < s.size() && (s[i + 1] == 'u' || s[i + 1] == 'U');
      const int v = wide ? HexAt(s, i + 2, 4) : HexAt(s, i + 1, 2);
      if (v >= 0) {
        unit(v);
        i += wide ? 6 : 3;
        continue;
      }
    }
    std::size_t n = 0;
    FirstCodePoint(std::string_view(s).substr(i), &n);
    bytes += UnitBytes(std::string_view(s).substr(i, n));
    i += n;
  }
  return FromBytes(bytes);
}

constexpr Builtin kBytes[] = {
    {"ascb", 1, 1, AscB},
    {"chrb", 1, 1, ChrB},
    {"escape", 1, 1, Escape},
    {"instrb", 2, 4, InStrB},
    {"leftb", 2, 2, LeftB},
    {"lenb", 1, 1, LenB},
    {"midb", 2, 3, MidB},
    {"rightb", 2, 2, RightB},
    {"unescape", 1, 1, Unescape},
};

}  // namespace

std::span<const Builtin> ByteBuiltins() { return kBytes; }

}  // namespace tarv::vbs
