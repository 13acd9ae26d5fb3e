// Redirects through the real binary against real peers: a redirecting peer
// on 127.0.0.1 sends the client on to recording peers on 127.0.0.2 and on
// another port, and an https peer sends it to plain http.  What each peer
// saw tells which headers travelled where; the saved text which answer the
// script kept; the debug log what it shows of the URLs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/platform/local_daemon.h"
#include "tests/services/sockets/tcp_peer.h"
#include "tests/services/web/echo_peer.h"

namespace {

using tarvtest::Count;
using tarvtest::TempDir;

const std::string kPeer = std::string(TARV_SOURCE_DIR) + "/tests/services/web/redirect_server.py";

// redirect_server.py on HOST and a free port, recording into dir/NAME.txt,
// with TLS when given a certificate.
struct RedirectPeer {
  std::string host;
  std::string record;
  int port = tcppeer::FreePort();
  localdaemon::Daemon proc;
  bool up = false;
  RedirectPeer(const TempDir& dir, const std::string& host, const std::string& name,
               const std::string& cert = "", const std::string& key = "")
      : host(host), record(dir.File(name + ".txt")) {
    std::vector<std::string> args{"/usr/bin/python3", kPeer, host, std::to_string(port), record};
    if (!cert.empty()) args.insert(args.end(), {cert, key});
    proc.Start(args, dir.File(name + ".out"));
    up = tcppeer::Listening(port, tcppeer::PeerWaitMs());
  }
  std::string Url(const std::string& path, const char* scheme = "http") const {
    return std::string(scheme) + "://" + host + ":" + std::to_string(port) + path;
  }
  std::string Address() const { return host + ":" + std::to_string(port); }
  // The requests the peer received, by path with its query: each request's
  // head and body.
  std::map<std::string, std::string> Seen() const {
    std::map<std::string, std::string> seen;
    std::istringstream in(tarvtest::ReadFile(record));
    std::string line, path;
    while (std::getline(in, line)) {
      if (line.rfind(host + ":", 0) == 0) {
        const size_t from = line.find(' ', line.find(' ') + 1) + 1;
        path = line.substr(from, line.rfind(' ') - from);
      }
      seen[path] += line + "\n";
    }
    return seen;
  }
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The program copied beside a log folder, so that its debug log can be read.
std::string ProgramWithLog(const TempDir& dir) {
  const std::string program = tarvtest::CopyProgram(dir.path().string());
  std::filesystem::create_directory(dir.File("log"));
  return program;
}

// Runs body at the debug level with a time-out of 2 s a step and saves the
// text after it, its error count last: what it saved.
std::string RunSaved(const TempDir& dir, const std::string& program, const std::string& body) {
  const std::string out = dir.File("out.txt");
  const std::string script = dir.Write(
      "web.nms", "run.set loglevel {debug}\nrun.set step.timeout {2} seconds\n" + body +
                     "text.add {|errors=~run.errors~}\n"
                     "text.headpointer move to head\ntext.tailpointer move to tail\n"
                     "text.save to file {" + out + "}\nrun.end\n");
  const auto r = tarvtest::RunProgram(program, {"hide", script}, dir.path().string(),
                                      tarvtest::MachineScaled(120));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return tarvtest::ReadFile(out);
}

class WebRedirect : public ::testing::Test {
 protected:
  TempDir dir;
  void SetUp() override { webpeer::ClearClientEnvironment(); }
  void TearDown() override { unsetenv("CURL_CA_BUNDLE"); }
};

constexpr const char* kCredentials[] = {"authorization", "cookie"};
const std::string kUserBasic = "Authorization: Basic dXNyOlBXMQ==\n";  // usr:PW1

TEST_F(WebRedirect, CredentialHeadersStayWithTheHostTheScriptNamed) {
  RedirectPeer a(dir, "127.0.0.1", "a");
  RedirectPeer b(dir, "127.0.0.2", "b");
  RedirectPeer c(dir, "127.0.0.1", "c");
  ASSERT_TRUE(a.up && b.up && c.up);
  const std::string program = ProgramWithLog(dir);
  const std::string userA = "http://usr:PW1@" + a.Address();
  const std::string saved = RunSaved(
      dir, program,
      "web.add header { Proxy-Authorization } value {Basic PROXY2}\n"
      "web.add header {cookie} value {c=COOKIE3}\n"
      "web.add header {X-Api} value {plain}\n"
      "web.add header {Host} value {named.host}\n"
      "web.open {" + userA + "/go?to=" + b.Url("/b1") + "}\nweb.get\ntext.add {|}\n"
      "web.open {" + userA + "/go?to=/a2}\nweb.get\ntext.add {|}\n"
      "web.open {" + userA + "/go?to=" + c.Url("/c3") + "}\nweb.get\ntext.add {|}\n"
      "web.add header {Authorization} value {Bearer AUTH4}\n"
      "web.open {" + a.Url("/go?to=" + b.Url("/go?to=" + a.Url("/a5"))) + "}\nweb.get\ntext.add {|}\n"
      "var {k} value {v}\n"
      "web.add var {k}\n"
      "web.open {" + a.Url("/go?to=" + b.Url("/b6") + "&code=307") + "}\nweb.post\ntext.add {|}\n"
      "web.add var {k}\n"
      "web.open {" + a.Url("/go?to=" + b.Url("/b7") + "&code=303") + "}\nweb.post\ntext.add {|}\n"
      "web.open {" + a.Url("/go?to=http://usr:LOCPW8@" + b.Address() + "/b8") + "}\nweb.get\n");
  EXPECT_EQ(saved, "landed at " + b.Address() + " /b1\n|landed at " + a.Address() + " /a2\n|landed at " +
                       c.Address() + " /c3\n|landed at " + a.Address() + " /a5\n|landed at " +
                       b.Address() + " /b6 POST k=v\n|landed at " + b.Address() + " /b7\n|landed at " +
                       b.Address() + " /b8\n|errors=0");

  const auto seenA = a.Seen();
  const auto seenB = b.Seen();
  const auto seenC = c.Seen();
  // Every request to the named host carries the script's headers, the name
  // written with blanks sent trimmed; the user name and password of the URL
  // go again to the same host.
  ASSERT_EQ(seenA.size(), 9u) << tarvtest::ReadFile(a.record);
  for (const auto& [path, head] : seenA) {
    EXPECT_EQ(Count(head, "Proxy-Authorization: Basic PROXY2\n"), 1) << head;
    EXPECT_EQ(Count(head, "cookie: c=COOKIE3\n"), 1) << head;
    EXPECT_EQ(Count(head, "X-Api: plain\n"), 1) << head;
    EXPECT_EQ(Count(head, "Host: named.host\n"), 1) << head;
  }
  for (const std::string& path : {"/go?to=" + b.Url("/b1"), std::string("/go?to=/a2"), std::string("/a2"),
                                 "/go?to=" + c.Url("/c3")})
    EXPECT_EQ(Count(seenA.at(path), kUserBasic), 1) << path << seenA.at(path);
  EXPECT_EQ(Count(seenA.at("/a5"), "Authorization: Bearer AUTH4\n"), 1) << seenA.at("/a5");
  // Another name or another port gets the plain headers only.
  ASSERT_EQ(seenB.size(), 5u) << tarvtest::ReadFile(b.record);
  ASSERT_EQ(seenC.size(), 1u) << tarvtest::ReadFile(c.record);
  std::map<std::string, std::string> elsewhere = seenB;
  elsewhere.insert(seenC.begin(), seenC.end());
  for (const auto& [path, head] : elsewhere) {
    EXPECT_EQ(Count(head, "X-Api: plain\n"), 1) << head;
    // The Host header that named the script's host is left to the client.
    EXPECT_EQ(Count(head, "Host: 127.0.0."), 1) << head;
    if (path == "/b8") continue;
    for (const char* credential : kCredentials)
      EXPECT_EQ(Lower(head).find(credential), std::string::npos) << credential << head;
  }
  // A 307 sends the POST again with its body, a 303 goes on as a GET.
  EXPECT_EQ(Count(seenB.at("/b6"), "POST /b6 HTTP/1.1\n"), 1);
  EXPECT_EQ(Count(seenB.at("/b6"), "\nk=v\n"), 1);
  EXPECT_EQ(Count(seenB.at("/b7"), "GET /b7 HTTP/1.1\n"), 1);
  // A Location that carries its own user name and password: the server's
  // choice, sent to that host; the log shows the password masked.
  EXPECT_EQ(Count(seenB.at("/b8"), "Authorization: Basic dXNyOkxPQ1BXOA==\n"), 1);  // usr:LOCPW8
  for (const char* script : {"AUTH4", "PROXY2", "COOKIE3"})
    EXPECT_EQ(seenB.at("/b8").find(script), std::string::npos) << script;
  const std::string log = tarvtest::LogsIn(dir);
  EXPECT_EQ(log.find("LOCPW8"), std::string::npos);
  EXPECT_EQ(log.find("PW1"), std::string::npos);
  EXPECT_EQ(Count(log, "Location: http://usr:********@" + b.Address() + "/b8"), 1) << log;
}

TEST_F(WebRedirect, HttpsIsNotFollowedToPlainHttp) {
  const std::string cert = dir.File("cert.pem");
  const std::string key = dir.File("key.pem");
  const auto made = tarvtest::RunProgram(
      "/usr/bin/openssl",
      {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
       "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
      dir.path().string(), tarvtest::MachineScaled(60));
  ASSERT_EQ(made.exitCode, 0) << made.output;
  RedirectPeer secure(dir, "127.0.0.1", "secure", cert, key);
  RedirectPeer plain(dir, "127.0.0.1", "plain");
  ASSERT_TRUE(secure.up && plain.up);
  setenv("CURL_CA_BUNDLE", cert.c_str(), 1);
  const std::string program = ProgramWithLog(dir);
  const std::string saved = RunSaved(
      dir, program,
      "web.add header {X-Api-Key} value {APIKEY1}\n"
      "web.open {" + secure.Url("/go?to=" + plain.Url("/clear"), "https") + "}\nweb.get\ntext.add {|}\n"
      "web.open {" + secure.Url("/go?to=HTTP://" + plain.Address() + "/clear2&code=301", "https") +
      "}\nweb.post\ntext.add {|}\n"
      // Within https, and from http to https, redirects are followed.
      "web.open {" + secure.Url("/go?to=/kept", "https") + "}\nweb.get\ntext.add {|}\n"
      "web.open {" + plain.Url("/go?to=" + secure.Url("/up", "https")) + "}\nweb.get\n");
  EXPECT_EQ(saved, "redirect body\n|redirect body\n|landed at " + secure.Address() + " /kept\n|landed at " +
                       secure.Address() + " /up\n|errors=0");
  const auto seen = plain.Seen();
  ASSERT_EQ(seen.size(), 1u) << tarvtest::ReadFile(plain.record);
  EXPECT_EQ(seen.begin()->first, "/go?to=" + secure.Url("/up", "https"));
  EXPECT_EQ(secure.Seen().size(), 5u);
  const std::string log = tarvtest::LogsIn(dir);
  EXPECT_EQ(Count(log, "a redirect from https to http is not followed"), 2) << log;
}

}  // namespace
