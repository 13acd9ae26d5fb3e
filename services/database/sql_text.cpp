#include "services/database/sql_text.h"

#include <cstdarg>
#include <cstdio>

#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/util/util.h"

std::string SqlFormat(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n));
    std::vsnprintf(out.data(), out.size() + 1, fmt, again);
  }
  va_end(again);
  return out;
}

std::string SqliteQuote(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 8);
  for (const char c : value) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out;
}

std::string MySqlQuote(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 8);
  for (const char c : value) {
    if (c == '\\' || c == '\'' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

bool SqlIsNumber(std::string_view text) {
  size_t i = 0;
  const auto blanks = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
  };
  const auto digits = [&] {
    const size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') i++;
    return i - from;
  };
  blanks();
  if (i < text.size() && text[i] == '-') i++;
  size_t seen = digits();
  if (i < text.size() && text[i] == '.') {
    i++;
    seen += digits();
  }
  blanks();
  return seen > 0 && i == text.size();
}

std::string SqlNow() {
  char now[30];
  TarvGetDateTime(now);
  return now;
}

std::string LogRowSql(std::string_view quotedPath, std::string_view quotedText) {
  const std::string now = SqlNow();
  return SqlFormat(
      "INSERT INTO tarv_log (nms_file,nms_errors,"
      "run_pid,cur_time,log,run_steps,run_line,run_errors,run_seconds,run_argc,"
      "var_count,var_bytes,text_bytes,memo) "
      "VALUES ('%.*s',%d,%d,'%s','%.*s',%d,%d,%d,%d,%d,%d,%d,%d,'ver:tarv8.13.20200205' )",
      static_cast<int>(quotedPath.size()), quotedPath.data(), sgNms.ErrCount, sgLog.Pid,
      now.c_str(), static_cast<int>(quotedText.size()), quotedText.data(), sgRun.RunSteps,
      sgRun.CurLine, sgRun.RunErrors, sgRun.RunSeconds, sgRun.ArgCount, sgVar.Count, sgVar.Fill,
      sgRun.TextLen);
}
