#include "services/helper/helper_service.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/observer.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/log/log.h"
#include "platform/socket.h"
#include "tests/engine/harness.h"
#include "tests/services/handler_slots.h"

namespace {

using tarvtest::Var;

using tarvtest::LastRunError;
using tarvtest::SetArg;

class Helper : public ::testing::Test {
 protected:
  void SetUp() override {
    tarvtest::Start(dir_, "# nothing\n");
    HelperStateClear();
  }
  void TearDown() override {
    HelperSetScreenReceiveLimit(0);
    HelperStateClear();
  }
  tarvtest::TempDir dir_;
};

TEST_F(Helper, UnfinishedHandlersAnswerNotCompleted) {
  const std::pair<int (*)(), const char*> handlers[] = {
      {helper_open_ip_a3_port_a5, "helper_open_ip_a3_port_a5"},
      {helper_open_host_a3_port_a5, "helper_open_host_a3_port_a5"},
      {helper_recv_request, "helper_recv_request"},
      {helper_recv_answer, "helper_recv_answer"},
      {helper_recv_time_a3_seconds, "helper_recv_time_a3_seconds"},
      {helper_send_text_selected, "helper_send_text_selected"},
      {helper_send_end, "helper_send_end"},
      {helper_send_string_a3, "helper_send_string_a3"},
      {helper_send_var_a3, "helper_send_var_a3"},
      {helper_send_sys_file_a3, "helper_send_sys_file_a3"},
      {helper_close, "helper_close"},
  };
  for (const auto& [fun, name] : handlers) {
    sgRun.StepRunState = 0;
    EXPECT_EQ(fun(), -99);
    EXPECT_EQ(sgRun.StepRunState, ENDOK);
    EXPECT_EQ(LastRunError(), std::string(name) + ":This statement is not yet completed.");
  }
}

TEST_F(Helper, ListenPortTakesOneToMax) {
  const std::pair<std::string, std::string> refused[] = {
      {"0", "Arg:3=0  < 1 !"}, {"65535", "Arg:3=65535 > 65534 !"}, {"80a", "Arg:3 is not integer !"}};
  for (const auto& [word, error] : refused) {
    SetArg(3, word);
    EXPECT_EQ(helper_listen_port_a3(), -3);
    EXPECT_EQ(LastRunError(), error);
  }
  EXPECT_EQ(sgHelper.ListenPort, 0);
  SetArg(3, "65534");
  EXPECT_EQ(helper_listen_port_a3(), 0);
  EXPECT_EQ(sgHelper.ListenPort, 65534);
}

TEST_F(Helper, ServiceDispatchesByTheTextsBeginning) {
  struct Case {
    std::string a2;
    int code;
    int state;
    std::string error;
  };
  const Case cases[] = {
      {"tcp.proxy to 127.0.0.1 port 8023", 0, 200, ""},
      {"tcp.proxy", -1, ENDOK, "tcp.proxy get server.ip Err < 0"},
      {"tcp.proxy to 127.0.0.2", -2, ENDOK, "tcp.proxy get server.port Err < 0"},
      {"oracle.proxy", 0, ENDOK, ""},
      {"sms.servers", 0, ENDOK, ""},  // longer words that begin so match too
      {"telphone.server", 0, ENDOK, ""},
      {"fax.server x", 0, ENDOK, ""},
      {"fax.serve", -2, ENDOK, "helper_service_a2->A:2(fax.serve) is not support!"},
      {"", -2, ENDOK, "helper_service_a2->A:2() is not support!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a2);
    const size_t before = tarvtest::RunErrors().size();
    SetArg(2, c.a2);
    EXPECT_EQ(helper_service_a2(), c.code);
    EXPECT_EQ(sgRun.StepRunState, c.state);
    if (c.error.empty()) {
      EXPECT_EQ(tarvtest::RunErrors().size(), before);
    } else {
      EXPECT_EQ(LastRunError(), c.error);
    }
  }
  // The first proxy's address stands; the second only reached its address.
  EXPECT_EQ(Var("tcp.proxy.ip"), "127.0.0.2");
  EXPECT_EQ(Var("tcp.proxy.port"), "8023");
  EXPECT_EQ(Var("helper.type"), "1");
  EXPECT_EQ(sgHelper.ProxyPort, 8023);
  EXPECT_STREQ(sgHelper.ProxyIp, "127.0.0.2");
  EXPECT_EQ(sgHelper.type, 1);
}

// The pane text the screen services echo, seen through a window observer.
std::mutex gPaneMutex;
std::string gPane;
const EngineObserver kPane = {
    [] { return true; },
    [](const char* t, int n) {
      std::lock_guard<std::mutex> l(gPaneMutex);
      gPane.append(t, static_cast<size_t>(n));
    },
    [](const char*, int) {}, [](const char*, int) {}, [](int) {}, [] {}};

// A UDP socket on 127.0.0.1 and a free port.
struct Udp {
  int32_t fd = SockOpen(AF_INET, SOCK_DGRAM, 0);
  int port = 0;
  Udp() {
    const uint8_t lo[4] = {127, 0, 0, 1};
    sockaddr_storage a;
    SockBind(fd, a, SockAddrV4(lo, 0, &a));
    socklen_t l = sizeof a;
    SockLocalAddr(fd, &a, &l);
    port = SockAddrPort(a);
  }
  ~Udp() { SockClose(&fd); }
  void SendTo(int to, const std::string& d) const {
    const uint8_t lo[4] = {127, 0, 0, 1};
    sockaddr_storage a;
    const socklen_t l = SockAddrV4(lo, to, &a);
    EXPECT_EQ(SockSendTo(fd, d.data(), static_cast<int>(d.size()), &a, l),
              static_cast<int>(d.size()));
  }
  std::string Receive() const {
    short ev = 0;
    if (SockWaitOne(fd, POLLIN, &ev, 2000) <= 0) return "<none>";
    char buf[2048];
    sockaddr_storage from;
    socklen_t fromLen = 0;
    const int n = SockRecvFrom(fd, buf, sizeof buf, false, false, &from, &fromLen);
    return n < 0 ? "<error>" : std::string(buf, static_cast<size_t>(n));
  }
};

// True once a UDP socket is bound to the port on every address.
bool Bound(int port) {
  char key[16];
  std::snprintf(key, sizeof key, "00000000:%04X", port);
  std::ifstream f("/proc/net/udp");
  for (std::string line; std::getline(f, line);)
    if (line.find(key) != std::string::npos) return true;
  return false;
}

// Runs the service in a thread, sends the datagrams once it listens, and
// returns its result.
int RunScreen(const std::string& a2, int port, const std::vector<std::string>& datagrams) {
  int result = 1;
  SetArg(2, a2);
  std::thread service([&] { result = helper_service_a2(); });
  for (int i = 0; i < 300 && !Bound(port); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  Udp client;
  for (const auto& d : datagrams) client.SendTo(port, d);
  service.join();
  return result;
}

class Screen : public Helper {
 protected:
  void SetUp() override {
    Helper::SetUp();
    gPane.clear();
    TarvSetObserver(&kPane);
    // A port free for the service: taken and given back.
    port_ = Udp().port;
    sgHelper.ListenPort = port_;
  }
  void TearDown() override {
    TarvSetObserver(nullptr);
    Helper::TearDown();
  }
  int port_ = 0;
};

TEST_F(Screen, ServerHandsEachDatagramToTheInterpreter) {
  const std::string log = tarvtest::LogInto(dir_);
  TarvSetLogLevel(4);
  HelperSetScreenReceiveLimit(3);
  // The oversized datagram is a failed receive; the loop goes on.
  EXPECT_EQ(RunScreen("screen.server", port_, {"x|one", std::string(1500, 'z'), "hello two"}), 0);
  EXPECT_EQ(gPane, "x|one\r\nhello two\r\n");
  EXPECT_EQ(sgHelper.UdpSocket, -1);
  TarvCloseLog();
  EXPECT_NE(tarvtest::ReadFile(log).find("screen.server recv = -1 "), std::string::npos);
  EXPECT_EQ(tarvtest::RunErrors().size(), 0u);
}

TEST_F(Screen, ProxyForwardsToItsPeer) {
  Udp peer;
  HelperSetScreenReceiveLimit(2);
  const std::string a2 = "screen.proxy to 127.0.0.1 port " + std::to_string(peer.port);
  EXPECT_EQ(RunScreen(a2, port_, {"first", "second!"}), 0);
  EXPECT_EQ(peer.Receive(), "first");
  EXPECT_EQ(peer.Receive(), "second!");
  EXPECT_EQ(sgHelper.ForwardCount, 2);
  EXPECT_EQ(sgHelper.ForwardBytes, 12);
  // The pane also shows the variable the forwarding connect set.
  EXPECT_TRUE(gPane.ends_with("=[" + Var("udp.client.localport") + "]first\r\nsecond!\r\n"))
      << gPane;
}

TEST_F(Screen, ListenFailureIsAnError) {
  int32_t any = SockOpen(AF_INET, SOCK_DGRAM, 0);
  const uint8_t zero[4] = {0, 0, 0, 0};
  sockaddr_storage a;
  ASSERT_EQ(SockBind(any, a, SockAddrV4(zero, port_, &a)), 0);
  SetArg(2, "screen.server");
  EXPECT_EQ(helper_service_a2(), -2);
  EXPECT_EQ(LastRunError(), "screen.server listen  Err!");
  SetArg(2, "screen.proxy");
  EXPECT_EQ(helper_service_a2(), -2);
  EXPECT_EQ(LastRunError(), "screen.proxy listen  Err!");
  SockClose(&any);
}

}  // namespace
