// The scripts of examples/ run through the real program, each told to write
// into a fresh folder (its first argument after the script).
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
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

const std::filesystem::path kExamples = std::filesystem::path(TARV_SOURCE_DIR) / "examples";
const std::filesystem::path kGolden = std::filesystem::path(TARV_SOURCE_DIR) / "tests/e2e/examples";

tarvtest::BinaryRun RunExample(const std::string& name, const TempDir& dir,
                               std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"hide", (kExamples / (name + ".nms")).string(), dir.path().string()};
  args.insert(args.end(), more.begin(), more.end());
  return RunProgram(TarvBinary(), args, dir.path().string(), 90);
}

// tests/e2e/examples/NAME/ holds every file examples/NAME.nms must write, as
// it must write it; the example needs nothing outside the machine.
std::vector<std::string> GoldenCases() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(kGolden))
    if (e.is_directory()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Example : public ::testing::TestWithParam<std::string> {};

TEST_P(Example, WritesWhatItsGoldenFolderHolds) {
  TempDir dir;
  const auto r = RunExample(GetParam(), dir);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  for (const auto& e : std::filesystem::directory_iterator(kGolden / GetParam())) {
    const std::string file = e.path().filename().string();
    EXPECT_EQ(tarvtest::ReadFile(dir.File(file)), tarvtest::ReadFile(e.path().string())) << file;
  }
}

INSTANTIATE_TEST_SUITE_P(E2e, Example, ::testing::ValuesIn(GoldenCases()),
                         [](const auto& info) { return info.param; });

TEST(Examples, HealthCheckReportsTheFieldsOfItsCommands) {
  TempDir dir;
  const auto r = RunExample("health_check", dir);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const std::string report = tarvtest::ReadFile(dir.File("health.txt"));
  const std::regex shape(
      "kernel: Linux \\S+\n"
      "load: [0-9.]+ [0-9.]+ [0-9.]+\n"
      "memory: [0-9]+ of [0-9]+ kB available\n"
      "root: [0-9]+% used\n"
      "(WARNING: the root file system is almost full\n)?"
      "errors: 0\n");
  EXPECT_TRUE(std::regex_match(report, shape)) << report;
}

TEST(Examples, PortProbeTellsOpenFromClosedPorts) {
  TempDir dir;
  tcppeer::Listener open;
  const int closed = tcppeer::FreePort();
  ASSERT_GT(open.port(), 0);
  const std::string o = std::to_string(open.port());
  const std::string c = std::to_string(closed);
  const auto r = RunExample("port_probe", dir, {o, c, o});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(dir.File("ports.txt")),
            o + " open\n" + c + " closed\n" + o + " open\n2 of 3 open\n");
}

std::string Ask(int port, const std::string& request) {
  const int fd = tcppeer::ConnectRetry(AF_INET, port, 20000);
  if (fd < 0) return "<no connection>";
  std::string answer;
  if (tcppeer::Write(fd, request)) answer = tcppeer::Read(fd, 1 << 16, 20000);
  close(fd);
  return answer;
}

TEST(Examples, StatusPageAnswersItsRequestsAndEnds) {
  TempDir dir;
  dir.Write("index.html", "static page\n");
  const int port = tcppeer::FreePort();
  tcppeer::Watchdog watchdog(120, "status_page.nms");
  tarvtest::BinaryRun r;
  std::thread server([&] { r = RunExample("status_page", dir, {std::to_string(port), "3"}); });
  ASSERT_TRUE(tcppeer::Listening(port, 20000));

  const std::string page = Ask(port, "GET /index.html HTTP/1.0\r\n\r\n");
  const std::string status = Ask(port, "GET /status.jsp HTTP/1.0\r\n\r\n");
  const std::string echo = Ask(port, "GET /echo.jsp?name=Ada HTTP/1.0\r\n\r\n");
  const std::string post =
      Ask(port, "POST /other.jsp HTTP/1.0\r\nContent-Length: 3\r\n\r\na=1");
  server.join();

  EXPECT_NE(page.find("\r\n\r\nstatic page\n"), std::string::npos) << page;
  EXPECT_EQ(status.rfind("HTTP/1.", 0), 0u) << status;
  EXPECT_NE(status.find("<p>request 1 of 3</p><p>steps "), std::string::npos) << status;
  EXPECT_NE(echo.find("\r\n\r\nhello Ada"), std::string::npos) << echo;
  EXPECT_EQ(post.find("hello"), std::string::npos) << post;
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(dir.File("requests.txt")),
            "1 GET /status.jsp from 127.0.0.1\n2 GET /echo.jsp from 127.0.0.1\n"
            "3 POST /other.jsp from 127.0.0.1\n");
}

}  // namespace
