// Tests' view of this process's children (zombies, live ones), and a
// watchdog that turns a hang into a failure.
#pragma once
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/machine_wait.h"

namespace childwatch {

struct Proc {
  int pid;
  char state;
  int ppid;
};

// pid, state and parent of a process, from /proc; false when it is gone.
inline bool ReadProc(int pid, Proc* p) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string s;
  if (!std::getline(f, s)) return false;
  // The command name may hold blanks and parentheses: the fields after it
  // start behind the last ')'.
  size_t close = s.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream rest(s.substr(close + 1));
  p->pid = pid;
  rest >> p->state >> p->ppid;
  return static_cast<bool>(rest);
}

// Children of this process, each with its state.
inline std::vector<Proc> Children() {
  std::vector<Proc> out;
  DIR* d = opendir("/proc");
  if (!d) return out;
  const int self = getpid();
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    Proc p;
    if (ReadProc(std::atoi(e->d_name), &p) && p.ppid == self) out.push_back(p);
  }
  closedir(d);
  return out;
}

inline int ZombieCount() {
  int n = 0;
  for (const Proc& p : Children()) n += p.state == 'Z';
  return n;
}

// True when pid is no child of ours at all any more (ended and reaped).
inline bool Gone(int pid) {
  Proc p;
  return !ReadProc(pid, &p) || p.ppid != getpid();
}

// Polls cond every 20 ms until it holds or the bound (by default the
// machine's deadline) passes.
template <typename Cond>
bool WaitFor(Cond cond, std::chrono::milliseconds bound = tarvtest::MachineWait()) {
  return tarvtest::WaitFor(cond, bound, std::chrono::milliseconds(20));
}

inline bool NoZombies() {
  return WaitFor([] { return ZombieCount() == 0; });
}

// Runs fn in a child process, so that what it changes in the process (its
// priority, its user) stays out of the tests that follow; the child's exit
// code, or 100 + the signal that ended it.
template <typename Fn>
int InChild(Fn fn) {
  pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// Ends the process when a test that could otherwise hang (on a child that
// never writes, a script that listens) has not finished in time (`seconds`
// on an idle machine, scaled as every wait for the machine): the hang
// becomes a failure.
class Watchdog {
 public:
  explicit Watchdog(int idleSeconds = 30, const char* what = "a test")
      : thread_([this, seconds = tarvtest::MachineScaled(idleSeconds), what] {
          std::unique_lock lock(mutex_);
          if (cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) return;
          std::fprintf(stderr, "watchdog: %s did not finish in %d s\n", what, seconds);
          std::abort();
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace childwatch
