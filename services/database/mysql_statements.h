// The mysql statements: connection settings kept between steps, and every
// operation a connection of its own, from initialising the client library to
// ending it, within the step.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "services/database/sql_text.h"

int mysql_open_ip_a3_port_a5_user_a7_password_a9_database_a11();
int mysql_exec_a2();
int mysql_log_a2();
int mysql_object_create_a3_class_a5();
int mysql_object_get_var_a4_property_a6();
int mysql_object_open_a3();
int mysql_object_property_a3_type_a5_log_a7();
int mysql_object_property_a3_value_a5();

inline constexpr int MYSQL_SETTING = 512;
inline constexpr int MYSQL_ONE_SIZE = 2048;
inline constexpr int MYSQL_ONE_FIELDS = 19;  // fields a select-one row keeps

struct MySqlState {
  int32_t Rows;  // rows read, or rows affected, by the last operation
  int32_t Port;  // 0: the client library's default
  char Database[MYSQL_SETTING];
  char Host[MYSQL_SETTING];
  char User[MYSQL_SETTING];
  char Password[MYSQL_SETTING];
  int32_t ObjectId;    // the object the property statements work on; < 1: none
  int32_t FieldCount;  // fields kept of the select-one row
  // Field k (from 1) of that row occupies One[Offsets[k - 1]] up to One[Offsets[k]].
  std::array<int32_t, MYSQL_ONE_FIELDS + 1> Offsets;
  std::array<char, MYSQL_ONE_SIZE> One;
};

extern MySqlState sgMySql;

// The test connection of mysql.open: 0 or a negative code (recorded).
int MySqlConnectTest();
// Runs one statement for mysql.exec; a lower-case "select" turns its rows into
// the variables mysql.<row>.<field> (after a row the store refused, none
// more, and mysql.rows counts the rows kept whole).  0 or a negative code
// (recorded).
int TarvMySqlExecSql(const std::string& sql);
// Writes the run-log row into tarv_log; failing to reach the server is only a
// warning, a row the server refuses or alters a run error.
int MySqlLog(std::string_view text);
// Runs a select, the values quoted into its "?" marks, and keeps its first
// row's fields: 0 or a negative code.
int TarvMySqlSelectOne(const std::string& sql, const SqlValues& values = {});
// Runs one statement that is not a select, the values quoted into its "?"
// marks: rows affected, or a negative code.  *sent (when given) receives the
// text sent, once there was a connection to quote for.
int TarvMySqlExecOne(const std::string& sql, const SqlValues& values = {},
                     std::string* sent = nullptr);
// 0 when field k (from 1) of the kept row is the text; -1 no such field,
// -2 the lengths differ, -3 the bytes differ.
int MySqlSelectOneFieldIs(int k, std::string_view text);
// Field k (from 1) of the kept row; empty when there is none.
std::string_view MySqlSelectOneField(int k);

// Creates an object of a class and makes it current: 0 or the negative code
// of the error it recorded.
int MySqlObjectCreate(std::string_view name, std::string_view className);
// Makes an object current by its id ("12"), by the lowest or highest id of
// its name ("min", "max"), creating one when there is none ("min/new",
// "max/new"): 0 or the negative code of the error it recorded.
int MySqlObjectOpen(std::string_view name, std::string_view selector);
