// The sqlite statements run in scripts inside the test process, on files in
// a temporary folder that the tests read back through the C API.
#include "services/database/sqlite_statements.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/engine/harness.h"
#include "tests/platform/child_watch.h"
#include "tests/services/statement_checks.h"

namespace {

using namespace std::string_literals;
using tarvtest::RunErrors;
using tarvtest::Var;
using Strings = std::vector<std::string>;
using Table = std::vector<Strings>;

constexpr const char* kNoLogTable = "sqlite3_exec: SqlCode=1,SQL error: no such table: tarv_log";
constexpr const char* kNoVarTable = "sqlite3_exec: SqlCode=1,SQL error: no such table: tarv_var";

// Every row of a query as text ("NULL" for SQL NULL); a failure is one row
// "ERROR" and the message.
Table Rows(const std::string& file, const std::string& sql) {
  Table out;
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  while (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW) {
    out.emplace_back();
    for (int i = 0; i < sqlite3_column_count(st); i++) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      out.back().push_back(text ? std::string(text, sqlite3_column_bytes(st, i)) : "NULL");
    }
    rc = SQLITE_OK;
  }
  if (rc != SQLITE_DONE) out.push_back({"ERROR", sqlite3_errmsg(db)});
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

class SqliteStatementsTest : public ::testing::Test {
 protected:
  void TearDown() override { sqlite_close(); }
  void Run(const std::string& script) { tarvtest::Run(dir, script); }
  std::string OpenLine() const { return "sqlite.open {" + db + "}\n"; }
  tarvtest::TempDir dir;
  std::string db = dir.File("t.db");
};

TEST_F(SqliteStatementsTest, FreshFileGetsBothTablesAndLaterOpensOnlyALogRow) {
  Run(OpenLine() + "var {first} value {~sqlite.tarv_log~/~sqlite.tarv_var~}\n" + OpenLine());
  EXPECT_EQ(RunErrors(), (Strings{kNoLogTable, kNoVarTable}));
  EXPECT_EQ(Var("first"), "0/0");
  EXPECT_EQ(Var("sqlite.tarv_log") + Var("sqlite.tarv_var"), "10");
  EXPECT_EQ(Var("sqlite.version"), sqlite3_libversion());
  std::string tables;
  for (const Strings& row : Rows(db, "select sql from sqlite_master where name like 'tarv%' order by name"))
    tables += row[0] + ";\n";
  tarvtest::ExpectGolden("sqlite_tables.sql", tables);
  const std::string script = dir.File("t.nms");
  const std::string memo = "ver:tarv8.13.20200205";
  EXPECT_EQ(Rows(db, "select log_id, nms_file, log, run_steps, run_line, run_errors, memo, "
                     "length(cur_time) from tarv_log"),
            (Table{{"1", script, "sqlite.open ......", "1", "1", "2", memo, "19"},
                   {"2", script, "sqlite.open ......", "3", "3", "2", memo, "19"}}));
}

TEST_F(SqliteStatementsTest, ExecTurnsRowsIntoVariablesAndCountsChanges) {
  const std::string longName(60, 'n');
  Run(OpenLine() +
      "sqlite.exec {create table t(a, b); insert into t values (1, NULL), ('two', 2.5);}\n"
      "var {inserted} value {~sqlite.rows~}\n"
      "sqlite.exec {select a, b from t order by rowid}\n"
      "var {selected} value {~sqlite.rows~}\n"
      "sqlite.exec {update t set b = 0}\n"
      "var {updated} value {~sqlite.rows~}\n"
      "sqlite.exec {select a from t where a = 'none'}\n"
      "var {none} value {~sqlite.rows~}\n"
      "sqlite.exec {select nonsense from t}\n"
      "sqlite.exec {select substr(quote(zeroblob(800)), 1, 1500) as big, 7 as small}\n"
      "sqlite.exec {select 1 as " + longName + "}\n");
  EXPECT_EQ(tarvtest::Vars({"inserted", "selected", "updated", "none", "sqlite.1.a", "sqlite.1.b", "sqlite.2.a",
                            "sqlite.2.b", "sqlite.1.small"}),
            "2|2|2|0|1|NULL|two|2.5|7");
  EXPECT_EQ(RunErrors(),
            (Strings{kNoLogTable, kNoVarTable,
                     "sqlite3_exec: SqlCode=1,SQL error: no such column: nonsense",
                     "EsSqliteCallBack SetVar sqlite.1.big Err! 0 rows kept, later rows dropped.",
                     "EsSqliteCallBack SetVar sqlite.1." + longName +
                         " Err! 0 rows kept, later rows dropped."}));
}

TEST_F(SqliteStatementsTest, SavingTwiceKeepsOneRowWithANewTimeAndQuotesRoundTrip) {
  Run(OpenLine() + "var {host's.name} value {it's \"quoted\"}\nsqlite.save var {host's.name}\n");
  ASSERT_EQ(Rows(db, "select var_name, var_value from tarv_var"),
            (Table{{"host's.name", "it's \"quoted\""}}));
  Rows(db, "update tarv_var set update_time = '2000-01-01 00:00:00'");
  // Doubled, the quotes make the statement far longer than the value.
  const std::string quotes(1000, '\'');
  const std::string log = std::string(1019, 'L') + "'";
  Run(OpenLine() + "var {host's.name} value {" + quotes + "}\nsqlite.save var {host's.name}\n" +
      "var {saved} value {~sqlite.rows~}\nvar {host's.name} value {changed}\n"
      "sqlite.load var {host's.name}\nsqlite.log {" + log + "}\n");
  EXPECT_EQ(RunErrors(), Strings{});
  EXPECT_EQ(Var("saved"), "1");
  EXPECT_EQ(Var("host's.name"), quotes);
  const Table rows = Rows(db, "select var_value, update_time from tarv_var");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], quotes);
  EXPECT_NE(rows[0][1], "2000-01-01 00:00:00");
  EXPECT_EQ(Rows(db, "select log from tarv_log where log_id = 3"), (Table{{log}}));
}

TEST_F(SqliteStatementsTest, PrefixesSaveByExactBytesAndLoadByLikeRules) {
  Run(OpenLine() +
      "var {p.one} value {1}\nvar {p.empty} value {}\nvar {P.upper} value {3}\n"
      "sqlite.save var name prefix {p.}\n"
      "sqlite.save var {p.empty}\n");
  EXPECT_EQ(Rows(db, "select var_name, var_value from tarv_var order by ID"),
            (Table{{"p.one", "1"}, {"p.empty", ""}}));
  EXPECT_EQ(RunErrors(), (Strings{kNoLogTable, kNoVarTable, "sqlite_save_var_a3, Var Not Found."}));

  Rows(db, "insert into tarv_var (var_name, var_value) values ('abc', '1'), ('ABD', '2'), "
           "('a_x', '3'), ('xa_', '4'), ('aq', NULL), ('it''s', '5')");
  Run(OpenLine() + "sqlite.load var name prefix {a_}\nsqlite.load var name prefix {it'}\n");
  EXPECT_EQ(RunErrors(), Strings{});
  EXPECT_EQ(Var("abc") + Var("ABD") + Var("a_x") + Var("aq") + Var("it's"), "123NULL5");
  EXPECT_EQ(Var("xa_"), "<missing>");
}

TEST_F(SqliteStatementsTest, PrefixSaveWalksOnlyTheVariablesItFound) {
  // Every failed save records errors, whose variables share the prefix.
  Run("sqlite.open {" + dir.File("missing/t.db") +
      "}\nvar {before} value {~run.errors~}\nsqlite.save var name prefix {run.error.}\n");
  const int before = std::stoi(Var("before"));
  ASSERT_GT(before, 0);
  EXPECT_EQ(RunErrors().size(), static_cast<size_t>(3 * before));
  EXPECT_EQ(RunErrors().back(), "sqlite3_open: rc=14,unable to open database file");
}

TEST_F(SqliteStatementsTest, WithoutAPathEachOperationHasAPrivateTemporaryDatabase) {
  Run(OpenLine() +
      "sqlite.close\n"
      "sqlite.exec {create table t(a); insert into t values (1);}\n"
      "sqlite.exec {select a from t}\n" +
      OpenLine() + "sqlite.open {}\nsqlite.exec {create table u(a)}\n");
  EXPECT_EQ(RunErrors(), (Strings{kNoLogTable, kNoVarTable,
                                  "sqlite3_exec: SqlCode=1,SQL error: no such table: t",
                                  "Length of Arg 2 is :0  < 1 !"}));
  EXPECT_EQ(Rows(db, "select name from sqlite_master where type = 'table' order by name"),
            (Table{{"sqlite_sequence"}, {"tarv_log"}, {"tarv_var"}}));
}

TEST_F(SqliteStatementsTest, ValuesWithNulBytesAndQuotesAreStoredAndReadBackWhole) {
  const struct {
    const char* script;  // as a script writes it
    std::string bytes;
  } values[] = {
      {"ab%00cd", "ab\0cd"s}, {"%00%00x", "\0\0x"s}, {"it's%00'", "it's\0'"s},
      {"a?b?'", "a?b?'"},     {"x%00", "x\0"s},
  };
  for (const auto& v : values) {
    SCOPED_TRACE(v.script);
    std::filesystem::remove(db);
    Run(OpenLine() + "var {v} value {" + v.script + "}\nsqlite.save var {v}\nsqlite.log {" +
        v.script + "}\n");
    EXPECT_EQ(RunErrors(), (Strings{kNoLogTable, kNoVarTable}));
    EXPECT_EQ(Rows(db, "select var_name, var_value from tarv_var"), (Table{{"v", v.bytes}}));
    EXPECT_EQ(Rows(db, "select log from tarv_log where log_id = 2"), (Table{{v.bytes}}));
    // Saved again: the update binds the value as well.
    Run(OpenLine() + "var {v} value {" + v.script + "%00}\nsqlite.save var {v}\n");
    EXPECT_EQ(Rows(db, "select var_value from tarv_var"), (Table{{v.bytes + "\0"s}}));
    for (const std::string load : {"sqlite.load var {v}", "sqlite.load var name prefix {v}"}) {
      Run(OpenLine() + "var {v} value {changed}\n" + load +
          "\nsqlite.exec {select var_value as x from tarv_var}\n");
      EXPECT_EQ(RunErrors(), Strings{});
      EXPECT_EQ(Var("v"), v.bytes + "\0"s) << load;
      EXPECT_EQ(Var("sqlite.1.x"), v.bytes + "\0"s);
    }
  }
}

TEST_F(SqliteStatementsTest, ManyRowsEndAtTheFirstRefusalWithOneCountedError) {
  const std::string tenThousand =
      "with recursive c(x) as (select 1 union all select x+1 from c where x < 10000) ";
  const struct {
    std::string fill;    // makes the rows
    std::string read;    // turns them into variables
    std::string error;   // its one run error, as a shape
    std::string prefix;  // the variable of row N is prefix + N (+ suffix)
    std::string suffix;
  } cases[] = {
      {"", "sqlite.exec {" + tenThousand + "select x from c}",
       "EsSqliteCallBack SetVar sqlite.#.x Err! # rows kept, later rows dropped.", "sqlite.", ".x"},
      {"sqlite.exec {" + tenThousand +
           "insert into tarv_var (var_name, var_value) select 'n.' || x, x from c}\n",
       "sqlite.load var name prefix {n.}",
       "EsSqliteLoadVarCallBack SetVar n.# Err! # rows kept, later rows dropped.", "n.", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.read);
    std::filesystem::remove(db);
    // The full store could not take the error's own variable: it is made beforehand.
    Run(OpenLine() + "var {run.error.3} value {" + std::string(200, '-') + "}\n" + c.fill +
        c.read + "\ntext.add {ran}\n");
    const Strings errors = RunErrors();
    ASSERT_EQ(errors.size(), 3u) << errors.back();
    EXPECT_TRUE(tarvtest::Shaped(errors[2], c.error)) << errors[2];
    std::smatch kept;
    ASSERT_TRUE(std::regex_search(errors[2], kept, std::regex("([0-9]+) rows kept")));
    const int n = std::stoi(kept[1]);
    EXPECT_GT(n, 3000);
    EXPECT_EQ(Var(c.prefix + std::to_string(n) + c.suffix), std::to_string(n));
    EXPECT_EQ(Var(c.prefix + std::to_string(n + 1) + c.suffix), "<missing>");
    if (c.fill.empty()) {
      EXPECT_EQ(Var("sqlite.rows"), std::to_string(n));
    }
    EXPECT_EQ(tarvtest::Text(), "ran");
  }
}

// A full store ends only the making of variables: sqlite.rows still tells the
// rows kept, on a file and on the private temporary database alike, and the
// statements after the select still run, without a second error.
TEST_F(SqliteStatementsTest, AFullStoreStopsOnlyTheMakingOfVariables) {
  const std::string tenThousand =
      "with recursive c(x) as (select 1 union all select x+1 from c where x < 10000) select x from c";
  const std::string reserve = "var {run.error.#} value {" + std::string(200, '-') + "}\n";
  const struct {
    std::string open;
    std::string exec;
    size_t errors;  // the last is the one of the full store
    Table t;        // rows of t afterwards, when there is a file
  } cases[] = {
      {"", "sqlite.exec {" + tenThousand + "}", 1, {}},
      {OpenLine() + "sqlite.exec {create table t(x)}\n",
       "sqlite.exec {" + tenThousand + "; insert into t values (99); select x as y from t; "
       "insert into t values (100)}",
       3, {{"99"}, {"100"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exec);
    std::filesystem::remove(db);
    // The full store could not take the error's own variable: it is made beforehand.
    std::string made = reserve;
    made.replace(made.find('#'), 1, std::to_string(c.errors));
    Run(c.open + made + c.exec + "\ntext.add {~sqlite.rows~}\n");
    const Strings errors = RunErrors();
    ASSERT_EQ(errors.size(), c.errors) << errors.back();
    EXPECT_TRUE(tarvtest::Shaped(errors.back(), "EsSqliteCallBack SetVar sqlite.#.x Err! # rows kept, later rows dropped."))
        << errors.back();
    std::smatch kept;
    ASSERT_TRUE(std::regex_search(errors.back(), kept, std::regex("([0-9]+) rows kept")));
    EXPECT_GT(std::stoi(kept[1]), 3000);
    EXPECT_EQ(Var("sqlite.rows"), kept[1]);
    EXPECT_EQ(tarvtest::Text(), kept[1]);
    EXPECT_EQ(Var("sqlite.1.y"), "<missing>");
    if (!c.open.empty()) {
      EXPECT_EQ(Rows(db, "select x from t order by rowid"), c.t);
    }
  }
}

// sqlite.save var takes a value of 1 to 1022 bytes; a longer one (loaded from
// the table) is refused as too long, not as missing, and its row stays.
TEST_F(SqliteStatementsTest, SaveVarRefusesWhatItCannotStore) {
  constexpr const char* kNotFound = "sqlite_save_var_a3, Var Not Found.";
  const std::string longest(1022, 'a');
  const std::string over(1023, '0');
  const struct {
    std::string stored;  // v's row before the run; "" for none
    std::string make;    // the lines that make v
    std::string error;
    Table after;  // v's rows after the run
  } cases[] = {
      {"", "var {v} value {" + longest.substr(1) + "}\nvar {v} add {a}\n", "", {{longest}}},
      {over, "sqlite.load var {v}\n", "sqlite_save_var_a3, Value longer than 1022 bytes, too long to save.",
       {{over}}},
      {"", "var {v} value {}\n", kNotFound, {}},
      {"", "", kNotFound, {}},
  };
  Run(OpenLine());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.make.substr(0, 40));
    ASSERT_EQ(Rows(db, "delete from tarv_var"), Table{});
    if (!c.stored.empty()) {
      ASSERT_EQ(Rows(db, "insert into tarv_var (var_name, var_value) values ('v', '" + c.stored + "')"), Table{});
    }
    const tarvtest::Outcome o = tarvtest::RunCase(dir, OpenLine() + c.make + "sqlite.save var {v}\n");
    EXPECT_EQ(o.errors, c.error.empty() ? Strings{} : Strings{c.error});
    const int saveLine = 2 + static_cast<int>(std::count(c.make.begin(), c.make.end(), '\n'));
    EXPECT_EQ(o.ErrorOn(saveLine), c.error);
    EXPECT_EQ(o.Code(saveLine), c.error.empty() ? 0 : -3);
    EXPECT_EQ(Rows(db, "select var_value from tarv_var where var_name = 'v'"), c.after);
  }
}

TEST_F(SqliteStatementsTest, LoadVarNeedsExactlyOneRowThatFitsAVariable) {
  constexpr const char* kNotFound = "sqlite_load_var_a3, Var Not Found.";
  constexpr const char* kTooLong =
      "sqlite_load_var_a3, Value longer than 1023 bytes, too long for a variable.";
  const struct {
    const char* rows;  // of tarv_var, as (name, value)
    int code;
    std::string error;
    std::string value;
  } cases[] = {
      {"('v', 'one'), ('v', 'two')", -3, kNotFound, "before"},
      {"('w', 'one')", -3, kNotFound, "before"},
      {"('v', substr(hex(zeroblob(600)), 1, 1024))", -3, kTooLong, "before"},
      {"('v', hex(zeroblob(1500)))", -3, kTooLong, "before"},
      {"('v', substr(hex(zeroblob(600)), 1, 1023))", 0, "", std::string(1023, '0')},
      {"('v', NULL)", 0, "", "NULL"},
  };
  Run(OpenLine());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rows);
    ASSERT_EQ(Rows(db, "delete from tarv_var"), Table{});
    ASSERT_EQ(Rows(db, std::string("insert into tarv_var (var_name, var_value) values ") + c.rows),
              Table{});
    const tarvtest::Outcome o =
        tarvtest::RunCase(dir, OpenLine() + "var {v} value {before}\nsqlite.load var {v}\n");
    EXPECT_EQ(o.Code(3), c.code);
    EXPECT_EQ(o.errors, c.error.empty() ? Strings{} : Strings{c.error});
    EXPECT_EQ(Var("v"), c.value);
  }
}

// A query that works on without giving rows (a recursion without end, a join
// of billions of pairs) is interrupted at the step time-out: one counted
// error, and the run goes on.
TEST_F(SqliteStatementsTest, AQueryPastTheStepTimeOutIsInterrupted) {
  // A query that is not interrupted would run for ever: that is a failure too.
  const childwatch::Watchdog dog(60, "AQueryPastTheStepTimeOutIsInterrupted");
  const std::string endless = "with recursive c(x) as (select 1 union all select x+1 from c) ";
  const std::string million =
      "with recursive c(x) as (select 1 union all select x+1 from c where x < 1000000) ";
  const std::string cases[] = {
      "sqlite.exec {" + endless + "select count(*) as n from c}",
      "sqlite.exec {" + million + "select count(*) as n from c a, c b}",
      "sqlite.exec {create table t(x); insert into t " + endless + "select x from c}",
  };
  Run(OpenLine());
  for (const std::string& statement : cases) {
    SCOPED_TRACE(statement);
    const tarvtest::Outcome o = tarvtest::RunCase(
        dir, "run.set step.timeout {1} seconds\n" + OpenLine() + statement + "\ntext.add {ran}\n");
    EXPECT_EQ(o.errors, Strings{"sqlite3_exec: SqlCode=9,SQL error: interrupted"});
    EXPECT_EQ(Var("sqlite.1.n"), "<missing>");
    EXPECT_EQ(o.text, "ran");
  }
  // The interrupted insert is undone whole; the statement before it stays.
  EXPECT_EQ(Rows(db, "select count(*) from t"), (Table{{"0"}}));
}

}  // namespace
