// The parser's reports in the debug log: the words of the script, and the
// script as parsed, one indented line per script line with its statement id.
#include <algorithm>
#include <string>
#include <string_view>

#include "engine/tools/listings.h"
#include "engine/log/log_sink.h"
#include "engine/core/script.h"
#include "engine/core/secret_words.h"

namespace {

// Script words may hold '<' or '&': the lines go out escaped, in pieces small
// enough that even a fully escaped piece fits one debug entry.
constexpr int kLogPiece = 200;

void LogLine(const char* text, int len) {
  const int first = std::min(kLogPiece, len);
  TarvDebugLogEscaped("\n%.*s", first, text);
  for (int pos = first; pos < len; pos += kLogPiece)
    TarvDebugLogEscaped("%.*s", std::min(kLogPiece, len - pos), text + pos);
}

}  // namespace

int NmsParserReport() {
  if (TarvLogLevel() < 4) return 0;
  TarvDebugLog("\nnms.words = [%d], nms.lines = [%d], nms.errors = [%d]", sgNms.WordCount,
               sgNms.LineCount, sgNms.ErrCount);
  TarvDebugLog("\nLine No. Func ID  sentence");
  TarvDebugLog("\n-------- -------- --------------------------------------------------------");
  char line[LISTING_LINE];
  int level = 0;
  for (int l = 1; l <= sgNms.LineCount && l <= MAX_LINES; l++) {
    const int n = NmsListingLine(l, &level, "", line);
    LogLine(line, n);
  }
  TarvDebugLog("\n--------nms Parser Report End.---------\n");
  return 0;
}

int NmsWordReport() {
  if (TarvLogLevel() < 4) return 0;
  TarvDebugLog("\nnms.words = [%d], nms.lines = [%d], nms.errors = [%d]", sgNms.WordCount,
               sgNms.LineCount, sgNms.ErrCount);
  TarvDebugLog("\nLine No. Word No. Length                   value");
  TarvDebugLog(
      "\n-------- -------- ------ --------------------------------------------------------");
  for (int k = 1; k <= sgNms.WordCount; k++) {
    const NmsWord& w = sgNms.Words[k];
    std::string room;
    const std::string_view word = ShownWord(k, room);
    const char* text = word.data();
    const int shown = static_cast<int>(word.size());
    if (w.Pos == 1)
      TarvDebugLogEscaped("\nLine No. %3d (%2d,%2d)[%-17.*s] ", w.Line, 1, w.Length, shown, text);
    else
      TarvDebugLogEscaped("(%2d,%2d)[%-10.*s] ", w.Pos, w.Length, shown, text);
  }
  TarvDebugLog("\n--------nms Parser Words,Report End.---------\n");
  return 0;
}
