// The word scanner and the line matcher.
#include <cstdio>
#include <cstring>

#include "engine/tools/listings.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/script.h"
#include "engine/core/step_args.h"
#include "engine/core/statement_table.h"
#include "engine/util/util.h"

NmsScript sgNms;

namespace {
enum ScanState { BETWEEN = 1, PLAIN = 2, ARG = 3, COMMENT = 4 };

// Starts word number WordCount+1 at byte i; false when the script has no
// room for another word (the scan must stop).
bool StartWord(int i, int pos) {
  if (sgNms.WordCount + 1 > MAX_SCRIPT_WORDS) {
    NmsError(-1, "NMS文件第%d行,第%d个词,词已太多，请缩减脚本!", sgNms.LineCount,
             MAX_SCRIPT_WORDS + 1);
    return false;
  }
  // The per-line tables hold lines 1..1023; a word past them cannot be run.
  if (sgNms.LineCount > MAX_LINES) {
    NmsError(-1, "NMS file line %d: too many lines, a script has at most %d!", sgNms.LineCount,
             MAX_LINES);
    return false;
  }
  NmsWord& w = sgNms.Words[++sgNms.WordCount];
  w.Offset = i;
  w.Length = 0;
  w.Line = sgNms.LineCount;
  w.Pos = pos;
  return true;
}

}  // namespace

int ParserWord() {
  // What the step runner learnt of the previous script's words.
  StepArgsForgetWords();
  sgNms.LineCount = 1;
  sgNms.WordCount = 0;
  int pos = 0;
  int state = BETWEEN;
  const char* s = sgNms.Script.data();
  const int end = sgNms.ScriptLen;
  bool stopped = false;
  for (int i = 1; i <= end && !stopped; i++) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    NmsWord& cur = sgNms.Words[sgNms.WordCount];
    if (c == '\n') {
      sgNms.LineCount++;
      pos = 0;
    }
    switch (state) {
      case BETWEEN:
        if (TarvIsSpace(c)) break;
        if (!StartWord(i, ++pos)) {
          stopped = true;
          break;
        }
        if (c == '{') {
          sgNms.Words[sgNms.WordCount].Kind = WORD_ARG;
          state = ARG;
        } else if (c == '#') {
          sgNms.Words[sgNms.WordCount].Kind = WORD_COMMENT;
          state = COMMENT;
        } else {
          sgNms.Words[sgNms.WordCount].Kind = WORD_KEY;
          state = PLAIN;
        }
        break;
      case PLAIN:
        if (TarvIsSpace(c)) {
          cur.Length = i - cur.Offset;
          state = BETWEEN;
        } else if (c == '{') {
          cur.Length = i - cur.Offset;
          if (!StartWord(i, ++pos)) {
            stopped = true;
            break;
          }
          sgNms.Words[sgNms.WordCount].Kind = WORD_ARG;
          state = ARG;
        }
        break;
      case ARG:
        if (c == '}') {
          cur.Length = i - cur.Offset + 1;
          state = BETWEEN;
        } else if (c == '{') {
          NmsError(-1, "NMS文件第%d行,第%d个参数缺少}结束或者{需要进行转义", sgNms.LineCount,
                   sgNms.WordCount);
          cur.Length = 0;
          state = BETWEEN;
          stopped = true;
        }
        break;
      case COMMENT:
        if (c == '\n') {
          // The line end is taken as CR LF.
          cur.Length = i - cur.Offset - 1;
          state = BETWEEN;
        }
        break;
      default:
        NmsError(-1, "NMS文件第%d行,第%d个参数，有限状态机状态错误=%d", sgNms.LineCount,
                 sgNms.WordCount, state);
        break;
    }
  }
  if (!stopped && state != BETWEEN) {
    NmsWord& cur = sgNms.Words[sgNms.WordCount];
    if (state == ARG) {
      // An argument still open at the end of the file has no closing brace:
      // the same fault as a '{' inside it, not a word missing its last byte.
      NmsError(-1, "NMS文件第%d行,第%d个参数缺少}结束或者{需要进行转义", sgNms.LineCount,
               sgNms.WordCount);
      cur.Length = 0;
    } else {
      cur.Length = end - cur.Offset + 1;
    }
  }
  NmsWordReport();
  return sgNms.ErrCount;
}

int TarvGetLineFunctionName(int line, int lines, char* name, int* words) {
  int total = 0;
  for (int l = line; l < line + lines && l <= MAX_LINES; l++) total += sgNms.LineWords[l];
  *words = total;
  TarvDebugLog("\nTarvGetLineFunctionName( iInLine=%d, iInLines=%d, ) Words=%d ", line, lines,
               total);
  int len = 0;
  const int room = FUN_NAME_SIZE - 1;
  int first = sgNms.FirstWord[line];
  for (int k = 1; k <= total && first + k - 1 <= sgNms.WordCount; k++) {
    const NmsWord& w = sgNms.Words[first + k - 1];
    char piece[32];
    const char* src;
    int n;
    if (w.Kind == WORD_KEY) {
      src = WordText(first + k - 1);
      n = w.Length;
    } else {
      n = std::snprintf(piece, sizeof piece, "{A%d}", k);
      src = piece;
    }
    // A name that outgrows its buffer is cut: it is then far longer than any
    // pattern and matches nothing, as the whole name would not.
    if (len > 0 && len < room) name[len++] = ' ';
    int take = n < room - len ? n : room - len;
    if (take > 0) {
      std::memcpy(name + len, src, take);
      len += take;
    }
  }
  name[len] = 0;
  return TarvReturn(len, "FunctionName: [%s], len=%d", name, len);
}

int GetCallFunction(const char* name, int len, int words) {
  for (const FunRow& r : sgFun) {
    if (r.Words == words && r.Length == len && std::memcmp(r.Pattern, name, len) == 0)
      return TarvReturn(r.Id, "Function Name: [%s], FunID = [%d]", name, r.Id);
  }
  return TarvReturn(-1, "GetCallFunction[%s]: error!", name);
}

int ParserLine() {
  TarvDebugLog("\n\t\t --------Es Parser Line------------\n");
  TarvDebugLog("\nnms.words=[%d],  nms.lines=[%d], nms.errors=[%d]", sgNms.WordCount,
               sgNms.LineCount, sgNms.ErrCount);
  for (int k = 1; k <= sgNms.WordCount; k++) {
    const NmsWord& w = sgNms.Words[k];
    if (w.Pos == 1) sgNms.FirstWord[w.Line] = k;
    sgNms.LineWords[w.Line] = w.Pos;
    sgNms.LineCount = w.Line;
  }
  if (sgNms.LineCount > MAX_LINES) sgNms.LineCount = MAX_LINES;

  char name[FUN_NAME_SIZE];
  TarvDebugLog("\n 1. One Line Parser:");
  for (int L = 1; L <= sgNms.LineCount; L++) {
    int first = sgNms.FirstWord[L];
    TarvDebugLog("\nline No.=[%04d], word No.=[%04d],words=[%d],\t", L, first,
                 sgNms.LineWords[L]);
    int len;
    int words;
    if (first == 0 || WordText(first)[0] == '#') {
      std::strcpy(name, "#");
      len = 1;
      words = 1;
    } else if (sgNms.Words[first].Length >= 17 &&
               std::memcmp(WordText(first), "tarv.createsource", 17) == 0) {
      std::strcpy(name, "tarv.createsource");
      len = 17;
      words = 1;
    } else {
      len = TarvGetLineFunctionName(L, 1, name, &words);
    }
    sgNms.FunID[L] = GetCallFunction(name, len, words);
  }

  TarvDebugLog("\n2. Multi Lines Parser:");
  for (int L = 1; L < sgNms.LineCount; L++) {
    TarvDebugLog("\nline No.=[%04d], word No.=[%04d],words=[%d], funID:%d,\t", L,
                 sgNms.FirstWord[L], sgNms.LineWords[L], sgNms.FunID[L]);
    if (sgNms.FunID[L] >= 0 || sgNms.FunID[L + 1] >= 0) continue;
    for (int n = 2; L + n - 1 <= sgNms.LineCount; n++) {
      int words;
      int len = TarvGetLineFunctionName(L, n, name, &words);
      sgNms.FunID[L] = GetCallFunction(name, len, words);
      if (sgNms.FunID[L] >= 0) {
        sgNms.LineWords[L] = words;
        for (int c = L + 1; c <= L + n - 1; c++) {
          sgNms.FunID[c] = 0;
          sgNms.LineWords[c] = 0;
        }
        break;
      }
      // No pattern is longer than this: more lines cannot match.
      if (words > LONGEST_PATTERN_WORDS) break;
      if (L + n > sgNms.LineCount || sgNms.FunID[L + n] >= 0) break;
    }
  }
  TarvDebugLog("\n\r\n --------Nms Parser Line End.---------\n");
  return 0;
}
