// POSIX sockets for the socket layer: descriptors, bounded waits, connects,
// transfers, numeric address look-ups and address texts.
//
// Every function answers 0 or a count for success and -errno for a failure,
// unless said otherwise.  A descriptor field holding -1 means "no socket";
// the functions that close one set the caller's field to -1.  Sockets are
// close-on-exec and never take the standard descriptors 0, 1 and 2.
#pragma once
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

inline constexpr int SOCK_WAIT_FOREVER = -1;
inline constexpr int SOCK_ADDR_TEXT = 64;  // room for any address text with its port

// Ignores SIGPIPE in the whole process; 0 or -errno.
int SockIgnoreSigpipe();

// A new socket of the family and type (SOCK_STREAM, SOCK_DGRAM); the
// descriptor or -errno.
int SockOpen(int family, int type, int protocol);
// Closes *fd when it holds a socket of ours and sets it to -1.
void SockClose(int32_t* fd);
int SockSetNonBlocking(int fd, bool on);
int SockSetReuseAddr(int fd);
// Makes the close of a stream socket reset the connection at once (as a
// close with unread bytes does) instead of ending it in order.
int SockSetResetOnClose(int fd);
// Ends both sides of a stream socket: every later read finds the end of the
// stream at once, every later write fails at once (what was sent before
// still goes out).
int SockShutdownBoth(int fd);
int SockSetV6Only(int fd, bool on);
int SockBind(int fd, const sockaddr_storage& addr, socklen_t len);
int SockListen(int fd, int backlog);
// Accepts one waiting connection (blocking, close-on-exec); the descriptor
// or -errno.  The peer goes into *peer and *peerLen.
int SockAccept(int fd, sockaddr_storage* peer, socklen_t* peerLen);
// The socket's local address.
int SockLocalAddr(int fd, sockaddr_storage* addr, socklen_t* len);

// Milliseconds on the monotonic clock.
int64_t SockNowMs();

// Waits until one of the descriptors shows one of the events, at most
// timeoutMs milliseconds (SOCK_WAIT_FOREVER: without limit).  A signal does
// not cut the wait short: it is resumed with the time left.  Returns the
// number of descriptors with events (their events in revents), 0 when the
// time ran out, or -errno.  Negative descriptors are skipped.
int SockWait(const int* fds, int count, short events, short* revents, int timeoutMs);
// The same with events of each descriptor's own.
int SockWaitEach(const int* fds, const short* events, int count, short* revents, int timeoutMs);
// The same for one descriptor; *revents gets its events.
int SockWaitOne(int fd, short events, short* revents, int timeoutMs);

// Starts a connect on a non-blocking socket: 0 when it completed at once,
// -EINPROGRESS while it goes on, or -errno.
int SockConnectStart(int fd, const sockaddr_storage& addr, socklen_t len);
// The outcome of a finished non-blocking connect: 0 connected, or the
// error it ended with (SO_ERROR), as -errno.
int SockConnectResult(int fd);

// One transfer that never blocks and never raises SIGPIPE: the count, 0 at
// the end of a stream (receive), or -errno (-EAGAIN when nothing could move).
int SockRecv(int fd, char* buf, int len);
int SockSend(int fd, const char* buf, int len);
// One datagram.  With peek the datagram stays queued.  A datagram longer
// than len gives -EMSGSIZE and is dropped like any read one (unless peeking).
// With wait the call blocks until a datagram arrives (resumed after a
// signal); otherwise it answers -EAGAIN when none is queued.
int SockRecvFrom(int fd, char* buf, int len, bool peek, bool wait, sockaddr_storage* from,
                 socklen_t* fromLen);
int SockSendTo(int fd, const char* buf, int len, const sockaddr_storage* to, socklen_t toLen);
// Connects a datagram socket to its peer.
int SockConnectDatagram(int fd, const sockaddr_storage& addr, socklen_t len);

// IPv4 address from four byte values and a port.
socklen_t SockAddrV4(const uint8_t parts[4], int port, sockaddr_storage* out);
// IPv6 address from its numeric text (no name is resolved) and a port; the
// length, or -EINVAL when the text is no IPv6 address.
int SockAddrV6(const char* text, int port, sockaddr_storage* out);
// Port of an IPv4 or IPv6 address, -1 for other families.
int SockAddrPort(const sockaddr_storage& addr);

// The address as text: "a.b.c.d:port" or "[v6%scope]:port"; without the
// port (and the brackets) when it is 0.  Returns the text's length, or -1
// for other families or when dest (room bytes) is too small.
int SockAddrText(const sockaddr_storage& addr, socklen_t len, char* dest, int room);

// One answer of a numeric address look-up.
struct SockAddrInfo {
  int32_t Flags;
  int32_t Family;
  int32_t SockType;
  int32_t Protocol;
  socklen_t Len;
  sockaddr_storage Addr;
};
inline constexpr int SOCK_ADDR_INFO_MAX = 64;

// The answers of one getaddrinfo, all of them however many the resolver
// gave, held until the list goes out of scope.
class SockAddrList {
 public:
  SockAddrList() = default;
  ~SockAddrList();
  SockAddrList(const SockAddrList&) = delete;
  SockAddrList& operator=(const SockAddrList&) = delete;
  // getaddrinfo with the given AI_* flags, replacing what the list held:
  // 0 or the resolver's (non-zero) error code.
  int Resolve(const char* host, const char* port, int flags, int family, int type, int protocol);
  // Calls each(answer, index) for every answer in the resolver's order,
  // numbered from 0; an answer too long for its record is left out.
  template <class Each>
  void ForEach(Each each) const {
    int index = 0;
    SockAddrInfo answer;
    for (const addrinfo* ai = list_; ai; ai = ai->ai_next)
      if (Copy(*ai, &answer)) each(static_cast<const SockAddrInfo&>(answer), index++);
  }

 private:
  static bool Copy(const addrinfo& ai, SockAddrInfo* out);
  addrinfo* list_ = nullptr;
};

// getaddrinfo with the given AI_* flags: fills at most room answers in the
// resolver's order (an answer too long for its record is left out) and sets
// *count.  Returns 0 or the resolver's (non-zero) error code.
int SockGetAddrInfo(const char* host, const char* port, int flags, int family, int type,
                    int protocol, SockAddrInfo* out, int room, int* count);

// getaddrinfo with a numeric host and a decimal port text; never resolves a
// name.  With passive and no host the answers are the any-addresses.  Fills at most room answers in
// the resolver's order and sets *count.  Returns 0 or the resolver's
// (non-zero) error code.
int SockResolveNumeric(const char* host, const char* port, bool passive, int family, int type,
                       int protocol, SockAddrInfo* out, int room, int* count);
// The resolver's text for its error code, one line.
const char* SockResolveErrorText(int code);
// The system's text for an errno value.
const char* SockErrorText(int err);
