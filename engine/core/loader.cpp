#include <cstdio>
#include <cstring>

#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/util/util.h"
#include "engine/core/var_store.h"
#include "platform/zero_record.h"

int TarvLoadParserScript(const char* path) {
  TarvDebugLogEscaped("\nTarvLoadParserScript: [%s] ...", path);
  ZeroRecord(&sgNms, sizeof sgNms);
  std::snprintf(sgNms.FileName, sizeof sgNms.FileName, "%s", path);
  sgNms.Script[0] = ' ';
  // One byte past the limit tells a longer file, which is cut there.
  static_assert(SCRIPT_MAX_BYTES + 2 <= SCRIPT_SIZE);
  int n = TarvReadFile(path, sgNms.Script.data() + 1, SCRIPT_MAX_BYTES + 1);
  if (n < 0) {
    NmsError(-1, "Script File <%s>, Not Found!", path);
    NmsRunError(-1, "Script File <%s>, Not Found!", path);
    return sgRun.RunErrors;
  }
  if (n > SCRIPT_MAX_BYTES) {
    n = SCRIPT_MAX_BYTES;
    sgNms.Script[n + 1] = 0;
    NmsError(-1, "NMS file: more than %d bytes, the script is cut there!", SCRIPT_MAX_BYTES);
  }
  sgNms.ScriptLen = n;
  char* s = sgNms.Script.data() + 1;
  if (n > 3 && std::memcmp(s, "\xEF\xBB\xBF", 3) == 0) {
    std::memset(s, ' ', 3);
    TarvDebugLog("\nFind first 3 bytes: BOM Encoding [EF BB BF] UTF - 8, set to 0x20!");
  }
  TarvDebugLog("\nsgNms.ScriptLen=[%d]", sgNms.ScriptLen);
  TarvDebugLog("\n1.ParserWord ...");
  ParserWord();
  TarvDebugLog("\n1.ParserWord, End.");
  TarvDebugLog("\n2.ParserLine ...");
  ParserLine();
  TarvDebugLog("\n2.ParserLine, End.");
  TarvDebugLog("\nNms.ErrCount=[%d]", sgNms.ErrCount);
  TarvSetVarInt2("nms.length", sgNms.ScriptLen);
  TarvSetVarInt2("nms.words", sgNms.WordCount);
  TarvSetVarInt2("nms.lines", sgNms.LineCount);
  TarvSetVarInt2("nms.errors", sgNms.ErrCount);
  NmsParserReport();
  return sgRun.RunErrors;
}
