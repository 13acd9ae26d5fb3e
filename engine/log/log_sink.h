// The HTML log of a run: its file, its levels, the escaping of data and the
// entry writers.  A leaf: it depends on nothing of the engine but the run
// state it shows in step entries.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

struct LogState {
  int32_t EntryCount;      // entries started; the header precedes the first
  int32_t InfoFill;        // bytes waiting in InfoBuf
  char CmdLine[1024];
  char FileName[512];
  int32_t LogLevel;        // 0 nothing, 1 errors, 2 success/tables, 4 debug
  int32_t Section;         // open entry table: 0 none, 1 error, 2 success, 3 warning, 4 info
  int32_t Pid;
  int64_t StartTime;       // seconds since 1970
  char InfoBuf[4096];
};

extern LogState sgLog;

// Closes the file of the previous run, if any, and clears the record.
void LogStateClear();

// The log level, safe to read and set while another thread writes entries.
inline int TarvLogLevel() {
  return std::atomic_ref<int32_t>(sgLog.LogLevel).load(std::memory_order_relaxed);
}
void TarvSetLogLevel(int level);

// The entry writers are called through the macros below, which test the
// level first: an entry the level leaves out costs neither the call nor the
// work on its arguments.  The *At functions write whatever the level.

// A traced return: code, with the description as a warning (code < 0) or
// an info entry at the debug level.
int TarvReturnAt(int code, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int TarvDebugLogAt(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
int HtmlLogErrorAt(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
int HtmlLogWarningAt(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
int HtmlLogSuccessAt(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// An info entry whose formatted text is data (values, received bytes): it is
// written with &, < and > as entities.
int TarvDebugLogEscapedAt(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

#define TarvReturn(code, ...) \
  (TarvLogLevel() >= 4 ? TarvReturnAt((code), __VA_ARGS__) : static_cast<int>(code))
#define TarvDebugLog(...) (TarvLogLevel() >= 4 ? TarvDebugLogAt(__VA_ARGS__) : 0)
#define TarvDebugLogEscaped(...) (TarvLogLevel() >= 4 ? TarvDebugLogEscapedAt(__VA_ARGS__) : 0)
#define HtmlLogError(...) (TarvLogLevel() >= 1 ? HtmlLogErrorAt(__VA_ARGS__) : 0)
#define HtmlLogWarning(...) (TarvLogLevel() >= 1 ? HtmlLogWarningAt(__VA_ARGS__) : 0)
#define HtmlLogSuccess(...) (TarvLogLevel() >= 2 ? HtmlLogSuccessAt(__VA_ARGS__) : 0)
// The error and success entries of a ready text of n bytes, written whole,
// NUL bytes too (they are data, as in the text dump); like the formatted
// entries, a text that does not fit the entry's room is not written.
int HtmlLogErrorBytes(const char* text, int n);
int HtmlLogSuccessBytes(const char* text, int n);
int HtmlLogStep(const char* text);
int HtmlLogText(int count);
int TarvFlushLog();
// Flushes the info buffer and closes the file; the next entry opens it again.
void TarvCloseLog();
// Ends the log for good, from any thread: `message` (when given) as a debug
// entry of its own, then the closing lines (at every level once the file
// has been started), flushed and closed.  Nothing is written after them,
// whatever a step still running tries to log.
void TarvFinishLog(const char* message);
int FormatLocalTime(char* dest /* 40 bytes */);

// The entity that writes c into the log as data; empty when c stands for
// itself.
constexpr std::string_view HtmlEntity(char c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    default: return {};
  }
}
// Copies len bytes with &, < and > as entities; the bytes written (no NUL is
// added), or -1 when they would not fit in room.
int HtmlEscape(const char* src, int len, char* dest, int room);

// The length of s[0..n) cut to at most `most` bytes without splitting a
// UTF-8 character.
int Utf8CutLength(const char* s, int n, int most);

// An error or warning entry's formatted text must be shorter than this.
inline constexpr int kLogMessageRoom = 1010;


// A table entry of its own, written whole under the log's lock: the
// header and pending info entries go first, then the table's text.
class LogTableWriter {
 public:
  LogTableWriter();
  LogTableWriter(const LogTableWriter&) = delete;
  LogTableWriter& operator=(const LogTableWriter&) = delete;
  // False when the log file cannot be written; then nothing may be put.
  bool Ok() const { return ok_; }
  void Put(std::string_view s);
  // Data: &, < and > become entities.
  void PutEscaped(const char* s, size_t n);
  void PutF(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // Ends the entry and writes it through: 0, or -1.
  int End();

 private:
  std::lock_guard<std::mutex> lock_;
  bool ok_;
};
