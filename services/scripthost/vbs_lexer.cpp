#include "services/scripthost/vbs_lexer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <optional>

#include "services/scripthost/vbs_date.h"

namespace tarv::vbs {

namespace {

constexpr std::size_t kMaxIdentifier = 255;

constexpr std::array<std::string_view, 54> kReserved = {
    "and",     "byref",   "byval",  "call",    "case",    "class",    "const",  "dim",
    "do",      "each",    "else",   "elseif",  "empty",   "end",      "eqv",    "erase",
    "exit",    "false",   "for",    "function", "goto",   "if",       "imp",    "in",
    "is",      "let",     "loop",   "me",      "mod",     "new",      "next",   "not",
    "nothing", "null",    "on",     "option",  "or",      "preserve", "private",
    "public",  "redim",   "rem",    "resume",  "select",  "set",      "stop",   "sub",
    "then",    "to",      "true",   "until",   "wend",    "while",    "with",
};

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

class Lexer {
 public:
  explicit Lexer(std::string_view src) : src_(src) {}

  std::vector<Token> Run() {
    std::vector<Token> out;
    bool statement_start = true;
    for (;;) {
      const std::size_t before = i_;
      const bool continued = SkipBlanksAndContinuations();
      const bool spaced = i_ != before && !continued;
      const Pos start = pos_;
      const std::size_t begin = i_;
      if (AtEnd()) {
        out.push_back(Make(Tok::End, start, begin));
        return out;
      }
      const char c = src_[i_];
      if (c == '\'') {
        SkipToLineEnd();
        continue;
      }
      if (IsLineEnd(c)) {
        ConsumeLineEnd();
        out.push_back(Make(Tok::Newline, start, begin));
        statement_start = true;
        continue;
      }
      Token t = Next(start);
      if (t.kind == Tok::Identifier && t.folded == "rem" && statement_start) {
        SkipToLineEnd();
        continue;
      }
      statement_start = t.kind == Tok::Colon;
      t.spaced = spaced;
      out.push_back(std::move(t));
    }
  }

 private:
  bool AtEnd() const { return i_ >= src_.size(); }
  char Peek(std::size_t ahead = 0) const {
    return i_ + ahead < src_.size() ? src_[i_ + ahead] : '\0';
  }

  void Advance() {
    ++i_;
    ++pos_.column;
  }

  void ConsumeLineEnd() {
    if (Peek() == '\r' && Peek(1) == '\n') ++i_;
    ++i_;
    ++pos_.line;
    pos_.column = 1;
  }

  void SkipToLineEnd() {
    while (!AtEnd() && !IsLineEnd(Peek())) Advance();
  }

  // " _" followed by blanks and a line end joins the next line to this one.
  // True when a line was joined.
  bool SkipBlanksAndContinuations() {
    bool joined = false;
    for (;;) {
      while (IsBlank(Peek())) Advance();
      if (Peek() != '_') return joined;
      std::size_t k = 1;
      while (IsBlank(Peek(k))) ++k;
      if (!IsLineEnd(Peek(k))) return joined;
      for (std::size_t n = 0; n < k; ++n) Advance();
      ConsumeLineEnd();
      joined = true;
    }
  }

  Token Make(Tok kind, Pos start, std::size_t begin) const {
    Token t;
    t.kind = kind;
    t.pos = start;
    t.text = std::string(src_.substr(begin, i_ - begin));
    return t;
  }

  [[noreturn]] void Fail(int number, Pos at) const { ThrowCompile(number, src_, at); }

  Token Next(Pos start) {
    const std::size_t begin = i_;
    const char c = Peek();
    if (IsLetter(c)) return Word(start);
    if (IsDigit(c) || (c == '.' && IsDigit(Peek(1)))) return Number(start);
    if (c == '"') return StringLiteral(start);
    if (c == '#') return DateLiteral(start);
    if (c == '&') {
      const char tag = Peek(1);
      const bool hex = (tag == 'h' || tag == 'H') && DigitValue(Peek(2)) < 16;
      const bool oct = (tag == 'o' || tag == 'O') && DigitValue(Peek(2)) < 8;
      if (hex || oct) return Radix(start, hex ? 16 : 8);
    }
    Tok kind;
    switch (c) {
      case ':': kind = Tok::Colon; break;
      case '(': kind = Tok::LParen; break;
      case ')': kind = Tok::RParen; break;
      case ',': kind = Tok::Comma; break;
      case '.': kind = Tok::Dot; break;
      case '+': kind = Tok::Plus; break;
      case '-': kind = Tok::Minus; break;
      case '*': kind = Tok::Star; break;
      case '/': kind = Tok::Slash; break;
      case '\\': kind = Tok::Backslash; break;
      case '^': kind = Tok::Caret; break;
      case '&': kind = Tok::Ampersand; break;
      // The operators may also be written turned round: => =< ><.
      case '=':
        kind = Peek(1) == '>' ? Tok::Ge : Peek(1) == '<' ? Tok::Le : Tok::Eq;
        if (kind != Tok::Eq) Advance();
        break;
      case '<':
        kind = Peek(1) == '>' ? Tok::Ne : Peek(1) == '=' ? Tok::Le : Tok::Lt;
        if (kind != Tok::Lt) Advance();
        break;
      case '>':
        kind = Peek(1) == '=' ? Tok::Ge : Peek(1) == '<' ? Tok::Ne : Tok::Gt;
        if (kind != Tok::Gt) Advance();
        break;
      default: Fail(kErrInvalidCharacter, start);
    }
    Advance();
    return Make(kind, start, begin);
  }

  Token Word(Pos start) {
    const std::size_t begin = i_;
    while (IsLetter(Peek()) || IsDigit(Peek()) || Peek() == '_') Advance();
    if (i_ - begin > kMaxIdentifier) Fail(kErrIdentifierTooLong, start);
    Token t = Make(Tok::Identifier, start, begin);
    t.folded = FoldCase(t.text);
    return t;
  }

  Token Number(Pos start) {
    const std::size_t begin = i_;
    bool whole = true;
    while (IsDigit(Peek())) Advance();
    if (Peek() == '.') {
      whole = false;
      Advance();
      while (IsDigit(Peek())) Advance();
    }
    // An exponent needs digits; "2e" is the number 2 followed by a name.
    const char e = Peek();
    if (e == 'e' || e == 'E') {
      const std::size_t skip = (Peek(1) == '+' || Peek(1) == '-') ? 2 : 1;
      if (IsDigit(Peek(skip))) {
        whole = false;
        for (std::size_t n = 0; n < skip; ++n) Advance();
        while (IsDigit(Peek())) Advance();
      }
    }
    Token t = Make(Tok::Number, start, begin);
    const std::string_view digits = src_.substr(begin, i_ - begin);
    if (whole) {
      std::uint64_t v = 0;
      for (char d : digits) {
        v = v * 10 + static_cast<unsigned>(d - '0');
        if (v > INT32_MAX) break;
      }
      if (v <= INT16_MAX) {
        t.value = Value::Integer(static_cast<std::int16_t>(v));
        return t;
      }
      if (v <= INT32_MAX) {
        t.value = Value::Long(static_cast<std::int32_t>(v));
        return t;
      }
    }
    double d = 0;
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), d,
                             std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range && digits.find("e-") != std::string_view::npos) {
      d = 0;  // too small to hold: zero, as a tiny literal means
    } else if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) {
      Fail(kErrInvalidNumber, start);
    }
    t.value = Value::Double(d);
    return t;
  }

  // &Hxxxx and &Oxxx: up to 16 bits are read as 16 (so &HFFFF is -1), more as
  // 32; a trailing '&' reads even a short one as 32 bits (&HFFFF& is 65535).
  // Like any whole number written out, the value is an Integer when it fits.
  Token Radix(Pos start, int base) {
    const std::size_t begin = i_;
    Advance();
    Advance();
    std::uint64_t v = 0;
    while (DigitValue(Peek()) < base) {
      v = v * static_cast<unsigned>(base) + static_cast<unsigned>(DigitValue(Peek()));
      if (v > 0xFFFFFFFFu) Fail(kErrInvalidNumber, start);
      Advance();
    }
    bool wide = v > 0xFFFF;
    if (Peek() == '&') {
      wide = true;
      Advance();
    }
    Token t = Make(Tok::Number, start, begin);
    const std::int32_t n = wide ? static_cast<std::int32_t>(static_cast<std::uint32_t>(v))
                                : static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
    t.value = n >= INT16_MIN && n <= INT16_MAX ? Value::Integer(static_cast<std::int16_t>(n)) : Value::Long(n);
    return t;
  }

  // #1/2/2020#, #3:04:05 PM#, #2020-01-02 15:04#: a Date written in the source.
  Token DateLiteral(Pos start) {
    const std::size_t begin = i_;
    Advance();
    while (!AtEnd() && Peek() != '#' && !IsLineEnd(Peek())) Advance();
    if (Peek() != '#') Fail(kErrInvalidCharacter, start);
    const std::string_view inside = src_.substr(begin + 1, i_ - begin - 1);
    Advance();
    const std::optional<double> serial = ParseDate(inside);
    if (!serial) Fail(kErrInvalidCharacter, start);
    Token t = Make(Tok::Number, start, begin);
    t.value = Value::Date(*serial);
    return t;
  }

  Token StringLiteral(Pos start) {
    const std::size_t begin = i_;
    Advance();
    std::string text;
    for (;;) {
      if (AtEnd() || IsLineEnd(Peek())) Fail(kErrUnterminatedString, start);
      if (Peek() == '"') {
        if (Peek(1) != '"') break;
        Advance();
      }
      text.push_back(Peek());
      Advance();
    }
    Advance();
    Token t = Make(Tok::String, start, begin);
    t.value = Value::String(std::move(text));
    return t;
  }

  std::string_view src_;
  std::size_t i_ = 0;
  Pos pos_;
};

}  // namespace

bool IsReservedWord(std::string_view folded) {
  return std::find(kReserved.begin(), kReserved.end(), folded) != kReserved.end();
}

std::string SourceLine(std::string_view source, int line) {
  std::size_t at = 0;
  for (int n = 1; n < line; ++n) {
    const std::size_t end = source.find_first_of("\r\n", at);
    if (end == std::string_view::npos) return {};
    at = end + ((source[end] == '\r' && end + 1 < source.size() && source[end + 1] == '\n') ? 2 : 1);
  }
  const std::size_t end = source.find_first_of("\r\n", at);
  return std::string(source.substr(at, end == std::string_view::npos ? end : end - at));
}

void ThrowCompile(int number, std::string_view source, Pos at) {
  Error e;
  e.number = number;
  e.description = std::string(ErrorDescription(number));
  e.line = at.line;
  e.column = at.column;
  e.source_text = SourceLine(source, at.line);
  e.compile = true;
  throw ScriptError(std::move(e));
}

std::vector<Token> Tokenize(std::string_view source) { return Lexer(source).Run(); }

}  // namespace tarv::vbs
