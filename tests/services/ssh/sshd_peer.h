// Debian's sshd on 127.0.0.1 and a free port, in the foreground with its own
// configuration and host key, and a test user with a password, made for the
// test and removed after it.
#pragma once
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/machine_wait.h"
#include "tests/platform/child_watch.h"
#include "tests/platform/local_daemon.h"
#include "tests/services/sockets/tcp_peer.h"

namespace sshpeer {

// What the server offers: password (and nothing else), keyboard-interactive
// only (through PAM), or public keys only.
enum class Auth { Password, KbdInteractive, PublicKeyOnly };

inline constexpr const char* kPassword = "Pw-7rq2;x";

class Sshd {
 public:
  Sshd(const tarvtest::TempDir& dir, Auth auth) : dir_(dir) {
    std::random_device rd;
    user_ = "tarvt" + std::to_string(rd() % 100000000);
    const std::string home = dir.File("home");
    mkdir(home.c_str(), 0755);
    if (!Run("/usr/sbin/useradd", {"-M", "-d", home, "-s", "/bin/sh", user_})) return;
    made_ = true;
    if (!Run("/bin/sh", {"-c", "echo '" + user_ + ":" + kPassword + "' | /usr/sbin/chpasswd"}))
      return;
    // sshd's privilege separation needs its directory; it is left in place
    // for other servers that may be running.
    mkdir("/run/sshd", 0755);
    const std::string key = dir.File("hostkey");
    if (!Run("/usr/bin/ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", key})) return;
    const char* methods = auth == Auth::Password ? "UsePAM no\nPasswordAuthentication yes\n"
                                                   "KbdInteractiveAuthentication no\n"
                          : auth == Auth::KbdInteractive
                              ? "UsePAM yes\nPasswordAuthentication no\n"
                                "KbdInteractiveAuthentication yes\n"
                              : "UsePAM no\nPasswordAuthentication no\n"
                                "KbdInteractiveAuthentication no\n";
    for (int attempt = 0; attempt < 3 && !up_; attempt++) {
      port_ = tcppeer::FreePort();
      const std::string conf = dir.Write(
          "sshd_config", "Port " + std::to_string(port_) +
                             "\nListenAddress 127.0.0.1\nHostKey " + key +
                             "\nPidFile none\nPubkeyAuthentication " +
                             (auth == Auth::PublicKeyOnly ? "yes" : "no") + "\n" + methods +
                             "PrintMotd no\nPrintLastLog no\nStrictModes no\n"
                             "AllowUsers " + user_ + "\n");
      if (!daemon_.Start({"/usr/sbin/sshd", "-D", "-e", "-f", conf}, log()))
        continue;
      up_ = tcppeer::Listening(port_) && daemon_.Running();
      if (!up_) daemon_.Stop();
    }
  }
  ~Sshd() {
    Thaw();
    daemon_.Stop();
    if (made_) Run("/usr/sbin/userdel", {"-f", user_});
  }
  Sshd(const Sshd&) = delete;
  Sshd& operator=(const Sshd&) = delete;

  bool up() const { return up_; }
  int port() const { return port_; }
  const std::string& user() const { return user_; }
  std::string log() const { return dir_.File("sshd.log"); }

  // Stops (SIGSTOP) this server's processes: the listener and every process
  // under it, the sessions' sshd processes among them; Thaw (and the end of
  // the server) lets them go on.
  void Freeze() {
    if (daemon_.pid() <= 0) return;
    frozen_ = {daemon_.pid()};
    // A process's children are found after it: the list grows as it is read.
    for (size_t i = 0; i < frozen_.size() && frozen_.size() < kFreezeMax; i++)
      for (int child : ChildrenOf(frozen_[i])) frozen_.push_back(child);
    for (int pid : frozen_) kill(pid, SIGSTOP);
  }
  void Thaw() {
    for (int pid : frozen_) kill(pid, SIGCONT);
    frozen_.clear();
  }

  // The connect line of a script for this server (or for a relay to it on
  // another port).
  std::string Connect(const std::string& password = kPassword, int port = -1) const {
    return "ssh.connect ip {127.0.0.1} port {" + std::to_string(port > 0 ? port : port_) +
           "} username {" + user_ + "} password {" + password + "}\n";
  }

 private:
  bool Run(const std::string& program, const std::vector<std::string>& args) const {
    const auto r = tarvtest::RunProgram(program, args, dir_.path().string(), tarvtest::MachineScaled(60));
    return r.exitCode == 0;
  }

  static constexpr size_t kFreezeMax = 64;

  static std::vector<int> ChildrenOf(int parent) {
    std::vector<int> out;
    DIR* d = opendir("/proc");
    if (!d) return out;
    while (dirent* e = readdir(d)) {
      childwatch::Proc p;
      if (e->d_name[0] >= '1' && e->d_name[0] <= '9' &&
          childwatch::ReadProc(std::atoi(e->d_name), &p) && p.ppid == parent)
        out.push_back(p.pid);
    }
    closedir(d);
    return out;
  }

  const tarvtest::TempDir& dir_;
  std::vector<int> frozen_;
  localdaemon::Daemon daemon_;
  std::string user_;
  int port_ = -1;
  bool made_ = false;
  bool up_ = false;
};

// One connection relayed to a server on a loopback port; once slowed, each
// piece the server sends is passed on only after the given delay (in order),
// like a server that has become slow to answer; once deaf, what the client
// sends is read and dropped, like a server that takes no more input (its
// channel windows are never opened again).
class SlowRelay {
 public:
  explicit SlowRelay(int serverPort) {
    thread_ = std::thread([this, serverPort] { Run(serverPort); });
  }
  ~SlowRelay() {
    stop_ = true;
    thread_.join();
  }
  SlowRelay(const SlowRelay&) = delete;
  SlowRelay& operator=(const SlowRelay&) = delete;

  int port() const { return listener_.port(); }
  void Slow(int ms) { delayMs_ = ms; }
  void Deaf() { deaf_ = true; }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr int kAcceptMs = 20000;
  static constexpr int kPassMs = 20;

  void Run(int serverPort) {
    const int client = listener_.Accept(kAcceptMs);
    const int server = client >= 0 ? tcppeer::ConnectRetry(AF_INET, serverPort) : -1;
    std::deque<std::pair<Clock::time_point, std::string>> held;
    char buf[65536];
    while (!stop_ && client >= 0 && server >= 0) {
      pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      poll(p, 2, kPassMs);
      if (p[0].revents != 0) {
        const ssize_t n = recv(client, buf, sizeof buf, 0);
        if (n <= 0 || (!deaf_ && !tcppeer::Write(server, std::string_view(buf, n)))) break;
      }
      if (p[1].revents != 0) {
        const ssize_t n = recv(server, buf, sizeof buf, 0);
        if (n <= 0) break;
        held.emplace_back(Clock::now() + std::chrono::milliseconds(delayMs_.load()),
                          std::string(buf, n));
      }
      while (!held.empty() && held.front().first <= Clock::now()) {
        if (!tcppeer::Write(client, held.front().second)) break;
        held.pop_front();
      }
    }
    if (client >= 0) close(client);
    if (server >= 0) close(server);
  }

  tcppeer::Listener listener_;
  std::atomic<int> delayMs_{0};
  std::atomic<bool> deaf_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace sshpeer
