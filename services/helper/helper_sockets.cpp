// The helper socket table over the POSIX socket layer.
#include "services/helper/helper_sockets.h"

#include "engine/log/log.h"
#include "platform/socket.h"

HelperSocketTable sgHelperSockets = [] {
  HelperSocketTable t{};
  for (auto& s : t.Slots) s.PeerSocket = s.Socket = -1;
  t.LastAccepted = t.LastUsed = -1;
  return t;
}();

namespace {

// The first free slot in from..to (inclusive), or -1.
int FreeIn(int from, int to) {
  for (int i = from; i <= to; i++)
    if (sgHelperSockets.Slots[i].InUse == 0) return i;
  return -1;
}

bool ValidIndex(int index) { return index >= 0 && index < HELPER_SLOTS; }

}  // namespace

void HelperSocketsClear() {
  for (int i = 0; i < HELPER_SLOTS; i++) WinHelperCloseSocket(i);
  sgHelperSockets.LastAccepted = sgHelperSockets.LastUsed = -1;
}

int WinHelperCloseSocket(int index) {
  if (!ValidIndex(index)) return -1;
  HelperSlot& s = sgHelperSockets.Slots[index];
  const int had = s.Socket;
  SockClose(&s.Socket);
  s.Len = 0;
  s.InUse = 0;
  SockClose(&s.PeerSocket);
  if (sgHelperSockets.LastUsed >= HELPER_SLOTS - 1) sgHelperSockets.LastUsed = -1;
  TarvDebugLog("\n\r\nWinHelperCloseSocket: index=%d , ret=%d", index, had >= 0 ? 0 : -1);
  return 0;
}

int WinHelperFindSlot(int socket) {
  if (socket < 0) return -1;
  for (int i = 0; i < HELPER_SLOTS; i++) {
    const HelperSlot& s = sgHelperSockets.Slots[i];
    if (s.InUse != 0 && s.Socket == socket) return i;
  }
  return -1;
}

int WinHelperSlotOfSocket(int socket) { return WinHelperFindSlot(socket); }

int WinHelperAccept(int listenSocket) {
  const int last = sgHelperSockets.LastUsed;
  int slot = FreeIn(last + 1, HELPER_SLOTS - 1);
  if (slot < 0) slot = FreeIn(0, last - 1);
  if (slot < 0) {
    NmsRunError(-1, "HelperSocket Message: FD_accept Busy");
    return -1;
  }
  sockaddr_storage peer;
  socklen_t peerLen = sizeof peer;
  const int fd = SockAccept(listenSocket, &peer, &peerLen);
  if (fd < 0) {
    NmsRunError(-2, "HelperSocket Message: accept err=%d", -fd);
    return -2;
  }
  HelperSlot& s = sgHelperSockets.Slots[slot];
  s.Socket = fd;
  s.Len = 0;
  s.InUse = 1;
  sgHelperSockets.LastAccepted = slot;
  return slot;
}

int WinHelperFreeSlot() {
  const int last = sgHelperSockets.LastUsed;
  const int slot = FreeIn(last + 1, HELPER_SLOTS - 1);
  return slot >= 0 ? slot : FreeIn(0, last);
}
