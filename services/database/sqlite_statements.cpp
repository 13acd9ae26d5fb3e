// The sqlite statements.  No database stays open between steps: every
// operation opens the remembered file, works and closes it again.
#include "services/database/sqlite_statements.h"

#include <sqlite3.h>

#include <cstring>
#include <string_view>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "engine/util/util.h"
#include "services/database/sql_text.h"

SqliteState sgSqlite;

namespace {

constexpr int kSqlMax = 1020;
constexpr int kNameMax = 62;

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

using RowCallback = int (*)(void*, int, char**, char**);

// One operation's connection, closed when the operation ends.
struct SqliteDb {
  sqlite3* Db = nullptr;
  SqliteDb() = default;
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;
  ~SqliteDb() { sqlite3_close(Db); }
};

// Opens the remembered file: 0, or -3 recorded.
int SqliteOpen(SqliteDb* d) {
  const int rc = sqlite3_open(sgSqlite.Path, &d->Db);
  if (rc == SQLITE_OK) return 0;
  NmsRunError(-3, "sqlite3_open: rc=%d,%s", rc, sqlite3_errmsg(d->Db));
  return -3;
}

// Runs the text with a row callback: 0, or -4 recorded.
int SqliteRun(const SqliteDb& d, const std::string& sql, RowCallback rows) {
  char* err = nullptr;
  const int rc = sqlite3_exec(d.Db, sql.c_str(), rows, nullptr, &err);
  if (rc == SQLITE_OK) return 0;
  const std::string text = SqlFormat("SQL error: %s", err ? err : sqlite3_errmsg(d.Db));
  sqlite3_free(err);
  NmsRunError(-4, "sqlite3_exec: SqlCode=%d,%s", rc, text.c_str());
  return -4;
}

const char* Text(const char* value) { return value ? value : "NULL"; }

int SetVarText(const std::string& name, const char* value) {
  return TarvSetVar4(name.data(), static_cast<int>(name.size()), value,
                     static_cast<int>(std::strlen(value)));
}

int EsSqliteCallBack(void*, int columns, char** values, char** names) {
  const int row = ++sgSqlite.RowCount;
  for (int i = 0; i < columns; i++) {
    const std::string name = SqlFormat("sqlite.%d.%s", row, names[i]);
    if (SetVarText(name, Text(values[i])) < 0)
      NmsRunError(-10, "EsSqliteCallBack SetVar %s Err!", name.c_str());
  }
  return 0;
}

// Keeps the columns of the first row that fit the select-one buffer.
int EsSqliteSelectOneCallBack(void*, int columns, char** values, char**) {
  if (++sgSqlite.RowCount > 1) return 0;
  const int keep = columns < SQLITE_ONE_COLUMNS ? columns : SQLITE_ONE_COLUMNS;
  for (int k = 0; k < keep; k++) {
    const char* text = Text(values[k]);
    const size_t len = std::strlen(text);
    const int at = sgSqlite.Offsets[k];
    if (static_cast<uint64_t>(at) + len > SQLITE_ONE_SIZE) break;
    std::memcpy(sgSqlite.One.data() + at, text, len);
    sgSqlite.Offsets[k + 1] = at + static_cast<int>(len);
    sgSqlite.OneColumns = k + 1;
  }
  return 0;
}

int EsSqliteLoadVarCallBack(void*, int columns, char** values, char**) {
  sgSqlite.RowCount++;
  if (columns < 2) return 0;
  const std::string name = Text(values[0]);
  if (SetVarText(name, Text(values[1])) < 0)
    NmsRunError(-10, "EsSqliteLoadVarCallBack SetVar %s Err!", name.c_str());
  return 0;
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
  const std::string sql = LogRowSql(SqliteQuote(sgNms.FileName), SqliteQuote(text));
  TarvDebugLogEscaped("\nSqliteLog( %s ).", sql.c_str());
  EsSqliteExecSql(sql);
}

void SqliteSaveVar(std::string_view name, std::string_view value) {
  const std::string now = SqlNow();
  const std::string quotedName = SqliteQuote(name);
  std::string count;
  const int n = SqliteSelectOne(
      SqlFormat("select count(*) from tarv_var where var_name='%s';", quotedName.c_str()), &count);
  const bool exists = n > 0 && TarvAtoi(count.c_str()) != 0;
  const std::string quotedValue = SqliteQuote(value);
  const std::string sql =
      exists ? SqlFormat("update tarv_var set var_value = '%s' ,update_time = '%s' where "
                         "var_name = '%s' ;",
                         quotedValue.c_str(), now.c_str(), quotedName.c_str())
             : SqlFormat("INSERT INTO tarv_var (var_name,update_time,var_value) \n VALUES "
                         "('%s','%s','%s');",
                         quotedName.c_str(), now.c_str(), quotedValue.c_str());
  TarvDebugLogEscaped("\nSqliteSaveVar( %s ).", sql.c_str());
  EsSqliteExecSql(sql);
}

}  // namespace

int EsSqliteExecSql(const std::string& sql) {
  SqliteDb db;
  if (const int rc = SqliteOpen(&db); rc < 0) return rc;
  sgSqlite.RowCount = 0;
  if (const int rc = SqliteRun(db, sql, EsSqliteCallBack); rc < 0) return rc;
  if (sgSqlite.RowCount < 1) sgSqlite.RowCount = sqlite3_changes(db.Db);
  if (sgSqlite.RowCount < 0) sgSqlite.RowCount = 0;
  if (TarvSetVarInt2("sqlite.rows", sgSqlite.RowCount) < 0)
    return NmsRunError(-5, "EsSqliteExecSql SetVar sqlite.rows Err!");
  return 0;
}

int SqliteSelectOne(const std::string& sql, std::string* out) {
  TarvDebugLogEscaped("\nSqliteSelectOne sql=[%s]", sql.c_str());
  if (sql.compare(0, 6, "select") != 0)
    return TarvReturn(-1, "SqliteSelectOne Sql must begin with select");
  sgSqlite.RowCount = 0;
  sgSqlite.One.fill(0);
  sgSqlite.Offsets.fill(0);
  sgSqlite.OneColumns = 0;
  {
    SqliteDb db;
    if (const int rc = SqliteOpen(&db); rc < 0) return rc;
    if (const int rc = SqliteRun(db, sql, EsSqliteSelectOneCallBack); rc < 0) return rc;
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
  char value[VAR_VAL] = {};
  const int len = TarvGetVar4(agA[3], igL[3], value, 1022);
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
  const std::string sql = SqlFormat("select var_value from tarv_var where var_name='%s';",
                                    SqliteQuote(Arg(3)).c_str());
  if (SqliteSelectOne(sql, &value) < 0)
    return NmsRunError(-3, "sqlite_load_var_a3, Var Not Found.");
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
    SqliteRun(db,
              SqlFormat("select var_name,var_value from tarv_var where var_name like '%s%%';",
                        SqliteQuote(Arg(5)).c_str()),
              EsSqliteLoadVarCallBack);
  }
  return TarvReturn(0, "sqlite_load_var_name_prefix_a5( )");
}

int sqlite_close() {
  HandlerBegin();
  std::memset(&sgSqlite, 0, sizeof sgSqlite);
  return TarvReturn(0, "sqlite_close return.");
}
