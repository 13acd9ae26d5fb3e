// The SMTP peer of the mail tests (smtp_peer.py) started beside the test: it
// listens on loopback, trusts nothing but its own certificate, and writes
// what it received into the test's folder.
#pragma once

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/engine/harness.h"
#include "tests/machine_wait.h"
#include "tests/platform/local_daemon.h"

namespace mailtest {

class SmtpPeer {
 public:
  // mode: "starttls", "implicit" or "plain"; port 0 takes a free one.
  SmtpPeer(const std::string& dir, const std::string& mode, const std::string& user,
           const std::string& password, int port = 0)
      : dir_(dir),
        peer_({"/usr/bin/python3", std::string(TARV_SOURCE_DIR) + "/tests/services/mail/smtp_peer.py", dir,
               mode, user, password, std::to_string(port)},
              dir + "/peer.out") {
    // "PORT n" within the machine's deadline, or no peer.
    tarvtest::WaitFor([&] {
      const std::string out = tarvtest::ReadFile(dir + "/peer.out");
      const size_t at = out.find("PORT ");
      if (at != std::string::npos && out.find('\n', at) != std::string::npos) port_ = std::atoi(out.c_str() + at + 5);
      return port_ != 0 || !peer_.Running();
    }, tarvtest::MachineWait(), std::chrono::milliseconds(100));
  }
  int port() const { return port_; }
  std::string cert() const { return dir_ + "/cert.pem"; }

 private:
  std::string dir_;
  localdaemon::Daemon peer_;  // stopped by pid when the test ends
  int port_ = 0;
};

}  // namespace mailtest
