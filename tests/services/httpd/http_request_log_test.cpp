// The server's debug trace of a request it buffers masks what a client sends
// to log in, and keeps the rest of the request as received.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "engine/core/engine.h"
#include "engine/log/log.h"
#include "services/httpd/http_server.h"
#include "tests/engine/harness.h"

namespace {

TEST(HttpRequestTrace, CredentialsOfTheClientAreMasked) {
  tarvtest::TempDir dir;
  std::filesystem::create_directory(dir.File("log"));
  tarvtest::Start(dir, "run.end\n", "debug");
  HttpStateClear();
  // No empty line yet: the slot waits for more, after the trace.
  const std::string request =
      "GET /a.jsp HTTP/1.1\r\nHost: h\r\nauthorization: Basic QkFTSUNTRUNSRVQ=\r\n"
      "Cookie: sid=SESSIONSECRET\r\nProxy-Authorization: Bearer PROXYTOKEN\r\nX-Seen: yes\r\n";
  HttpClient& c = sgHttp.Client[0];
  std::memcpy(c.Buf.data(), request.data(), request.size());
  c.Len = static_cast<int>(request.size());
  EXPECT_EQ(Http_CheckRequest(0), 1);
  TarvFlushLog();
  const std::string log = tarvtest::LogsIn(dir);
  for (const char* secret : {"QkFTSUNTRUNSRVQ=", "SESSIONSECRET", "PROXYTOKEN"})
    EXPECT_EQ(log.find(secret), std::string::npos) << secret << log;
  EXPECT_NE(log.find("GET /a.jsp HTTP/1.1\r\nHost: h\r\nauthorization: ********\r\n"
                     "Cookie: ********\r\nProxy-Authorization: ********\r\nX-Seen: yes\r\n"),
            std::string::npos)
      << log;
  HttpStateClear();
  TarvEngineReset();
}

}  // namespace
