// Appends to the text buffer: every receiving statement comes through here.
#include "engine/core/text_buffer.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/log/hex_dump.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"
#include "engine/core/run_state.h"
#include "engine/core/observer.h"

int TextAdd(const char* data, int len) {
  if (ScreenActive()) {
    ScreenPrintf("\r\n--->>> text.add length=[%d] ......\r\n", len);
    ScreenLog(data, len > 0 ? len : 0);
    ScreenPrintf("\r\n----------------------------------\r\n");
  }
  // The dump is only ever written at the debug level; appends of megabytes
  // in small pieces should not pay for formatting it otherwise.
  if (sgLog.LogLevel >= 4) {
    TarvDebugLog("\n\r\n...text.len = %d", sgRun.TextLen);
    HexLog(data, len);
  }
  // Computed in 64 bits so that no length can wrap around the limit; a
  // negative length is refused rather than trusted.
  if (len < 0 || static_cast<int64_t>(len) >= int64_t{TEXT_ADD_LIMIT} - sgRun.TextLen)
    return NmsRunError(-1, "BufLen=<%d + %d> >1M Error!", sgRun.TextLen, len);
  if (len > 0) std::memcpy(sgRun.Text.data() + sgRun.TextLen + 1, data, len);
  sgRun.TextLen += len;
  return len;
}

void TextPrintf(const char* fmt, ...) {
  char buf[1024] = {};
  if (fmt && *fmt) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, 1020, fmt, ap);
    va_end(ap);
  }
  TextAdd(buf, static_cast<int>(strnlen(buf, 1020)));
}

void TextMarkEdited(int64_t pos) {
  if (pos < sgRun.TextEditedFrom) sgRun.TextEditedFrom = static_cast<int32_t>(pos < 0 ? 0 : pos);
}

int32_t TextTakeEdited() {
  const int32_t from = sgRun.TextEditedFrom;
  sgRun.TextEditedFrom = TEXT_SIZE + 1;
  return from;
}

bool TextSelectionInText() {
  return sgRun.tailPointer <= sgRun.TextLen && sgRun.headPointer < sgRun.tailPointer &&
         sgRun.headPointer >= 0;
}
