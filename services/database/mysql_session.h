// The connection sequence every mysql operation runs by itself: initialise
// the client, connect over TCP with the stored settings, "set names 'utf8mb4'",
// one statement, and at the end free, close and end the client library.
#pragma once
#include <mysql.h>

#include <string>
#include <string_view>

#include "services/database/sql_text.h"

// How a failure of the sequence is reported.
enum class MySqlReport {
  Warning,          // returned and logged, no run error
  RunError,         // a run error
  RunErrorAndVars,  // a run error, and mysql.errno / mysql.error set
};

// Sets mysql.errno and mysql.error.
void MySqlSetErrorVars(unsigned code, const char* text);

class MySqlSession {
 public:
  MySqlSession() = default;
  MySqlSession(const MySqlSession&) = delete;
  MySqlSession& operator=(const MySqlSession&) = delete;
  // Frees the result, closes the connection and ends the client library.
  ~MySqlSession();

  // Initialises and connects, then sends "set names 'utf8mb4'": 0, -401 (no
  // client handle) or -402 (no connection), reported as `how` says.
  int Connect(MySqlReport how);
  // A value as a literal between single quotes, escaped by the client library
  // for the mode the server runs this connection in (with NO_BACKSLASH_ESCAPES
  // a backslash is a plain byte and only the quote is doubled).
  std::string Literal(std::string_view value) const;
  // The text with each "?" replaced by the literal of the next value.
  std::string Fill(const std::string& sql, const SqlValues& values) const;
  // Sends one statement, by its length: 0, or -403 reported as `how` says.
  int Query(const std::string& sql, MySqlReport how);
  // The connection's last error, reported as `how` says as a failure of
  // `call`: -403.
  int Failed(const char* call, MySqlReport how);
  // The statement's rows read from the server one at a time as they are
  // fetched, so that no more of them sit in memory than are asked for; null
  // for none.  Kept until the session ends.
  MYSQL_RES* UseResult();
  // Gives up the rows of UseResult not yet fetched: the connection is cut, so
  // that ending the session does not first read all the rest.
  void Abandon();
  // True when the last statement's error came from the server (it refused
  // the statement), not from the client library or the connection.
  bool ServerRefused() const;
  // After a statement that succeeded: when the server stored something other
  // than it was sent (a value cut or a character replaced, which it reports
  // as a warning), -403 reported as `how` says with the first warning's code
  // and text as a failure of `call`; else 0.
  int Altered(const char* call, MySqlReport how);
  // Rows the statement changed; 0 when the library has no count.
  int AffectedRows() const;
  MYSQL* Handle() const { return db_; }

 private:
  MYSQL* db_ = nullptr;
  MYSQL_RES* result_ = nullptr;
};
