// A MariaDB server of the test process's own, for the mysql statements: a
// data folder made by mariadb-install-db in a temporary folder, and mariadbd
// in the foreground on 127.0.0.1 and a free port, with its own socket and pid
// file, stopped by its pid.
#pragma once
#include <string>
#include <vector>

namespace mariadbtest {

using Table = std::vector<std::vector<std::string>>;

class Server {
 public:
  Server() = default;
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server() { Stop(); }

  // Installs the data folder, starts the server, waits until it answers and
  // runs the setup SQL file as root, all within a bounded time: true, or
  // false with the reason in *why.
  bool Start(const std::string& setupFile, std::string* why);
  // Stops the server by its pid (a bounded wait, then a kill) and removes the
  // folder.  Safe to call twice.
  void Stop();
  int port() const { return port_; }

  // Runs statements (several separated by ';') as root over the server's
  // socket: the rows of the last result, each field as text ("NULL" for an
  // SQL NULL); a failure comes back as one row "ERROR" and the message.
  Table Query(const std::string& sql) const;

 private:
  std::string dir_;
  int pid_ = -1;
  int port_ = 0;
};

}  // namespace mariadbtest
