// Receive queues in user memory in front of stream sockets.
//
// A reader that asks for a couple of kilobytes at a time pays two system
// calls (a wait and a read) and a window update to the peer per piece.  The
// inbox instead takes everything the system holds in one large read and
// serves later reads from memory, as if it were the front of the socket's
// own receive queue: every read hands out exactly the bytes, and the count,
// that a read of the socket itself would have handed out at that moment;
// the end of the stream and an error come only once the bytes before them
// have gone out.  A socket closed with bytes still in its inbox, by
// SockClose or at the end of the program, is reset, as the system resets
// one closed with unread bytes.
//
// Only sockets read through SockRecvQueued get an inbox; SockClose forgets
// it, so a later socket with the same number starts empty.
#pragma once
#include <cstdint>

inline constexpr int SOCK_INBOX_SIZE = 256 * 1024;
inline constexpr int SOCK_INBOX_MAX = 4;  // sockets read at the same time; more are read directly

// Moves up to len bytes waiting for fd into buf without blocking: the
// count, 0 at the end of the stream, or -errno (-EAGAIN when nothing waits).
int SockRecvQueued(int fd, char* buf, int len);
// True when a read of fd would answer at once without asking the system:
// its inbox holds bytes or an error that came behind them.
bool SockInboxReady(int fd);
// Forgets fd's inbox: the number of bytes it still held.
int SockInboxDrop(int fd);
