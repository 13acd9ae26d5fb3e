// Text as scripts see it: UTF-8 bytes counted in UTF-16 units (so a
// character outside the Basic Multilingual Plane counts two, as in VBScript),
// and the case folding of text comparison.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarv::vbs {

// UTF-16 units in s.
std::int64_t Units(std::string_view s);
// Byte offset where unit `unit` (0-based) begins; s.size() past the end. A
// unit in the middle of a pair rounds up to the next character.
std::size_t ByteAt(std::string_view s, std::int64_t unit);
// The same, for text whose first `ascii` bytes are known to be ASCII (one
// unit a byte): only what lies past them is walked.
inline std::int64_t Units(std::string_view s, std::size_t ascii) {
  return static_cast<std::int64_t>(ascii) + Units(s.substr(ascii));
}
inline std::size_t ByteAt(std::string_view s, std::int64_t unit, std::size_t ascii) {
  if (unit <= 0) return 0;
  if (static_cast<std::uint64_t>(unit) <= ascii) return static_cast<std::size_t>(unit);
  return ascii + ByteAt(s.substr(ascii), unit - static_cast<std::int64_t>(ascii));
}
// The first code point of s and its length in bytes; 0xFFFD for a bad byte.
char32_t FirstCodePoint(std::string_view s, std::size_t* length);
void AppendUtf8(std::string& out, char32_t cp);

// Upper and lower case of ASCII, Latin-1, Greek and Cyrillic letters; other
// text unchanged. Byte lengths never change.
std::string UpperText(std::string_view s);
std::string LowerText(std::string_view s);

// The bytes of text as a script's byte functions see them: each UTF-16 unit
// low byte first. A string may end in half a unit (ChrB, LeftB of an odd
// count): that byte is kept as the private character U+F700 + byte, which
// the byte functions count as one byte and concatenation joins with the
// bytes that follow it.
std::string UnitBytes(std::string_view s);
std::string TextOfUnitBytes(std::string_view bytes);
// Asked of every concatenation, so it reads bytes: U+F700..U+F7FF is
// EF 9C 80 .. EF 9F BF.
inline bool EndsWithHalfUnit(std::string_view s) {
  const std::size_t n = s.size();
  return n >= 3 && static_cast<unsigned char>(s[n - 3]) == 0xEF && (static_cast<unsigned char>(s[n - 2]) & 0xFC) == 0x9C;
}

// Compare as StrComp does: binary (bytes) or text (case folded).
int CompareMode(std::string_view a, std::string_view b, bool text);
// Byte offset of `needle` in `hay` from byte `from`, or npos.
std::size_t FindMode(std::string_view hay, std::string_view needle, std::size_t from, bool text);

}  // namespace tarv::vbs
