#include "services/helper/helper_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/observer.h"
#include "engine/core/run_state.h"
#include "engine/log/log.h"
#include "tests/machine_wait.h"
#include "tests/services/case_rows.h"
#include "tests/services/handler_slots.h"
#include "tests/services/sockets/tcp_peer.h"

namespace {

using tarvtest::LastRunError;
using tarvtest::SetArg;
using tarvtest::Var;
using tcppeer::UdpPeer;

class Helper : public ::testing::Test {
 protected:
  void SetUp() override {
    tarvtest::Start(dir_, "# nothing\n");
    HelperStateClear();
  }
  void TearDown() override {
    TarvSetObserver(nullptr);
    HelperSetScreenReceiveLimit(0);
    HelperStateClear();
  }
  tarvtest::TempDir dir_;
};

TEST_F(Helper, ListenPortKeepsToItsRange) {
  const std::pair<std::string, std::string> refused[] = {
      {"0", "Arg:3=0  < 1 !"}, {"65535", "Arg:3=65535 > 65534 !"}, {"80a", "Arg:3 is not integer !"}};
  for (const auto& [word, error] : refused) {
    SetArg(3, word);
    EXPECT_EQ(helper_listen_port_a3(), -3);
    EXPECT_EQ(LastRunError(), error);
  }
  SetArg(3, "65534");
  EXPECT_EQ(helper_listen_port_a3(), 0);
  EXPECT_EQ(sgHelper.ListenPort, 65534);
}

// services.tsv: which service each text starts.
TEST_F(Helper, ServiceDispatchesByTheTextsBeginning) {
  for (const auto& row : tarvtest::LoadRows("services/helper/services.tsv")) {
    const size_t before = tarvtest::RunErrors().size();
    SetArg(2, row[0]);
    EXPECT_EQ(helper_service_a2(), std::stoi(row[1])) << row[0];
    EXPECT_EQ(sgRun.StepRunState, std::stoi(row[2])) << row[0];
    const std::vector<std::string> all = tarvtest::RunErrors(), added(all.begin() + before, all.end());
    EXPECT_EQ(added, row[3].empty() ? std::vector<std::string>{} : std::vector<std::string>{row[3]}) << row[0];
  }
  // The second proxy only reached its address.
  EXPECT_EQ(Var("tcp.proxy.ip") + ":" + Var("tcp.proxy.port"), "127.0.0.2:8023");
  EXPECT_EQ(Var("helper.type"), "1");
  EXPECT_EQ(sgHelper.type, 1);
}

// What the drawing interpreter echoes to the output pane.
std::mutex gPaneMutex;
std::string gPane;
const EngineObserver kPane = {[] { return true; },
                              [](const char* t, int n) {
                                std::lock_guard<std::mutex> l(gPaneMutex);
                                gPane.append(t, static_cast<size_t>(n));
                              },
                              [](const char*, int) {}, [](const char*, int) {}, [](int) {}, [] {}};

bool BoundOnEveryAddress(int port) {
  char key[16];
  std::snprintf(key, sizeof key, " 00000000:%04X", port);
  std::ifstream f("/proc/net/udp");
  for (std::string line; std::getline(f, line);)
    if (line.find(key) != std::string::npos) return true;
  return false;
}

// Runs a screen service on a free port in a thread, sends the datagrams once
// it listens, and returns its result.
int RunScreen(const std::string& a2, const std::vector<std::string>& datagrams) {
  sgHelper.ListenPort = UdpPeer().port();
  gPane.clear();
  TarvSetObserver(&kPane);
  HelperSetScreenReceiveLimit(static_cast<int64_t>(datagrams.size()));
  int result = 1;
  SetArg(2, a2);
  std::thread service([&] { result = helper_service_a2(); });
  tarvtest::WaitFor([] { return BoundOnEveryAddress(sgHelper.ListenPort); }, tarvtest::MachineWait(),
                    std::chrono::milliseconds(10));
  UdpPeer client;
  for (const auto& d : datagrams) client.SendTo(sgHelper.ListenPort, d);
  service.join();
  return result;
}

TEST_F(Helper, ScreenServerHandsEachDatagramToTheInterpreter) {
  const std::string log = tarvtest::LogInto(dir_);
  TarvSetLogLevel(4);
  // The oversized datagram is a failed receive, and the loop goes on.
  EXPECT_EQ(RunScreen("screen.server", {"x|one", std::string(1500, 'z'), "hello two"}), 0);
  EXPECT_EQ(gPane, "x|one\r\nhello two\r\n");
  EXPECT_EQ(sgHelper.UdpSocket, -1);
  TarvCloseLog();
  EXPECT_NE(tarvtest::ReadFile(log).find("screen.server recv = -1 "), std::string::npos);
  EXPECT_EQ(tarvtest::RunErrors().size(), 0u);
}

TEST_F(Helper, ScreenProxyForwardsToItsPeer) {
  UdpPeer peer;
  EXPECT_EQ(RunScreen("screen.proxy to 127.0.0.1 port " + std::to_string(peer.port()),
                      {"first", "second!"}),
            0);
  EXPECT_EQ(peer.Recv(2000), "first");
  EXPECT_EQ(peer.Recv(2000), "second!");
  EXPECT_EQ(sgHelper.ForwardCount, 2);
  EXPECT_EQ(sgHelper.ForwardBytes, 12);
  EXPECT_TRUE(gPane.ends_with("]first\r\nsecond!\r\n")) << gPane;  // after the connect's variable
}

TEST_F(Helper, ScreenListenFailureIsAnError) {
  UdpPeer taken(AF_INET, 0, "0.0.0.0");
  sgHelper.ListenPort = taken.port();
  for (std::string s : {"screen.server", "screen.proxy"}) {
    SetArg(2, s);
    EXPECT_EQ(helper_service_a2(), -2);
    EXPECT_EQ(LastRunError(), s + " listen  Err!");
  }
}

}  // namespace
