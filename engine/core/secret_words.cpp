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

bool FindUrlSecret(std::string_view text, size_t from, size_t& begin, size_t& end) {
  for (size_t start = text.find("://", from); start != std::string_view::npos;) {
    const size_t host = start + 3;
    // The authority ends where the path, the query or the fragment begins,
    // at a control byte, and at the braces that close a script word.
    size_t stop = host;
    while (stop < text.size()) {
      const auto c = static_cast<unsigned char>(text[stop]);
      if (c < 0x20 || c == 0x7F || c == '/' || c == '?' || c == '#' || c == '{' || c == '}') break;
      stop++;
    }
    const size_t at = text.substr(host, stop - host).rfind('@');
    if (at != std::string_view::npos && at > 0) {
      const size_t colon = text.substr(host, at).find(':');
      begin = colon == std::string_view::npos ? host : host + colon + 1;
      end = host + at;
      if (begin < end) return true;
    }
    start = text.find("://", stop > host ? stop : host);
  }
  return false;
}

std::string_view UrlSecretsMasked(std::string_view text, std::string& room) {
  size_t begin = 0;
  size_t end = 0;
  if (!FindUrlSecret(text, 0, begin, end)) return text;
  room.clear();
  size_t done = 0;
  do {
    room.append(text.substr(done, begin - done));
    room.append(kMaskedValue);
    done = end;
  } while (FindUrlSecret(text, done, begin, end));
  room.append(text.substr(done));
  return room;
}

std::string_view ShownWord(int w, std::string& room) {
  if (SecretWord(w)) return kMaskedWord;
  if (w < 1 || w > sgNms.WordCount) return {};
  return UrlSecretsMasked(Word(w), room);
}

bool WordHoldsSecret(int w) {
  if (SecretWord(w)) return true;
  if (w < 1 || w > sgNms.WordCount) return false;
  size_t begin = 0;
  size_t end = 0;
  return FindUrlSecret(Word(w), 0, begin, end);
}

void AppendHeaderMasked(std::string& out, std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos || !SecretHeaderName(line.substr(0, colon))) {
    std::string room;
    out += UrlSecretsMasked(line, room);
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
    const size_t end = std::min(block.find_first_of("\r\n"), block.size());
    AppendHeaderMasked(out, block.substr(0, end));
    if (end < block.size()) out += block[end];
    block.remove_prefix(end < block.size() ? end + 1 : end);
  }
  return out;
}
