// The sqlite statements.  No database stays open between steps: every
// operation opens the remembered file, works and closes it again.
#include "services/database/sqlite_statements.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string_view>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "engine/util/util.h"
#include "services/database/row_vars.h"
#include "services/database/sql_text.h"

SqliteState sgSqlite;

namespace {

constexpr int kSqlMax = 1020;
constexpr int kNameMax = 62;
constexpr int kTooLong = -12;  // SqliteSelectOne: the column does not fit
constexpr int kSaveMax = 1022;  // bytes of a value sqlite.save var takes
constexpr const char* kRowsVar = "sqlite.rows";

constexpr const char* kCreateLog =
    "CREATE TABLE tarv_log(\n"
    "\tlog_id INTEGER PRIMARY KEY   AUTOINCREMENT,\n"
    "\tnms_file varchar(512),\n"
    "\tnms_errors integer,\n"
    "\trun_pid integer,\n"
    "\tcur_time datetime,\n"
    "\tlog varchar(1020),\n"
    "\trun_steps integer,\n"
    "\trun_line integer,\n"
    "\trun_errors integer,\n"
    "\trun_seconds integer,\n"
    "\trun_argc integer,\n"
    "\tvar_count integer,\n"
    "\tvar_bytes integer,\n"
    "\ttext_bytes integer,\n"
    "\tmemo varchar(512) );\n";

constexpr const char* kCreateVar =
    "CREATE TABLE tarv_var(\n"
    "\tID INTEGER PRIMARY KEY   AUTOINCREMENT,\n"
    "\tvar_name varchar(64),\n"
    "\tupdate_time datetime,\n"
    "\tvar_value varchar(1024) );\n";

// Receives each result row; false gives up the rest of that statement's rows,
// without an error, and the text goes on with its next statement.
using RowSink = std::function<bool(sqlite3_stmt*)>;

using Clock = std::chrono::steady_clock;

// One operation's connection, closed when the operation ends.
struct SqliteDb {
  sqlite3* Db = nullptr;
  Clock::time_point Deadline;  // the operation's work ends here, interrupted
  SqliteDb() = default;
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;
  ~SqliteDb() { sqlite3_close(Db); }
};

struct SqliteStatement {
  sqlite3_stmt* St = nullptr;
  SqliteStatement() = default;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;
  ~SqliteStatement() { sqlite3_finalize(St); }
};

// Asked every few thousand steps of the virtual machine: a query that runs
// on (a recursion without end, a join of huge tables) is interrupted at the
// step time-out like any other wait.
int PastDeadline(void* deadline) {
  return Clock::now() >= *static_cast<const Clock::time_point*>(deadline) ? 1 : 0;
}

// Opens the remembered file: 0, or -3 recorded.
int SqliteOpen(SqliteDb* d) {
  const int rc = sqlite3_open(sgSqlite.Path, &d->Db);
  d->Deadline = Clock::now() + std::chrono::seconds(std::max(1, sgRun.StepTimeout));
  if (rc == SQLITE_OK) {
    sqlite3_progress_handler(d->Db, 10000, PastDeadline, &d->Deadline);
    return 0;
  }
  NmsRunError(-3, "sqlite3_open: rc=%d,%s", rc, sqlite3_errmsg(d->Db));
  return -3;
}

int ExecFailed(const SqliteDb& d, int rc) {
  const std::string text = SqlFormat("SQL error: %s", sqlite3_errmsg(d.Db));
  NmsRunError(-4, "sqlite3_exec: SqlCode=%d,%s", rc, text.c_str());
  return -4;
}

int Len(std::string_view s) { return static_cast<int>(std::min<uint64_t>(s.size(), INT32_MAX)); }

// Values are bound by their length, so that every byte, a NUL too, is stored.
int Bind(sqlite3_stmt* st, const SqlValues& values) {
  for (size_t i = 0; i < values.size(); i++) {
    const std::string_view v = values[i];
    const int rc = sqlite3_bind_text(st, static_cast<int>(i + 1), v.data() ? v.data() : "",
                                     Len(v), SQLITE_STATIC);
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

// Runs the text statement after statement, the values bound to the first,
// until its end or its first NUL byte: 0, or -4 recorded.
int SqliteRun(const SqliteDb& d, std::string_view sql, const SqlValues& values,
              const RowSink& rows) {
  const char* at = sql.data();
  const char* const end = at + sql.size();
  bool bound = false;
  while (at < end && *at != '\0') {
    SqliteStatement s;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(d.Db, at, Len(std::string_view(at, end - at)), &s.St, &tail);
    if (rc == SQLITE_OK && s.St && !bound) {
      bound = true;
      rc = Bind(s.St, values);
    }
    if (rc == SQLITE_OK && s.St) {
      // A statement given up has made its changes already: those of one
      // with RETURNING are all made at its first step.
      while ((rc = sqlite3_step(s.St)) == SQLITE_ROW && rows(s.St)) {
      }
      if (rc == SQLITE_DONE || rc == SQLITE_ROW) rc = SQLITE_OK;
    }
    if (rc != SQLITE_OK) return ExecFailed(d, rc);
    if (!tail || tail <= at) break;
    at = tail;
  }
  return 0;
}

const char* Text(const char* value) { return value ? value : "NULL"; }

// Column i's text by its length; "NULL" for SQL NULL.
std::string_view Column(sqlite3_stmt* st, int i) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
  if (!text) return "NULL";
  return {text, static_cast<size_t>(sqlite3_column_bytes(st, i))};
}

// Keeps the columns of the first row that fit the select-one buffer.
bool SelectOneRow(sqlite3_stmt* st) {
  if (++sgSqlite.RowCount > 1) return true;
  const int columns = sqlite3_column_count(st);
  const int keep = columns < SQLITE_ONE_COLUMNS ? columns : SQLITE_ONE_COLUMNS;
  for (int k = 0; k < keep; k++) {
    const std::string_view text = Column(st, k);
    const int at = sgSqlite.Offsets[k];
    if (static_cast<uint64_t>(at) + text.size() > SQLITE_ONE_SIZE) break;
    std::memcpy(sgSqlite.One.data() + at, text.data(), text.size());
    sgSqlite.Offsets[k + 1] = at + static_cast<int>(text.size());
    sgSqlite.OneColumns = k + 1;
  }
  return true;
}

std::string Arg(int w) { return std::string(agA[w], static_cast<size_t>(igL[w])); }

// Counts the rows of a system table, creating it first when the count fails;
// the count goes into the variable, empty when even the second count failed.
void CountTable(const char* table, const char* create, const char* var) {
  const std::string count = SqlFormat("select count(*) from %s;", table);
  std::string rows;
  if (SqliteSelectOne(count, &rows) < 0) {
    EsSqliteExecSql(create);
    if (SqliteSelectOne(count, &rows) < 0) rows.clear();
  }
  TarvSetVar3(var, rows.data(), static_cast<int>(rows.size()));
}

void SqliteLog(std::string_view text) {
  const std::string sql = LogRowSql();
  const SqlValues values = {sgNms.FileName, text};
  TarvDebugLogEscaped("\nSqliteLog( %s ).", SqlFill(sql, values, SqliteLiteral).c_str());
  EsSqliteExecSql(sql, values);
}

void SqliteSaveVar(std::string_view name, std::string_view value) {
  const std::string now = SqlNow();
  std::string count;
  const int n = SqliteSelectOne("select count(*) from tarv_var where var_name=?;", &count, {name});
  const bool exists = n > 0 && TarvAtoi(count.c_str()) != 0;
  const std::string sql =
      exists ? SqlFormat("update tarv_var set var_value = ? ,update_time = '%s' where "
                         "var_name = ? ;",
                         now.c_str())
             : SqlFormat("INSERT INTO tarv_var (var_name,update_time,var_value) \n VALUES "
                         "(?,'%s',?);",
                         now.c_str());
  const SqlValues values = exists ? SqlValues{value, name} : SqlValues{name, value};
  TarvDebugLogEscaped("\nSqliteSaveVar( %s ).", SqlFill(sql, values, SqliteLiteral).c_str());
  EsSqliteExecSql(sql, values);
}

}  // namespace

int EsSqliteExecSql(const std::string& sql, const SqlValues& values) {
  SqliteDb db;
  if (const int rc = SqliteOpen(&db); rc < 0) return rc;
  sgSqlite.RowCount = 0;
  RowVars vars("EsSqliteCallBack SetVar ", " Err!");
  const auto row = [&vars](sqlite3_stmt* st) {
    // Once the store is full, later statements still run, making no variables.
    if (vars.Stopped()) return false;
    const int n = ++sgSqlite.RowCount;
    // Made before the rows can fill the store, so that it can tell how many were kept.
    if (n == 1 && TarvFindVar(kRowsVar, static_cast<int>(std::strlen(kRowsVar))) < 0)
      TarvSetVarInt2(kRowsVar, 0);
    for (int i = 0; i < sqlite3_column_count(st); i++)
      vars.Set(SqlFormat("sqlite.%d.%s", n, Text(sqlite3_column_name(st, i))), Column(st, i));
    return vars.EndRow();
  };
  if (const int rc = SqliteRun(db, sql, values, row); rc < 0) return rc;
  if (vars.Stopped())
    sgSqlite.RowCount = vars.Kept();
  else if (sgSqlite.RowCount < 1)
    sgSqlite.RowCount = sqlite3_changes(db.Db);
  if (sgSqlite.RowCount < 0) sgSqlite.RowCount = 0;
  if (TarvSetVarInt2(kRowsVar, sgSqlite.RowCount) < 0)
    return NmsRunError(-5, "EsSqliteExecSql SetVar sqlite.rows Err!");
  return 0;
}

int SqliteSelectOne(const std::string& sql, std::string* out, const SqlValues& values) {
  TarvDebugLogEscaped("\nSqliteSelectOne sql=[%s]", SqlFill(sql, values, SqliteLiteral).c_str());
  if (sql.compare(0, 6, "select") != 0)
    return TarvReturn(-1, "SqliteSelectOne Sql must begin with select");
  sgSqlite.RowCount = 0;
  sgSqlite.One.fill(0);
  sgSqlite.Offsets.fill(0);
  sgSqlite.OneColumns = 0;
  {
    SqliteDb db;
    if (const int rc = SqliteOpen(&db); rc < 0) return rc;
    if (const int rc = SqliteRun(db, sql, values, SelectOneRow); rc < 0) return rc;
  }
  if (sgSqlite.RowCount != 1)
    return TarvReturn(-11, "SqliteSelectOne Return Rows=%d !=1 , Error!", sgSqlite.RowCount);
  if (sgSqlite.OneColumns < 1)
    return TarvReturn(-12, "SqliteSelectOne column longer than %d bytes", SQLITE_ONE_SIZE);
  out->assign(sgSqlite.One.data(), static_cast<size_t>(sgSqlite.Offsets[1]));
  return sgSqlite.Offsets[1];
}

int sqlite_open_a2() {
  HandlerBegin();
  std::memset(&sgSqlite, 0, sizeof sgSqlite);
  if (const int rc = ArgCheckLength(2, kSqlMax, -2); rc != 0) return rc;
  std::memcpy(sgSqlite.Path, agA[2], static_cast<size_t>(igL[2]));

  std::string version;
  if (SqliteSelectOne("select sqlite_version() AS 'SQLite Version';", &version) < 0)
    version.clear();
  TarvSetVar3("sqlite.version", version.data(), static_cast<int>(version.size()));
  CountTable("tarv_log", kCreateLog, "sqlite.tarv_log");
  CountTable("tarv_var", kCreateVar, "sqlite.tarv_var");
  SqliteLog("sqlite.open ......");
  return TarvReturn(0, "sqlite_open_a2 return.");
}

int sqlite_exec_a2() {
  HandlerBegin();
  if (const int rc = ArgCheckLength(2, kSqlMax, -2); rc != 0) return rc;
  EsSqliteExecSql(Arg(2));
  return TarvReturn(0, "sqlite_exec_a2 return.");
}

int sqlite_log_a2() {
  HandlerBegin();
  if (const int rc = ArgCheckLength(2, kSqlMax, -2); rc != 0) return rc;
  SqliteLog(Arg(2));
  return TarvReturn(0, "sqlite_log_a2 return.");
}

int sqlite_save_var_a3() {
  HandlerBegin();
  if (const int rc = ArgCheckLength(3, kNameMax, -3); rc != 0) return rc;
  if (const int i = TarvFindVar(agA[3], igL[3]); i > 0 && sgVar.ValLen[i] > kSaveMax)
    return NmsRunError(-3, "sqlite_save_var_a3, Value longer than %d bytes, too long to save.", kSaveMax);
  char value[VAR_VAL] = {};
  const int len = TarvGetVar4(agA[3], igL[3], value, kSaveMax);
  if (len < 1) return NmsRunError(-3, "sqlite_save_var_a3, Var Not Found.");
  SqliteSaveVar(Arg(3), std::string_view(value, static_cast<size_t>(len)));
  return TarvReturn(0, "sqlite_save_var_a3( )");
}

int sqlite_save_var_name_prefix_a5() {
  HandlerBegin();
  if (const int rc = ArgCheckLength(5, kNameMax, -5); rc != 0) return rc;
  const std::string prefix = Arg(5);
  // The count is taken once: each save sets sqlite.rows and may record
  // errors, and the walk must not chase the variables it creates itself.
  const int count = sgVar.Count;
  for (int i = 1; i <= count; i++) {
    const std::string name(VarName(i), static_cast<size_t>(sgVar.NameLen[i]));
    if (!name.starts_with(prefix)) continue;
    SqliteSaveVar(name, std::string(VarValue(i), static_cast<size_t>(sgVar.ValLen[i])));
  }
  return TarvReturn(0, "sqlite_save_var_name_prefix_a5( )");
}

int sqlite_load_var_a3() {
  HandlerBegin();
  if (const int rc = ArgCheckLength(3, kNameMax, -3); rc != 0) return rc;
  std::string value;
  const int n =
      SqliteSelectOne("select var_value from tarv_var where var_name=?;", &value, {Arg(3)});
  // The row is there; what fails is the variable it would make.
  if (n == kTooLong || (n >= 0 && value.size() > VAR_VAL - 1))
    return NmsRunError(-3, "sqlite_load_var_a3, Value longer than %d bytes, too long for a variable.",
                       VAR_VAL - 1);
  if (n < 0) return NmsRunError(-3, "sqlite_load_var_a3, Var Not Found.");
  if (TarvSetVar4(agA[3], igL[3], value.data(), static_cast<int>(value.size())) < 0)
    return NmsRunError(-3, "sqlite_load_var_a3, Save Var Error.");
  return TarvReturn(0, "sqlite_load_var_a3( )");
}

int sqlite_load_var_name_prefix_a5() {
  HandlerBegin();
  if (const int rc = ArgCheckLength(5, kNameMax, -5); rc != 0) return rc;
  SqliteDb db;
  if (SqliteOpen(&db) == 0) {
    sgSqlite.RowCount = 0;
    const std::string like = Arg(5) + "%";
    RowVars vars("EsSqliteLoadVarCallBack SetVar ", " Err!");
    SqliteRun(db, "select var_name,var_value from tarv_var where var_name like ?;", {like},
              [&vars](sqlite3_stmt* st) {
                sgSqlite.RowCount++;
                if (sqlite3_column_count(st) < 2) return true;
                vars.Set(Column(st, 0), Column(st, 1));
                return vars.EndRow();
              });
  }
  return TarvReturn(0, "sqlite_load_var_name_prefix_a5( )");
}

int sqlite_close() {
  HandlerBegin();
  std::memset(&sgSqlite, 0, sizeof sgSqlite);
  return TarvReturn(0, "sqlite_close return.");
}
