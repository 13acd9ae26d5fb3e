// A daemon started by a test in the foreground with its own configuration,
// stopped by its pid: snmpd and sshd on loopback ports chosen at run time.
#pragma once
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fcntl.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace localdaemon {

class Daemon {
 public:
  Daemon() = default;
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;
  ~Daemon() { Stop(); }

  // Runs argv with env added to the environment, standard output and error
  // into logPath; false when it could not be started.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& logPath) {
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      const int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    return true;
  }

  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }

  // SIGTERM, then SIGKILL when it has not ended within five seconds.
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 250; i++) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

}  // namespace localdaemon
