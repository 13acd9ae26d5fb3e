// The sqlite statements run in scripts inside the test process, on files in
// a temporary folder that the tests read back through the C API.
#include "services/database/sqlite_statements.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/services/database/sqlite_test_db.h"

namespace {

using sqlitetest::Rows;
using sqlitetest::Table;
using tarvtest::RunErrors;
using tarvtest::Var;
using Strings = std::vector<std::string>;

constexpr const char* kNoLogTable = "sqlite3_exec: SqlCode=1,SQL error: no such table: tarv_log";
constexpr const char* kNoVarTable = "sqlite3_exec: SqlCode=1,SQL error: no such table: tarv_var";

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
  EXPECT_EQ(Var("sqlite.tarv_log"), "1");
  EXPECT_EQ(Var("sqlite.tarv_var"), "0");
  EXPECT_EQ(Var("sqlite.version"), sqlite3_libversion());
  EXPECT_EQ(Rows(db, "select sql from sqlite_master where type = 'table' and name like 'tarv%' "
                     "order by name"),
            (Table{{"CREATE TABLE tarv_log(\n"
                    "\tlog_id INTEGER PRIMARY KEY   AUTOINCREMENT,\n"
                    "\tnms_file varchar(512),\n\tnms_errors integer,\n\trun_pid integer,\n"
                    "\tcur_time datetime,\n\tlog varchar(1020),\n\trun_steps integer,\n"
                    "\trun_line integer,\n\trun_errors integer,\n\trun_seconds integer,\n"
                    "\trun_argc integer,\n\tvar_count integer,\n\tvar_bytes integer,\n"
                    "\ttext_bytes integer,\n\tmemo varchar(512) )"},
                   {"CREATE TABLE tarv_var(\n\tID INTEGER PRIMARY KEY   AUTOINCREMENT,\n"
                    "\tvar_name varchar(64),\n\tupdate_time datetime,\n"
                    "\tvar_value varchar(1024) )"}}));
  const std::string script = dir.File("t.nms");
  EXPECT_EQ(Rows(db, "select log_id, nms_file, log, run_steps, run_line, run_errors, memo, "
                     "length(cur_time) from tarv_log"),
            (Table{{"1", script, "sqlite.open ......", "1", "1", "2", "ver:tarv8.13.20200205", "19"},
                   {"2", script, "sqlite.open ......", "3", "3", "2", "ver:tarv8.13.20200205",
                    "19"}}));
}

TEST_F(SqliteStatementsTest, ExecTurnsRowsIntoVariablesAndCountsChanges) {
  Run(OpenLine() +
      "sqlite.exec {create table t(a, b); insert into t values (1, NULL), ('two', 2.5);}\n"
      "var {inserted} value {~sqlite.rows~}\n"
      "sqlite.exec {select a, b from t order by rowid}\n"
      "var {selected} value {~sqlite.rows~}\n"
      "sqlite.exec {update t set b = 0}\n"
      "var {updated} value {~sqlite.rows~}\n"
      "sqlite.exec {select a from t where a = 'none'}\n"
      "var {none} value {~sqlite.rows~}\n"
      "sqlite.exec {select nonsense from t}\n");
  EXPECT_EQ(Var("inserted"), "2");
  EXPECT_EQ(Var("selected"), "2");
  EXPECT_EQ(Var("sqlite.1.a"), "1");
  EXPECT_EQ(Var("sqlite.1.b"), "NULL");
  EXPECT_EQ(Var("sqlite.2.a"), "two");
  EXPECT_EQ(Var("sqlite.2.b"), "2.5");
  EXPECT_EQ(Var("updated"), "2");
  EXPECT_EQ(Var("none"), "0");
  EXPECT_EQ(RunErrors(), (Strings{kNoLogTable, kNoVarTable,
                                  "sqlite3_exec: SqlCode=1,SQL error: no such column: nonsense"}));
}

TEST_F(SqliteStatementsTest, SavingTwiceKeepsOneRowWithANewTimeAndQuotesRoundTrip) {
  Run(OpenLine() + "var {host's.name} value {it's \"quoted\"}\nsqlite.save var {host's.name}\n");
  ASSERT_EQ(Rows(db, "select var_name, var_value from tarv_var"),
            (Table{{"host's.name", "it's \"quoted\""}}));
  Rows(db, "update tarv_var set update_time = '2000-01-01 00:00:00'");
  Run(OpenLine() +
      "var {host's.name} value {second 'value'}\n"
      "sqlite.save var {host's.name}\n"
      "var {saved} value {~sqlite.rows~}\n"
      "var {host's.name} value {changed}\n"
      "sqlite.load var {host's.name}\n");
  EXPECT_EQ(RunErrors(), Strings{});
  EXPECT_EQ(Var("saved"), "1");
  EXPECT_EQ(Var("host's.name"), "second 'value'");
  const Table rows = Rows(db, "select var_value, update_time from tarv_var");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "second 'value'");
  EXPECT_NE(rows[0][1], "2000-01-01 00:00:00");
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
  EXPECT_EQ(Var("abc"), "1");
  EXPECT_EQ(Var("ABD"), "2");
  EXPECT_EQ(Var("a_x"), "3");
  EXPECT_EQ(Var("aq"), "NULL");
  EXPECT_EQ(Var("xa_"), "<missing>");
  EXPECT_EQ(Var("it's"), "5");
}

TEST_F(SqliteStatementsTest, PrefixSaveWalksOnlyTheVariablesItFound) {
  // Every failed save records errors, whose variables share the prefix.
  Run("sqlite.open {" + dir.File("missing/t.db") +
      "}\n"
      "var {before} value {~run.errors~}\n"
      "sqlite.save var name prefix {run.error.}\n");
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
      OpenLine() +
      "sqlite.open {}\n"
      "sqlite.exec {create table u(a)}\n");
  EXPECT_EQ(RunErrors(), (Strings{kNoLogTable, kNoVarTable,
                                  "sqlite3_exec: SqlCode=1,SQL error: no such table: t",
                                  "Length of Arg 2 is :0  < 1 !"}));
  EXPECT_EQ(Rows(db, "select name from sqlite_master where type = 'table' order by name"),
            (Table{{"sqlite_sequence"}, {"tarv_log"}, {"tarv_var"}}));
}

TEST_F(SqliteStatementsTest, LongQuotedValuesAreNotCut) {
  const std::string quotes(1000, '\'');
  const std::string log = std::string(1019, 'L') + "'";
  Run(OpenLine() + "var {big} value {" + quotes + "}\nsqlite.save var {big}\n" +
      "var {big} value {x}\nsqlite.load var {big}\nsqlite.log {" + log + "}\n");
  EXPECT_EQ(RunErrors(), (Strings{kNoLogTable, kNoVarTable}));
  EXPECT_EQ(Var("big"), quotes);
  EXPECT_EQ(Rows(db, "select var_value from tarv_var"), (Table{{quotes}}));
  EXPECT_EQ(Rows(db, "select log from tarv_log where log_id = 2"), (Table{{log}}));
}

TEST_F(SqliteStatementsTest, ResultsTooLargeForAVariableAreErrors) {
  const std::string longName(60, 'n');
  Run(OpenLine() +
      "sqlite.exec {select substr(quote(zeroblob(800)), 1, 1500) as big, 7 as small}\n"
      "sqlite.exec {select 1 as " + longName + "}\n"
      "sqlite.exec {insert into tarv_var (var_name, var_value) values "
      "('v1500', substr(quote(zeroblob(800)), 1, 1500)), "
      "('v3000', substr(quote(zeroblob(2000)), 1, 3000))}\n"
      "sqlite.load var {v1500}\n"
      "sqlite.load var {v3000}\n");
  EXPECT_EQ(Var("sqlite.1.small"), "7");
  EXPECT_EQ(RunErrors(), (Strings{kNoLogTable, kNoVarTable, "EsSqliteCallBack SetVar sqlite.1.big Err!",
                                  "EsSqliteCallBack SetVar sqlite.1." + longName + " Err!",
                                  "sqlite_load_var_a3, Save Var Error.",
                                  "sqlite_load_var_a3, Var Not Found."}));
}

TEST_F(SqliteStatementsTest, ArgumentLengths) {
  const struct {
    std::string line;
    std::string error;
  } cases[] = {
      {"sqlite.exec {}", "Length of Arg 2 is :0  < 1 !"},
      {"sqlite.log {" + std::string(1021, 'x') + "}", "Length of Arg 2 is :1021 > 1020 !"},
      {"sqlite.save var {" + std::string(63, 'v') + "}", "Length of Arg 3 is :63 > 62 !"},
      {"sqlite.load var {}", "Length of Arg 3 is :0  < 1 !"},
      {"sqlite.save var name prefix {" + std::string(63, 'v') + "}",
       "Length of Arg 5 is :63 > 62 !"},
      {"sqlite.load var name prefix {}", "Length of Arg 5 is :0  < 1 !"},
  };
  for (const auto& c : cases) {
    Run(c.line + "\n");
    EXPECT_EQ(RunErrors(), Strings{c.error}) << c.line;
  }
}

TEST_F(SqliteStatementsTest, ScriptThroughTheBinary) {
  const std::string out = dir.File("out.txt");
  const std::string script = dir.Write(
      "db.nms", OpenLine() +
                    "sqlite.exec {create table hosts(name, ip); insert into hosts values "
                    "('gw', '10.0.0.1'), ('dns', NULL);}\n"
                    "sqlite.exec {select name, ip from hosts order by rowid}\n"
                    "var {seen} value {~sqlite.1.ip~}\n"
                    "sqlite.save var {seen}\n"
                    "var {seen} value {}\n"
                    "sqlite.load var {seen}\n"
                    "text.add {~seen~|~sqlite.2.name~|~sqlite.2.ip~|~sqlite.rows~|~run.errors~}\n"
                    "text.headpointer move to head\ntext.tailpointer move to tail\n"
                    "text.save to file {" + out + "}\nsqlite.close\nrun.end\n");
  const auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script},
                                      dir.path().string(), 60);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(out), "10.0.0.1|dns|NULL|1|2");
  EXPECT_EQ(Rows(db, "select var_name, var_value from tarv_var"), (Table{{"seen", "10.0.0.1"}}));
  EXPECT_EQ(Rows(db, "select count(*) from tarv_log"), (Table{{"1"}}));
}

}  // namespace
