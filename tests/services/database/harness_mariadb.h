// A MariaDB server of the test process's own: a data folder made by
// mariadb-install-db in a temporary folder, and mariadbd in the foreground on
// 127.0.0.1 and a free port with its own socket and pid file, stopped by pid.
#pragma once
#include <string>
#include <vector>

#include "tests/platform/local_daemon.h"

namespace mariadbtest {

using Table = std::vector<std::vector<std::string>>;

class Server {
 public:
  ~Server() { Stop(); }
  // Installs, starts, waits until the server answers and runs the setup file
  // as root, each step bounded in time: true, or false with the reason.
  bool Start(const std::string& setupFile, std::string* why);
  // Stops the server by its pid and removes the folder.
  void Stop();
  int port() const { return port_; }
  // Runs ';'-separated statements as root over the socket: the rows of the
  // last result ("NULL" for SQL NULL), or one row "ERROR" and the message.
  Table Query(const std::string& sql) const;

 private:
  std::string dir_;
  localdaemon::Daemon daemon_;
  int port_ = 0;
};

}  // namespace mariadbtest
