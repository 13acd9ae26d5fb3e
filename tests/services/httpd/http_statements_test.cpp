// The http statements inside the test process: argument checks, misuse
// before a request, the rows that are not built, listening twice, and the
// functions behind the head and the root check.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "services/httpd/http_server.h"
#include "tests/engine/harness.h"
#include "tests/services/sockets/tcp_peer.h"
#include "tests/services/statement_checks.h"

namespace {

using Errors = std::vector<std::string>;
using tarvtest::RunErrors;
using tarvtest::TempDir;

TEST(HttpStatements, ChecksAndListeningTwice) {
  tarvtest::RunChecks("services/httpd/checks.txt", [] { EXPECT_EQ(sgHttp.ListenSocket, -1); });
  TempDir dir;
  const std::string listen = "http.listen port {" + std::to_string(tcppeer::FreePort()) + "} root dir {" +
                             dir.path().string() + "}\n";
  tarvtest::Run(dir, listen + listen + "http.send end\n");
  // The second listen on the same port found it free; the end of the run
  // closed the listener.
  EXPECT_EQ(RunErrors(), Errors{"http_send_end: no request to answer !"});
  EXPECT_EQ(sgHttp.ListenSocket, -1);
}

// Serves uri for a client without a connection: 0 when the file was taken,
// -1 when it was refused.
int Serve(const std::string& root, const std::string& uri) {
  HttpStateClear();
  std::memcpy(sgHttp.Root.data(), root.data(), root.size());
  HttpClient& c = sgHttp.Client[0];
  c.InUse = 1;
  std::memcpy(c.Buf.data(), uri.data(), uri.size());
  c.UriStart = 0;
  c.UriEnd = static_cast<int>(uri.size()) - 1;
  c.Period = static_cast<int>(uri.rfind('.'));
  const int r = HttpSend_AnswerFile(0);
  HttpStateClear();
  return r;
}

TEST(HttpStatements, WhichFilesAreServed) {
  TempDir dir;
  std::string root = dir.path().string();
  while (root.size() < 480) root += "/dddddddddd";
  std::filesystem::create_directories(root + "/d.d");
  dir.Write(root.substr(dir.path().string().size() + 1) + "/a.htm", "x");
  dir.Write("b.htm", "outside");
  // Root plus URI fill the 511 bytes of the path, and one byte more.
  const std::string fits = std::string(511 - root.size() - 5, '/') + "a.htm";
  struct Case {
    std::string uri;
    int result;
  };
  const Case cases[] = {
      {"/a.htm", 0},   {fits, 0},          {"/" + fits, -1},
      {"/d.d", -1},    {"/missing.htm", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(Serve(root, c.uri), c.result) << c.uri;
  // b.htm stands beside a shallow root, one step up.
  std::filesystem::create_directories(dir.File("r"));
  EXPECT_EQ(Serve(dir.File("r"), "/../b.htm"), -1);
}

TEST(HttpStatements, DateLineInEnglishWhateverTheLocale) {
  std::setlocale(LC_TIME, "de_DE.UTF-8");
  char date[40];
  HttpDate(1796496000, date);
  EXPECT_STREQ(date, "Sat,05 Dec 2026 18:40:00 GMT");
  HttpDate(951782409, date);
  EXPECT_STREQ(date, "Tue,29 Feb 2000 00:00:09 GMT");
  std::setlocale(LC_TIME, "C");
}

// uris.tsv: which URIs climb out of the root.
TEST(HttpStatements, UrisThatClimbOutOfTheRoot) {
  for (const auto& row : tarvtest::LoadRows("services/httpd/uris.tsv"))
    EXPECT_EQ(HttpUriClimbs(row[0].c_str(), static_cast<int>(row[0].size())), row[1] == "true") << row[0];
}

}  // namespace
