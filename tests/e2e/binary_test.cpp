#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/services/sockets/tcp_peer.h"

namespace {

using tarvtest::RunProgram;
using tarvtest::TarvBinary;
using tarvtest::TempDir;

TEST(Binary, HideRunsExitZeroWhateverTheScript) {
  TempDir dir;
  std::string ok = dir.Write("ok.nms", "# nothing\nrun.end\n");
  auto r = RunProgram(TarvBinary(), {"hide", ok}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;

  // A statement that fails, a missing variable, a brace error.
  std::string bad = dir.Write("bad.nms", "tcp.close\nvar {a} value {~nope~}\ntext.add {x{y}\n");
  r = RunProgram(TarvBinary(), {"hide", bad}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_FALSE(r.timedOut);

  r = RunProgram(TarvBinary(), {"hide", dir.File("missing.nms")}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0);
  r = RunProgram(TarvBinary(), {"hide"}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0);
}

TEST(Binary, LogGoesBesideTheProgramOnlyWhenTheFolderExists) {
  TempDir dir;
  tarvtest::CopyProgram(dir.path().string());
  std::string script = dir.Write("s.nms", "run.set loglevel {debug}\n# x\nrun.end\n");

  auto r = RunProgram(dir.File("tarv"), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("log")));

  std::filesystem::create_directory(dir.File("log"));
  r = RunProgram(dir.File("tarv"), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0);
  int logs = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("log"))) {
    std::string name = e.path().filename().string();
    EXPECT_EQ(name.rfind("hide_s.nms_", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".htm");
    logs++;
  }
  EXPECT_EQ(logs, 1);
}

// A login secret, written or substituted, reaches neither the debug log nor
// its step tables: every statement that takes a `password` shows it masked.
TEST(Binary, PasswordsAreMaskedInTheLog) {
  TempDir dir;
  tarvtest::CopyProgram(dir.path().string());
  std::filesystem::create_directory(dir.File("log"));
  const std::string script = dir.Write("s.nms",
      "run.set loglevel {debug}\nrun.set step.timeout {1} seconds\n"
      "var {pw} value {Sekr4tPW}\n"
      "ssh.connect ip {127.0.0.1} port {1} username {bob} password {Sekr1tPW}\n"
      "mysql.open ip {127.0.0.1} port {1} user {bob} password {~pw~} database {x}\n"
      "snmp.open version {2c} ip {127.0.0.1} port {1} password {Sekr3tPW}\n"
      "smtp.server {127.0.0.1} port {1} username {bob} password {Sekr2tPW}\n"
      "run.end\n");
  const auto r = RunProgram(dir.File("tarv"), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  std::string log;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("log")))
    log += tarvtest::ReadFile(e.path().string());
  for (const char* secret : {"Sekr1tPW", "Sekr2tPW", "Sekr3tPW"})
    EXPECT_EQ(log.find(secret), std::string::npos) << secret;
  // The variable itself is the script's own; only its use as a password is hidden.
  EXPECT_EQ(log.find("password {~pw~}"), std::string::npos);
  EXPECT_EQ(tarvtest::Count(log, "password {********}"), 4) << log;
  EXPECT_EQ(tarvtest::Count(log, "<td>{********}</td>"), 4);
  EXPECT_EQ(tarvtest::Count(log, "class=\"tarv_green\"> ********</td>"), 4);
  EXPECT_NE(log.find("username {bob}"), std::string::npos);
}

// Every tests/e2e/scripts/NAME.nms runs through a copy of the program in the
// hide mode, in a fresh folder that holds a log folder and all the scripts.
// It must exit with 0, and what it saved to out.txt must equal NAME.out, the
// folder written as DIR.  Beside it:
// - NAME.peer.nms runs first, in a second program, and the port it should
//   listen on is the last argument of both; its peer.txt must equal NAME.peer.out;
// - NAME.log lists texts the run's HTML log must hold (one log, named after
//   the mode and the script).
// Scripts named with a second dot (x.peer.nms, x.child.nms) only serve others.
const std::filesystem::path kScripts = std::filesystem::path(TARV_SOURCE_DIR) / "tests/e2e/scripts";

std::vector<std::string> ScriptCases() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(kScripts)) {
    const std::string stem = e.path().stem().string();
    if (e.path().extension() == ".nms" && stem.find('.') == std::string::npos) names.push_back(stem);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Masked(std::string s, const std::string& dir) {
  for (size_t p = s.find(dir); p != std::string::npos; p = s.find(dir, p)) s.replace(p, dir.size(), "DIR");
  return s;
}

class Script : public ::testing::TestWithParam<std::string> {};

TEST_P(Script, SavesWhatItsExpectedOutputHolds) {
  const std::string name = GetParam();
  TempDir dir;
  const std::string d = dir.path().string();
  tarvtest::CopyProgram(dir.path().string());
  std::filesystem::create_directory(dir.File("log"));
  for (const auto& e : std::filesystem::directory_iterator(kScripts))
    std::filesystem::copy_file(e.path(), dir.path() / e.path().filename());

  std::vector<std::string> args = {"hide", dir.File(name + ".nms")};
  const bool peered = std::filesystem::exists(kScripts / (name + ".peer.nms"));
  tarvtest::BinaryRun peer;
  std::thread peerRun;
  if (peered) {
    const std::string port = std::to_string(tcppeer::FreePort());
    args.push_back(port);
    peerRun = std::thread([&] {
      peer = RunProgram(dir.File("tarv"), {"hide", dir.File(name + ".peer.nms"), port}, d);
    });
    EXPECT_TRUE(tcppeer::Listening(std::stoi(port), 20000));
  }
  const auto r = RunProgram(dir.File("tarv"), args, d, tarvtest::MachineScaled(120));
  if (peered) peerRun.join();
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(Masked(tarvtest::ReadFile(dir.File("out.txt")), d),
            tarvtest::ReadFile((kScripts / (name + ".out")).string()));
  if (peered) {
    EXPECT_EQ(peer.exitCode, 0) << peer.output;
    EXPECT_EQ(tarvtest::ReadFile(dir.File("peer.txt")),
              tarvtest::ReadFile((kScripts / (name + ".peer.out")).string()));
  }
  const std::filesystem::path expectLog = kScripts / (name + ".log");
  if (!std::filesystem::exists(expectLog)) return;
  std::vector<std::string> logs;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("log")))
    logs.push_back(e.path().filename().string());
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].rfind("hide_" + name + ".nms_", 0), 0u) << logs[0];
  const std::string log = tarvtest::ReadFile(dir.File("log/" + logs[0]));
  std::istringstream wanted(tarvtest::ReadFile(expectLog.string()));
  for (std::string line; std::getline(wanted, line);)
    EXPECT_NE(log.find(line), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(E2e, Script, ::testing::ValuesIn(ScriptCases()),
                         [](const auto& info) { return info.param; });

}  // namespace
