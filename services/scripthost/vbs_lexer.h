// Splits VBScript source into tokens. Line ends and ':' separate statements
// and are tokens of their own; comments and line continuations vanish here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "services/scripthost/vbs_value.h"

namespace tarv::vbs {

enum class Tok {
  End,        // end of the source
  Newline,    // line end
  Colon,      // statement separator
  Identifier, // a name or a keyword; `folded` holds it in lower case
  Number,     // `value` holds an Integer, Long or Double
  String,     // `value` holds the text, doubled quotes made single
  LParen,
  RParen,
  Comma,
  Dot,
  Plus,
  Minus,
  Star,
  Slash,
  Backslash,
  Caret,
  Ampersand,
  Eq,
  Ne,
  Lt,
  Gt,
  Le,
  Ge,
};

struct Pos {
  int line = 1;
  int column = 1;
};

struct Token {
  Tok kind = Tok::End;
  Pos pos;
  std::string text;    // as written
  std::string folded;  // identifiers: lower case
  Value value;         // numbers and strings
  bool spaced = false; // blanks of the same line stand right before it
};

// Words the language keeps for itself; none can name a variable.
bool IsReservedWord(std::string_view folded);

// The text of the given 1-based line, without its line end.
std::string SourceLine(std::string_view source, int line);

// Throws the compile-time error `number` found at `at` in `source`.
[[noreturn]] void ThrowCompile(int number, std::string_view source, Pos at);

// Throws a compile-time ScriptError (bad character, unterminated string,
// malformed number) that carries the position.
std::vector<Token> Tokenize(std::string_view source);

}  // namespace tarv::vbs
