#include "services/database/mysql_session.h"

#include <errmsg.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/core/run_state.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "services/database/mysql_statements.h"
#include "services/database/sql_text.h"

namespace {

// What mysql_errno and mysql_error answer for a handle that could not even be
// made (both would read through a null handle).
constexpr unsigned kOutOfMemory = 2008;
constexpr const char* kOutOfMemoryText = "MySQL client ran out of memory";
constexpr const char* kCharset = "utf8mb4";

int Fail(MySqlReport how, int code, unsigned err, const char* text, const std::string& message) {
  if (how == MySqlReport::RunErrorAndVars) MySqlSetErrorVars(err, text);
  if (how == MySqlReport::Warning)
    TarvReturn(code, "%s", message.c_str());
  else
    NmsRunError(code, "%s", message.c_str());
  return code;
}

}  // namespace

void MySqlSetErrorVars(unsigned code, const char* text) {
  TarvSetVar2("mysql.errno", SqlFormat("%u", code).c_str());
  TarvSetVar2("mysql.error", text);
}

MySqlSession::~MySqlSession() {
  if (result_) mysql_free_result(result_);
  if (db_) mysql_close(db_);
  mysql_server_end();
}

int MySqlSession::Connect(MySqlReport how) {
  db_ = mysql_init(nullptr);
  if (!db_)
    return Fail(how, -401, kOutOfMemory, kOutOfMemoryText,
                SqlFormat("mysql_init: Error %u: %s", kOutOfMemory, kOutOfMemoryText));
  // TCP always, so that the host and port mean what they say even for
  // "localhost", which the library would otherwise take as its local socket.
  const unsigned protocol = MYSQL_PROTOCOL_TCP;
  const unsigned seconds = static_cast<unsigned>(std::max(1, sgRun.StepTimeout));
  mysql_options(db_, MYSQL_OPT_PROTOCOL, &protocol);
  mysql_options(db_, MYSQL_OPT_CONNECT_TIMEOUT, &seconds);
  // A server that stalls after the handshake must not hold the step either.
  mysql_options(db_, MYSQL_OPT_READ_TIMEOUT, &seconds);
  mysql_options(db_, MYSQL_OPT_WRITE_TIMEOUT, &seconds);
  // UTF-8 whole: the server's "utf8" is its three-byte form, which loses or
  // refuses every character past U+FFFF (an emoji, say).
  mysql_options(db_, MYSQL_SET_CHARSET_NAME, kCharset);
  if (!mysql_real_connect(db_, sgMySql.Host, sgMySql.User, sgMySql.Password, sgMySql.Database,
                          static_cast<unsigned>(sgMySql.Port), nullptr, 0)) {
    const unsigned err = mysql_errno(db_);
    const char* text = mysql_error(db_);
    return Fail(how, -402, err, text, SqlFormat("mysql_real_connect: Error %u: %s", err, text));
  }
  mysql_query(db_, "set names 'utf8mb4'");
  return 0;
}

std::string MySqlSession::Literal(std::string_view value) const {
  std::string out(2 * static_cast<uint64_t>(value.size()) + 1, '\0');
  const unsigned long n = mysql_real_escape_string(db_, out.data(), value.data(), value.size());
  if (n == static_cast<unsigned long>(-1)) {
    // A client library that refuses does so only under NO_BACKSLASH_ESCAPES,
    // where a doubled quote is the whole escaping.
    out.clear();
    for (const char c : value) out.append(c == '\'' ? 2 : 1, c);
  } else {
    out.resize(n);
  }
  return "'" + out + "'";
}

std::string MySqlSession::Fill(const std::string& sql, const SqlValues& values) const {
  return SqlFill(sql, values, [this](std::string_view v) { return Literal(v); });
}

int MySqlSession::Query(const std::string& sql, MySqlReport how) {
  if (mysql_real_query(db_, sql.data(), sql.size()) == 0) return 0;
  return Failed("mysql_query", how);
}

int MySqlSession::Failed(const char* call, MySqlReport how) {
  const unsigned err = mysql_errno(db_);
  const char* text = mysql_error(db_);
  return Fail(how, -403, err, text, SqlFormat("%s: Error %u: %s", call, err, text));
}

bool MySqlSession::ServerRefused() const {
  const unsigned err = mysql_errno(db_);
  return err != 0 && err < CR_MIN_ERROR;
}

int MySqlSession::Altered(const char* call, MySqlReport how) {
  if (mysql_warning_count(db_) == 0) return 0;
  // The server keeps a bounded list (max_error_count).
  constexpr const char* kShow = "show warnings";
  if (mysql_real_query(db_, kShow, std::strlen(kShow)) != 0) return Failed(call, how);
  MYSQL_RES* rows = mysql_store_result(db_);
  if (!rows) return Failed(call, how);
  // Level, Code, Message; a note tells, it does not alter.
  MYSQL_ROW row = nullptr;
  if (mysql_num_fields(rows) >= 3)
    while ((row = mysql_fetch_row(rows)) && row[0] && std::strcmp(row[0], "Note") == 0) {
    }
  const unsigned err = row && row[1] ? static_cast<unsigned>(std::strtoul(row[1], nullptr, 10)) : 0;
  const std::string text = row && row[2] ? row[2] : "";
  mysql_free_result(rows);
  if (!row) return 0;
  return Fail(how, -403, err, text.c_str(), SqlFormat("%s: Warning %u: %s", call, err, text.c_str()));
}

MYSQL_RES* MySqlSession::UseResult() {
  if (!result_) result_ = mysql_use_result(db_);
  return result_;
}

void MySqlSession::Abandon() {
  // Reads on the socket end at once from now on; the library then finds
  // the connection lost and frees the result without waiting for its rows.
  if (const my_socket fd = mysql_get_socket(db_); fd >= 0) shutdown(fd, SHUT_RDWR);
}

int MySqlSession::AffectedRows() const {
  const my_ulonglong n = mysql_affected_rows(db_);
  // (my_ulonglong)-1 marks "no count"; a negative count becomes 0.
  if (n == static_cast<my_ulonglong>(-1)) return 0;
  return static_cast<int>(std::min<my_ulonglong>(n, INT32_MAX));
}
