// mysql.open, mysql.exec and mysql.log, and the select-one and exec-one
// operations the object statements are built on.
#include "services/database/mysql_statements.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "services/database/mysql_session.h"
#include "services/database/row_vars.h"
#include "services/database/sql_text.h"

MySqlState sgMySql;

namespace {

constexpr int kSettingMax = 250;
constexpr int kPortMax = 65534;
constexpr int kExecMax = 1022;
constexpr int kLogMax = 1020;

bool IsSelect(const std::string& sql) { return sql.starts_with("select"); }

using Clock = std::chrono::steady_clock;

// Rows that come one by one, each within the read time-out, end here: the
// step time-out from the start of the statement.
Clock::time_point RowsDeadline() {
  return Clock::now() + std::chrono::seconds(std::max(1, sgRun.StepTimeout));
}

void ResetRow() {
  sgMySql.Rows = 0;
  sgMySql.FieldCount = 0;
  sgMySql.Offsets.fill(0);
}

void SetRowsVar() {
  TarvDebugLog("\nMySql return or changed rows=%d", sgMySql.Rows);
  TarvSetVarInt2("mysql.rows", sgMySql.Rows);
}

// Stores argument w (checked for 1..250 bytes) as a setting.
bool StoreSetting(int w, char* field) {
  if (ArgCheckLength(w, kSettingMax, -w) != 0) return false;
  std::memset(field, 0, MYSQL_SETTING);
  std::memcpy(field, agA[w], static_cast<size_t>(igL[w]));
  return true;
}

bool StorePort() {
  if (ArgCheckRange(5, 0, kPortMax) != 0) return false;
  sgMySql.Port = igV[5];
  return true;
}

}  // namespace

int MySqlConnectTest() {
  ResetRow();
  TarvSetVar2("mysql.client.version", mysql_get_client_info());
  MySqlSession session;
  if (const int rc = session.Connect(MySqlReport::RunErrorAndVars); rc < 0) return rc;
  TarvSetVar2("mysql.server.version", mysql_get_server_info(session.Handle()));
  MySqlSetErrorVars(mysql_errno(session.Handle()), mysql_error(session.Handle()));
  return 0;
}

int TarvMySqlExecSql(const std::string& sql) {
  const Clock::time_point deadline = RowsDeadline();
  sgMySql.Rows = 0;
  MySqlSession session;
  if (const int rc = session.Connect(MySqlReport::RunErrorAndVars); rc < 0) return rc;
  if (const int rc = session.Query(sql, MySqlReport::RunErrorAndVars); rc < 0) return rc;
  if (!IsSelect(sql)) {
    sgMySql.Rows = session.AffectedRows();
    SetRowsVar();
    return 0;
  }
  MYSQL_RES* result = session.UseResult();
  if (!result) {
    SetRowsVar();
    return 0;
  }
  const unsigned fields = mysql_num_fields(result);
  TarvSetVarInt2("mysql.fields", static_cast<int>(fields));
  if (fields == 0) {
    TarvDebugLog("\nMySql return or changed rows=%d", 0);
    return 0;
  }
  // Made before the rows can fill the store, so that it can tell how many were kept.
  TarvSetVarInt2("mysql.rows", 0);
  RowVars vars("TarvMySqlExecSql SetVar<", ">Err!");
  bool cut = false;  // the rest of the rows given up
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    const unsigned long* lengths = mysql_fetch_lengths(result);
    sgMySql.Rows++;
    for (unsigned i = 0; i < fields; i++) {
      const bool null = row[i] == nullptr;
      vars.Set(SqlFormat("mysql.%d.%s", sgMySql.Rows, mysql_fetch_field_direct(result, i)->name),
               null ? std::string_view("NULL") : std::string_view(row[i], lengths[i]));
    }
    if (!vars.EndRow()) {
      sgMySql.Rows = vars.Kept();
      cut = true;
      break;
    }
    if (Clock::now() >= deadline) {
      NmsRunError(-403, "TarvMySqlExecSql: rows still coming at the step time-out, %d rows kept, "
                  "later rows dropped.", sgMySql.Rows);
      cut = true;
      break;
    }
  }
  if (cut) session.Abandon();
  // A fetch that ended without the last row lost the connection or its time.
  const int rc = !cut && mysql_errno(session.Handle()) != 0
                     ? session.Failed("mysql_fetch_row", MySqlReport::RunErrorAndVars)
                     : 0;
  SetRowsVar();
  return rc;
}

int MySqlLog(std::string_view text) {
  sgMySql.Rows = 0;
  MySqlSession session;
  if (const int rc = session.Connect(MySqlReport::Warning); rc < 0) return rc;
  const std::string sql = session.Fill(LogRowSql(), {sgNms.FileName, text});
  TarvDebugLogEscaped("\nMySqlLog( %s ).", sql.c_str());
  // A server out of reach is only a warning: a log row that cannot be
  // written never stops a run.  A row the server refuses, or keeps altered,
  // is text lost, and counted.
  if (mysql_real_query(session.Handle(), sql.data(), sql.size()) != 0)
    return session.Failed("mysql_query", session.ServerRefused() ? MySqlReport::RunError : MySqlReport::Warning);
  return session.Altered("mysql_query", MySqlReport::RunError);
}

int TarvMySqlSelectOne(const std::string& sql, const SqlValues& values) {
  const Clock::time_point deadline = RowsDeadline();
  ResetRow();
  if (!IsSelect(sql))
    return NmsRunError(-400, "TarvMySqlSelectOne: Sql Error! Must begin with <select>.");
  MySqlSession session;
  if (const int rc = session.Connect(MySqlReport::RunError); rc < 0) return rc;
  const std::string text = session.Fill(sql, values);
  TarvDebugLogEscaped("\nTarvMySqlSelectOne (%s)", text.c_str());
  if (const int rc = session.Query(text, MySqlReport::RunError); rc < 0) return rc;
  MYSQL_RES* result = session.UseResult();
  const unsigned fields = result ? mysql_num_fields(result) : 0;
  if (fields == 0) {
    TarvDebugLog("\nMySql return or changed rows=%d", 0);
    return 0;
  }
  sgMySql.One.fill(0);
  const unsigned keep = std::min<unsigned>(fields, MYSQL_ONE_FIELDS);
  bool cut = false;  // the rest of the rows given up
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    if (++sgMySql.Rows > 1) {
      // Further rows are only counted, and only up to the step time-out.
      if (Clock::now() < deadline) continue;
      cut = true;
      break;
    }
    const unsigned long* lengths = mysql_fetch_lengths(result);
    for (unsigned k = 0; k < keep; k++) {
      const char* text = row[k] ? row[k] : "NULL";
      const uint64_t len = row[k] ? lengths[k] : 4;
      const int at = sgMySql.Offsets[k];
      // Fields that do not fit are not kept, nor any after them.
      if (at + len >= MYSQL_ONE_SIZE) break;
      std::memcpy(sgMySql.One.data() + at, text, len);
      sgMySql.Offsets[k + 1] = at + static_cast<int>(len);
      sgMySql.FieldCount++;
    }
  }
  if (cut) {
    session.Abandon();
    NmsRunError(-403, "TarvMySqlSelectOne: rows still coming at the step time-out, %d rows counted.",
                sgMySql.Rows);
  } else if (mysql_errno(session.Handle()) != 0) {
    // A row of a result that broke off is no answer.
    ResetRow();
    return session.Failed("mysql_fetch_row", MySqlReport::RunError);
  }
  TarvDebugLogEscaped("\nTarvMySqlSelectOne=[%.*s]", sgMySql.Offsets[sgMySql.FieldCount],
                      sgMySql.One.data());
  TarvDebugLog("\nMySqlSelectOne return rows=%d", sgMySql.Rows);
  return 0;
}

int TarvMySqlExecOne(const std::string& sql, const SqlValues& values, std::string* sent) {
  ResetRow();
  if (IsSelect(sql))
    return NmsRunError(-400,
                       "TarvMySqlExecOne: Sql Error! Must begin with <update,insert,update...>.");
  MySqlSession session;
  if (const int rc = session.Connect(MySqlReport::RunError); rc < 0) return rc;
  const std::string text = session.Fill(sql, values);
  if (sent) *sent = text;
  TarvDebugLogEscaped("\nTarvMySqlExecOne(%s)", text.c_str());
  if (const int rc = session.Query(text, MySqlReport::RunError); rc < 0) return rc;
  sgMySql.Rows = session.AffectedRows();
  TarvDebugLog("\nMySqlExecOne affected rows=%d", sgMySql.Rows);
  return sgMySql.Rows;
}

std::string_view MySqlSelectOneField(int k) {
  if (sgMySql.Rows < 1 || k < 1 || k > sgMySql.FieldCount) return {};
  const int from = sgMySql.Offsets[k - 1];
  return {sgMySql.One.data() + from, static_cast<size_t>(sgMySql.Offsets[k] - from)};
}

int MySqlSelectOneFieldIs(int k, std::string_view text) {
  if (sgMySql.Rows < 1 || k < 1 || k > sgMySql.FieldCount) return -1;
  const std::string_view field = MySqlSelectOneField(k);
  if (field.size() != text.size()) return -2;
  return field == text ? 0 : -3;
}

int mysql_open_ip_a3_port_a5_user_a7_password_a9_database_a11() {
  HandlerBegin();
  // Each setting replaces the stored one as soon as its check passes.
  if (!StoreSetting(3, sgMySql.Host)) return -3;
  if (!StorePort()) return -5;
  if (!StoreSetting(7, sgMySql.User)) return -7;
  if (!StoreSetting(9, sgMySql.Password)) return -9;
  if (!StoreSetting(11, sgMySql.Database)) return -11;
  MySqlConnectTest();
  return TarvReturn(0, "mysql_open_ip_a3_port_a5_user_a7_password_a9_database_a11 return.");
}

int mysql_exec_a2() {
  HandlerBegin();
  if (const int rc = ArgCheckLength(2, kExecMax, -2); rc != 0) return rc;
  TarvMySqlExecSql(std::string(agA[2], static_cast<size_t>(igL[2])));
  return TarvReturn(0, "mysql_exec_a2 return.");
}

int mysql_log_a2() {
  HandlerBegin();
  // Only a warning: a log row that cannot be written never stops a run.
  if (igL[2] < 1) return TarvReturn(-7, "Length of Arg 2 is :%d  < 1 !", igL[2]);
  if (igL[2] > kLogMax) return TarvReturn(-7, "Length of Arg 2 is :%d > 1020 !", igL[2]);
  MySqlLog(std::string_view(agA[2], static_cast<size_t>(igL[2])));
  return TarvReturn(0, "mysql_log_a2 return.");
}
