// The set-up scripts respect the user's machine: what the run command
// installs holds no daemon, and an installed tree runs on its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// A file that makes the package a system service: a unit of the system
// manager or an init script.
bool IsSystemService(const std::string& path) {
  for (const char* dir : {"/lib/systemd/system/", "/usr/lib/systemd/system/", "/etc/init.d/"}) {
    const std::string d = dir;
    if (path.starts_with(d) && path.size() > d.size() && path.find('/', d.size()) == std::string::npos)
      return true;
  }
  return false;
}

TEST(Setup, TheRunCommandsPackagesHoldNoDaemon) {
  const auto list = tarvtest::RunProgram(std::string(TARV_SOURCE_DIR) + "/scripts/install-deps.sh",
                                         {"run", "--list"}, TARV_SOURCE_DIR);
  ASSERT_EQ(list.exitCode, 0) << list.output;
  const auto packages = Lines(list.output);
  ASSERT_FALSE(packages.empty());
  for (const std::string& p : packages) {
    const auto files = tarvtest::RunProgram("/usr/bin/dpkg", {"-L", p}, "/");
    ASSERT_EQ(files.exitCode, 0) << p << " is not installed: " << files.output;
    for (const std::string& f : Lines(files.output)) EXPECT_FALSE(IsSystemService(f)) << p << " ships " << f;
  }
}

// The run command installs what is missing without the packages'
// recommendations (which would bring the system bus daemon onto a minimal
// machine): seen through stand-ins for the package tools that take every
// package as missing and record how apt-get was called.
TEST(Setup, TheRunCommandInstallsWithoutRecommendations) {
  tarvtest::TempDir dir;
  const std::string calls = dir.File("apt-calls");
  std::filesystem::create_directory(dir.File("bin"));
  dir.Write("bin/dpkg-query", "#!/bin/sh\nexit 1\n");
  dir.Write("bin/apt-get", "#!/bin/sh\necho \"$*\" >> '" + calls + "'\n");
  dir.Write("bin/sudo", "#!/bin/sh\nexec \"$@\"\n");
  for (const char* tool : {"bin/dpkg-query", "bin/apt-get", "bin/sudo"})
    std::filesystem::permissions(dir.File(tool), std::filesystem::perms::owner_all);
  const std::string deps = std::string(TARV_SOURCE_DIR) + "/scripts/install-deps.sh";
  const auto list = tarvtest::RunProgram(deps, {"run", "--list"}, TARV_SOURCE_DIR);
  ASSERT_EQ(list.exitCode, 0) << list.output;
  const auto r = tarvtest::RunProgram("/usr/bin/env", {"PATH=" + dir.File("bin") + ":/usr/bin:/bin", deps, "run"},
                                      TARV_SOURCE_DIR);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const auto lines = Lines(tarvtest::ReadFile(calls));
  ASSERT_EQ(lines.size(), 2u) << tarvtest::ReadFile(calls);
  EXPECT_EQ(lines[0], "update");
  std::string all;
  for (const std::string& p : Lines(list.output)) all += " " + p;
  EXPECT_EQ(lines[1], "install -y --no-install-recommends" + all);
}

TEST(Setup, TheServiceCheckKnowsAUnitFromItsFolder) {
  EXPECT_TRUE(IsSystemService("/lib/systemd/system/ssh.service"));
  EXPECT_TRUE(IsSystemService("/etc/init.d/snmpd"));
  EXPECT_FALSE(IsSystemService("/lib/systemd/system"));
  EXPECT_FALSE(IsSystemService("/usr/lib/systemd/user/fluidsynth.service"));
}

// `cmake --install` into a new prefix; the installed program runs a script
// that needs a module while the build's own modules are hidden from it.
TEST(Setup, AnInstalledTreeRunsAModuleWithoutTheBuild) {
  if (geteuid() != 0) GTEST_SKIP() << "hiding the build's modules needs a mount namespace (root)";
  tarvtest::TempDir dir;
  const std::string build = std::filesystem::path(tarvtest::TarvBinary()).parent_path().string();
  const std::string prefix = dir.File("prefix");
  const auto install = tarvtest::RunProgram("/usr/bin/env", {"cmake", "--install", build, "--prefix", prefix},
                                            dir.path().string(), 120);
  ASSERT_EQ(install.exitCode, 0) << install.output;
  ASSERT_TRUE(std::filesystem::exists(prefix + "/bin/tarv"));

  const std::string script = dir.Write("s.nms",
      tarvtest::SqliteKeptLines(dir) +
      "text.add {~a~}\n"
      "text.headpointer move to head\ntext.tailpointer move to tail\n"
      "text.save to file {out.txt}\nrun.end\n");
  const std::string hidden = "mount -t tmpfs none '" + build + "/modules' && exec '" + prefix +
                             "/bin/tarv' hide '" + script + "'";
  const auto r = tarvtest::RunProgram("/usr/bin/unshare", {"--mount", "sh", "-c", hidden}, dir.path().string());
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(dir.File("out.txt")), "kept");
}

}  // namespace
