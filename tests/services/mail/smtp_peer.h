// The SMTP peer of the mail tests (smtp_peer.py) as a child process: it
// listens on loopback, trusts nothing but its own certificate, and writes
// what it received into the test's folder.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace mailtest {

class SmtpPeer {
 public:
  // mode: "starttls" or "implicit"; port 0 takes a free one.
  SmtpPeer(const std::string& dir, const std::string& mode, const std::string& user,
           const std::string& password, int port = 0)
      : dir_(dir) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    const std::string script = std::string(TARV_SOURCE_DIR) + "/tests/services/mail/smtp_peer.py";
    const std::string wanted = std::to_string(port);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      execl("/usr/bin/python3", "python3", script.c_str(), dir.c_str(), mode.c_str(), user.c_str(),
            password.c_str(), wanted.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    // "PORT n" within 20 seconds, or no peer.
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      char buf[64];
      const ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<std::size_t>(n));
    }
    close(out[0]);
    if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
  }

  ~SmtpPeer() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ <= 0) return;
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

  SmtpPeer(const SmtpPeer&) = delete;
  SmtpPeer& operator=(const SmtpPeer&) = delete;

  int port() const { return port_; }
  std::string cert() const { return dir_ + "/cert.pem"; }

 private:
  std::string dir_;
  int pid_ = -1;
  int stdin_ = -1;
  int port_ = 0;
};

}  // namespace mailtest
