// tarv.debug {A2}: diagnostics for the script author, chosen by a prefix of
// the action's name.  The statement always ends with a run error, so that a
// script that still uses it never passes as clean.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/statements/arg_checks.h"
#include "engine/core/handlers.h"
#include "engine/log/hex_dump.h"
#include "engine/tools/listings.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/secret_words.h"
#include "engine/core/step_args.h"
#include "engine/core/text_buffer.h"
#include "engine/util/util.h"
#include "engine/core/handler.h"

namespace {

// Collects the declaration's pieces and appends them in batches: one append
// per selected byte would cost a log dump each.  Once the text buffer refuses
// a batch the declaration is broken, so nothing more is appended.
class TextBatch {
 public:
  ~TextBatch() { Flush(); }
  void Put(const char* text, int len) {
    if (fill_ + len > kSize) Flush();
    std::memcpy(buf_ + fill_, text, len);
    fill_ += len;
  }
  void Put(std::string_view text) { Put(text.data(), static_cast<int>(text.size())); }
  void Flush() {
    if (fill_ > 0 && !refused_ && TextAdd(buf_, fill_) < 0) refused_ = true;
    fill_ = 0;
  }

 private:
  static constexpr int kSize = 1000;
  char buf_[kSize];
  int fill_ = 0;
  bool refused_ = false;
};

int TextSelectedToCharVar() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nTextSelectedToCharVar() ,begin ...");
  if (igL[2] > 250) return NmsRunError(-2, "Length of Arg 2 is :%d > 250 !", igL[2]);
  const int head = sgRun.headPointer;
  const int tail = sgRun.tailPointer;
  if (!TextSelectionInText())
    return NmsRunError(-9,
                       "TextSelectedToCharVar(): TextLen=%d, text.headpointer=[%d],tailpointer=%d, "
                       "Error!",
                       sgRun.TextLen, head, tail);

  TextBatch out;
  char piece[64];
  out.Put(piece, std::snprintf(piece, sizeof piece, "\n\t int  ilTextChar2Len = %d ;",
                               tail - head + 1));
  out.Put("\n\t unsigned char alTextChar2[] = { ");
  int column = 0;
  for (int k = head; k <= tail; k++) {
    const auto b = static_cast<unsigned char>(sgRun.Text[k]);
    if (b == '\n') {
      out.Put("'\\n',\\\n\t\t");
      column = 0;
    } else if (b == '\r') {
      out.Put("'\\r',");
    } else if (b == '\\') {
      // '\' alone would escape the closing quote.
      out.Put("'\\\\',");
    } else if (b >= 0x28 && b <= 0x7E) {
      const char literal[] = {'\'', static_cast<char>(b), '\'', ','};
      out.Put(literal, sizeof literal);
    } else {
      out.Put(piece, std::snprintf(piece, sizeof piece, "0x%02x,", b));
    }
    column += 4;
    if (column > 60) {
      out.Put("\\\n\t\t");
      column = 0;
    }
  }
  out.Put("0x00 };\n");
  out.Flush();
  return TarvReturn(0, "TextSelectedToCharVar() return.");
}

void ParserReport() {
  NmsWordReport();
  NmsParserReport();
}

void WinHashTest() {
  char md5[41] = {};
  const int m = HashToHex("MD5", 3, HashAlg::MD5, md5);
  TarvDebugLog("\nMD5 = [%s] Len =%d", md5, m);
  char sha[41] = {};
  const int s = HashToHex("SHA", 3, HashAlg::SHA1, sha);
  TarvDebugLog("\nSHA = [%s] Len =%d", sha, s);
}

// The script's bytes, each secret word's inside and each URL's credential
// as '*': the offsets stay those of the file.
void HexLogNms() {
  TarvDebugLog("\nnms.length=[%d]", sgNms.ScriptLen);
  std::string bytes(sgNms.Script.data(), static_cast<size_t>(sgNms.ScriptLen) + 1);
  for (int k = 1; k <= sgNms.WordCount; k++)
    if (SecretWord(k))
      std::fill_n(bytes.begin() + sgNms.Words[k].Offset + 1, sgNms.Words[k].Length - 2, '*');
  size_t begin = 0;
  size_t end = 0;
  for (size_t from = 0; FindUrlSecret(bytes, from, begin, end); from = end)
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
              bytes.begin() + static_cast<std::ptrdiff_t>(end), '*');
  HexLog(bytes.data() + 1, sgNms.ScriptLen);
}

struct Action {
  std::string_view name;
  void (*run)();
};

constexpr Action kActions[] = {
    {"TextSelectedToCharVar", [] { TextSelectedToCharVar(); }},
    {"ParserReport", ParserReport},
    {"WinHashTest", WinHashTest},
    {"HexLogNms", HexLogNms},
};

}  // namespace

int tarv_debug_a2() {
  HandlerBegin();
  // A bad A2 chooses nothing; the statement still ends as every path does.
  if (ArgCheckLength(2, 1020, -2) != 0)
    return NmsRunError(-1, "tarv_debug_a2 can only run in development mode!");

  // A2 chooses the first action whose name begins with it; an A2 longer
  // than a name cannot be its prefix.
  const std::string_view a2(agA[2], igL[2]);
  const auto chosen = std::find_if(std::begin(kActions), std::end(kActions),
                                   [a2](const Action& a) { return a.name.starts_with(a2); });
  if (chosen != std::end(kActions)) chosen->run();
  return NmsRunError(-1, "tarv_debug_a2 can only run in development mode!");
}
