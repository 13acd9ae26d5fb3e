// Parsing of the requests the server buffers: deciding what a request is,
// its first line, its header lines and its name=value pairs.
#include <strings.h>

#include <cstring>
#include <string>
#include <string_view>

#include "engine/core/secret_words.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/util/util.h"
#include "services/httpd/http_server.h"

namespace {

constexpr int kHeadNameMax = 53;       // "http.head." plus the name stays within a variable name
constexpr int kContentLengthMax = 99;  // digits of a Content-Length value
constexpr int kVarNameMax = 62;
constexpr int kNameRoom = 1011;
constexpr int kValueRoom = 1020;
constexpr char kHeadPrefix[] = "http.head.";
constexpr char kVarPrefix[] = "http.var.";

bool StartsWith(const HttpClient& c, const char* s) {
  const int n = static_cast<int>(std::strlen(s));
  return c.Len >= n && std::memcmp(c.Buf.data(), s, n) == 0;
}

bool HasEmptyLine(const HttpClient& c) {
  return TarvMemFind4(c.Buf.data(), c.Len, "\r\n\r\n", 4) >= 0;
}

// The URI of the first line from `from` (blanks before it skipped when asked)
// up to the next blank or the line's end, and the header start after the
// line's '\r'.  False when the line has no '\r'.
bool ParseFirstLine(HttpClient& c, int from, bool skipBlanks) {
  int p = from;
  if (skipBlanks)
    while (p < c.Len && c.Buf[p] == ' ') p++;
  c.UriStart = p;
  while (p < c.Len && c.Buf[p] != ' ' && c.Buf[p] != '\r') p++;
  c.UriEnd = p - 1;
  while (p < c.Len && c.Buf[p] != '\r') p++;
  if (p >= c.Len) return false;
  c.HeadStart = p + 2;
  return true;
}

bool ExtensionIs(const HttpClient& c, const char* ext) {
  return std::memcmp(c.Buf.data() + c.Period, ext, 4) == 0;
}

void ParseUri(int i) {
  HttpClient& c = sgHttp.Client[i];
  for (int p = c.UriStart; p <= c.UriEnd; p++) {
    if (c.Buf[p] == '.') c.Period = p;
    if (c.Buf[p] == '?') {
      c.Query = p;
      break;
    }
  }
  TarvDebugLog("\nHttpGET_ParserURI client[%d] bPeriod=%d,bQuestionMark=%d", i, c.Period, c.Query);
  if (c.Period == 0) {
    c.RequestType = HTTP_NO_PERIOD;
    TarvReturn(0, "HttpGET_ParserURI index=%d, Not Found (.) !!!", i);
    return;
  }
  const int extLen = c.UriEnd - c.Period;
  if (extLen < 3) {
    c.RequestType = HTTP_SHORT_EXT;
    TarvReturn(0, "HttpGET_ParserURI index=%d, extension filename len=%d <3 , Error!!!", i, extLen);
    return;
  }
  const bool script = ExtensionIs(c, ".jsp") || ExtensionIs(c, ".asp") || ExtensionIs(c, ".php");
  if (c.Query != 0) {
    if (c.Query == c.Period + 4 && script) {
      c.RequestType = HTTP_DYNAMIC;
      c.VarsStart = c.Query + 1;
      TarvReturn(0, "HttpGET_ParserURI index=%d, is .jsp,asp,php?vars=", i);
    } else {
      TarvReturn(0, "HttpGET_ParserURI index=%d, is not .jsp,asp,php But with ?vars=", i);
    }
    return;
  }
  if (ExtensionIs(c, ".jsp")) {
    c.RequestType = HTTP_DYNAMIC;
    TarvReturn(0, "HttpGET_ParserURI index=%d, is .jsp", i);
    return;
  }
  HttpSend_AnswerFile(i);
  TarvReturn(0, "HttpGET_ParserURI index=%d, Send_AnswerFile End.", i);
}

bool UriRefused(const HttpClient& c, int i) {
  if (!HttpUriRefused(c.Buf.data() + c.UriStart, c.UriEnd - c.UriStart + 1)) return false;
  TarvDebugLog("\nHttp_CheckRequest client[%d], URI refused, be closed!", i);
  return true;
}

void HttpGET_ParserFirstLine(int i) {
  HttpClient& c = sgHttp.Client[i];
  if (c.Len < 5 || !ParseFirstLine(c, 4, true)) {
    TarvReturn(0, "HttpGET_ParserFirstLine index=%d, End Error!!!", i);
    return;
  }
  if (UriRefused(c, i)) return;
  ParseUri(i);
}

// A POST is dynamic once its first line is whole; it is handed over only
// when the body its Content-Length announces has arrived too.  1: wait.
int CheckPost(int i) {
  HttpClient& c = sgHttp.Client[i];
  if (!ParseFirstLine(c, 5, false)) {
    TarvReturn(0, "HttpPOST_ParserFirstLine index=%d, Uri End Error!!!", i);
    Http_CloseClientByIndex(i);
    return 0;
  }
  TarvReturn(0, "HttpPOST_ParserFirstLine index=%d, eUri=%d", i, c.UriEnd);
  if (UriRefused(c, i)) {
    Http_CloseClientByIndex(i);
    return 0;
  }
  c.ContentLength = 0;
  c.VarsStart = 0;
  Http_ParserHead(i, false);
  const int64_t bodyEnd = int64_t{c.VarsStart} + c.ContentLength;
  if (c.ContentLength > 0 && bodyEnd > HTTP_RECV_MAX) {
    TarvReturn(0, "Http_CheckRequest index=%d, POST body of %d bytes is too long, closed.", i,
               c.ContentLength);
    Http_CloseClientByIndex(i);
    return 0;
  }
  if (c.ContentLength > 0 && c.Len < bodyEnd)
    return TarvReturn(1, "Http_CheckRequest index=%d, POST wait for the body", i);
  c.RequestType = HTTP_DYNAMIC;
  return TarvReturn(0, "Http_CheckRequest index=%d, POST requestType=%d", i, c.RequestType);
}

// A pair the server cannot take.  A request full of them is one counted
// error, not one per pair: each counted error pauses the run and keeps a
// variable of its own, so a client could stall and fill the script.
void PairError(int* failures, const char* message) {
  if ((*failures)++ == 0)
    NmsRunError(-2, "%s", message);
  else
    TarvDebugLog("\n%s", message);
}

void SetPair(const HttpClient& c, int nameStart, int nameEnd, int valueStart, int valueEnd,
             int* count, int* failures) {
  char name[kNameRoom + 1];
  char value[kValueRoom + 1];
  const int nl = TarvUrlDecode(c.Buf.data() + nameStart, nameEnd - nameStart + 1, name, kNameRoom);
  const int vl = valueEnd >= valueStart
                     ? TarvUrlDecode(c.Buf.data() + valueStart, valueEnd - valueStart + 1, value,
                                     kValueRoom)
                     : 0;
  if (nl < 0 || vl <= 0) {
    PairError(failures, "Http_ParserVars NameLen or ValueLen < 0 ");
    return;
  }
  char var[VAR_NAME + kNameRoom];
  int varLen = static_cast<int>(sizeof kVarPrefix) - 1;
  std::memcpy(var, kVarPrefix, varLen);
  std::memcpy(var + varLen, name, nl);
  varLen += nl;
  if (varLen > kVarNameMax) {
    PairError(failures, "Http_ParserVars NameLen > VAR_NAME -2");
    varLen = kVarNameMax;
  }
  HttpPublish(var, varLen, value, vl);
  ++*count;
}

}  // namespace

int Http_CheckRequest(int i) {
  HttpClient& c = sgHttp.Client[i];
  TarvDebugLog("\nHttp_CheckRequest client[%d],len =%d,...", i, c.Len);
  if (c.Len < 15) return 1;
  c.Buf[c.Len] = 0;
  if (TarvLogLevel() >= 4) {
    // What a client sends to log in (its Authorization, its cookies) stays
    // out of the log.
    const size_t len = strnlen(c.Buf.data(), static_cast<size_t>(c.Len));
    const std::string shown = HeaderBlockMasked({c.Buf.data(), len});
    TarvDebugLogEscaped("\nHttp_CheckRequest client[%d],Http Parser ......\r\n[%s]\r\n", i,
                        shown.c_str());
  }
  if (StartsWith(c, "GET ")) {
    c.Method = HTTP_GET;
    if (!HasEmptyLine(c))
      return TarvReturn(1, "Http_CheckRequest index=%d, GET wait for <Http r.n.r.n>", i);
    HttpGET_ParserFirstLine(i);
    const int type = c.RequestType;
    TarvDebugLog("\nHttp_CheckRequest client[%d],HttpGET_Parser, requestType=%d .", i, type);
    if (c.Answering)
      HttpAnswerMore(i);
    else if (type <= 1)
      Http_CloseClientByIndex(i);
    return TarvReturn(0, "Http_CheckRequest index=%d, GET requestType=%d", i, type);
  }
  if (StartsWith(c, "POST ")) {
    c.Method = HTTP_POST;
    if (!HasEmptyLine(c))
      return TarvReturn(1, "Http_CheckRequest index=%d, POST wait for <Http r.n.r.n>", i);
    return CheckPost(i);
  }
  TarvDebugLog("\nHttp_CheckRequest client[%d],is not GET or POST,be closed!", i);
  Http_CloseClientByIndex(i);
  return 0;
}

int Http_ParserHead(int i, bool publish) {
  HttpClient& c = sgHttp.Client[i];
  enum { kLineStart, kInName, kAfterColon, kInValue, kLineEnd } state = kLineStart;
  int nameStart = 0, nameEnd = 0, valueStart = 0, count = 0;
  for (int p = c.HeadStart; p < c.Len; p++) {
    const char ch = c.Buf[p];
    if (ch == ' ' || ch == '\n') continue;
    switch (state) {
      case kLineStart:
      case kLineEnd:
        if (ch == '\r') {
          // The empty line: the body follows it.
          if (c.Method == HTTP_POST) c.VarsStart = p + 2;
          return TarvReturn(count, "Http_ParserHead index=%d, Head count=%d.", i, count);
        }
        if (ch != ':') {
          nameStart = p;
          state = kInName;
        }
        break;
      case kInName:
        if (ch == ':') {
          nameEnd = p - 1;
          state = kAfterColon;
        } else if (ch == '\r') {
          state = kLineEnd;  // a line without a colon names nothing
        }
        break;
      case kAfterColon:
        if (ch == '\r') {
          state = kLineEnd;
        } else if (ch != ':') {
          valueStart = p;
          state = kInValue;
        }
        break;
      case kInValue:
        if (ch != '\r') break;
        {
          const int nameLen = nameEnd - nameStart + 1;
          const char* name = c.Buf.data() + nameStart;
          const char* value = c.Buf.data() + valueStart;
          const int valueLen = p - valueStart;
          if (publish && nameLen <= kHeadNameMax) {
            char var[VAR_NAME];
            const int prefix = static_cast<int>(sizeof kHeadPrefix) - 1;
            std::memcpy(var, kHeadPrefix, prefix);
            std::memcpy(var + prefix, name, nameLen);
            HttpPublish(var, prefix + nameLen, value, valueLen);
          }
          count++;
          if (c.Method == HTTP_POST && nameLen == 14 && strncasecmp(name, "Content-Length", 14) == 0) {
            if (valueLen <= kContentLengthMax && TarvIsInteger2(value, valueLen) == 0) {
              char digits[kContentLengthMax + 1] = {};
              std::memcpy(digits, value, valueLen);
              c.ContentLength = TarvAtoi(digits);
            } else {
              TarvDebugLog("\nHttp_ParserHead client[%d],Content-Length is not Integer !!!", i);
            }
          }
          state = kLineEnd;
        }
        break;
    }
  }
  return TarvReturn(count, "Http_ParserHead index=%d, End Error!!!", i);
}

int Http_ParserVars(int i) {
  const HttpClient& c = sgHttp.Client[i];
  TarvSetVar2("http.client.ip", c.Ip.data());
  TarvSetVarInt2("http.client.port", c.Port);
  TarvSetVarInt2("http.client.index", i);
  const bool get = c.Method == HTTP_GET;
  TarvSetVar2("http.method", get ? "GET" : "POST");
  const int uriEnd = c.Query != 0 ? c.Query - 1 : c.UriEnd;
  TarvSetVar3("http.uri", c.Buf.data() + c.UriStart, uriEnd - c.UriStart + 1);

  int end;
  if (get) {
    if (c.Query == 0)
      return TarvReturn(0, "\nHttp_ParserVars client[%d],GET bQuestionMark == 0,not have var !", i);
    end = c.UriEnd;
  } else {
    if (c.ContentLength <= 0 || c.VarsStart <= 0)
      return TarvReturn(0, "\nHttp_ParserVars client[%d],POST bQuestionMark == 0,not have var !",
                        i);
    // The body is what Content-Length announces, not what else came after it.
    end = c.VarsStart + c.ContentLength - 1;
    if (end > c.Len - 1) end = c.Len - 1;
  }

  int count = 0;
  int failures = 0;
  int p = c.VarsStart;
  while (p <= end) {
    int eq = p;
    while (eq <= end && c.Buf[eq] != '=') eq++;
    if (eq > end)
      return TarvReturn(count, "Http_ParserVars index=%d, Var count=%d,Last Var.Value Error!.", i,
                        count);
    int amp = eq + 1;
    while (amp <= end && c.Buf[amp] != '&') amp++;
    SetPair(c, p, eq - 1, eq + 1, amp <= end ? amp - 1 : end, &count, &failures);
    p = amp + 1;
  }
  return TarvReturn(count, "Http_ParserVars index=%d, Var count=%d.", i, count);
}

int HttpPublish(const char* name, int nameLen, const char* value, int valueLen) {
  const int rc = TarvSetVar4(name, nameLen, value, valueLen);
  if (rc == 0)
    sgHttp.Published.push_back({std::string(name, static_cast<size_t>(nameLen)),
                                std::string(value, static_cast<size_t>(valueLen))});
  return rc;
}

void HttpForgetPublished() {
  std::vector<std::string_view> names;
  char value[VAR_VAL];
  for (const HttpPublished& p : sgHttp.Published) {
    const int n = TarvGetVar4(p.Name.data(), static_cast<int>(p.Name.size()), value, VAR_VAL);
    if (n >= 0 && std::string_view(value, static_cast<size_t>(n)) == p.Value) names.push_back(p.Name);
  }
  if (!names.empty()) TarvRemoveVars(names.data(), static_cast<int>(names.size()));
  sgHttp.Published.clear();
}
