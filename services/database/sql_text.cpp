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

std::string SqlFill(std::string_view sql, const SqlValues& values,
                    const std::function<std::string(std::string_view)>& literal) {
  std::string out;
  out.reserve(sql.size());
  size_t next = 0;
  for (const char c : sql) {
    if (c == '?' && next < values.size())
      out += literal(values[next++]);
    else
      out += c;
  }
  return out;
}

std::string SqliteLiteral(std::string_view value) {
  std::string out = "'";
  out.reserve(value.size() + 8);
  for (const char c : value) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
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

std::string LogRowSql() {
  const std::string now = SqlNow();
  return SqlFormat(
      "INSERT INTO tarv_log (nms_file,nms_errors,"
      "run_pid,cur_time,log,run_steps,run_line,run_errors,run_seconds,run_argc,"
      "var_count,var_bytes,text_bytes,memo) "
      "VALUES (?,%d,%d,'%s',?,%d,%d,%d,%d,%d,%d,%d,%d,'ver:tarv8.13.20200205' )",
      sgNms.ErrCount, sgLog.Pid, now.c_str(), sgRun.RunSteps, sgRun.CurLine, sgRun.RunErrors,
      sgRun.RunSeconds, sgRun.ArgCount, sgVar.Count, sgVar.Fill, sgRun.TextLen);
}
