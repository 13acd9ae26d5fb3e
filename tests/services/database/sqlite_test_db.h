// Reads and writes SQLite files behind the script's back, through the C API.
#pragma once
#include <sqlite3.h>

#include <string>
#include <vector>

namespace sqlitetest {

using Table = std::vector<std::vector<std::string>>;

// Every row of a query, each column as text ("NULL" for an SQL NULL); a
// failure comes back as one row "ERROR" and SQLite's message.
inline Table Rows(const std::string& file, const std::string& sql) {
  Table out;
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    out.push_back({"ERROR", sqlite3_errmsg(db)});
    sqlite3_close(db);
    return out;
  }
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(st); i++) {
      const auto* text = sqlite3_column_text(st, i);
      row.emplace_back(text ? std::string(reinterpret_cast<const char*>(text),
                                          static_cast<size_t>(sqlite3_column_bytes(st, i)))
                            : "NULL");
    }
    out.push_back(row);
  }
  if (rc != SQLITE_DONE) out.push_back({"ERROR", sqlite3_errmsg(db)});
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

}  // namespace sqlitetest
