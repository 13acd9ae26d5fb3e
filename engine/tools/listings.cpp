// The script listing and the statement list.  The lines are built here into
// fixed buffers; the output pane and the debug log only receive them.
#include "engine/tools/listings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/core/script.h"
#include "engine/core/secret_words.h"
#include "engine/core/statement_table.h"
#include "engine/core/observer.h"

namespace {

constexpr std::string_view kOpeners[] = {"if.va", "if.te", "if.st", "loop.beg", "macro.beg"};
constexpr std::string_view kClosers[] = {"if.en", "loop.end", "macro.end"};
constexpr int kPanePiece = 1000;  // below the pane's 1019-byte format limit

bool BeginsWithAny(std::string_view word, const auto& prefixes) {
  return std::any_of(std::begin(prefixes), std::end(prefixes),
                     [word](std::string_view p) { return word.starts_with(p); });
}

// The longest prefix of text[0..len) of at most `room` bytes that does not
// end inside a UTF-8 sequence.
int Utf8Cut(const char* text, int len, int room) {
  if (len <= room) return len;
  int n = room < 0 ? 0 : room;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) n--;
  return n;
}

// Appends into a fixed line; once something has been cut, nothing more goes in.
struct LineWriter {
  char* dest;
  int limit;
  int len = 0;
  bool full = false;

  void Put(const char* text, int n) {
    if (full) return;
    const int take = Utf8Cut(text, n, limit - len);
    std::memcpy(dest + len, text, take);
    len += take;
    full = take < n;
  }
  void Blanks(int count) {
    if (full) return;
    const int take = std::min(count, limit - len);
    std::memset(dest + len, ' ', take);
    len += take;
    full = take < count;
  }
};

void PaneSink(void*, const char* text, int len) {
  for (int pos = 0; pos < len;) {
    int take = Utf8Cut(text + pos, len - pos, kPanePiece);
    if (take == 0) take = std::min(len - pos, kPanePiece);  // no boundary near: split anyway
    ScreenPrintf("%.*s", take, text + pos);
    pos += take;
  }
}

}  // namespace

int NmsLineLevel(int line, int* level) {
  const int first = (line >= 1 && line <= MAX_LINES) ? sgNms.FirstWord[line] : 0;
  if (first < 1 || first > sgNms.WordCount) return *level;
  const std::string_view word(WordText(first), sgNms.Words[first].Length);
  if (BeginsWithAny(word, kOpeners)) return (*level)++;
  if (BeginsWithAny(word, kClosers)) return --(*level);
  return *level;
}

int NmsListingLine(int line, int* level, const char* tail, char* dest) {
  const int tailLen = static_cast<int>(strnlen(tail, 16));
  LineWriter w{dest, LISTING_LINE - 1 - tailLen};
  const bool valid = line >= 1 && line <= MAX_LINES;

  char head[32];
  const int h =
      std::snprintf(head, sizeof head, "%03d(%03d) ", line, valid ? sgNms.FunID[line] : -1);
  w.Put(head, h);
  // A level below zero (more closers than openers so far) prints as zero.
  const int shown = NmsLineLevel(line, level);
  w.Blanks(4 * std::max(shown, 0) + 1);

  if (valid) {
    const int first = sgNms.FirstWord[line];
    for (int k = 0; k < sgNms.LineWords[line]; k++) {
      const int idx = first + k;
      if (first < 1 || idx > sgNms.WordCount) break;
      std::string room;
      const std::string_view shown = ShownWord(idx, room);
      w.Put(shown.data(), static_cast<int>(shown.size()));
      w.Put(" ", 1);
    }
  }
  std::memcpy(dest + w.len, tail, tailLen);
  dest[w.len + tailLen] = 0;
  return w.len + tailLen;
}

void NmsListScript(ListingSink sink, void* context) {
  char text[LISTING_LINE];
  int level = 0;
  for (int line = 1; line <= sgNms.LineCount && line <= MAX_LINES; line++) {
    const int n = NmsListingLine(line, &level, " \r\n", text);
    sink(context, text, n);
  }
}

void NmsListStatements(ListingSink sink, void* context) {
  static constexpr std::string_view kRule = "--- --- -----------------------------\r\n";
  sink(context, kRule.data(), static_cast<int>(kRule.size()));
  int number = 0;
  for (const FunRow& row : sgFun) {
    if (row.Status <= 0) continue;
    char text[LISTING_LINE];
    const int n =
        std::snprintf(text, sizeof text, "%3d %3d %s\r\n", ++number, row.Group, row.Pattern);
    sink(context, text, std::min(n, LISTING_LINE - 1));
  }
}

int NmsShowScript() {
  if (!ScreenActive()) return 0;
  NmsListScript(PaneSink, nullptr);
  return 0;
}

int NmsShowStatements() {
  if (!ScreenActive()) return 0;
  NmsListStatements(PaneSink, nullptr);
  return 0;
}
