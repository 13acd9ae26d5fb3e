// The sqlite statements: a local SQLite database file that each statement
// opens, works on and closes again within its step.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "services/database/sql_text.h"

int sqlite_open_a2();
int sqlite_exec_a2();
int sqlite_log_a2();
int sqlite_save_var_a3();
int sqlite_save_var_name_prefix_a5();
int sqlite_load_var_a3();
int sqlite_load_var_name_prefix_a5();
int sqlite_close();

inline constexpr int SQLITE_PATH_SIZE = 1024;  // any path the open statement admits
inline constexpr int SQLITE_ONE_SIZE = 2048;
inline constexpr int SQLITE_ONE_COLUMNS = 18;  // columns a select-one row keeps

struct SqliteState {
  int32_t RowCount;            // rows of the current operation, or the changes count
  char Path[SQLITE_PATH_SIZE]; // empty: SQLite's private temporary database
  // Column k (from 0) of the select-one row occupies One[Offsets[k]] up to
  // One[Offsets[k + 1]].
  std::array<int32_t, SQLITE_ONE_COLUMNS + 2> Offsets;
  std::array<char, SQLITE_ONE_SIZE> One;
  int32_t OneColumns;          // columns kept in One
};

extern SqliteState sgSqlite;

// Runs SQL text (one or more statements, the values bound to the "?" marks
// of the first) on the database: rows become the variables
// sqlite.<row>.<column>, sqlite.rows the row or changes count (after a row
// the store refused, the rows kept whole).  0, or the negative code of the
// run error it recorded.
int EsSqliteExecSql(const std::string& sql, const SqlValues& values = {});
// The first column of the one row a select (lower-case "select") returns, into
// *out: its length, or a negative code (-1 not a select, -11 not exactly one
// row, -12 the column does not fit; -3/-4 open or exec failures, recorded).
int SqliteSelectOne(const std::string& sql, std::string* out, const SqlValues& values = {});
