// The script's HTTP server: one IPv4 listener and 20 client slots.  Static
// files are answered inside http.recv request; the first dynamic request
// (.jsp, .asp, .php pages, and every POST) is handed to the script, which
// answers it with the send statements and ends it with http.send end.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct Family;
const Family* HttpdFamily();

int http_listen_port_a3_root_dir_a6();
int http_recv_request();
int http_send_head();
int http_send_a2();
int http_send_text();
int http_send_end();

inline constexpr int HTTP_SLOTS = 20;
inline constexpr int HTTP_BUF = 2048;
inline constexpr int HTTP_RECV_MAX = 2044;   // bytes ever received into a slot's buffer
inline constexpr int HTTP_FULL = 2042;       // a slot holding this many bytes is closed
inline constexpr int HTTP_ROOT = 512;        // root directory, without its NUL
inline constexpr int HTTP_PATH = 512;        // root plus URI, with its NUL
inline constexpr int HTTP_FILE_MAX = 4194304;  // the largest file served
inline constexpr int HTTP_CHUNK = 262144;      // file bytes read for one send

inline constexpr int HTTP_GET = 51;
inline constexpr int HTTP_POST = 52;

// Request types of a slot.
inline constexpr int HTTP_UNDECIDED = 0;
inline constexpr int HTTP_DYNAMIC = 2;
inline constexpr int HTTP_NO_PERIOD = -2;
inline constexpr int HTTP_SHORT_EXT = -3;

struct HttpClient {
  int32_t Socket;                    // -1: none
  std::array<char, HTTP_BUF> Buf;    // the request; a NUL follows the buffered bytes
  int32_t Len;                       // bytes buffered
  int32_t InUse;
  std::array<char, 17> Ip;           // dotted IPv4 text
  int32_t Port;
  int32_t RequestType;
  int32_t UriStart;                  // positions in Buf, end inclusive
  int32_t UriEnd;
  int32_t Period;                    // last '.' of the URI before any '?'; 0: none
  int32_t Query;                     // the first '?'; 0: none
  int32_t HeadStart;                 // the first header line
  int32_t VarsStart;                 // the first name=value pair (a POST's body)
  int32_t Method;                    // HTTP_GET, HTTP_POST
  int32_t ContentLength;             // a POST's "Content-Length"
  int32_t Handed;                    // handed to the script and not ended yet
  int64_t Deadline;                  // monotonic ms: the request, or a static answer, ends by then
  int64_t SendWaitMs;                // ms the script's answers have waited for the client
  // A static answer under way: its head, then the file from FileOff on.
  int32_t Answering;
  int32_t FileFd;                    // open while answering
  int64_t FileOff;
  int64_t FileLeft;
  std::array<char, 1024> Out;        // the answer's head
  int32_t OutLen;
  int32_t OutSent;
};

// A variable a request published and the value it gave it.
struct HttpPublished {
  std::string Name;
  std::string Value;
};

struct HttpState {
  int32_t Current;                   // the slot the send statements answer; -1: none
  std::array<HttpClient, HTTP_SLOTS> Client;
  int32_t ListenSocket;              // -1: none
  int32_t Port;
  std::array<char, HTTP_ROOT + 1> Root;
  std::array<char, HTTP_CHUNK> File;  // the piece of a static file being sent
  int32_t FileLen;
  std::array<char, HTTP_PATH> Path;
  int32_t PathLen;
  // The http.head. and http.var. variables of the request handed last:
  // bounded by what one request buffer holds.
  std::vector<HttpPublished> Published;
};

extern HttpState sgHttp;

// Closes every socket of the record and clears it (the file buffer is only
// marked empty).
void HttpStateClear();

// Request parsing (http_request.cpp).
// 1: the slot waits for more bytes; 0: decided (answered and closed, closed,
// or a dynamic request kept for the script).
int Http_CheckRequest(int i);
// The header lines; with publish, each one becomes an http.head. variable.
// The number of header lines read.
int Http_ParserHead(int i, bool publish);
// The request's variables and its name=value pairs: the number of pairs set.
int Http_ParserVars(int i);
// Sets a variable of the request (http.head. or http.var.) and notes it.
int HttpPublish(const char* name, int nameLen, const char* value, int valueLen);
// Removes the variables the previous request published that still hold the
// value it gave them (one the script has set since is the script's).
void HttpForgetPublished();
// A URI the server never takes: one not starting with '/' (it would join
// the root's name, not go below it) or holding a NUL or another control
// byte (a path would end before its checked extension).
bool HttpUriRefused(const char* uri, int len);

// Answers (http_answer.cpp).
void Http_CloseClientByIndex(int i);
// Sends all len bytes to the slot; the count sent.  A client that leaves
// bytes unsent once the slot's waits reach the step time-out is cut off:
// its socket is closed, the slot stays for the script to end.
int HttpSendAll(int i, const char* data, int len);
int HttpSend_AnswerHead(int i, const char* contentType, int contentLength);
// Starts serving the slot's URI from the root directory: 0 the file was
// taken and its answer is under way (HttpAnswerMore sends it), -1 refused.
int HttpSend_AnswerFile(int i);
// Sends what the socket takes now of the slot's static answer; the slot is
// closed when all is sent or the connection failed.  1: more to send.
int HttpAnswerMore(int i);
// The idle deadline of a slot from now: the step time-out.
int64_t HttpDeadlineFromNow();
// "Sat,05 Dec 2026 18:40:00 GMT" for a time in seconds since 1970, with
// English names whatever the locale; dest needs 40 bytes.
int HttpDate(int64_t seconds, char* dest);
// True when the URI bytes hold a ".." segment, written plainly or
// percent-encoded.
bool HttpUriClimbs(const char* uri, int len);
