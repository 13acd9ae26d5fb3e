// The HTML log: its file, levels, escaping and entry writers.
#include "engine/log/log_sink.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>

#include "engine/core/run_state.h"
#include "engine/log/html_log_prologue.h"

LogState sgLog;

namespace {

enum Section : int32_t { kNone = 0, kError = 1, kSuccess = 2, kWarning = 3, kInfo = 4 };

constexpr int kInfoFlushAt = 2048;
constexpr int kInfoFlushMax = 4000;
// Formatting rooms: a text must be shorter than these to be written.
constexpr int kErrorRoom = kLogMessageRoom;
constexpr int kSuccessRoom = 1020;
constexpr int kInfoRoom = 1020;
constexpr int kReturnRoom = 928;
constexpr int kReturnLine = 1019;

constexpr std::string_view kCloseTable = "\n</pre></td></tr></table>\n ";
constexpr const char* kErrorOpen =
    "\n<table><tr><th class=\"IconErrorEncoded\" /><th class=\"tarv_red\">%s ThreadId: "
    "[%d]</th></tr><tr><td /><td><pre>";
constexpr const char* kWarningOpen =
    "\n<table><tr><th class=\"IconWarningEncoded\" /><th  class=\"tarv_yellow\">%s ThreadId: "
    "[%d]</th></tr><tr><td /><td><pre>";
constexpr const char* kSuccessOpen =
    "\n<table><tr><th class=\"IconSuccessEncoded\" /><th>%s</th></tr><tr><td /><td><pre>";
constexpr const char* kInfoOpen =
    "\n</pre></td></tr></table>\n\n<table><tr><th class=\"IconInfoEncoded\" /><th>%s</th></tr>"
    "<tr><td /><td><pre>";
constexpr const char* kHeadInfoOpen =
    "\n<table><tr><th class=\"IconInfoEncoded\" /><th>%s</th></tr><tr><td /><td><pre>";
constexpr const char* kHeadErrorOpen =
    "\n<table><tr><th class=\"IconErrorEncoded\" /><th  class=\"tarv_red\">%s</th></tr><tr><td "
    "/><td><pre>";
constexpr const char* kStepOpen =
    "\n<table><tr><th class=\"tarv_png\" /><th class=\"tarv_nms\">%s</th><th "
    "class=\"tarv_nms\">step.line=[%d]</th><th class=\"tarv_nms\">run.steps=[%d]</th></tr>\n";

// Guards sgLog and the file: the window thread writes info entries too.
std::mutex gMutex;
// The run's log file, opened by the first entry and kept open until the run
// is closed.  A failed open is not retried within the run: a missing log
// folder would otherwise cost a failing open per entry.
FILE* gFile = nullptr;
bool gOpenFailed = false;
// Set once the log's closing lines are written: a thread still running a
// step when the program ends writes nothing after them.
bool gFinished = false;

int LevelNow() {
  return std::atomic_ref<int32_t>(sgLog.LogLevel).load(std::memory_order_relaxed);
}

int ThreadId() { return static_cast<int>(gettid()); }

// The functions named *Locked expect gMutex held; Put* also an open file.

bool OpenLocked() {
  if (gFile) return true;
  if (gOpenFailed || gFinished) return false;
  if (sgLog.FileName[0]) gFile = std::fopen(sgLog.FileName, "ae");
  gOpenFailed = gFile == nullptr;
  return gFile != nullptr;
}

void Put(std::string_view s) { std::fwrite(s.data(), 1, s.size(), gFile); }

void PutF(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void PutF(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(gFile, fmt, ap);
  va_end(ap);
}

// Data from the script or a peer: &, < and > become entities.
void PutEscaped(const char* s, size_t n) {
  size_t run = 0;
  for (size_t i = 0; i < n; i++) {
    const std::string_view rep = HtmlEntity(s[i]);
    if (rep.empty()) continue;
    Put({s + run, i - run});
    Put(rep);
    run = i + 1;
  }
  Put({s + run, n - run});
}

// Write-through: every entry reaches the file before its writer returns.
int EndEntryLocked() { return std::fflush(gFile) == 0 ? 0 : -1; }

int FlushLocked() {
  if (sgLog.InfoFill <= 0) return 0;
  if (!OpenLocked()) {
    sgLog.InfoFill = 0;
    return -1;
  }
  const int n = std::min(sgLog.InfoFill, kInfoFlushMax);
  sgLog.InfoFill = 0;
  Put({sgLog.InfoBuf, static_cast<size_t>(n)});
  return 0;
}

void WriteHeaderLocked() {
  Put(HtmlLogPrologue());
  PutF("<h1>Pid: %d, [", sgLog.Pid);
  PutEscaped(sgLog.CmdLine, strnlen(sgLog.CmdLine, sizeof sgLog.CmdLine));
  Put("] start ......</h1>");
  char now[40];
  FormatLocalTime(now);
  switch (LevelNow()) {
    case 1: PutF(kHeadErrorOpen, now); break;
    case 2: PutF(kSuccessOpen, now); break;
    case 4: PutF(kHeadInfoOpen, now); break;
    default: break;
  }
  sgLog.Section = kNone;
}

// Steps shared by the writers: the file, the header before the run's first
// entry, the entry count, and the info entries that came before this one.
bool BeginEntryLocked() {
  if (!OpenLocked()) {
    sgLog.InfoFill = 0;
    return false;
  }
  if (sgLog.EntryCount < 1) WriteHeaderLocked();
  sgLog.EntryCount++;
  FlushLocked();
  return true;
}

// Error, warning and success entries: one table per run of one kind.
int MessageEntryText(Section kind, int room, int dropped, const char* text, int n) {
  std::lock_guard lock(gMutex);
  if (!BeginEntryLocked()) return -1;
  if (n <= 0 || n >= room) {
    EndEntryLocked();  // the header and the info batch still go out
    return dropped;
  }
  if (sgLog.Section != kind) {
    sgLog.Section = kind;
    Put(kCloseTable);
    char now[40];
    FormatLocalTime(now);
    if (kind == kError)
      PutF(kErrorOpen, now, ThreadId());
    else if (kind == kWarning)
      PutF(kWarningOpen, now, ThreadId());
    else
      PutF(kSuccessOpen, now);
  }
  if (kind == kWarning) {
    Put("\nWarnings: [");
    Put({text, static_cast<size_t>(n)});
    Put("]");
  } else {
    Put("\n");
    Put({text, static_cast<size_t>(n)});
  }
  return EndEntryLocked();
}

int MessageEntry(Section kind, int threshold, int room, int dropped, const char* fmt,
                 va_list ap) {
  if (LevelNow() < threshold) return 0;
  // Formatted before the lock: a fault inside the formatting, caught by the
  // handler's guard, must not leave the log locked for the rest of the run.
  char text[1024];
  const int n = fmt ? std::vsnprintf(text, room, fmt, ap) : 0;
  return MessageEntryText(kind, room, dropped, text, n);
}

int InfoAppendLocked(const char* text, int n);

// Info entries gather in the info buffer and reach the file in batches.
int InfoEntry(bool escape, const char* fmt, va_list ap) {
  if (LevelNow() < 4) return 0;
  // Formatted (and escaped) before the lock, as in MessageEntry.
  char text[kInfoRoom];
  int n = fmt ? std::vsnprintf(text, kInfoRoom, fmt, ap) : 0;
  if (n > 0 && n < kInfoRoom && escape) {
    char escaped[kInfoRoom];
    n = HtmlEscape(text, n, escaped, kInfoRoom - 1);
    if (n > 0) std::memcpy(text, escaped, n);
  }
  std::lock_guard lock(gMutex);
  return InfoAppendLocked(text, n);
}

int InfoAppendLocked(const char* text, int n) {
  if (!OpenLocked()) {
    sgLog.InfoFill = 0;
    return -1;
  }
  if (sgLog.EntryCount < 1) {
    WriteHeaderLocked();
    EndEntryLocked();
  }
  sgLog.EntryCount++;
  constexpr int kBufSize = sizeof sgLog.InfoBuf;
  if (sgLog.Section != kInfo) {
    sgLog.Section = kInfo;
    char now[40];
    FormatLocalTime(now);
    const int room = kBufSize - sgLog.InfoFill;
    const int n = std::snprintf(sgLog.InfoBuf + sgLog.InfoFill, room, kInfoOpen, now);
    if (n > 0 && n < room) sgLog.InfoFill += n;
  }
  if (sgLog.InfoFill >= kInfoFlushAt || kBufSize - sgLog.InfoFill <= kInfoRoom) {
    FlushLocked();
    EndEntryLocked();
  }
  if (n <= 0 || n >= kInfoRoom) return -1;
  std::memcpy(sgLog.InfoBuf + sgLog.InfoFill, text, n);
  sgLog.InfoFill += n;
  return 0;
}

void CloseLocked() {
  if (gFile) {
    FlushLocked();
    std::fclose(gFile);
    gFile = nullptr;
  }
  gOpenFailed = false;
}

}  // namespace

void TarvSetLogLevel(int level) {
  std::atomic_ref<int32_t>(sgLog.LogLevel).store(level, std::memory_order_relaxed);
}

void LogStateClear() {
  std::lock_guard lock(gMutex);
  CloseLocked();
  gFinished = false;
  std::memset(&sgLog, 0, sizeof sgLog);
}

void TarvCloseLog() {
  std::lock_guard lock(gMutex);
  CloseLocked();
}

void TarvFinishLog(const char* message) {
  static constexpr std::string_view kEnd = "\n</td></tr></table></body></html>";
  std::lock_guard lock(gMutex);
  if (gFinished) return;
  if (LevelNow() >= 4) {
    if (message != nullptr) {
      // An entry of its own, not the tail of what a step was writing.
      if (sgLog.Section == kInfo) sgLog.Section = kNone;
      InfoAppendLocked(message, static_cast<int>(std::strlen(message)));
    }
    InfoAppendLocked(kEnd.data(), static_cast<int>(kEnd.size()));
  } else if (sgLog.EntryCount >= 1 && OpenLocked()) {
    FlushLocked();
    Put(kEnd);
  }
  CloseLocked();
  gFinished = true;
}

int HtmlEscape(const char* src, int len, char* dest, int room) {
  int out = 0;
  for (int i = 0; i < len; i++) {
    const std::string_view rep = HtmlEntity(src[i]);
    if (rep.empty()) {
      if (out >= room) return -1;
      dest[out++] = src[i];
      continue;
    }
    if (static_cast<int>(rep.size()) > room - out) return -1;
    std::memcpy(dest + out, rep.data(), rep.size());
    out += static_cast<int>(rep.size());
  }
  return out;
}

int Utf8CutLength(const char* s, int n, int most) {
  if (n <= most) return n;
  int len = most < 0 ? 0 : most;
  while (len > 0 && (static_cast<unsigned char>(s[len]) & 0xC0) == 0x80) len--;
  return len;
}

int FormatLocalTime(char* dest) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  const int ms = static_cast<int>(ts.tv_nsec / 1000000);
  // The year is the only field that could widen the text; keep it in range.
  const int year = std::clamp(local.tm_year + 1900, 0, 9999);
  return std::snprintf(dest, 40, "%04d-%02d-%02d,%02d:%02d:%02d,%d", year,
                       (local.tm_mon + 1) % 100, local.tm_mday % 100, local.tm_hour % 100,
                       local.tm_min % 100, local.tm_sec % 100, ms % 1000);
}

int TarvReturnAt(int code, const char* fmt, ...) {
  if (LevelNow() < 4 || !fmt || !*fmt) return code;
  char desc[kReturnRoom];
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(desc, sizeof desc, fmt, ap);
  va_end(ap);
  if (n <= 0 || n >= kReturnRoom) return code;
  char line[kReturnLine];
  const int p = std::snprintf(line, sizeof line, "TarvReturn, return [%d], description: [", code);
  // Room for the description, its closing "]" and the NUL.
  const int e = HtmlEscape(desc, n, line + p, kReturnLine - p - 2);
  if (e < 0) return code;
  line[p + e] = ']';
  line[p + e + 1] = 0;
  if (code < 0)
    HtmlLogWarningAt("%s", line);
  else
    TarvDebugLogAt("\n%s", line);
  return code;
}

int TarvDebugLogAt(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int r = InfoEntry(false, fmt, ap);
  va_end(ap);
  return r;
}

int TarvDebugLogEscapedAt(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int r = InfoEntry(true, fmt, ap);
  va_end(ap);
  return r;
}

int HtmlLogErrorAt(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int r = MessageEntry(kError, 1, kErrorRoom, 0, fmt, ap);
  va_end(ap);
  return r;
}

int HtmlLogWarningAt(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int r = MessageEntry(kWarning, 1, kErrorRoom, 0, fmt, ap);
  va_end(ap);
  return r;
}

int HtmlLogSuccessAt(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int r = MessageEntry(kSuccess, 2, kSuccessRoom, -1, fmt, ap);
  va_end(ap);
  return r;
}

int HtmlLogErrorBytes(const char* text, int n) {
  if (LevelNow() < 1) return 0;
  return MessageEntryText(kError, kErrorRoom, 0, text, n);
}

int HtmlLogSuccessBytes(const char* text, int n) {
  if (LevelNow() < 2) return 0;
  return MessageEntryText(kSuccess, kSuccessRoom, -1, text, n);
}

int HtmlLogStep(const char* text) {
  if (LevelNow() < 2) return 0;
  std::lock_guard lock(gMutex);
  if (!BeginEntryLocked()) return -1;
  char now[40];
  FormatLocalTime(now);
  Put(kCloseTable);
  PutF(kStepOpen, now, sgRun.CurLine, sgRun.RunSteps);
  Put("\n <tr><td /><td colspan=3>");
  if (text) PutEscaped(text, std::strlen(text));
  Put("</td></tr></table>\n");
  sgLog.Section = kNone;
  return EndEntryLocked();
}

int HtmlLogText(int count) {
  if (LevelNow() < 2) return 0;
  std::lock_guard lock(gMutex);
  if (!BeginEntryLocked()) return -1;
  // Never more than the buffer holds.
  const int len = std::clamp(sgRun.TextLen, 0, TEXT_SIZE);
  const int n = std::clamp(count, 0, len);
  Put(kCloseTable);
  PutF("\n<table><tr><th>List Text, step.bytes=[%d]</th></tr>", n);
  Put("\n<tr><th><pre>\n");
  PutEscaped(sgRun.Text.data() + len - n + 1, n);
  Put("\n</pre></th></tr></table>\n");
  sgLog.Section = kNone;
  return EndEntryLocked();
}

int TarvFlushLog() {
  std::lock_guard lock(gMutex);
  if (sgLog.InfoFill <= 0) return 0;
  if (FlushLocked() < 0) return -1;
  return EndEntryLocked();
}

LogTableWriter::LogTableWriter() : lock_(gMutex), ok_(BeginEntryLocked()) {
  if (ok_) Put(kCloseTable);
}

void LogTableWriter::Put(std::string_view s) { ::Put(s); }

void LogTableWriter::PutEscaped(const char* s, size_t n) { ::PutEscaped(s, n); }

void LogTableWriter::PutF(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(gFile, fmt, ap);
  va_end(ap);
}

int LogTableWriter::End() {
  sgLog.Section = kNone;
  return EndEntryLocked();
}
