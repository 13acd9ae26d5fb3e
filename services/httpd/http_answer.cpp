// The server's answers: the fixed head, static files from the root
// directory, whole sends to a slot, and closing a slot.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "engine/core/run_state.h"
#include "engine/log/log.h"
#include "platform/socket.h"
#include "services/httpd/http_server.h"

namespace {

constexpr int kHeadRoom = 1024;

struct ContentType {
  const char* Ext;
  const char* Type;
};
constexpr ContentType kTypes[] = {
    {".txt", "text/plain"}, {".htm", "text/html"},  {".css", "text/css"},
    {".jpg", "image/jpeg"}, {".png", "image/png"},  {".gif", "image/gif"},
    {".ico", "image/x-icon"}, {".mp4", "audio/mp4"},
};

const char* TypeOf(const char* ext4) {
  for (const auto& t : kTypes)
    if (std::memcmp(ext4, t.Ext, 4) == 0) return t.Type;
  return "application/octet-stream";
}

// A segment is the text between two '/' (or the URI's ends).
bool DotDot(const char* s, int len) { return len == 2 && s[0] == '.' && s[1] == '.'; }

// The URI with every "%2e" (either case) read as '.', nothing else decoded.
int DecodeDots(const char* uri, int len, char* out) {
  int n = 0;
  for (int i = 0; i < len; i++) {
    if (uri[i] == '%' && i + 2 < len && uri[i + 1] == '2' &&
        std::tolower(static_cast<unsigned char>(uri[i + 2])) == 'e') {
      out[n++] = '.';
      i += 2;
    } else {
      out[n++] = uri[i];
    }
  }
  return n;
}

bool HasDotDotSegment(const char* s, int len) {
  int start = 0;
  for (int i = 0; i <= len; i++) {
    if (i == len || s[i] == '/' || s[i] == '\\') {
      if (DotDot(s + start, i - start)) return true;
      start = i + 1;
    }
  }
  return false;
}

}  // namespace

bool HttpUriRefused(const char* uri, int len) {
  if (len <= 0 || uri[0] != '/') return true;
  for (int k = 0; k < len; k++) {
    const auto b = static_cast<unsigned char>(uri[k]);
    if (b < 0x20 || b == 0x7f) return true;
  }
  return false;
}

bool HttpUriClimbs(const char* uri, int len) {
  if (len <= 0) return false;
  if (HasDotDotSegment(uri, len)) return true;
  char decoded[HTTP_BUF];
  const int n = DecodeDots(uri, std::min(len, HTTP_BUF), decoded);
  return HasDotDotSegment(decoded, n);
}

int HttpDate(int64_t seconds, char* dest) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return std::snprintf(dest, 40, "%s,%02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday % 7],
                       tm.tm_mday, kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour,
                       tm.tm_min, tm.tm_sec);
}

void Http_CloseClientByIndex(int i) {
  HttpClient& c = sgHttp.Client[i];
  SockClose(&c.Socket);
  if (c.Answering && c.FileFd >= 0) close(c.FileFd);
  c.Answering = 0;
  c.FileFd = -1;
  c.FileOff = c.FileLeft = 0;
  c.OutLen = c.OutSent = 0;
  c.Deadline = 0;
  c.SendWaitMs = 0;
  c.InUse = 0;
  c.Len = 0;
  c.RequestType = HTTP_UNDECIDED;
  c.Method = 0;
  c.UriStart = c.UriEnd = 0;
  c.Period = c.Query = 0;
  c.HeadStart = c.VarsStart = 0;
  c.ContentLength = 0;
  c.Handed = 0;
  c.Buf.fill(0);
  if (sgHttp.Current == i) sgHttp.Current = -1;
  TarvDebugLog("\nHttp_CloseClientByIndex client[%d],be closed!", i);
}

int64_t HttpDeadlineFromNow() { return SockNowMs() + int64_t{std::max(1, sgRun.StepTimeout)} * 1000; }

int HttpSendAll(int i, const char* data, int len) {
  HttpClient& c = sgHttp.Client[i];
  // A client that stops reading holds the script for one step time-out in
  // all, however many sends its answer takes and however it paces what it
  // takes: the waits for one client share that time, and a client that
  // has not taken what it was sent within it is cut off.
  const int64_t budget = int64_t{std::max(1, sgRun.StepTimeout)} * 1000;
  int sent = 0;
  while (sent < len && c.Socket >= 0) {
    const int n = SockSend(c.Socket, data + sent, len - sent);
    if (n > 0) {
      sent += n;
      continue;
    }
    const int64_t left = budget - c.SendWaitMs;
    if (n != -EAGAIN || left <= 0) break;
    const int64_t before = SockNowMs();
    short revents = 0;
    const int r = SockWaitOne(c.Socket, POLLOUT, &revents,
                              static_cast<int>(std::min<int64_t>(left, INT_MAX)));
    c.SendWaitMs += SockNowMs() - before;
    if (r < 0) break;
  }
  if (sent < len && c.Socket >= 0) {
    TarvDebugLog("\nWinHttpTcpSend4: client[%d] took %d of %d bytes in time, its connection closed.",
                 i, sent, len);
    SockClose(&c.Socket);
  }
  TarvDebugLog("WinHttpTcpSend4: send return,len=%d.", sent);
  return sent;
}

namespace {
// The answer's head for the slot into dest (kHeadRoom bytes): its length.
int BuildHead(int i, const char* contentType, int contentLength, char* dest) {
  char date[40];
  HttpDate(std::time(nullptr), date);
  int n = std::snprintf(dest, kHeadRoom,
                        "HTTP/1.1 200 OK\r\n"
                        "Server: tarvV13.http inside service\r\n"
                        "Date: %s\r\n"
                        "Content-Type: %s\r\n",
                        date, contentType);
  if (contentLength > 0)
    n += std::snprintf(dest + n, kHeadRoom - n, "Content-Length: %d\r\n", contentLength);
  n += std::snprintf(dest + n, kHeadRoom - n, "\r\n");
  TarvDebugLogEscaped("\nHttpSend_AnswerHead client[%d] ......\r\n[%s]\r\n", i, dest);
  return n;
}
}  // namespace

int HttpSend_AnswerHead(int i, const char* contentType, int contentLength) {
  char head[kHeadRoom];
  const int n = BuildHead(i, contentType, contentLength, head);
  return HttpSendAll(i, head, n);
}

int HttpSend_AnswerFile(int i) {
  HttpClient& c = sgHttp.Client[i];
  const char* uri = c.Buf.data() + c.UriStart;
  const int uriLen = c.UriEnd - c.UriStart + 1;
  const int rootLen = static_cast<int>(std::strlen(sgHttp.Root.data()));
  if (int64_t{rootLen} + uriLen > HTTP_PATH - 1)
    return TarvReturn(-1, "HttpSend_AnswerFile index=%d, Path too long !!!", i);
  std::memcpy(sgHttp.Path.data(), sgHttp.Root.data(), rootLen);
  std::memcpy(sgHttp.Path.data() + rootLen, uri, uriLen);
  sgHttp.PathLen = rootLen + uriLen;
  sgHttp.Path[sgHttp.PathLen] = 0;
  const char* path = sgHttp.Path.data();
  TarvDebugLogEscaped("\nHttpSend_AnswerFile client[%d], [%s]", i, path);
  // Nothing outside the root folder is served, however the URI spells it:
  // the path is the root, a '/', and no step up.
  if (HttpUriRefused(uri, uriLen) || HttpUriClimbs(uri, uriLen))
    return TarvReturn(-1, "HttpSend_AnswerFile index=%d, Not Found=<%s> !!!", i, path);

  // Only a regular file that fits the limit is served: a directory, a
  // device or a pipe would block or send nonsense.
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > HTTP_FILE_MAX) {
    if (fd >= 0) close(fd);
    return TarvReturn(-1, "HttpSend_AnswerFile index=%d, Not Found=<%s> !!!", i, path);
  }
  // The answer goes out as the client takes it (HttpAnswerMore), so that a
  // client that does not read holds no one else.
  c.Answering = 1;
  c.FileFd = fd;
  c.FileOff = 0;
  c.FileLeft = st.st_size;
  c.OutLen = BuildHead(i, TypeOf(c.Buf.data() + c.Period), static_cast<int>(st.st_size), c.Out.data());
  c.OutSent = 0;
  c.Deadline = HttpDeadlineFromNow();
  return 0;
}

namespace {
int AnswerFailed(int i, int err) {
  TarvDebugLog("\nHttpAnswerMore client[%d], send error=%d", i, -err);
  Http_CloseClientByIndex(i);
  return 0;
}
}  // namespace

int HttpAnswerMore(int i) {
  HttpClient& c = sgHttp.Client[i];
  while (c.OutSent < c.OutLen) {
    const int n = SockSend(c.Socket, c.Out.data() + c.OutSent, c.OutLen - c.OutSent);
    if (n == -EAGAIN) return 1;
    if (n <= 0) return AnswerFailed(i, n);
    c.OutSent += n;
  }
  while (c.FileLeft > 0) {
    const int want = static_cast<int>(std::min<int64_t>(c.FileLeft, HTTP_CHUNK));
    const ssize_t got = pread(c.FileFd, sgHttp.File.data(), static_cast<size_t>(want), c.FileOff);
    if (got < 0 && errno == EINTR) continue;
    // A file cut while it is sent would contradict its Content-Length.
    if (got <= 0) {
      TarvDebugLog("\nHttpAnswerMore client[%d], file ended early", i);
      Http_CloseClientByIndex(i);
      return 0;
    }
    sgHttp.FileLen = static_cast<int>(got);
    const int n = SockSend(c.Socket, sgHttp.File.data(), sgHttp.FileLen);
    if (n == -EAGAIN) return 1;
    if (n <= 0) return AnswerFailed(i, n);
    c.FileOff += n;
    c.FileLeft -= n;
    TarvDebugLog("WinHttpTcpSend4: send return,len=%d.", n);
  }
  Http_CloseClientByIndex(i);
  return 0;
}
