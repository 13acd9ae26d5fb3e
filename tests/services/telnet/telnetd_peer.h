// A real telnet server for tests: inetutils telnetd under inetutils-inetd on
// a loopback port, running a given program on a pseudo-terminal instead of
// login.  The two programs are taken from their Debian packages, fetched
// once into a cache under the build tree and unpacked into the test's
// folder, so that no system service is installed or started; inetd runs in
// the foreground with its own configuration and is stopped by its pid.
#pragma once
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/machine_wait.h"
#include "tests/platform/local_daemon.h"
#include "tests/services/sockets/tcp_peer.h"

namespace telnetpeer {

// The packages' files in the cache, fetched the first time; empty when they
// cannot be had.
inline std::vector<std::string> CachedPackages() {
  namespace fs = std::filesystem;
  const fs::path cache = fs::path(tarvtest::TarvBinary()).parent_path() / "test-cache" / "inetutils";
  fs::create_directories(cache);
  std::vector<std::string> debs;
  for (const char* name : {"inetutils-telnetd", "inetutils-inetd"}) {
    auto find = [&] {
      for (const auto& e : fs::directory_iterator(cache))
        if (e.path().filename().string().rfind(std::string(name) + "_", 0) == 0)
          return e.path().string();
      return std::string();
    };
    std::string deb = find();
    if (deb.empty()) {
      tarvtest::RunProgram("/usr/bin/apt-get", {"download", name}, cache.string(), tarvtest::MachineScaled(120));
      deb = find();
    }
    if (deb.empty()) return {};
    debs.push_back(deb);
  }
  return debs;
}

class Telnetd {
 public:
  // `program` runs for each connection in place of login (telnetd -E).
  Telnetd(const tarvtest::TempDir& dir, const std::string& program) {
    const std::vector<std::string> debs = CachedPackages();
    if (debs.empty()) {
      why_ = "the inetutils packages could not be fetched";
      return;
    }
    const std::filesystem::path root = dir.path() / "root";
    for (const std::string& deb : debs)
      if (tarvtest::RunProgram("/usr/bin/dpkg", {"-x", deb, root.string()}, dir.path().string(), tarvtest::MachineScaled(60))
              .exitCode != 0) {
        why_ = "cannot unpack " + deb;
        return;
      }
    port_ = tcppeer::FreePort();
    const passwd* user = getpwuid(geteuid());
    if (port_ <= 0 || !user) {
      why_ = "no free port or no user";
      return;
    }
    const std::string conf =
        dir.Write("inetd.conf", "127.0.0.1:" + std::to_string(port_) + " stream tcp nowait " +
                                    user->pw_name + " " + (root / "usr/sbin/telnetd").string() +
                                    " telnetd -h -E " + program + "\n");
    inetd_.Start({(root / "usr/sbin/inetutils-inetd").string(), "-d",
                  "--pidfile=" + dir.File("inetd.pid"), conf},
                 dir.File("inetd.log"));
    if (tcppeer::Listening(port_))
      up_ = true;
    else
      why_ = "inetd does not listen";
  }

  bool up() const { return up_; }
  // Why the server is not up.
  const std::string& why() const { return why_; }
  int port() const { return port_; }

 private:
  localdaemon::Daemon inetd_;
  int port_ = -1;
  bool up_ = false;
  std::string why_;
};

}  // namespace telnetpeer
