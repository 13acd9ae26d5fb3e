// The scripts of examples/ run through the real program, each told to write
// into a fresh folder (its first argument after the script).
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/platform/local_daemon.h"
#include "tests/services/database/harness_mariadb.h"
#include "tests/services/snmp/snmpd_peer.h"
#include "tests/services/sockets/tcp_peer.h"
#include "tests/services/ssh/sshd_peer.h"
#include "tests/services/telnet/telnetd_peer.h"
#include "tests/services/web/echo_peer.h"

namespace {

using tarvtest::RunProgram;
using tarvtest::TarvBinary;
using tarvtest::TempDir;

const std::filesystem::path kExamples = std::filesystem::path(TARV_SOURCE_DIR) / "examples";
const std::filesystem::path kGolden = std::filesystem::path(TARV_SOURCE_DIR) / "tests/e2e/examples";

tarvtest::BinaryRun RunExample(const std::string& name, const TempDir& dir,
                               std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"hide", (kExamples / (name + ".nms")).string(), dir.path().string()};
  args.insert(args.end(), more.begin(), more.end());
  return RunProgram(TarvBinary(), args, dir.path().string(), tarvtest::MachineScaled(90));
}

// tests/e2e/examples/NAME/ holds every file examples/NAME.nms must write, as
// it must write it; the example needs nothing outside the machine.
std::vector<std::string> GoldenCases() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(kGolden))
    if (e.is_directory()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Example : public ::testing::TestWithParam<std::string> {};

TEST_P(Example, WritesWhatItsGoldenFolderHolds) {
  TempDir dir;
  const auto r = RunExample(GetParam(), dir);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  for (const auto& e : std::filesystem::directory_iterator(kGolden / GetParam())) {
    const std::string file = e.path().filename().string();
    EXPECT_EQ(tarvtest::ReadFile(dir.File(file)), tarvtest::ReadFile(e.path().string())) << file;
  }
}

INSTANTIATE_TEST_SUITE_P(E2e, Example, ::testing::ValuesIn(GoldenCases()),
                         [](const auto& info) { return info.param; });

TEST(Examples, HealthCheckReportsTheFieldsOfItsCommands) {
  TempDir dir;
  const auto r = RunExample("health_check", dir);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const std::string report = tarvtest::ReadFile(dir.File("health.txt"));
  const std::regex shape(
      "kernel: Linux \\S+\n"
      "load: [0-9.]+ [0-9.]+ [0-9.]+\n"
      "memory: [0-9]+ of [0-9]+ kB available\n"
      "root: [0-9]+% used\n"
      "(WARNING: the root file system is almost full\n)?"
      "errors: 0\n");
  EXPECT_TRUE(std::regex_match(report, shape)) << report;
}

TEST(Examples, PortProbeTellsOpenFromClosedPorts) {
  TempDir dir;
  tcppeer::Listener open;
  const int closed = tcppeer::FreePort();
  ASSERT_GT(open.port(), 0);
  const std::string o = std::to_string(open.port());
  const std::string c = std::to_string(closed);
  const auto r = RunExample("port_probe", dir, {o, c, o});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(dir.File("ports.txt")),
            o + " open\n" + c + " closed\n" + o + " open\n2 of 3 open\n");
}

std::string Ask(int port, const std::string& request) {
  const int fd = tcppeer::ConnectRetry(AF_INET, port, 20000);
  if (fd < 0) return "<no connection>";
  std::string answer;
  if (tcppeer::Write(fd, request)) answer = tcppeer::Read(fd, 1 << 16, 20000);
  close(fd);
  return answer;
}

TEST(Examples, StatusPageAnswersItsRequestsAndEnds) {
  TempDir dir;
  dir.Write("index.html", "static page\n");
  const int port = tcppeer::FreePort();
  tcppeer::Watchdog watchdog(120, "status_page.nms");
  tarvtest::BinaryRun r;
  std::thread server([&] { r = RunExample("status_page", dir, {std::to_string(port), "3"}); });
  ASSERT_TRUE(tcppeer::Listening(port, 20000));

  const std::string page = Ask(port, "GET /index.html HTTP/1.0\r\n\r\n");
  const std::string status = Ask(port, "GET /status.jsp HTTP/1.0\r\n\r\n");
  const std::string echo = Ask(port, "GET /echo.jsp?name=Ada HTTP/1.0\r\n\r\n");
  const std::string post =
      Ask(port, "POST /other.jsp HTTP/1.0\r\nContent-Length: 3\r\n\r\na=1");
  server.join();

  EXPECT_NE(page.find("\r\n\r\nstatic page\n"), std::string::npos) << page;
  EXPECT_EQ(status.rfind("HTTP/1.", 0), 0u) << status;
  EXPECT_NE(status.find("<p>request 1 of 3</p><p>steps "), std::string::npos) << status;
  EXPECT_NE(echo.find("\r\n\r\nhello Ada"), std::string::npos) << echo;
  EXPECT_EQ(post.find("hello"), std::string::npos) << post;
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(dir.File("requests.txt")),
            "1 GET /status.jsp from 127.0.0.1\n2 GET /echo.jsp from 127.0.0.1\n"
            "3 POST /other.jsp from 127.0.0.1\n");
}

// A login program in place of login: the prompts of a real one, the password
// not echoed, then a shell with the prompt "$ ".
constexpr const char* kLoginScript =
    "#!/bin/sh\n"
    "printf 'login: '; read user\n"
    "stty -echo; printf 'Password: '; read pw; stty echo; echo\n"
    "if [ \"$user\" != admin ] || [ \"$pw\" != 'Pw-4x;7' ]; then echo 'Login incorrect'; exit 1; fi\n"
    "PS1='$ ' exec /bin/sh -i\n";

TEST(Examples, TelnetSessionLogsInAndKeepsOnlyTheCommandsOutput) {
  TempDir dir;
  const std::string login = dir.Write("login.sh", kLoginScript);
  ASSERT_EQ(chmod(login.c_str(), 0755), 0);
  const telnetpeer::Telnetd server(dir, login);
  if (!server.up()) GTEST_SKIP() << server.why();
  const auto r = RunExample("telnet_session", dir, {std::to_string(server.port()), "admin", "Pw-4x;7"});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(dir.File("telnet.txt")), "system: Linux\nerrors: 0\n");
}

TEST(Examples, SshCheckReportsTheLoginAndWarnsAboveTheLimit) {
  TempDir dir;
  sshpeer::Sshd sshd(dir, sshpeer::Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  // The password comes from a file only its owner may read, never from the
  // command line.
  const std::string passwordFile = dir.Write("ssh.password", std::string(sshpeer::kPassword) + "\n");
  ASSERT_EQ(chmod(passwordFile.c_str(), 0600), 0);
  for (const int limit : {100, 0}) {
    SCOPED_TRACE(limit);
    const auto r = RunExample("ssh_check", dir,
                              {std::to_string(sshd.port()), sshd.user(), passwordFile,
                               std::to_string(limit)});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const std::string report = tarvtest::ReadFile(dir.File("ssh.txt"));
    std::smatch m;
    ASSERT_TRUE(std::regex_match(report, m,
                                 std::regex("login: (\\S+)\nroot: ([0-9]+)% used\n"
                                            "(WARNING: above [0-9]+%\n)?errors: 0\n")))
        << report;
    EXPECT_EQ(m[1], sshd.user());
    EXPECT_EQ(m[3].matched, std::stoi(m[2]) > limit) << report;
  }
}

// A login that fails is reported as such, and nothing is compared: no
// warning, even at a limit every use is above.
TEST(Examples, SshCheckReportsAFailedLoginWithoutAWarning) {
  TempDir dir;
  sshpeer::Sshd sshd(dir, sshpeer::Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  const std::string wrong = dir.Write("wrong.password", "not-the-password\n");
  ASSERT_EQ(chmod(wrong.c_str(), 0600), 0);
  const std::string right = dir.Write("ssh.password", std::string(sshpeer::kPassword) + "\n");
  ASSERT_EQ(chmod(right.c_str(), 0600), 0);
  struct Case {
    const char* name;
    int port;
    std::string passwordFile;
    const char* report;
  };
  const Case cases[] = {
      // The socket's error, then the login's.
      {"closed port", tcppeer::FreePort(), right, "login: failed\nerrors: 2\n"},
      {"wrong password", sshd.port(), wrong, "login: failed\nerrors: 1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = RunExample("ssh_check", dir, {std::to_string(c.port), sshd.user(), c.passwordFile, "0"});
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(tarvtest::ReadFile(dir.File("ssh.txt")), c.report);
  }
}

TEST(Examples, UdpQueryReportsTheAnswerAndItsSender) {
  struct Case {
    const char* answer;  // nullptr: the service stays quiet
    const char* report;  // PORT stands for the service's port
  };
  const Case cases[] = {
      {"up 42 days", "answer: up 42 days\nfrom: 127.0.0.1 port PORT\n"},
      {nullptr, "answer: none\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    tcppeer::UdpPeer service;
    const std::string port = std::to_string(service.port());
    std::string request;
    std::thread peer([&] {
      int from = 0;
      request = service.Recv(20000, &from);
      if (c.answer && !request.empty()) service.SendTo(from, c.answer);
    });
    const auto r = RunExample("udp_query", dir, {port, "uptime"});
    peer.join();
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(request, "uptime");
    EXPECT_EQ(tarvtest::ReadFile(dir.File("udp.txt")),
              std::regex_replace(c.report, std::regex("PORT"), port));
  }
}

TEST(Examples, SnmpAlertComparesTheObjectWithItsLimit) {
  TempDir agentDir;
  snmppeer::Snmpd agent(agentDir);
  ASSERT_TRUE(agent.up());
  tcppeer::UdpPeer silent;
  const std::string base = snmppeer::kBase;
  struct Case {
    bool quiet;  // ask a port where nothing answers
    std::string oid, limit, report;
  };
  const Case cases[] = {
      {false, base + ".6", "5", base + ".6 = 7\nALERT (limit 5)\n"},
      {false, base + ".6", "7", base + ".6 = 7\nok (limit 7)\n"},
      {false, base + ".9", "5", base + ".9 = NULL\nmissing (limit 5)\n"},
      // Values that if.var cannot compare: never an alert.
      {false, base + ".2", "5", base + ".2 = 1 Days 0 Hours 0 Minutes 0 Seconds\nnot a number (limit 5)\n"},
      {false, base + ".1", "5", base + ".1 = -5\nnot a number (limit 5)\n"},
      {false, base + ".7", "5", base + ".7 = hello world\nnot a number (limit 5)\n"},
      {true, base + ".6", "5", base + ".6 = \nno answer (limit 5)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.oid + " " + c.limit);
    TempDir dir;
    const int port = c.quiet ? silent.port() : agent.port();
    const auto r = RunExample("snmp_alert", dir, {std::to_string(port), "public", c.oid, c.limit});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(tarvtest::ReadFile(dir.File("snmp.txt")), c.report);
  }
}

// Rows of a query on an SQLite file, each row's columns joined by '|'.
std::vector<std::string> SqliteRows(const std::string& file, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  while (st != nullptr && (rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(st); i++) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      row += (i > 0 ? "|" : "") + (text ? std::string(text, sqlite3_column_bytes(st, i)) : "NULL");
    }
    rows.push_back(row);
  }
  if (rc != SQLITE_DONE) rows.push_back(std::string("ERROR ") + sqlite3_errmsg(db));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

// Pages that hold SQL or a quote are stored as they read, and polls that get
// no answer are counted: every poll is a row, and the page never adds a
// table of its own.
TEST(Examples, WebPollKeepsEachAnswerInSqlite) {
  enum class Peer { Echo, Page, Closed, HangsUp };
  struct Case {
    const char* name;
    Peer peer;
    std::string page;  // the first line of /health for Peer::Page
    int polls;
    std::string report;
    std::vector<std::string> rows;  // n|answered|first_line|bytes > 0
  };
  const std::string hostile = "x',0);CREATE/**/TABLE/**/pwned(a);--  ok";
  const Case cases[] = {
      {"echo", Peer::Echo, "", 3,
       "polls: 3, answered: 3\n1 answered: GET /health?poll=1\n2 answered: GET /health?poll=2\n"
       "3 answered: GET /health?poll=3\n",
       {"1|1|GET /health?poll=1|1", "2|1|GET /health?poll=2|1", "3|1|GET /health?poll=3|1"}},
      {"sql in the page", Peer::Page, hostile, 2,
       "polls: 2, answered: 2\n1 answered: x',0);CREATE/**/TABLE/**/pwned(a);-- ok\n"
       "2 answered: x',0);CREATE/**/TABLE/**/pwned(a);-- ok\n",
       {"1|1|x',0);CREATE/**/TABLE/**/pwned(a);-- ok|1", "2|1|x',0);CREATE/**/TABLE/**/pwned(a);-- ok|1"}},
      {"a quote", Peer::Page, "it's fine", 2, "polls: 2, answered: 2\n1 answered: it's fine\n2 answered: it's fine\n",
       {"1|1|it's fine|1", "2|1|it's fine|1"}},
      {"a single word", Peer::Page, "up", 1, "polls: 1, answered: 1\n1 answered: up\n", {"1|1|up|1"}},
      {"nothing listening", Peer::Closed, "", 2, "polls: 2, answered: 0\n1 no answer\n2 no answer\n",
       {"1|0||0", "2|0||0"}},
      {"no HTTP answer", Peer::HangsUp, "", 2, "polls: 2, answered: 0\n1 no answer\n2 no answer\n",
       {"1|0||0", "2|0||0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::unique_ptr<webpeer::EchoPeer> echo;
    localdaemon::Daemon files;
    std::unique_ptr<tcppeer::Listener> hangsUp;
    std::thread hangUps;
    int port = tcppeer::FreePort();
    if (c.peer == Peer::Echo) {
      echo = std::make_unique<webpeer::EchoPeer>(dir);
      ASSERT_TRUE(echo->up);
      port = echo->port;
    } else if (c.peer == Peer::Page) {
      std::filesystem::create_directory(dir.path() / "pages");
      dir.Write("pages/health", c.page + "\nsecond line\n");
      ASSERT_TRUE(files.Start({"/usr/bin/python3", "-m", "http.server", std::to_string(port), "--bind",
                               "127.0.0.1", "--directory", dir.File("pages")},
                              dir.File("files.out")));
      ASSERT_TRUE(tcppeer::Listening(port, 20000));
    } else if (c.peer == Peer::HangsUp) {
      // Takes each request and closes the connection without a word.
      hangsUp = std::make_unique<tcppeer::Listener>();
      ASSERT_GT(hangsUp->port(), 0);
      port = hangsUp->port();
      hangUps = std::thread([&] {
        for (int i = 0; i < c.polls; i++) {
          const int fd = hangsUp->Accept();
          if (fd < 0) return;
          tcppeer::Read(fd, 1, tcppeer::PeerWaitMs());
          close(fd);
        }
      });
    }
    const auto r = RunExample("web_poll", dir, {std::to_string(port), std::to_string(c.polls)});
    if (hangUps.joinable()) hangUps.join();
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(tarvtest::ReadFile(dir.File("polls.txt")), c.report);
    const std::string db = dir.File("polls.db");
    EXPECT_EQ(SqliteRows(db, "select n, answered, first_line, bytes > 0 from polls order by n"), c.rows);
    EXPECT_EQ(SqliteRows(db, "select name from sqlite_master where type = 'table' order by name"),
              (std::vector<std::string>{"polls", "sqlite_sequence", "tarv_log", "tarv_var"}));
  }
}

TEST(Examples, MySqlLogRecordsALineAndShowsTheNewestFirst) {
  mariadbtest::Server server;
  std::string why;
  ASSERT_TRUE(server.Start(TARV_SOURCE_DIR "/tests/services/database/mysql_setup.sql", &why)) << why;
  const std::vector<std::pair<std::string, std::string>> runs = {
      {"backup-checked", "newest 1 lines:\nbackup-checked (errors before it: 0)\nerrors: 0\n"},
      {"disk-replaced",
       "newest 2 lines:\ndisk-replaced (errors before it: 0)\n"
       "backup-checked (errors before it: 0)\nerrors: 0\n"},
  };
  for (const auto& [entry, report] : runs) {
    TempDir dir;
    const auto r = RunExample("mysql_log", dir,
                              {std::to_string(server.port()), "tarv", "tarv-pw", "tarvtest", entry});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(tarvtest::ReadFile(dir.File("mysql.txt")), report);
  }
  EXPECT_EQ(server.Query("select log from tarvtest.tarv_log order by log_id"),
            (mariadbtest::Table{{"backup-checked"}, {"disk-replaced"}}));
}

// A script put into examples/ is run by this file: it has a golden folder,
// or a case of its own starts it by name.
TEST(Examples, EveryExampleIsRunHere) {
  const std::string self = tarvtest::ReadFile(TARV_SOURCE_DIR "/tests/e2e/examples_test.cpp");
  ASSERT_FALSE(self.empty());
  int seen = 0;
  for (const auto& e : std::filesystem::directory_iterator(kExamples)) {
    if (e.path().extension() != ".nms") continue;
    const std::string name = e.path().stem().string();
    seen++;
    const bool golden = std::filesystem::is_directory(kGolden / name);
    const bool named = self.find("RunExample(\"" + name + "\"") != std::string::npos;
    EXPECT_TRUE(golden || named) << "examples/" << name << ".nms is run by no test";
  }
  EXPECT_GT(seen, 0);
}

}  // namespace
