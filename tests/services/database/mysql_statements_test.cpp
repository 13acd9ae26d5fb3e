// The mysql statements run in scripts against a MariaDB server that the
// tests start themselves; the tables are read back as root.
#include "services/database/mysql_statements.h"

#include <gtest/gtest.h>
#include <mysql.h>

#include <chrono>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "engine/core/run_state.h"
#include "tests/engine/harness.h"
#include "tests/services/binary_run.h"
#include "tests/services/database/harness_mariadb.h"
#include "tests/services/sockets/tcp_peer.h"
#include "tests/services/statement_checks.h"

namespace {

using namespace std::string_literals;
using mariadbtest::Server;
using mariadbtest::Table;
using tarvtest::RunErrors;
using tarvtest::Var;
using Strings = std::vector<std::string>;

// Bytes as the server's hex() shows them.
std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char b : bytes) out += {kDigits[b >> 4], kDigits[b & 15]};
  return out;
}

class MySqlStatementsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new Server;
    started_ =
        server_->Start(TARV_SOURCE_DIR "/tests/services/database/mysql_setup.sql", &why_);
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(started_) << why_;
    ASSERT_EQ(Sql("truncate tarv_log; truncate object_list; truncate object_property; "
                  "truncate object_property_history; drop table if exists t"),
              Table{});
  }
  static Table Sql(const std::string& sql) { return server_->Query("use tarvtest; " + sql); }
  static std::string OpenLine(int port, const std::string& password = "tarv-pw") {
    return "mysql.open ip {127.0.0.1} port {" + std::to_string(port) +
           "} user {tarv} password {" + password + "} database {tarvtest}\n";
  }
  static std::string OpenLine() { return OpenLine(server_->port()); }
  void Run(const std::string& script) { tarvtest::Run(dir, script); }

  // The server sends each row as soon as it is made while this lives: rows
  // longer than its buffer of 1024 bytes do not wait for the next ones.
  struct RowByRow {
    Table size = Sql("select @@global.net_buffer_length");
    RowByRow() { Sql("set global net_buffer_length = 1024"); }
    ~RowByRow() {
      if (size.size() == 1) Sql("set global net_buffer_length = " + size[0][0]);
    }
  };

  // The server's mode as it was comes back however the test ends.
  struct KeepMode {
    Table mode = Sql("select @@global.sql_mode");
    ~KeepMode() {
      if (mode.size() == 1) Sql("set global sql_mode = '" + mode[0][0] + "'");
    }
  };

  static Server* server_;
  static bool started_;
  static std::string why_;
  tarvtest::TempDir dir;
};

Server* MySqlStatementsTest::server_ = nullptr;
bool MySqlStatementsTest::started_ = false;
std::string MySqlStatementsTest::why_;

TEST_F(MySqlStatementsTest, OpenTestsTheSettingsAndReplacesThemOneByOne) {
  const int closed = tcppeer::FreePort();
  Run(OpenLine() +
      "var {good} value {~mysql.errno~|~mysql.error~|~mysql.server.version~}\n" +
      OpenLine(closed) +
      "var {refused} value {~mysql.errno~}\n"
      "mysql.log {never written}\n" +
      OpenLine(server_->port(), "wrong") +
      "var {denied} value {~mysql.errno~}\n"
      "mysql.open ip {127.0.0.2} port {65535} user {x} password {y} database {z}\n"
      "mysql.exec {select 1 as one}\n");
  EXPECT_EQ(Var("good"), "0||" + Sql("select version()")[0][0]);
  EXPECT_EQ(Var("mysql.client.version"), mysql_get_client_info());
  EXPECT_EQ(tarvtest::Vars({"refused", "denied", "mysql.errno", "mysql.1.one"}), "2002|1045|2002|<missing>");
  const Strings errors = RunErrors();
  ASSERT_EQ(errors.size(), 4u);
  EXPECT_TRUE(errors[0].starts_with(
      "mysql_real_connect: Error 2002: Can't connect to server on '127.0.0.1' ("))
      << errors[0];
  EXPECT_EQ(errors[1],
            "mysql_real_connect: Error 1045: Access denied for user 'tarv'@'127.0.0.1' (using "
            "password: YES)");
  EXPECT_EQ(errors[2], "Arg:5=65535 > 65534 !");
  // The host was replaced before the port's check failed.
  EXPECT_TRUE(errors[3].starts_with(
      "mysql_real_connect: Error 2002: Can't connect to server on '127.0.0.2' ("))
      << errors[3];
  EXPECT_EQ(Sql("select count(*) from tarv_log"), (Table{{"0"}}));
}

TEST_F(MySqlStatementsTest, ExecTurnsSelectedRowsIntoVariablesAndCountsChanges) {
  ASSERT_EQ(Sql("create table t (a int, b varchar(20)); "
                "insert into t values (1, NULL), (2, 'two'), (3, 'three')"),
            Table{});
  const std::string longName(60, 'n');
  Run(OpenLine() +
      "mysql.exec {select a, b from t order by a}\n"
      "var {selected} value {~mysql.fields~|~mysql.rows~}\n"
      "mysql.exec {update t set b = 'x' where a >= 2}\n"
      "var {updated} value {~mysql.fields~|~mysql.rows~}\n"
      "mysql.exec {SELECT a AS upper FROM t}\n"
      "mysql.exec {select a from t where a > 100}\n"
      "var {none} value {~mysql.rows~}\n"
      "mysql.exec {select 'grüße' as word, repeat('x', 1100) as big, 1 as " + longName + "}\n"
      "mysql.exec {select * from missing}\n");
  EXPECT_EQ(tarvtest::Vars({"selected", "mysql.1.a", "mysql.1.b", "mysql.3.b", "updated", "mysql.1.upper", "none",
                            "mysql.1.word", "mysql.errno"}),
            "2|3|1|NULL|three|2|2|<missing>|0|grüße|1146");
  // The row's first refusal is the statement's one error; the rest of the row is set.
  EXPECT_EQ(RunErrors(),
            (Strings{"TarvMySqlExecSql SetVar<mysql.1.big>Err! 0 rows kept, later rows dropped.",
                     "mysql_query: Error 1146: Table 'tarvtest.missing' doesn't exist"}));
  EXPECT_EQ(Sql("select b from t order by a"), (Table{{"NULL"}, {"x"}, {"x"}}));
}

TEST_F(MySqlStatementsTest, ObjectsKeepTheirPropertiesAndHistory) {
  Run(OpenLine() +
      "mysql.object create {x} class {no-such-class}\n"
      "mysql.object property {early} type {char} log {yes}\n"
      "mysql.object create {edge's router} class {router}\n"
      "var {id} value {~mysql.object.id~}\n"
      "mysql.object property {ip} type {char} log {onchange}\n"
      "mysql.object property {ip} value {10.0.0.1}\n"
      "mysql.object property {ip} value {10.0.0.1}\n"
      "mysql.object property {ip} value {10.0.0.2}\n"
      "mysql.object property {load} type {dec} log {yes}\n"
      "mysql.object property {load} value {12.5}\n"
      "mysql.object property {load} value {12.5}\n"
      "mysql.object property {load} value {1, property_char_value = 'x'}\n"
      "mysql.object property {note} value {it's \"quoted\"}\n"
      "mysql.object property {ip} type {char} log {never}\n"
      "mysql.object property {ip} value {10.0.0.3}\n"
      "mysql.object get var {ip} property {got.ip}\n"
      "mysql.object get var {load} property {got.load}\n"
      "mysql.object get var {note} property {got.note}\n"
      "mysql.object get var {nothing} property {got.nothing}\n"
      "mysql.object open {edge's router}\n");
  const std::string id = Sql("select max(object_id) from object_list")[0][0];
  EXPECT_EQ(Var("id"), id);
  EXPECT_EQ(Sql("select class_id, object_name, memo from object_list"),
            (Table{{"2", "edge's router", "insert by <" + dir.File("t.nms") + ">"}}));
  EXPECT_EQ(Sql("select property_name, property_value_type, property_dec_value, "
                "property_char_value, property_history from object_property order by "
                "property_name"),
            (Table{{"ip", "char", "NULL", "10.0.0.3", "never"},
                   {"load", "dec", "12.5", "NULL", "yes"},
                   {"note", "char", "NULL", "it's \"quoted\"", "onchange"}}));
  EXPECT_EQ(Sql("select object_id, property_name, property_dec_value, property_char_value "
                "from object_property_history order by id"),
            (Table{{id, "ip", "NULL", "10.0.0.1"},
                   {id, "ip", "NULL", "10.0.0.2"},
                   {id, "load", "12.5", "NULL"},
                   {id, "load", "12.5", "NULL"},
                   {id, "note", "NULL", "it's \"quoted\""}}));
  EXPECT_EQ(tarvtest::Vars({"got.ip", "got.load", "got.note"}), "10.0.0.3|12.5|it's \"quoted\"");
  EXPECT_EQ(RunErrors(), (Strings{"mysql_object_create, class=[no-such-class],Not Found!!!",
                                  "objectId= -1  <=0  !", "Arg:5 is not number !",
                                  "object_id = " + id + ",property_name = [nothing],Not Found!",
                                  "Length of Arg 5 is :-1  < 1 !"}));
}

// Setting a property value fails with the code of what failed: a decimal
// property given no number (-5), a stored row too wide to keep whole (-12),
// a change the server refuses (-13, after the server's own -403).
TEST_F(MySqlStatementsTest, PropertyValueFailuresHaveTheirOwnCodes) {
  struct TablesKept {
    ~TablesKept() {
      Sql("rename table history_kept to object_property_history; truncate object_property; "
          "alter table object_property modify property_char_value varchar(1024)");
    }
  } kept;
  ASSERT_EQ(Sql("alter table object_property modify property_char_value varchar(3000)"), Table{});
  const std::string setup = OpenLine() + "mysql.object create {r} class {router}\n"
                            "mysql.object property {load} type {dec} log {yes}\n"
                            "mysql.object property {wide} type {char} log {yes}\n";
  ASSERT_EQ(tarvtest::RunCase(dir, setup).errors, Strings{});
  const std::string id = Sql("select max(object_id) from object_list")[0][0];
  ASSERT_EQ(Sql("update object_property set property_char_value = repeat('w', 2100) "
                "where property_name = 'wide'; rename table object_property_history to history_kept"),
            Table{});
  const struct {
    std::string line;
    int code;
    Strings errors;  // as regular expressions
  } cases[] = {
      {"mysql.object property {load} value {high}", -5, {"Arg:5 is not number !"}},
      {"mysql.object property {wide} value {x}", -12,
       {"select object_id = " + id + ",property_name = \\[wide\\],Out Fields=3<5!!! "}},
      {"mysql.object property {load} value {3}", -13,
       {"mysql_query: Error 1146: .*", "TarvMySqlExecOne \\(insert into object_property_history .*\\) < 0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    // The object is made current as mysql.object open would, could its words reach it.
    const tarvtest::Outcome o = tarvtest::RunCase(dir, c.line + "\n", [] { MySqlObjectOpen("r", "max"); });
    EXPECT_EQ(o.Code(1), c.code);
    ASSERT_EQ(o.errors.size(), c.errors.size());
    for (size_t i = 0; i < c.errors.size(); i++)
      EXPECT_TRUE(std::regex_match(o.errors[i], std::regex(c.errors[i]))) << o.errors[i];
  }
}

TEST_F(MySqlStatementsTest, ObjectOpenFindsByIdNameMinMaxOrCreatesAndKeepsItsRow) {
  ASSERT_EQ(Sql("insert into object_list (class_id, object_name) values (2, 'sw'), (2, 'sw'), "
                "(2, 'other')"),
            Table{});
  Run(OpenLine());
  const struct {
    const char* name;
    const char* selector;
    int code;
    int id;
  } cases[] = {
      {"sw", "2", 0, 2},       {"sw", "3", -15, -1},        {"sw", "99", -15, -1},
      {"sw", "min", 0, 1},     {"sw", "max", 0, 2},         {"nope", "min", -17, -1},
      {"sw", "max/new", 0, 2}, {"fresh", "max/new", 0, 4}, {"sw", "first", -16, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MySqlObjectOpen(c.name, c.selector), c.code) << c.name << " " << c.selector;
    EXPECT_EQ(sgMySql.ObjectId, c.id) << c.name << " " << c.selector;
  }
  EXPECT_EQ(Var("mysql.object.id"), "4");
  EXPECT_EQ(Sql("select class_id, object_name from object_list where object_id = 4"),
            (Table{{"1", "fresh"}}));
  // The kept row stops at 19 fields, and at the first that does not fit.
  std::string many = "select 1";
  for (int i = 2; i <= 25; i++) many += "," + std::to_string(i);
  ASSERT_EQ(TarvMySqlSelectOne(many), 0);
  EXPECT_EQ(sgMySql.FieldCount, 19);
  EXPECT_EQ(MySqlSelectOneField(19), "19");
  ASSERT_EQ(TarvMySqlSelectOne("select 'a', repeat('x', 2100), 'b'"), 0);
  EXPECT_EQ(sgMySql.FieldCount, 1);
  EXPECT_EQ(MySqlSelectOneFieldIs(1, "a"), 0);
  EXPECT_EQ(MySqlSelectOneFieldIs(2, ""), -1);
  EXPECT_EQ(RunErrors(), (Strings{"mysql_object_open,id=3 ,Name(sw) Not Match!!",
                                  "mysql_object_open,id=99 ,Not Found!!!",
                                  "mysql_object_open,name=(nope) ,Not Found!!!",
                                  "mysql_object_open,id=(first) Not Support!!!"}));
}

TEST_F(MySqlStatementsTest, ScriptThroughTheBinary) {
  const std::string quotes(1020, '\'');
  const std::string saved = tarvtest::RunSaved(
      dir, "db.nms", OpenLine() +
                    "mysql.exec {create table t (name varchar(20), ip varchar(20))}\n"
                    "mysql.exec {insert into t values ('gw', '10.0.0.1'), ('dns', NULL)}\n"
                    "var {inserted} value {~mysql.rows~}\n"
                    "mysql.exec {select name, ip from t order by name}\n"
                    "mysql.log {it's a \"quoted\" \\ log}\nmysql.log {}\n"
                    "mysql.log {" + quotes + "}\n"
                    "mysql.log {nul%00byte}\n"
                    "mysql.object create {gw} class {router}\n"
                    "mysql.object property {ip} value {~mysql.2.ip~}\n"
                    "mysql.set var.name prefix {x}\n"
                    "text.add {~inserted~|~mysql.1.name~|~mysql.1.ip~|~mysql.rows~|~run.errors~}\n",
      120);
  EXPECT_EQ(saved, "2|dns|NULL|2|1");
  const std::string script = dir.File("db.nms");
  EXPECT_EQ(Sql("select log, nms_file, run_steps, run_errors, run_argc, memo from tarv_log"),
            (Table{{"it's a \"quoted\" \\ log", script, "6", "0", "3", "ver:tarv8.13.20200205"},
                   {quotes, script, "8", "0", "3", "ver:tarv8.13.20200205"},
                   {"nul\0byte"s, script, "9", "0", "3", "ver:tarv8.13.20200205"}}));
  EXPECT_EQ(Sql("select property_name, property_char_value from object_property"),
            (Table{{"ip", "10.0.0.1"}}));
}

TEST_F(MySqlStatementsTest, QuotesBackslashesAndNulBytesRoundTripInEitherQuotingMode) {
  const struct {
    std::string script;  // as a script writes it
    std::string bytes;
  } values[] = {
      {"it's", "it's"},
      {"back\\slash", "back\\slash"},
      {"end\\", "end\\"},
      {"\\'", "\\'"},
      {"\"dq\" \\\" ?", "\"dq\" \\\" ?"},
      {"a', 1,1,1,1,1,1,1,1, 0x70776e6564) -- x", "a', 1,1,1,1,1,1,1,1, 0x70776e6564) -- x"},
      {"ab%00cd", "ab\0cd"s},
      {"%00'%00\\", "\0'\0\\"s},
  };
  const KeepMode keep;
  ASSERT_EQ(keep.mode.size(), 1u);
  for (const std::string quoting : {"", "NO_BACKSLASH_ESCAPES"}) {
    ASSERT_EQ(Sql("set global sql_mode = '" + quoting + "'"), Table{});
    for (const auto& v : values) {
      SCOPED_TRACE(quoting + " " + v.script);
      ASSERT_EQ(Sql("truncate tarv_log; truncate object_list; truncate object_property; "
                    "truncate object_property_history"),
                Table{});
      Run(OpenLine() + "mysql.log {" + v.script + "}\nmysql.object create {" + v.script +
          "} class {router}\nmysql.object property {" + v.script +
          "} type {char} log {yes}\nmysql.object property {" + v.script + "} value {" +
          v.script + "}\nmysql.object get var {" + v.script + "} property {got}\n");
      EXPECT_EQ(RunErrors(), Strings{});
      EXPECT_EQ(Var("got"), v.bytes);
      EXPECT_EQ(Sql("select log, memo from tarv_log"),
                (Table{{v.bytes, "ver:tarv8.13.20200205"}}));
      EXPECT_EQ(Sql("select object_name from object_list"), (Table{{v.bytes}}));
      EXPECT_EQ(Sql("select property_name, property_value_type, property_char_value, "
                    "property_history from object_property"),
                (Table{{v.bytes, "char", v.bytes, "yes"}}));
      EXPECT_EQ(Sql("select property_name, property_char_value from object_property_history"),
                (Table{{v.bytes, v.bytes}}));
      EXPECT_EQ(MySqlObjectOpen(v.bytes, "max"), 0);
      EXPECT_EQ(sgMySql.ObjectId, 1);
    }
  }
}

// mysql.exec sends its SQL as written: a quote inside a string must be
// doubled, and a backslash too unless the server reads it as itself.
TEST_F(MySqlStatementsTest, ExecTakesItsSqlAsWritten) {
  const KeepMode keep;
  ASSERT_EQ(keep.mode.size(), 1u);
  ASSERT_EQ(Sql("create table t (v varchar(40))"), Table{});
  const struct {
    std::string quoting;
    Table rows;
  } modes[] = {{"", Table{{"it's a\\b"}}}, {"NO_BACKSLASH_ESCAPES", Table{{"it's a\\\\b"}}}};
  for (const auto& m : modes) {
    SCOPED_TRACE(m.quoting);
    ASSERT_EQ(Sql("set global sql_mode = '" + m.quoting + "'"), Table{});
    ASSERT_EQ(Sql("truncate t"), Table{});
    Run(OpenLine() + "mysql.exec {insert into t values ('it''s a\\\\b')}\n"
                     "mysql.exec {insert into t values ('it's')}\n");
    ASSERT_EQ(RunErrors().size(), 1u);
    EXPECT_EQ(RunErrors()[0].rfind("mysql_query: Error 1064: ", 0), 0u) << RunErrors()[0];
    EXPECT_EQ(Sql("select v from t"), m.rows);
  }
}

// Characters past U+FFFF (an emoji) go to the server and come back whole, in
// strict and in forgiving mode.  A column that cannot hold them makes the log
// row a counted error with the server's words, whether the server refuses the
// row or keeps it altered.
TEST_F(MySqlStatementsTest, FourByteCharactersGoBothWaysWhole) {
  const std::string emoji = "\xF0\x9F\x98\x80";
  const std::string text = "emoji " + emoji + "x";
  const KeepMode keep;
  ASSERT_EQ(keep.mode.size(), 1u);
  struct LogColumnKept {
    ~LogColumnKept() { Sql("alter table tarv_log modify log varchar(1020) character set utf8mb4"); }
  } column;
  const std::string refused = "Incorrect string value: '\\\\xF0\\\\x9F\\\\x98\\\\x80x' for column .*";
  const struct {
    std::string mode, charset;
    Table stored;       // the log column, as it is
    std::string error;  // as a regular expression; "" for none
  } cases[] = {
      {"STRICT_TRANS_TABLES", "utf8mb4", {{text}}, ""},
      {"", "utf8mb4", {{text}}, ""},
      {"STRICT_TRANS_TABLES", "utf8mb3", {}, "mysql_query: Error 1366: " + refused},
      {"", "utf8mb3", {{"emoji ?x"}}, "mysql_query: Warning 1366: " + refused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode + " " + c.charset);
    ASSERT_EQ(Sql("set global sql_mode = '" + c.mode + "'; alter table tarv_log modify log varchar(1020) "
                  "character set " + c.charset + "; truncate tarv_log"),
              Table{});
    Run(OpenLine() + "mysql.log {" + text + "}\nmysql.exec {select log from tarv_log}\n");
    Table stored;
    for (const Strings& row : c.stored) stored.push_back({Hex(row[0])});
    EXPECT_EQ(Sql("select hex(log) from tarv_log"), stored);
    EXPECT_EQ(Var("mysql.1.log"), c.stored.empty() ? "<missing>" : c.stored[0][0]);
    const Strings errors = RunErrors();
    if (c.error.empty()) {
      EXPECT_EQ(errors, Strings{});
    } else {
      ASSERT_EQ(errors.size(), 1u);
      EXPECT_TRUE(std::regex_match(errors[0], std::regex(c.error))) << errors[0];
    }
  }
  // A column written by another program comes back whole, and goes back whole.
  ASSERT_EQ(Sql("create table t (v varchar(40) character set utf8mb4); "
                "insert into t values (convert(x'" + Hex("smile " + emoji + " end") +
                "' using utf8mb4))"),
            Table{});
  Run(OpenLine() + "mysql.exec {select v from t}\nmysql.exec {insert into t values ('~mysql.1.v~!')}\n");
  EXPECT_EQ(Var("mysql.1.v"), "smile " + emoji + " end");
  EXPECT_EQ(RunErrors(), Strings{});
  EXPECT_EQ(Sql("select hex(v) from t order by length(v)"),
            (Table{{Hex("smile " + emoji + " end")}, {Hex("smile " + emoji + " end!")}}));
}

TEST_F(MySqlStatementsTest, ManyRowsEndAtTheFirstRefusalWithOneCountedError) {
  // The full store could not take the error's own variable: it is made beforehand.
  Run(OpenLine() + "var {run.error.1} value {" + std::string(200, '-') +
      "}\nmysql.exec {select seq as x from seq_1_to_10000}\ntext.add {ran}\n");
  const Strings errors = RunErrors();
  ASSERT_EQ(errors.size(), 1u) << errors.back();
  EXPECT_TRUE(tarvtest::Shaped(
      errors[0], "TarvMySqlExecSql SetVar<mysql.#.x>Err! # rows kept, later rows dropped."))
      << errors[0];
  std::smatch kept;
  ASSERT_TRUE(std::regex_search(errors[0], kept, std::regex("([0-9]+) rows kept")));
  const std::string n = kept[1];
  EXPECT_GT(std::stoi(n), 3000);
  EXPECT_EQ(tarvtest::Vars({"mysql.rows", "mysql.fields"}), n + "|1");
  EXPECT_EQ(Var("mysql." + n + ".x"), n);
  EXPECT_EQ(Var("mysql." + std::to_string(std::stoi(n) + 1) + ".x"), "<missing>");
  EXPECT_EQ(tarvtest::Text(), "ran");
}

// A server that takes longer than the step time-out to answer ends the
// statement with an error instead of holding the run.
TEST_F(MySqlStatementsTest, AnAnswerSlowerThanTheStepTimeOutIsAnError) {
  Run("run.set step.timeout {1} seconds\n" + OpenLine() +
      "mysql.exec {select sleep(20) as x}\ntext.add {ran}\n");
  const Strings errors = RunErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("2013"), std::string::npos) << errors[0];
  EXPECT_EQ(Var("mysql.1.x"), "<missing>");
  EXPECT_EQ(tarvtest::Text(), "ran");
}

// Rows are read as they are turned into variables: a select of millions of
// rows ends at the full store with its one error, the rest never fetched,
// within an address-space limit of 600 MB that storing them all would break.
TEST_F(MySqlStatementsTest, AHugeSelectIsNotReadWhole) {
  if (tarvtest::kSanitized) GTEST_SKIP() << "the sanitizer's shadow memory cannot live under an address-space limit";
  const std::string out = tarvtest::RunSaved(
      dir, "huge.nms",
      // The full store could not take the error's own variable: it is made beforehand.
      OpenLine() + "var {run.error.1} value {" + std::string(200, '-') + "}\n" +
          "mysql.exec {select seq as x from seq_1_to_15000000}\n"
                   "text.add {~run.errors~|~mysql.rows~|~run.error.1~}\n",
      120, {"/usr/bin/prlimit", "--as=600000000"});
  EXPECT_TRUE(tarvtest::Shaped(out, "1|#|run.steps [3], Line No. [3], Error: [TarvMySqlExecSql SetVar<mysql.#.x>Err! "
                                    "# rows kept, later rows dropped.]"))
      << out;
}

// Rows that keep coming, each within the read time-out, end at the step
// time-out; a row that does not come within it is a failure of the fetch
// with the rows before it kept. The server sends each row as it is made.
TEST_F(MySqlStatementsTest, RowsAreFetchedWithinTheStepTimeOut) {
  const RowByRow rowByRow;
  ASSERT_EQ(Sql("select @@global.net_buffer_length"), (Table{{"1024"}}));
  const std::string rows = "select seq as n, repeat('x', 1020) as pad, ";
  const struct {
    std::string select;
    std::string error;  // as a regular expression
    std::string kept;   // mysql.rows, as a regular expression
    std::string code;   // mysql.errno
  } cases[] = {
      {rows + "sleep(0.4) as s from seq_1_to_20",
       "TarvMySqlExecSql: rows still coming at the step time-out, [0-9] rows kept, later rows dropped\\.",
       "[1-4]", "0"},
      {rows + "if(seq = 3, sleep(4), 0) as s from seq_1_to_5", "mysql_fetch_row: Error 2013: .+", "[12]",
       "2013"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.select);
    Run("run.set step.timeout {1} seconds\n" + OpenLine() + "mysql.exec {" + c.select + "}\n");
    const Strings errors = RunErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(std::regex_match(errors[0], std::regex(c.error))) << errors[0];
    EXPECT_TRUE(std::regex_match(Var("mysql.rows"), std::regex(c.kept))) << Var("mysql.rows");
    EXPECT_EQ(Var("mysql.1.n"), "1");
    EXPECT_EQ(Var("mysql.errno"), c.code);
  }
}

// Rows given up at the step time-out are cut off with the connection, not
// read to the last one first: the statement ends within the step time-out
// and a second, although the server would go on sending for eight.
TEST_F(MySqlStatementsTest, RowsGivenUpAreNotReadToTheEnd) {
  const RowByRow rowByRow;
  ASSERT_EQ(Sql("select @@global.net_buffer_length"), (Table{{"1024"}}));
  const std::string slow = "select seq as n, repeat('x', 1020) as pad, sleep(0.4) as s from seq_1_to_20";
  Run(OpenLine());
  const struct {
    const char* what;
    std::function<int()> run;
    std::string error;  // as a regular expression
  } cases[] = {
      {"exec", [&] { return TarvMySqlExecSql(slow); },
       "TarvMySqlExecSql: rows still coming at the step time-out, [0-9] rows kept, later rows dropped\\."},
      {"select one", [&] { return TarvMySqlSelectOne(slow); },
       "TarvMySqlSelectOne: rows still coming at the step time-out, [1-4] rows counted\\."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sgRun.StepTimeout = 1;
    const size_t before = RunErrors().size();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.run(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    const Strings errors = RunErrors();
    ASSERT_EQ(errors.size(), before + 1);
    EXPECT_TRUE(std::regex_match(errors.back(), std::regex(c.error))) << errors.back();
  }
}

// The object statements' lookups read one row and count the rest only up to
// the step time-out; a lookup that breaks off finds nothing. The class list is
// a view here whose rows come one by one.
TEST_F(MySqlStatementsTest, ObjectLookupsEndAtTheStepTimeOut) {
  const RowByRow rowByRow;
  struct ClassesKept {
    ClassesKept() { Sql("rename table class_list to class_list_kept"); }
    ~ClassesKept() { Sql("drop view if exists class_list; rename table class_list_kept to class_list"); }
  } kept;
  // A class id of digits and blanks, long enough to leave the server at once.
  const std::string view = "create view class_list as select concat(seq, repeat(' ', 1020)) as class_id, "
                           "'slow' as class_name from seq_1_to_20 where ";
  const struct {
    std::string where;
    std::string error;  // the first, as a regular expression
    std::string id;       // mysql.object.id
    std::string objects;  // rows of object_list
  } cases[] = {
      {"sleep(0.4) = 0", "TarvMySqlSelectOne: rows still coming at the step time-out, [1-4] rows counted\\.", "1",
       "1"},
      // The class is not found, and the object not made.
      {"if(seq = 2, sleep(4), 0) = 0", "mysql_fetch_row: Error 2013: .+", "<missing>", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    ASSERT_EQ(Sql("drop view if exists class_list; " + view + c.where), Table{});
    ASSERT_EQ(Sql("truncate object_list"), Table{});
    Run("run.set step.timeout {1} seconds\n" + OpenLine() + "mysql.object create {x} class {slow}\n");
    const Strings errors = RunErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_TRUE(std::regex_match(errors[0], std::regex(c.error))) << errors[0];
    EXPECT_EQ(Var("mysql.object.id"), c.id);
    EXPECT_EQ(Sql("select count(*) from object_list"), (Table{{c.objects}}));
  }
}

}  // namespace
