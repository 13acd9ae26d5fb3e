// The whole HTML log of a run through every family that needs no outside
// peer, at the error, info and debug log levels, against golden files: any change
// of a counter, a logged value or an entry's shape shows as a difference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/services/sockets/tcp_peer.h"

namespace {

using tarvtest::RunProgram;

const std::filesystem::path kScripts =
    std::filesystem::path(TARV_SOURCE_DIR) / "tests/e2e/identity";

std::string Replaced(std::string s, const std::string& what, const std::string& with) {
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + with.size()))
    s.replace(p, what.size(), with);
  return s;
}

// The folder's name varies in length, and so do lengths, offsets and pool
// fills on a line that shows it: its numbers become N.
std::string NumbersBesideFolder(const std::string& log) {
  std::string out;
  for (size_t at = 0; at < log.size();) {
    const size_t end = std::min(log.find('\n', at), log.size());
    const std::string line = log.substr(at, end - at + (end < log.size() ? 1 : 0));
    at = end + 1;
    if (line.find("DIR") == std::string::npos) {
      out += line;
      continue;
    }
    for (size_t i = 0; i < line.size(); i++) {
      if (!std::isdigit(static_cast<unsigned char>(line[i]))) {
        out += line[i];
        continue;
      }
      while (i + 1 < line.size() && std::isdigit(static_cast<unsigned char>(line[i + 1]))) i++;
      out += 'N';
    }
  }
  return out;
}

// The masked log and saved text of one run of families.nms in `mode`.
std::string RunInMode(const std::string& mode, const std::string& level) {
  tarvtest::TempDir dir;
  const std::string d = dir.path().string();
  tarvtest::CopyProgram(d);
  std::filesystem::create_directory(dir.File("log"));
  std::filesystem::create_directory(dir.File("peer"));
  for (const char* f : {"families.nms", "families.peer.nms"})
    std::filesystem::copy_file(kScripts / f, dir.path() / f);

  // The peer runs from a folder of its own so that only the run under test logs.
  tarvtest::CopyProgram(dir.File("peer"));
  const std::string port = std::to_string(tcppeer::FreePort());
  tarvtest::BinaryRun peer;
  std::thread peerRun([&] {
    peer = RunProgram(dir.File("peer/tarv"), {"hide", dir.File("families.peer.nms"), port}, d);
  });
  EXPECT_TRUE(tcppeer::Listening(std::stoi(port), 20000));
  const auto r = RunProgram(dir.File("tarv"), {mode, dir.File("families.nms"), port, level}, d, tarvtest::MachineScaled(120));
  peerRun.join();
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(peer.exitCode, 0) << peer.output;

  std::vector<std::string> logs;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("log")))
    logs.push_back(e.path().string());
  EXPECT_EQ(logs.size(), 1u);
  std::string out = tarvtest::Section("out.txt", tarvtest::ReadFile(dir.File("out.txt")));
  for (const auto& log : logs)
    out += tarvtest::Section(
        "log", NumbersBesideFolder(Replaced(tarvtest::MaskLog(tarvtest::ReadFile(log), d), port, "PORT")));
  return out;
}

TEST(LogIdentity, EveryModeLogsAsItsGoldenFile) {
  const struct {
    const char* mode;
    const char* level;
  } kRuns[] = {{"hide", "debug"}, {"hide", "info"}, {"hide", "error"}};
  // The other modes open the window; their log levels are the hide mode's
  // with run.set loglevel.
  for (const auto& run : kRuns)
    tarvtest::ExpectGolden(std::string("identity/families_") + run.level + ".htm",
                           RunInMode(run.mode, run.level));
}

}  // namespace
