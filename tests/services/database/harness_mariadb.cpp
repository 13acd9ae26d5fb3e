#include "tests/services/database/harness_mariadb.h"

#include <mysql.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/machine_wait.h"
#include "tests/services/sockets/tcp_peer.h"

namespace mariadbtest {

namespace {
using Clock = std::chrono::steady_clock;

// Options of both the installer and the server: small and quick, and a
// temporary folder of its own (servers sharing one collide on the names of
// their temporary tables).  As root the server must be told to stay root.
std::vector<std::string> Options(const std::string& dir) {
  std::vector<std::string> o = {"--no-defaults", "--datadir=" + dir + "/data",
                                "--tmpdir=" + dir, "--innodb-buffer-pool-size=16M",
                                "--innodb-log-file-size=4M", "--innodb-flush-method=nosync",
                                "--innodb-fast-shutdown=3", "--skip-name-resolve"};
  if (geteuid() == 0) o.push_back("--user=root");
  return o;
}

std::string Tail(const std::string& text) {
  return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}
}  // namespace

bool Server::Start(const std::string& setupFile, std::string* why) {
  char dir[] = "/tmp/tarv-mariadb-XXXXXX";
  if (!mkdtemp(dir)) return *why = "no temporary folder", false;
  dir_ = dir;
  std::vector<std::string> args = Options(dir_);
  args.push_back("--auth-root-authentication-method=normal");
  args.push_back("--skip-test-db");
  const auto installed = tarvtest::RunProgram("/usr/bin/mariadb-install-db", args, dir_, tarvtest::MachineScaled(120));
  if (installed.exitCode != 0)
    return *why = "mariadb-install-db (package mariadb-server): " + Tail(installed.output), false;

  port_ = tcppeer::FreePort();
  args = Options(dir_);
  for (const std::string& a : {std::string("--bind-address=127.0.0.1"), "--port=" + std::to_string(port_),
                               "--socket=" + dir_ + "/mysqld.sock",
                               "--pid-file=" + dir_ + "/mysqld.pid",
                               "--log-error=" + dir_ + "/error.log"})
    args.push_back(a);
  args.insert(args.begin(), "/usr/sbin/mariadbd");
  daemon_.Start(args, dir_ + "/stdout.log");
  const auto deadline = Clock::now() + tarvtest::MachineWait();
  while (Query("select 1") != Table{{"1"}}) {
    if (!daemon_.Running() || Clock::now() > deadline) {
      *why = "mariadbd did not answer: " + Tail(tarvtest::ReadFile(dir_ + "/error.log"));
      Stop();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const Table setup = Query(tarvtest::ReadFile(setupFile));
  if (!setup.empty() && setup[0][0] == "ERROR") return *why = "setup: " + setup[0][1], false;
  return true;
}

void Server::Stop() {
  daemon_.Stop();
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  dir_.clear();
}

Table Server::Query(const std::string& sql) const {
  MYSQL* db = mysql_init(nullptr);
  const std::string socket = dir_ + "/mysqld.sock";
  Table out;
  bool failed = !mysql_real_connect(db, "localhost", "root", "", nullptr, 0, socket.c_str(),
                                    CLIENT_MULTI_STATEMENTS) ||
                mysql_real_query(db, sql.data(), sql.size()) != 0;
  for (int more = 0; !failed && more == 0; more = mysql_next_result(db), failed = more > 0) {
    MYSQL_RES* res = mysql_store_result(db);
    if (!res) continue;
    out.clear();
    while (MYSQL_ROW row = mysql_fetch_row(res)) {
      const unsigned long* len = mysql_fetch_lengths(res);
      out.emplace_back();
      for (unsigned i = 0; i < mysql_num_fields(res); i++)
        out.back().push_back(row[i] ? std::string(row[i], len[i]) : "NULL");
    }
    mysql_free_result(res);
  }
  if (failed) out = {{"ERROR", mysql_error(db)}};
  mysql_close(db);
  return out;
}

}  // namespace mariadbtest
