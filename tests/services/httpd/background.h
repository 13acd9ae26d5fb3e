// A program running beside a test (the tarv binary serving, a Python peer):
// started with its output in a file, stopped by its pid at scope exit.
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

namespace httptest {

class Background {
 public:
  Background(const std::string& program, const std::vector<std::string>& args,
             const std::string& cwd, const std::string& outPath) {
    pid_ = fork();
    if (pid_ == 0) {
      const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
      }
      if (chdir(cwd.c_str()) != 0) _exit(126);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  ~Background() {
    if (pid_ > 0 && !done_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  pid_t pid() const { return pid_; }

  // The exit code once it has ended within `seconds`; -1 when it had to be
  // killed or ended by a signal.
  int Wait(int seconds) {
    if (done_) return code_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        done_ = true;
        code_ = -1;
        return code_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    done_ = true;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return code_;
  }

  // The descriptors the process holds now.
  int OpenFds() const {
    const std::string dir = "/proc/" + std::to_string(pid_) + "/fd";
    DIR* d = opendir(dir.c_str());
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') n++;
    closedir(d);
    return n;
  }

 private:
  pid_t pid_ = -1;
  bool done_ = false;
  int code_ = -1;
};

}  // namespace httptest
