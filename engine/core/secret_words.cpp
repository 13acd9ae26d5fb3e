#include "engine/core/secret_words.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "engine/core/script.h"

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string_view Word(int w) {
  return {WordText(w), static_cast<size_t>(std::max(sgNms.Words[w].Length, 0))};
}

bool IsArgument(int w) { return sgNms.Words[w].Length >= 2 && WordText(w)[0] == '{'; }

// The header name word of web.add header: a secret one, or one whose text is
// made at run time and so cannot be told here.
bool SecretNameWord(int w) {
  if (!IsArgument(w)) return false;
  const std::string_view inner = Word(w).substr(1, Word(w).size() - 2);
  if (inner.find_first_of("~%") != std::string_view::npos) return true;
  return SecretHeaderName(inner);
}

}  // namespace

bool SecretHeaderName(std::string_view name) {
  name = Trimmed(name);
  for (std::string_view secret : {"Authorization", "Proxy-Authorization", "Cookie", "Set-Cookie"})
    if (SameIgnoringCase(name, secret)) return true;
  return false;
}

bool SecretWord(int w) {
  if (w < 2 || w > sgNms.WordCount || !IsArgument(w)) return false;
  if (Word(w - 1) == "password") return true;
  return w > 4 && Word(w - 1) == "value" && Word(w - 3) == "header" && Word(w - 4) == "web.add" &&
         SecretNameWord(w - 2);
}

void AppendHeaderMasked(std::string& out, std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos || !SecretHeaderName(line.substr(0, colon))) {
    out += line;
    return;
  }
  out += line.substr(0, colon + 1);
  out += ' ';
  out += kMaskedValue;
}

std::string HeaderBlockMasked(std::string_view block) {
  std::string out;
  out.reserve(block.size());
  while (!block.empty()) {
    size_t end = block.find('\n');
    end = end == std::string_view::npos ? block.size() : end;
    size_t text = end;
    if (text > 0 && block[text - 1] == '\r') text--;
    AppendHeaderMasked(out, block.substr(0, text));
    out += block.substr(text, end < block.size() ? end + 1 - text : end - text);
    block.remove_prefix(end < block.size() ? end + 1 : end);
  }
  return out;
}
