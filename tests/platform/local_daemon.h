// A program a test runs beside itself (a daemon with its own configuration,
// the tarv binary serving, a Python peer): started in the foreground with
// its output in a file, stopped by its pid.
#pragma once
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace localdaemon {

class Daemon {
 public:
  Daemon() = default;
  // Starts at once; see Start.
  Daemon(const std::vector<std::string>& argv, const std::string& logPath,
         const std::vector<std::string>& env = {}, const std::string& cwd = "") {
    Start(argv, logPath, env, cwd);
  }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;
  ~Daemon() { Stop(); }

  // Runs argv (a full program path first) in cwd (when given) with env added
  // to the environment, standard output and error into logPath; false when
  // it could not be started.
  bool Start(const std::vector<std::string>& argv, const std::string& logPath,
             const std::vector<std::string>& env = {}, const std::string& cwd = "") {
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      const int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
      for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    return true;
  }

  pid_t pid() const { return pid_; }

  bool Running() {
    if (pid_ <= 0) return false;
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }

  // Its exit code once it has ended within `seconds`; -1 when it had to be
  // killed or ended by a signal.
  int Wait(int seconds) {
    int status = 0;
    for (int i = 0; pid_ > 0 && i < seconds * 50; i++) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Kill(SIGKILL);
    return -1;
  }

  void Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
  }

  // Its exit code, or 128 + the signal that ended it, once it has ended
  // within `seconds`; -1 (and killed) otherwise.
  int WaitEnd(int seconds) {
    int status = 0;
    for (int i = 0; pid_ > 0 && i < seconds * 50; i++) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Kill(SIGKILL);
    return -1;
  }

  // SIGTERM, then SIGKILL when it has not ended within five seconds.
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    Wait(5);
  }

  // The descriptors the process holds now.
  int OpenFds() const {
    DIR* d = opendir(("/proc/" + std::to_string(pid_) + "/fd").c_str());
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
    return n;
  }

 private:
  void Kill(int signal) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  pid_t pid_ = -1;
};

}  // namespace localdaemon
