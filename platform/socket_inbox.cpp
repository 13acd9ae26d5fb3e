// Receive queues in user memory in front of stream sockets.
#include "platform/socket_inbox.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/socket.h"

namespace {

struct Inbox {
  bool Used;
  int32_t Fd;
  int32_t Start;  // first byte not yet handed out
  int32_t Len;    // bytes held from Start on
  int32_t Error;  // -errno that came behind the held bytes; 0: none
  std::array<char, SOCK_INBOX_SIZE> Data;
};

// Zero-initialised static storage: the pages are touched only by a socket
// that is actually read.
std::array<Inbox, SOCK_INBOX_MAX> g_inboxes;

// At the end of the program the system closes the sockets still open; one
// whose inbox still holds bytes is reset then, as the system resets one
// with unread bytes of its own.
struct ResetHeldAtExit {
  ~ResetHeldAtExit() {
    for (const Inbox& box : g_inboxes)
      if (box.Used && box.Len > 0) SockSetResetOnClose(box.Fd);
  }
} g_resetHeldAtExit;

Inbox* Find(int fd) {
  for (Inbox& box : g_inboxes)
    if (box.Used && box.Fd == fd) return &box;
  return nullptr;
}

Inbox* FindOrTake(int fd) {
  if (Inbox* box = Find(fd)) return box;
  for (Inbox& box : g_inboxes) {
    if (box.Used) continue;
    // The data is not cleared: only bytes read into it are ever handed out.
    box.Used = true;
    box.Fd = fd;
    box.Start = 0;
    box.Len = 0;
    box.Error = 0;
    return &box;
  }
  return nullptr;
}

}  // namespace

int SockRecvQueued(int fd, char* buf, int len) {
  if (len < 1) return 0;
  Inbox* box = FindOrTake(fd);
  // A read as large as the inbox gains nothing from it.
  if (!box || (len >= SOCK_INBOX_SIZE && box->Len == 0 && box->Error == 0))
    return SockRecv(fd, buf, len);
  // Fewer bytes held than asked for: a read of the socket itself would
  // have taken the system's bytes behind them too, so they are fetched
  // first.  An error already seen ends the stream: nothing after it.
  int got = 0;
  if (box->Len < len && box->Error == 0) {
    if (box->Start > 0) {
      std::memmove(box->Data.data(), box->Data.data() + box->Start, box->Len);
      box->Start = 0;
    }
    got = SockRecv(fd, box->Data.data() + box->Len, SOCK_INBOX_SIZE - box->Len);
    if (got > 0) box->Len += got;
    if (got < 0 && got != -EAGAIN) box->Error = got;
  }
  if (box->Len > 0) {
    const int n = std::min(len, static_cast<int>(box->Len));
    std::memcpy(buf, box->Data.data() + box->Start, n);
    box->Start += n;
    box->Len -= n;
    if (box->Len == 0) box->Start = 0;
    return n;
  }
  if (box->Error != 0) {
    const int e = box->Error;
    box->Error = 0;
    return e;
  }
  return got;  // 0 at the end of the stream, or -EAGAIN
}

bool SockInboxReady(int fd) {
  const Inbox* box = Find(fd);
  return box && (box->Len > 0 || box->Error != 0);
}

int SockInboxDrop(int fd) {
  if (fd < 0) return 0;
  Inbox* box = Find(fd);
  if (!box) return 0;
  const int held = box->Len;
  box->Used = false;
  return held;
}
