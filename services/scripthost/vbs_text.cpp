#include "services/scripthost/vbs_text.h"

namespace tarv::vbs {

namespace {

std::size_t SeqLength(unsigned char c) {
  if (c < 0x80) return 1;
  if (c >= 0xF0) return 4;
  if (c >= 0xE0) return 3;
  if (c >= 0xC0) return 2;
  return 1;  // a stray continuation byte counts alone
}

char32_t Upper(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

char32_t Lower(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

template <char32_t (*F)(char32_t)>
std::string MapText(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(F(c)));
      ++i;
      continue;
    }
    std::size_t n = 0;
    const char32_t cp = FirstCodePoint(s.substr(i), &n);
    const char32_t mapped = F(cp);
    if (mapped != cp && cp != 0xFFFD) AppendUtf8(out, mapped);
    else out.append(s.substr(i, n));
    i += n;
  }
  return out;
}

}  // namespace

// Walks characters as ByteAt does, so that both agree on broken text too.
std::int64_t Units(std::string_view s) {
  // Plain ASCII, the usual text, is one unit a byte.
  std::size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) i++;
  std::int64_t u = static_cast<std::int64_t>(i);
  while (i < s.size()) {
    const std::size_t n = SeqLength(static_cast<unsigned char>(s[i]));
    u += n == 4 ? 2 : 1;  // outside the BMP: a surrogate pair
    i += n;
  }
  return u;
}

std::size_t ByteAt(std::string_view s, std::int64_t unit) {
  std::size_t i = 0;
  std::int64_t u = 0;
  while (i < s.size() && u < unit) {
    const std::size_t n = SeqLength(static_cast<unsigned char>(s[i]));
    u += n == 4 ? 2 : 1;
    i += n;
  }
  return i < s.size() ? i : s.size();
}

char32_t FirstCodePoint(std::string_view s, std::size_t* length) {
  if (s.empty()) {
    *length = 0;
    return 0;
  }
  const unsigned char c = static_cast<unsigned char>(s[0]);
  const std::size_t n = SeqLength(c);
  if (n == 1 || n > s.size()) {
    *length = 1;
    return c < 0x80 ? c : 0xFFFD;
  }
  char32_t cp = c & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    const unsigned char d = static_cast<unsigned char>(s[k]);
    if ((d & 0xC0) != 0x80) {
      *length = 1;
      return 0xFFFD;
    }
    cp = (cp << 6) | (d & 0x3F);
  }
  *length = n;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

namespace {
constexpr char32_t kHalfUnit = 0xF700;
bool IsHalfUnit(char32_t cp) { return cp >= kHalfUnit && cp <= kHalfUnit + 0xFF; }
}  // namespace

std::string UnitBytes(std::string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  auto unit = [&out](char32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>((u >> 8) & 0xFF));
  };
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t n = 0;
    const char32_t cp = FirstCodePoint(s.substr(i), &n);
    i += n;
    if (IsHalfUnit(cp)) {
      out.push_back(static_cast<char>(cp - kHalfUnit));
    } else if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

std::string TextOfUnitBytes(std::string_view bytes) {
  std::string out;
  std::size_t i = 0;
  auto at = [&bytes](std::size_t k) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[k]) | static_cast<unsigned char>(bytes[k + 1]) << 8);
  };
  while (i + 1 < bytes.size()) {
    const char32_t u = at(i);
    i += 2;
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < bytes.size()) {
      const char32_t low = at(i);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, u);
  }
  if (i < bytes.size()) AppendUtf8(out, kHalfUnit + static_cast<unsigned char>(bytes[i]));
  return out;
}

std::string UpperText(std::string_view s) { return MapText<Upper>(s); }
std::string LowerText(std::string_view s) { return MapText<Lower>(s); }

int CompareMode(std::string_view a, std::string_view b, bool text) {
  int c;
  if (text) {
    c = LowerText(a).compare(LowerText(b));
  } else {
    c = a.compare(b);
  }
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::size_t FindMode(std::string_view hay, std::string_view needle, std::size_t from, bool text) {
  if (from > hay.size()) return std::string_view::npos;
  if (!text) return hay.find(needle, from);
  const std::string h = LowerText(hay);
  const std::string n = LowerText(needle);
  return h.find(n, from);
}

}  // namespace tarv::vbs
