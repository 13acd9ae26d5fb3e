// The web statements against a Python echo server on loopback, over HTTP and
// over TLS with a certificate the test makes: through the real binary for
// what a script sends and receives, inside the test process for the faults.
#include "services/web/web_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/core/run_state.h"
#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/services/binary_run.h"
#include "tests/platform/local_daemon.h"
#include "tests/services/sockets/tcp_peer.h"
#include "tests/services/statement_checks.h"
#include "tests/services/web/echo_peer.h"

namespace {

using Errors = std::vector<std::string>;
using tarvtest::RunErrors;
using tarvtest::RunProgram;
using tarvtest::TempDir;

const std::string kAgent =
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; Trident/7.0; rv:11.0) like Gecko\n";
using webpeer::EchoPeer;

// Runs a script through the binary: the text it saved, its error count last.
std::string RunSaved(const TempDir& dir, const std::string& body) {
  return tarvtest::RunSaved(dir, "web.nms", body + "text.add {|errors=~run.errors~}\n", tarvtest::MachineScaled(120));
}

class WebClient : public ::testing::Test {
 protected:
  TempDir dir;
  void SetUp() override { webpeer::ClearClientEnvironment(); }
  void TearDown() override { WebStateClear(); }
};

TEST_F(WebClient, PairsHeadersBodiesThroughTheBinary) {
  EchoPeer echo(dir);
  ASSERT_TRUE(echo.up);
  const std::string host = "Host: 127.0.0.1:" + std::to_string(echo.port) + "\n";
  const std::string saved = RunSaved(
      dir, "var {a} value {1}\n"
           "var {b} value {x&y=z}\n"
           "web.open {" + echo.Url("/echo") + "}\n"
           "web.add header {X-One} value {1 2}\n"
           "web.add var {a}\n"
           "web.add var {b}\n"
           "web.get\n"
           "text.add {|}\n"
           "web.get\n"
           "text.add {|}\n"
           "web.open {" + echo.Url("/q?k=v w") + "}\n"
           "web.add var {a}\n"
           "web.get\n"
           "text.add {|}\n"
           "var {b} value {2}\n"
           "web.open {" + echo.Url("/form") + "}\n"
           "web.add header {X-One} value {replaced}\n"
           "web.add header {Content-Type} value {text/plain}\n"
           "web.add var {a}\n"
           "web.add var {b}\n"
           "web.post\n"
           "text.add {|}\n"
           "web.open {" + echo.Url("/missing") + "}\n"
           "web.close\n"
           "web.open {" + echo.Url("/missing") + "}\n"
           "web.post\n");
  EXPECT_EQ(saved,
            "GET /echo?a=1&b=x&y=z HTTP/1.1\n" + host + kAgent + "X-One: 1 2\n\n|" +
                "GET /echo?a=1&b=x&y=z HTTP/1.1\n" + host + kAgent + "X-One: 1 2\n\n|" +
                "GET /q?k=v%20w&a=1 HTTP/1.1\n" + host + kAgent + "X-One: 1 2\n\n|" +
                "POST /form HTTP/1.1\n" + host + kAgent + "X-One: replaced\nContent-Type: text/plain\nContent-Length: 7\n\na=1&b=2|" +
                "POST /missing HTTP/1.1\n" + host + kAgent + "Content-Length: 0\n\n" +
                "|errors=0");
}

TEST_F(WebClient, TlsTrustedOnlyThroughItsCa) {
  const std::string cert = dir.File("cert.pem");
  const std::string key = dir.File("key.pem");
  const auto made = RunProgram(
      "/usr/bin/openssl",
      {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
       "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
      dir.path().string(), 60);
  ASSERT_EQ(made.exitCode, 0) << made.output;
  EchoPeer echo(dir, cert, key);
  ASSERT_TRUE(echo.up);
  const std::string script = "var {a} value {1}\n"
                             "web.open {" + echo.Url("/tls", "https") + "}\n"
                             "web.add var {a}\n"
                             "web.get\n";
  const std::string untrusted = RunSaved(dir, script + "text.add {|~run.error.1~}\n");
  EXPECT_NE(untrusted.find("Error: [Error 12175 in WinHttpSendRequest.]"), std::string::npos)
      << untrusted;
  EXPECT_EQ(untrusted.substr(untrusted.size() - 8), "errors=1") << untrusted;
  EXPECT_EQ(untrusted.find("GET /tls"), std::string::npos);

  setenv("CURL_CA_BUNDLE", cert.c_str(), 1);
  const std::string trusted = RunSaved(dir, script);
  unsetenv("CURL_CA_BUNDLE");
  EXPECT_EQ(trusted.substr(0, 20), "GET /tls?a=1 HTTP/1.") << trusted;
  EXPECT_EQ(trusted.substr(trusted.size() - 8), "errors=0") << trusted;
}

TEST_F(WebClient, RefusalsAndFailures) {
  tarvtest::RunChecks("services/web/checks.txt");
  std::string headers;
  for (int i = 1; i <= 19; i++) headers += "web.add header {H" + std::to_string(i) + "} value {v}\n";
  tarvtest::Run(dir, headers + "web.close\nvar {big} value {" + std::string(1000, 'b') + "}\n"
                     "web.add var {big}\nweb.add var {big}\n"
                     "web.close\nweb.open {http://127.0.0.1:" + std::to_string(tcppeer::FreePort()) + "/}\nweb.get\n");
  EXPECT_EQ(RunErrors(), (Errors{"Head Too Many , Count=18, error!", "VarBuf Too Small,need len=1003, error!",
                                 "Error 12029 in WinHttpSendRequest."}));
}

TEST_F(WebClient, FullTextBufferStopsTheBody) {
  EchoPeer echo(dir);
  ASSERT_TRUE(echo.up);
  const std::string fill = dir.Write("fill.bin", std::string(4194200, 'f'));
  tarvtest::Run(dir, "text.add from file {" + fill + "}\n"
                     "web.open {" + echo.Url("/a") + "}\n"
                     "web.get\n");
  EXPECT_EQ(RunErrors(), Errors{"web_get:text buf is low !"});
  EXPECT_EQ(sgRun.TextLen, 4194200);
}

}  // namespace
