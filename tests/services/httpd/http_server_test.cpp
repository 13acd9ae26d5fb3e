// The HTTP server through the real binary: a script serves a folder and
// answers dynamic requests; raw sockets from Python, curl, headless Chromium
// and wrk are its clients.  Then the statements inside the test process:
// argument checks, misuse before a request, listening twice, and the
// functions behind the head and the root check.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "platform/socket.h"
#include "services/httpd/http_server.h"
#include "services/sockets/socket_layer.h"
#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/machine_wait.h"
#include "tests/platform/child_watch.h"
#include "tests/platform/local_daemon.h"
#include "tests/services/sockets/tcp_peer.h"
#include "tests/services/statement_checks.h"

namespace {

using tarvtest::ReadFile;
using tarvtest::RunProgram;
using tarvtest::TempDir;

const std::string kHere = std::string(TARV_SOURCE_DIR) + "/tests/services/httpd/";
const std::string kPython = "/usr/bin/python3";

std::string Head(const std::string& type, int length = 0) {
  return "HTTP/1.1 200 OK\r\nServer: tarvV13.http inside service\r\nDate: D\r\nContent-Type: " +
         type + "\r\n" + (length > 0 ? "Content-Length: " + std::to_string(length) + "\r\n" : "") +
         "\r\n";
}

// The Date line's value, when it has the shape "Sat,05 Dec 2026 18:40:00 GMT",
// becomes "D".
std::string NoDate(const std::string& s) {
  static const std::regex date("Date: [A-Za-z]{3},[0-9]{2} [A-Za-z]{3} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} GMT");
  return std::regex_replace(s, date, "Date: D", std::regex_constants::format_first_only);
}

// A script serving a folder (www, with a secret file beside it) on a free
// port until a request for /stop.jsp.
class Served : public ::testing::Test {
 protected:
  TempDir dir;
  int port = tcppeer::FreePort();
  std::string www = dir.File("www");
  std::string bigFile;
  localdaemon::Daemon tarv;

  void SetUp() override {
    std::filesystem::create_directories(www + "/dir.d");
    std::filesystem::create_directories(www + "/sub");
    std::filesystem::create_directories(dir.File("www2"));
    std::filesystem::create_directories(dir.File("outside"));
    dir.Write("www/index.htm", "<html>hi</html>");
    dir.Write("www/style.css", "p{}");
    dir.Write("www/pic.png", std::string("\x89PNG\r\n\x1a\n\0\0", 10));
    dir.Write("www/data.bin", "bytes");
    dir.Write("www/empty.txt", "");
    dir.Write("secret.txt", "do not serve");
    // Beside the root, under names that begin with the root's own.
    dir.Write("www2/secret.txt", "do not serve");
    dir.Write("www2-x.txt", "do not serve");
    dir.Write("outside/passwd", "do not serve");
    std::filesystem::create_directory_symlink(dir.File("outside"), www + "/link");
    dir.Write("www/page.jsp", "<% source %>");
    dir.Write("www/c\x01.txt", "control");
    dir.Write("www/a.js", "js");
    std::string big(3 * 1024 * 1024, '\0');
    std::mt19937 rng(7);
    for (char& c : big) c = static_cast<char>(rng());
    bigFile = dir.Write("www/big.bin", big);
    // The largest file served: more than the system buffers of a client
    // that does not read take.
    dir.Write("www/max.bin", std::string(HTTP_FILE_MAX, 'm'));
    ASSERT_GT(port, 0);
    tarv.Start({tarvtest::TarvBinary(), "hide", kHere + "serve.nms", std::to_string(port), www,
                dir.File("served.txt")},
               dir.File("tarv.out"), {}, dir.path().string());
    ASSERT_TRUE(tcppeer::Listening(port, 20000));
  }

  std::string Drive(const std::string& what, const std::string& request = "") {
    std::vector<std::string> args{kHere + "http_driver.py", what, std::to_string(port)};
    if (!request.empty()) args.push_back(request);
    return NoDate(RunProgram(kPython, args, dir.path().string(), tarvtest::MachineScaled(60)).output);
  }

  // Ends the script with its stop request: what it answered, and its exit code.
  std::string Stop(int* exitCode) {
    const std::string answer = Drive("raw", "GET /stop.jsp HTTP/1.1\\r\\n\\r\\n");
    *exitCode = tarv.Wait(tarvtest::MachineScaled(30));
    return answer;
  }
};

TEST_F(Served, StaticFilesDynamicRequestsAndRefusals) {
  const std::string dyn = Head("text/html");
  struct Case {
    std::string request;  // with \r\n written as escapes for the driver
    std::string answer;
  };
  // A Content-Length too long to be a number and a header name too long to be
  // a variable: neither is taken, nothing overflows.
  const std::string oversized = "POST /cl.jsp HTTP/1.1\\r\\nContent-Length: " + std::string(120, '0') +
                                "7\\r\\nX-" + std::string(60, 'n') + ": v\\r\\n\\r\\np=1&q=2";
  const Case cases[] = {
      {"GET /index.htm HTTP/1.1\\r\\nHost: x\\r\\n\\r\\n", Head("text/html", 15) + "<html>hi</html>"},
      {"GET  /style.css HTTP/1.1\\r\\n\\r\\n", Head("text/css", 3) + "p{}"},
      {"GET /pic.png HTTP/1.1\\r\\n\\r\\n",
       Head("image/png", 10) + std::string("\x89PNG\r\n\x1a\n\0\0", 10)},
      {"GET /data.bin HTTP/1.1\\r\\n\\r\\n", Head("application/octet-stream", 5) + "bytes"},
      {"GET /empty.txt HTTP/1.1\\r\\n\\r\\n", Head("text/plain")},
      // Nothing outside the root (the spellings of a climb are the
      // statements test's table).
      {"GET /sub/%2E%2e/../secret.txt HTTP/1.1\\r\\n\\r\\n", ""},
      // Missing files, no period, short extension, a query on a static page,
      // a directory, another method: closed without an answer.
      {"GET /missing.htm HTTP/1.1\\r\\n\\r\\n", ""},
      {"GET / HTTP/1.1\\r\\n\\r\\n", ""},
      {"GET /a.js HTTP/1.1\\r\\n\\r\\n", ""},
      {"GET /a.cgi?x=1 HTTP/1.1\\r\\n\\r\\n", ""},
      {"GET /dir.d HTTP/1.1\\r\\n\\r\\n", ""},
      {"PUT /index.htm HTTP/1.1\\r\\n\\r\\n", ""},
      // Dynamic requests, answered by the script.
      {"GET /a.php?x=1&y=a%20b+c HTTP/1.1\\r\\nAccept: text/html\\r\\n\\r\\n",
       dyn + "GET /a.php x=1 y=a b c p=- q=- accept=text/html from=127.0.0.1"},
      {"GET /page.jsp HTTP/1.0\\r\\n\\r\\n", dyn + "GET /page.jsp x=- y=- p=- q=- accept=- from=127.0.0.1"},
      {"POST /any/where HTTP/1.1\\r\\nContent-Length: 7\\r\\n\\r\\np=1&q=2",
       dyn + "POST /any/where x=- y=- p=1 q=2 accept=- from=127.0.0.1"},
      {"POST /nolen HTTP/1.1\\r\\nAccept: */*\\r\\n\\r\\np=5",
       dyn + "POST /nolen x=- y=- p=- q=- accept=*/* from=127.0.0.1"},
      {oversized, dyn + "POST /cl.jsp x=- y=- p=- q=- accept=- from=127.0.0.1"},
  };
  for (const Case& c : cases) {
    std::string got = Drive("raw", c.request);
    // A connection closed with request bytes unread may end in a reset.
    if (c.answer.empty() && got == "<reset>") got.clear();
    EXPECT_EQ(got, c.answer) << c.request;
  }

  EXPECT_EQ(Drive("slots", std::to_string(tarv.pid())), "while full:0 idle\nafter one left:<html>hi</html>\n");
  EXPECT_EQ(Drive("reset"), "then:<html>hi</html>\n");
  EXPECT_EQ(Drive("together"), "a:GET /t.jsp x=A y=- p=- q=- accept=- from=127.0.0.1\n"
                               "b:GET /t.jsp x=B y=- p=- q=- accept=- from=127.0.0.1\n");
  EXPECT_EQ(Drive("post-split"), "POST /form.asp x=- y=- p=1 q=2 accept=- from=127.0.0.1\n");

  // A long request without its empty line is dropped; the server goes on.
  const std::string longRequest = "GET /" + std::string(2100, 'a');
  const std::string dropped = Drive("raw", longRequest);
  EXPECT_TRUE(dropped.empty() || dropped == "<reset>") << dropped;

  const std::string copy = dir.File("big.copy");
  const auto curl = RunProgram("/usr/bin/curl", {"-s", "--noproxy", "*", "-o", copy,
                                                 "http://127.0.0.1:" + std::to_string(port) + "/big.bin"},
                               dir.path().string(), 60);
  EXPECT_EQ(curl.exitCode, 0) << curl.output;
  EXPECT_TRUE(ReadFile(copy) == ReadFile(bigFile)) << "the large file came back changed";

  int code = -1;
  const std::string log = "GET /a.php;GET /page.jsp;POST /any/where;POST /nolen;POST /cl.jsp;GET /r.jsp;"
                          "GET /slow.jsp;GET /t.jsp;GET /t.jsp;POST /form.asp;GET /stop.jsp;";
  EXPECT_EQ(Stop(&code), Head("text/html") + log);
  EXPECT_EQ(code, 0) << ReadFile(dir.File("tarv.out"));
  EXPECT_EQ(ReadFile(dir.File("served.txt")), log + "errors=0");
}

TEST_F(Served, HostileClients) {
  const std::string dyn = Head("text/html");
  struct Case {
    std::string request;  // with \r\n written as escapes for the driver
    std::string answer;
  };
  const Case cases[] = {
      // A URI that does not start with '/' would join the root's own name.
      {"GET 2/secret.txt HTTP/1.1\\r\\n\\r\\n", ""},
      {"GET 2-x.txt HTTP/1.1\\r\\n\\r\\n", ""},
      {"POST 2/x.jsp HTTP/1.1\\r\\nContent-Length: 3\\r\\n\\r\\np=1", ""},
      // A NUL or another control byte would end the path after its checked
      // extension, or name a file no URI should.
      {"GET /page.jsp\\x00.txt HTTP/1.1\\r\\n\\r\\n", ""},
      {"GET /link/passwd\\x00.txt HTTP/1.1\\r\\n\\r\\n", ""},
      {"GET /c\\x01.txt HTTP/1.1\\r\\n\\r\\n", ""},
      // More than the buffer holds is refused at once, not waited for.
      {"POST /huge.jsp HTTP/1.1\\r\\nContent-Length: 3000\\r\\n\\r\\np=1", ""},
      // The body ends where Content-Length says, whatever follows it.
      {"POST /leak.jsp HTTP/1.1\\r\\nContent-Length: 7\\r\\n\\r\\np=1&q=2zz&x=9",
       dyn + "POST /leak.jsp x=- y=- p=1 q=2 accept=- from=127.0.0.1"},
      {"POST /lower.jsp HTTP/1.1\\r\\ncontent-LENGTH: 7\\r\\n\\r\\np=1&q=2",
       dyn + "POST /lower.jsp x=- y=- p=1 q=2 accept=- from=127.0.0.1"},
      // An empty value is a counted error and sets nothing.
      {"GET /e.php?p=&q=2 HTTP/1.1\\r\\n\\r\\n", dyn + "GET /e.php x=- y=- p=- q=2 accept=- from=127.0.0.1"},
      // However many pairs of a request fail, the request is one counted
      // error: each would pause the run and keep a variable of its own.
      {"GET /many.php?a=&b=&c=&d=&e=&f=&q=4 HTTP/1.1\\r\\n\\r\\n",
       dyn + "GET /many.php x=- y=- p=- q=4 accept=- from=127.0.0.1"},
      {"GET /long.php?" + std::string(60, 'n') + "1=1&" + std::string(60, 'n') + "2=1&" +
           std::string(60, 'n') + "3=&q=5 HTTP/1.1\\r\\n\\r\\n",
       dyn + "GET /long.php x=- y=- p=- q=5 accept=- from=127.0.0.1"},
  };
  for (const Case& c : cases) {
    std::string got = Drive("raw", c.request);
    if (c.answer.empty() && got == "<reset>") got.clear();
    EXPECT_EQ(got, c.answer) << c.request;
  }
  EXPECT_EQ(Drive("resets"), "then:<html>hi</html>\n");
  EXPECT_EQ(Drive("nonreaders"), "served:<html>hi</html>\n");
  EXPECT_EQ(Drive("stuck-answers"), "served:<html>hi</html>\n");
  EXPECT_EQ(Drive("idle"), "served:<html>hi</html>\n");
  // What one request published does not show through the next, and
  // clients cannot fill the script's variable store.
  EXPECT_EQ(Drive("stale"), "same\n");
  EXPECT_EQ(Drive("longest-name"), "published\n");
  EXPECT_EQ(Drive("flood"), "same\n");

  int code = -1;
  std::string log = "POST /leak.jsp;POST /lower.jsp;GET /e.php;GET /many.php;GET /long.php;"
                    "GET /count.jsp;GET /s.php;GET /count.jsp;"
                    "GET /count.jsp;GET /count.jsp;GET /count.jsp;";
  for (int r = 0; r < 25; r++) log += "GET /f.jsp;";
  log += "GET /count.jsp;GET /stop.jsp;";
  EXPECT_EQ(Stop(&code), Head("text/html") + log);
  EXPECT_EQ(code, 0) << ReadFile(dir.File("tarv.out"));
  EXPECT_EQ(ReadFile(dir.File("served.txt")), log + "errors=3");
}

TEST_F(Served, ChromiumPostsAFormBack) {
  dir.Write("www/form.htm",
            "<html><body><form method=\"post\" action=\"/submit.jsp\">"
            "<input name=\"p\" value=\"from chromium &amp; co\"><input name=\"q\" value=\"2\">"
            "</form><script>document.forms[0].submit()</script></body></html>");
  const std::string profile = dir.File("profile");
  const auto r = RunProgram(
      "/usr/bin/chromium",
      {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
       "--disable-background-networking", "--disable-component-update", "--disable-sync",
       "--user-data-dir=" + profile, "--virtual-time-budget=5000", "--dump-dom",
       "http://127.0.0.1:" + std::to_string(port) + "/form.htm"},
      dir.path().string(), 90);
  EXPECT_NE(r.output.find("POST /submit.jsp x=- y=- p=from chromium &amp; co q=2"), std::string::npos)
      << r.output;
  int code = -1;
  Stop(&code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(dir.File("served.txt")), "POST /submit.jsp;GET /stop.jsp;errors=0");
}

TEST_F(Served, UnderLoadNoCrashNoDescriptorLeak) {
  const int before = tarv.OpenFds();
  const auto wrk = RunProgram("/usr/bin/wrk",
                              {"-t2", "-c8", "-d5s", "--timeout", "5s",
                               "http://127.0.0.1:" + std::to_string(port) + "/index.htm"},
                              dir.path().string(), tarvtest::MachineScaled(60));
  EXPECT_EQ(wrk.exitCode, 0) << wrk.output;
  EXPECT_NE(wrk.output.find("Requests/sec"), std::string::npos) << wrk.output;
  EXPECT_EQ(wrk.output.find("Non-2xx"), std::string::npos) << wrk.output;
  // Connections wrk left behind are closed once their ends are seen.
  int after = -1;
  tarvtest::WaitFor([&] { return (after = tarv.OpenFds()) == before; }, tarvtest::MachineWait(),
                    std::chrono::milliseconds(20));
  EXPECT_GT(before, 0);
  EXPECT_EQ(after, before);
  int code = -1;
  Stop(&code);
  EXPECT_EQ(code, 0) << ReadFile(dir.File("tarv.out"));
}

// The http statements inside the test process: argument checks, misuse
// before a request, the rows that are not built, listening twice, and the
// functions behind the head and the root check.
using Errors = std::vector<std::string>;
using tarvtest::RunErrors;

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

// A slot whose socket fails on every read is closed at once, not held until
// its deadline: slot 5 reaches its deadline first, the rest an hour later,
// so a client that waited for a deadline would be handed over in slot 5.
TEST(HttpStatements, AFailingSocketFreesItsSlotAtOnce) {
  TarvEngineReset();
  TempDir dir;
  HttpStateClear();
  const int port = tcppeer::FreePort();
  sgHttp.ListenSocket = WinTcpListen(port);
  ASSERT_GE(sgHttp.ListenSocket, 0);
  SockSetNonBlocking(sgHttp.ListenSocket, true);
  const std::string root = dir.path().string();
  std::memcpy(sgHttp.Root.data(), root.data(), root.size());
  for (int i = 0; i < HTTP_SLOTS; i++) {
    HttpClient& c = sgHttp.Client[i];
    // Never connected: every read fails with ENOTCONN and every wait wakes.
    c.Socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(c.Socket, 0);
    c.InUse = 1;
    c.Deadline = SockNowMs() + (i == 5 ? 1000 : 3600 * 1000);
  }
  const int client = tcppeer::ConnectRetry(AF_INET, port);
  ASSERT_GE(client, 0);
  const std::string request = "GET /a.jsp HTTP/1.1\r\n\r\n";
  ASSERT_EQ(send(client, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  EXPECT_EQ(http_recv_request(), 0);
  EXPECT_EQ(sgHttp.Current, 0);
  close(client);
  HttpStateClear();
}

// The script's answers to a client that does not take them: the waits for
// one client share one step time-out, and a client that has not taken what
// it was sent by then is cut off, so that the script's later sends to it
// return at once and never reach it with a hole in the answer.
TEST(HttpStatements, AClientThatDoesNotTakeItsAnswerIsCutOff) {
  // A wait that forgot what the earlier ones took would never end.
  childwatch::Watchdog dog(90, "AClientThatDoesNotTakeItsAnswerIsCutOff");
  enum Reads { kNever, kAll, kSlowly };
  struct Case {
    const char* name;
    Reads reads;
    int64_t waitedMs;  // what earlier sends to it have waited
    bool whole;        // the answer goes out whole and the connection stays
  };
  const Case cases[] = {
      {"a client that never reads", kNever, 0, false},
      {"a client that reads everything", kAll, 0, true},
      {"a client whose time earlier sends used up", kAll, 3000, false},
      // 50 KB a second: far from the megabyte within the step time-out.
      {"a client that reads slowly", kSlowly, 0, false},
  };
  const std::string answer(1 << 20, 'x');
  for (const Case& k : cases) {
    TarvEngineReset();
    HttpStateClear();
    sgRun.StepTimeout = 3;
    tcppeer::Listener listener;
    ASSERT_GE(listener.fd(), 0);
    const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 16384;
    setsockopt(client, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_storage a;
    const socklen_t len = tcppeer::Loopback(AF_INET, listener.port(), &a);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&a), len), 0) << k.name;
    HttpClient& c = sgHttp.Client[3];
    c.Socket = listener.Accept();
    ASSERT_GE(c.Socket, 0) << k.name;
    setsockopt(c.Socket, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    c.InUse = 1;
    c.RequestType = HTTP_DYNAMIC;
    c.Handed = 1;
    c.SendWaitMs = k.waitedMs;
    sgHttp.Current = 3;
    // What the client gets until the connection ends; a slow reader
    // hurries once the first send is over.
    std::string got;
    std::atomic<size_t> taken{0};
    std::atomic<bool> hurry{false};
    const auto readAll = [&] {
      const auto deadline = tcppeer::Clock::now() + tarvtest::MachineWait();
      char buf[65536];
      for (;;) {
        const bool slow = k.reads == kSlowly && !hurry;
        pollfd p{client, POLLIN, 0};
        if (poll(&p, 1, tcppeer::MsLeft(deadline)) != 1) break;
        const ssize_t n = recv(client, buf, slow ? 1024 : sizeof buf, 0);
        if (n <= 0) break;
        got.append(buf, n);
        taken += n;
        if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    };
    std::thread reader;
    if (k.reads != kNever) reader = std::thread(readAll);
    const int sent = HttpSendAll(3, answer.data(), static_cast<int>(answer.size()));
    hurry = true;
    // The client has taken all that was sent before the script sends more:
    // a connection left open would now take the next send whole.
    if (k.reads != kNever) {
      EXPECT_TRUE(childwatch::WaitFor([&] { return taken >= static_cast<size_t>(sent); },
                                      tarvtest::MachineWait()))
          << k.name;
    }
    const int more = HttpSendAll(3, "more", 4);
    EXPECT_EQ(sgHttp.Client[3].InUse, 1) << k.name;
    if (k.reads != kNever)
      childwatch::WaitFor([&] { return taken >= static_cast<size_t>(sent + more); },
                          tarvtest::MachineWait());
    Http_CloseClientByIndex(3);
    if (k.reads == kNever) readAll();
    if (reader.joinable()) reader.join();
    close(client);
    EXPECT_EQ(sent == static_cast<int>(answer.size()), k.whole) << k.name << ": " << sent;
    EXPECT_EQ(more, k.whole ? 4 : 0) << k.name;
    // Compared whole, shown by its size: a megabyte of x says nothing more.
    EXPECT_TRUE(got == answer.substr(0, sent) + (k.whole ? "more" : ""))
        << k.name << ": the client got " << got.size() << " bytes of " << sent;
  }
  HttpStateClear();
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

// uris.tsv: which URIs climb out of the root, and which are refused outright.
TEST(HttpStatements, UrisThatClimbOutOfTheRoot) {
  for (const auto& row : tarvtest::LoadRows("services/httpd/uris.tsv")) {
    ASSERT_EQ(row.size(), 3u) << row[0];
    const int len = static_cast<int>(row[0].size());
    EXPECT_EQ(HttpUriClimbs(row[0].c_str(), len), row[1] == "true") << row[0];
    EXPECT_EQ(HttpUriRefused(row[0].c_str(), len), row[2] == "true") << row[0];
  }
}

}  // namespace
