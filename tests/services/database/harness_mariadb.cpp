#include "tests/services/database/harness_mariadb.h"

#include <mysql.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/services/sockets/tcp_peer.h"

namespace mariadbtest {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kInstallSeconds = 120;
constexpr int kStartSeconds = 60;
constexpr int kStopSeconds = 30;

// Small and quick: the tests keep a few rows.
const std::vector<std::string> kServerOptions = {
    "--innodb-buffer-pool-size=16M", "--innodb-log-file-size=4M",
    "--innodb-flush-method=nosync", "--innodb-fast-shutdown=3", "--skip-name-resolve"};

std::string FirstProgram(std::initializer_list<const char*> paths) {
  for (const char* p : paths)
    if (access(p, X_OK) == 0) return p;
  return {};
}

// As root the server must be told to stay root; as anyone else it runs as
// that user.
void AddUser(std::vector<std::string>* args) {
  if (geteuid() == 0) args->push_back("--user=root");
}

std::string Tail(const std::string& text) {
  return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

}  // namespace

bool Server::Start(const std::string& setupFile, std::string* why) {
  char dir[] = "/tmp/tarv-mariadb-XXXXXX";
  if (!mkdtemp(dir)) {
    *why = "no temporary folder";
    return false;
  }
  dir_ = dir;
  const std::string data = dir_ + "/data";
  const std::string install = FirstProgram({"/usr/bin/mariadb-install-db", "/usr/bin/mysql_install_db"});
  const std::string daemon = FirstProgram({"/usr/sbin/mariadbd", "/usr/sbin/mysqld"});
  if (install.empty() || daemon.empty()) {
    *why = "mariadb-install-db or mariadbd is missing (package mariadb-server)";
    return false;
  }

  // Its own temporary folder too: servers that share one collide on the
  // names of their temporary tables.
  const std::string tmp = "--tmpdir=" + dir_;
  std::vector<std::string> args = {"--no-defaults", "--datadir=" + data, tmp,
                                   "--auth-root-authentication-method=normal", "--skip-test-db"};
  AddUser(&args);
  args.insert(args.end(), kServerOptions.begin(), kServerOptions.end());
  const auto installed = tarvtest::RunProgram(install, args, dir_, kInstallSeconds);
  if (installed.exitCode != 0) {
    *why = "mariadb-install-db failed: " + Tail(installed.output);
    return false;
  }

  port_ = tcppeer::FreePort();
  args = {"--no-defaults",
          "--datadir=" + data,
          tmp,
          "--bind-address=127.0.0.1",
          "--port=" + std::to_string(port_),
          "--socket=" + dir_ + "/mysqld.sock",
          "--pid-file=" + dir_ + "/mysqld.pid",
          "--log-error=" + dir_ + "/error.log"};
  AddUser(&args);
  args.insert(args.end(), kServerOptions.begin(), kServerOptions.end());
  std::vector<char*> argv = {const_cast<char*>(daemon.c_str())};
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    execv(daemon.c_str(), argv.data());
    _exit(127);
  }
  if (pid_ < 0) {
    *why = "fork failed";
    return false;
  }

  const auto deadline = Clock::now() + std::chrono::seconds(kStartSeconds);
  for (;;) {
    if (Query("select 1") == Table{{"1"}}) break;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      *why = "mariadbd ended: " + Tail(tarvtest::ReadFile(dir_ + "/error.log"));
      return false;
    }
    if (Clock::now() > deadline) {
      *why = "mariadbd did not answer within " + std::to_string(kStartSeconds) + " s: " +
             Tail(tarvtest::ReadFile(dir_ + "/error.log"));
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const Table setup = Query(tarvtest::ReadFile(setupFile));
  if (!setup.empty() && setup[0][0] == "ERROR") {
    *why = "setup SQL failed: " + setup[0][1];
    return false;
  }
  return true;
}

void Server::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(kStopSeconds);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    pid_ = -1;
  }
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    dir_.clear();
  }
}

Table Server::Query(const std::string& sql) const {
  Table out;
  MYSQL* db = mysql_init(nullptr);
  if (!db) return {{"ERROR", "mysql_init"}};
  const unsigned seconds = 5;
  mysql_options(db, MYSQL_OPT_CONNECT_TIMEOUT, &seconds);
  const std::string socket = dir_ + "/mysqld.sock";
  if (!mysql_real_connect(db, "localhost", "root", "", nullptr, 0, socket.c_str(),
                          CLIENT_MULTI_STATEMENTS) ||
      mysql_real_query(db, sql.data(), sql.size()) != 0) {
    out = {{"ERROR", mysql_error(db)}};
    mysql_close(db);
    return out;
  }
  for (;;) {
    if (MYSQL_RES* res = mysql_store_result(db)) {
      out.clear();
      const unsigned fields = mysql_num_fields(res);
      while (MYSQL_ROW row = mysql_fetch_row(res)) {
        const unsigned long* lengths = mysql_fetch_lengths(res);
        std::vector<std::string> r;
        for (unsigned i = 0; i < fields; i++)
          r.emplace_back(row[i] ? std::string(row[i], lengths[i]) : "NULL");
        out.push_back(r);
      }
      mysql_free_result(res);
    }
    const int next = mysql_next_result(db);
    if (next > 0) {
      out = {{"ERROR", mysql_error(db)}};
      break;
    }
    if (next < 0) break;
  }
  mysql_close(db);
  return out;
}

}  // namespace mariadbtest
