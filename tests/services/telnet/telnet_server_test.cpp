// A script through the real binary against a real telnet server: inetutils
// telnetd under inetutils-inetd on a loopback port, running /bin/sh without
// a login.  The two programs are taken from their Debian packages, fetched
// once into a cache under the build tree and unpacked into a temporary
// folder, so that no system service is installed or started.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/harness_binary.h"
#include "tests/platform/local_daemon.h"
#include "tests/engine/harness.h"
#include "tests/services/binary_run.h"
#include "tests/services/sockets/tcp_peer.h"

namespace {

namespace fs = std::filesystem;
using tarvtest::ReadFile;
using tarvtest::RunProgram;
using tarvtest::TarvBinary;
using tarvtest::TempDir;

const char* const kPackages[] = {"inetutils-telnetd", "inetutils-inetd"};

// The packages' files in the cache, fetched the first time; empty when they
// cannot be had.
std::vector<std::string> CachedPackages() {
  const fs::path cache = fs::path(TarvBinary()).parent_path() / "test-cache" / "inetutils";
  fs::create_directories(cache);
  std::vector<std::string> debs;
  for (const char* name : kPackages) {
    auto find = [&] {
      for (const auto& e : fs::directory_iterator(cache))
        if (e.path().filename().string().rfind(std::string(name) + "_", 0) == 0)
          return e.path().string();
      return std::string();
    };
    std::string deb = find();
    if (deb.empty()) {
      RunProgram("/usr/bin/apt-get", {"download", name}, cache.string(), 120);
      deb = find();
    }
    if (deb.empty()) return {};
    debs.push_back(deb);
  }
  return debs;
}

TEST(TelnetServer, ShellSessionThroughInetdAndTelnetd) {
  const std::vector<std::string> debs = CachedPackages();
  if (debs.empty()) GTEST_SKIP() << "the inetutils packages could not be fetched";
  TempDir dir;
  const fs::path root = dir.path() / "root";
  for (const std::string& deb : debs)
    ASSERT_EQ(RunProgram("/usr/bin/dpkg", {"-x", deb, root.string()}, dir.path().string(), 60)
                  .exitCode,
              0);
  const int port = tcppeer::FreePort();
  ASSERT_GT(port, 0);
  const passwd* user = getpwuid(geteuid());
  ASSERT_NE(user, nullptr);
  const std::string conf =
      dir.Write("inetd.conf", "127.0.0.1:" + std::to_string(port) + " stream tcp nowait " +
                                  user->pw_name + " " + (root / "usr/sbin/telnetd").string() +
                                  " telnetd -h -E /bin/sh\n");
  // inetd in the foreground with its own configuration; stopped by its pid.
  localdaemon::Daemon inetd({(root / "usr/sbin/inetutils-inetd").string(), "-d",
                             "--pidfile=" + dir.File("inetd.pid"), conf},
                            dir.File("inetd.log"));
  ASSERT_TRUE(tcppeer::Listening(port));

  const std::string peerView = dir.File("peer.txt");
  // The prompt is set first, so that it does not depend on the user; the
  // quotes keep the echoed command lines from matching what is expected.
  const std::string text = tarvtest::RunSaved(dir, "session.nms",
      "run.set step.timeout {10} seconds\n"
      "telnet.connect ip {127.0.0.1} port {" + std::to_string(port) + "}\n"
      "telnet.send {PS1='tarv''> '%0D%0A}\n"
      "telnet.recv expect {tarv> }\n"
      "telnet.set onrecv {Pass-word:} send {secret%0D%0A}\n"
      "telnet.send {printf 'Pass-''word:'; read p; echo \"got=$p\"%0D%0A}\n"
      "telnet.recv expect {got=secret}\n"
      "telnet.recv expect {tarv> }\n"
      "telnet.send {echo \"$TERM $(stty size)\" > " + peerView +
      "; echo hi-$((40+2)); ls --color=always -d /%0D%0A}\n"
      "telnet.recv expect {hi-42}\n"
      "telnet.recv expect {tarv> }\n"
      "text.add {|~telnet.status~|~run.errors~}\n"
      "telnet.close\n", 120);
  // The terminal type and window size the negotiation told the server.
  EXPECT_EQ(ReadFile(peerView), "ansi 50 160\n");
  EXPECT_NE(text.find("Pass-word:secret\r\ngot=secret\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\nhi-42\r\n/\r\ntarv> |OPEN_OK|0"), std::string::npos) << text;
  // Neither telnet commands nor the colours of ls reached the text.
  EXPECT_EQ(text.find('\xff'), std::string::npos);
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
}

}  // namespace
