#include "services/helper/helper_sockets.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/socket.h"
#include "tests/services/handler_slots.h"

namespace {

// A loopback TCP listener; Queue connects one more client for an accept.
class Listener {
 public:
  Listener() {
    const uint8_t lo[4] = {127, 0, 0, 1};
    EXPECT_EQ(SockBind(fd_, addr_, SockAddrV4(lo, 0, &addr_)), 0);
    EXPECT_EQ(SockListen(fd_, 32), 0);
    SockLocalAddr(fd_, &addr_, &len_);
  }
  ~Listener() {
    for (auto& c : clients_) SockClose(&c);
    SockClose(&fd_);
  }
  int fd() const { return fd_; }
  void Queue() {
    clients_.push_back(SockOpen(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(SockConnectStart(clients_.back(), addr_, len_), 0);
  }

 private:
  int32_t fd_ = SockOpen(AF_INET, SOCK_STREAM, 0);
  sockaddr_storage addr_{};
  socklen_t len_ = sizeof addr_;
  std::vector<int32_t> clients_;
};

class HelperSockets : public ::testing::Test {
 protected:
  void SetUp() override {
    tarvtest::Start(dir_, "# nothing\n");
    HelperSocketsClear();
  }
  void TearDown() override { HelperSocketsClear(); }
  tarvtest::TempDir dir_;
};

TEST_F(HelperSockets, TwentySlotsThenBusy) {
  Listener l;
  for (int i = 0; i < HELPER_SLOTS; i++) {
    l.Queue();
    ASSERT_EQ(WinHelperAccept(l.fd()), i);
    EXPECT_EQ(sgHelperSockets.LastAccepted, i);
  }
  EXPECT_EQ(WinHelperFreeSlot(), -1);
  EXPECT_EQ(WinHelperAccept(l.fd()), -1);  // refused without waiting for a client
  EXPECT_EQ(tarvtest::LastRunError(), "HelperSocket Message: FD_accept Busy");
  const int sock7 = sgHelperSockets.Slots[7].Socket;
  EXPECT_EQ(WinHelperSlotOfSocket(sock7), 7);
  EXPECT_EQ(WinHelperCloseSocket(7), 0);
  EXPECT_EQ(WinHelperFindSlot(sock7), -1);
  EXPECT_EQ(WinHelperFindSlot(-1), -1);
  EXPECT_EQ(WinHelperFreeSlot(), 7);
  l.Queue();
  EXPECT_EQ(WinHelperAccept(l.fd()), 7);
  EXPECT_EQ(WinHelperCloseSocket(HELPER_SLOTS), -1);
}

TEST_F(HelperSockets, FreeSlotSearchStartsAfterTheLastUsed) {
  Listener l;
  for (int i = 0; i < 3; i++) {
    l.Queue();
    ASSERT_EQ(WinHelperAccept(l.fd()), i);
  }
  sgHelperSockets.LastUsed = 1;
  EXPECT_EQ(WinHelperFreeSlot(), 3);
  sgHelperSockets.LastUsed = 19;
  EXPECT_EQ(WinHelperFreeSlot(), 3);  // wraps to the first free from 0
  EXPECT_EQ(WinHelperCloseSocket(1), 0);
  EXPECT_EQ(sgHelperSockets.LastUsed, -1);
  EXPECT_EQ(WinHelperFreeSlot(), 1);
  int32_t notListening = SockOpen(AF_INET, SOCK_STREAM, 0);
  EXPECT_EQ(WinHelperAccept(notListening), -2);
  EXPECT_EQ(tarvtest::LastRunError(), "HelperSocket Message: accept err=22");
  EXPECT_EQ(WinHelperFreeSlot(), 1);
  SockClose(&notListening);
}

}  // namespace
