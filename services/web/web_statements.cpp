// The web statements over libcurl.  The session is one easy handle, kept
// (with its connections) from the first request until web.close; each
// request resets its options and sets them all again.
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/core/handler.h"
#include "engine/core/observer.h"
#include "engine/core/run_state.h"
#include "engine/core/secret_words.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "services/web/web_client.h"

WebState sgWeb;

namespace {

constexpr char kUserAgent[] = "Mozilla/5.0 (Windows NT 6.1; Trident/7.0; rv:11.0) like Gecko";
constexpr long kConnectTimeoutMs = 60000;  // the classic client's connect time-out
constexpr long kReceiveTimeoutS = 30;      // and its wait for each piece of the answer
constexpr long kMaxRedirects = 10;
constexpr int kUrlArgMin = 3;
constexpr int kUrlArgMax = 1020;
constexpr int kVarNameMax = 64;
constexpr int kHeaderArgMax = 1020;
constexpr int kUrlRoom = 1022;
constexpr int kRawHeadRoom = 1022;

// Error numbers of the classic client, so that scripts see the failures
// they know.
constexpr unsigned kErrTimeout = 12002;
constexpr unsigned kErrInvalidUrl = 12005;
constexpr unsigned kErrBadScheme = 12006;
constexpr unsigned kErrNameNotResolved = 12007;
constexpr unsigned kErrCannotConnect = 12029;
constexpr unsigned kErrConnection = 12030;
constexpr unsigned kErrSecure = 12175;

CURL* gSession = nullptr;

struct Verb {
  const char* Name;      // "web_get"
  bool Post;
};

unsigned ErrorNumber(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT: return kErrTimeout;
    case CURLE_URL_MALFORMAT: return kErrInvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL: return kErrBadScheme;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return kErrNameNotResolved;
    case CURLE_COULDNT_CONNECT: return kErrCannotConnect;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS: return kErrSecure;
    default: return kErrConnection;
  }
}

// Where the body loop stands: what it appended and why it stopped.
struct BodySink {
  const char* Name;
  bool Started = false;  // the answer's head has arrived
  bool Low = false;      // the text buffer had no room left
  char Raw[kRawHeadRoom + 1] = {};
  int RawLen = 0;
  bool RawFits = true;
  // The answer now arriving (each redirect's in turn): its status, whether
  // it names a Location and whether that is a plain http one, and whether
  // the request went over TLS.
  long Status = 0;
  bool Location = false;
  bool LocationPlain = false;
  bool Secure = false;
};

bool StartsIgnoringCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); i++)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

// A redirect that goes on to its Location, whose own body is therefore no
// part of the answer.  One from https to plain http is not followed: the
// script's headers would travel in clear.
bool FollowsRedirect(const BodySink& sink) {
  return sink.Status >= 300 && sink.Status < 400 && sink.Location &&
         !(sink.Secure && sink.LocationPlain);
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const size_t n = size * count;
  sink->Started = true;
  if (sink->RawFits && int64_t{sink->RawLen} + static_cast<int64_t>(n) <= kRawHeadRoom) {
    std::memcpy(sink->Raw + sink->RawLen, data, n);
    sink->RawLen += static_cast<int>(n);
  } else {
    sink->RawFits = false;
  }
  std::string_view line(data, n);
  if (StartsIgnoringCase(line, "http/")) {
    // A new answer (after an interim one, or a proxy's) starts afresh.
    const size_t blank = line.find(' ');
    sink->Status = 0;
    for (size_t i = blank + 1; blank != std::string_view::npos && i < line.size() && i <= blank + 3; i++) {
      if (!std::isdigit(static_cast<unsigned char>(line[i]))) break;
      sink->Status = sink->Status * 10 + (line[i] - '0');
    }
    sink->Location = false;
    sink->LocationPlain = false;
  } else if (StartsIgnoringCase(line, "location:") && !sink->Location) {
    line.remove_prefix(9);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) line.remove_suffix(1);
    sink->Location = !line.empty();
    sink->LocationPlain = StartsIgnoringCase(line, "http:");
  }
  return n;
}

// Each piece of the body goes straight after the text's last byte; a piece
// for which no room is left stops the transfer, and nothing of it is kept.
// The body of a redirect that is followed is read and dropped.
size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const int64_t n = static_cast<int64_t>(size) * static_cast<int64_t>(count);
  if (FollowsRedirect(*sink)) return static_cast<size_t>(n);
  if (int64_t{sgRun.TextLen} + n > TEXT_SIZE) {
    sink->Low = true;
    return 0;
  }
  std::memcpy(sgRun.Text.data() + sgRun.TextLen + 1, data, static_cast<size_t>(n));
  sgRun.TextLen += static_cast<int32_t>(n);
  sgRun.Text[sgRun.TextLen + 1] = 0;
  TarvDebugLog("\n%s: Read Server Length = %d", sink->Name, static_cast<int>(n));
  return static_cast<size_t>(n);
}

bool HasCrLf(const char* s, int len) {
  return std::memchr(s, '\r', len) != nullptr || std::memchr(s, '\n', len) != nullptr;
}

bool NameIs(const char* entry, int len, std::string_view name) {
  const char* colon = static_cast<const char*>(std::memchr(entry, ':', len));
  const int nameLen = colon ? static_cast<int>(colon - entry) : len;
  if (nameLen != static_cast<int>(name.size())) return false;
  for (int k = 0; k < nameLen; k++)
    if (std::tolower(static_cast<unsigned char>(entry[k])) != name[k]) return false;
  return true;
}

// True when a later entry than k carries the same name: that one replaces it.
bool Replaced(int k) {
  const char* e = sgWeb.HeadBuf.data() + sgWeb.HeadOff[k];
  const char* colon = static_cast<const char*>(std::memchr(e, ':', sgWeb.HeadSize[k]));
  const int nameLen = colon ? static_cast<int>(colon - e) : sgWeb.HeadSize[k];
  char lower[WEB_BUF];
  for (int c = 0; c < nameLen; c++) lower[c] = static_cast<char>(std::tolower(static_cast<unsigned char>(e[c])));
  const std::string_view name(lower, nameLen);
  for (int j = k + 1; j <= sgWeb.headCount; j++)
    if (NameIs(sgWeb.HeadBuf.data() + sgWeb.HeadOff[j], sgWeb.HeadSize[j], name)) return true;
  return false;
}

bool ScriptSets(std::string_view lowerName) {
  for (int k = 1; k <= sgWeb.headCount; k++)
    if (NameIs(sgWeb.HeadBuf.data() + sgWeb.HeadOff[k], sgWeb.HeadSize[k], lowerName)) return true;
  return false;
}

// The request headers: the script's (without its credential headers, and
// a Host header that names the script's host, when a redirect leads to
// another host), and the removal of what curl would add on its own (Accept,
// Content-Type, Expect) unless the script sets it.
curl_slist* BuildHeaders(bool sameHost, bool trace) {
  curl_slist* list = nullptr;
  if (trace && sgWeb.headCount > 0 && TarvLogLevel() >= 4) {
    // The entries as they are kept, back to back, credentials masked.
    std::string shown;
    for (int k = 1; k <= sgWeb.headCount; k++)
      AppendHeaderMasked(shown, {sgWeb.HeadBuf.data() + sgWeb.HeadOff[k],
                                 static_cast<size_t>(sgWeb.HeadSize[k])});
    TarvDebugLogEscaped("\nsgWeb.headCount=%d,Len=%d\r\n{%s}", sgWeb.headCount, sgWeb.HeadLen,
                        shown.c_str());
  }
  for (int k = 1; k <= sgWeb.headCount; k++) {
    if (Replaced(k)) continue;
    char entry[WEB_BUF + 1];
    const int len = sgWeb.HeadSize[k];
    std::memcpy(entry, sgWeb.HeadBuf.data() + sgWeb.HeadOff[k], len);
    entry[len] = 0;
    if (!sameHost) {
      const char* colon = static_cast<const char*>(std::memchr(entry, ':', len));
      const std::string_view name(entry, static_cast<size_t>(colon ? colon - entry : len));
      if (SecretHeaderName(name) || NameIs(entry, len, "host")) continue;
    }
    // "Name: " with nothing after it would tell curl to drop the header;
    // "Name;" sends it empty, as the script asked.
    if (len >= 2 && entry[len - 1] == ' ' && entry[len - 2] == ':') {
      entry[len - 2] = ';';
      entry[len - 1] = 0;
    }
    list = curl_slist_append(list, entry);
  }
  struct Own {
    const char* Lower;
    const char* Removal;
  };
  static constexpr Own kOwn[] = {
      {"accept", "Accept:"}, {"content-type", "Content-Type:"}, {"expect", "Expect:"}};
  for (const Own& own : kOwn)
    if (!ScriptSets(own.Lower)) list = curl_slist_append(list, own.Removal);
  return list;
}

// Splits the URL for the traces and checks that it is an http or https URL:
// 0, or the classic client's error number.
unsigned CrackUrl(const char* encoded) {
  CURLU* u = curl_url();
  if (!u) return kErrInvalidUrl;
  unsigned err = 0;
  if (curl_url_set(u, CURLUPART_URL, encoded, 0) != CURLUE_OK) {
    err = std::strstr(encoded, "://") ? kErrInvalidUrl : kErrBadScheme;
  } else {
    char* scheme = nullptr;
    curl_url_get(u, CURLUPART_SCHEME, &scheme, 0);
    if (!scheme || (std::strcmp(scheme, "http") != 0 && std::strcmp(scheme, "https") != 0)) {
      err = kErrBadScheme;
    } else {
      char* host = nullptr;
      char* path = nullptr;
      char* port = nullptr;
      curl_url_get(u, CURLUPART_HOST, &host, 0);
      curl_url_get(u, CURLUPART_PATH, &path, 0);
      curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT);
      // The pane shows the URL from its host on: found in the URL as the log
      // shows it, so that a user name that reads like the host cannot bring
      // the password along.
      std::string room;
      const std::string shownUrl(UrlSecretsMasked(encoded, room));
      const char* fromHost = host ? std::strstr(shownUrl.c_str(), host) : nullptr;
      TarvDebugLog("\nCrackUrl, host Len=%d,: ", host ? static_cast<int>(std::strlen(host)) : 0);
      ScreenPrintf("\nCrackUrl, host Len=%d,: %s", host ? static_cast<int>(std::strlen(host)) : 0,
                   fromHost ? fromHost : "");
      const char* fromPath = (fromHost && path) ? std::strstr(fromHost, path) : nullptr;
      TarvDebugLog("\nCrackUrl, urlPath: ");
      ScreenPrintf("\nCrackUrl, urlPath: %s", fromPath ? fromPath : "");
      TarvDebugLog("\nCrackUrl, Port:%d", port ? std::atoi(port) : 0);
      curl_free(host);
      curl_free(path);
      curl_free(port);
    }
    curl_free(scheme);
  }
  curl_url_cleanup(u);
  return err;
}

CURL* Session(const Verb& v) {
  if (gSession) {
    TarvDebugLog("\n%s, Session is opened .", v.Name);
    return gSession;
  }
  TarvDebugLog("\n%s, Session is NULL,now to open ......", v.Name);
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  gSession = curl_easy_init();
  return gSession;
}

// The parts of a URL that say whose it is: scheme, host and port (the
// scheme's own when the URL names none).  Empty when it cannot be read.
struct Origin {
  std::string Scheme, Host, Port;
  bool operator==(const Origin&) const = default;
};

std::string LowerCopy(const char* s) {
  std::string out(s ? s : "");
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

Origin OriginOf(const char* url) {
  Origin o;
  CURLU* u = curl_url();
  if (!u) return o;
  if (curl_url_set(u, CURLUPART_URL, url, 0) == CURLUE_OK) {
    char* part = nullptr;
    if (curl_url_get(u, CURLUPART_SCHEME, &part, 0) == CURLUE_OK) o.Scheme = LowerCopy(part);
    curl_free(part);
    part = nullptr;
    if (curl_url_get(u, CURLUPART_HOST, &part, 0) == CURLUE_OK) o.Host = LowerCopy(part);
    curl_free(part);
    part = nullptr;
    if (curl_url_get(u, CURLUPART_PORT, &part, CURLU_DEFAULT_PORT) == CURLUE_OK) o.Port = LowerCopy(part);
    curl_free(part);
  }
  curl_url_cleanup(u);
  return o;
}

// The user name and password of the script's URL, decoded, which curl sends
// as Basic credentials: a redirect to the same host gets them again.
struct UserInfo {
  std::string User, Password;
  bool Given = false;
};

UserInfo UserInfoOf(const char* url) {
  UserInfo info;
  CURLU* u = curl_url();
  if (!u) return info;
  if (curl_url_set(u, CURLUPART_URL, url, 0) == CURLUE_OK) {
    char* part = nullptr;
    if (curl_url_get(u, CURLUPART_USER, &part, CURLU_URLDECODE) == CURLUE_OK && part) {
      info.User = part;
      info.Given = true;
    }
    curl_free(part);
    part = nullptr;
    if (curl_url_get(u, CURLUPART_PASSWORD, &part, CURLU_URLDECODE) == CURLUE_OK && part)
      info.Password = part;
    curl_free(part);
  }
  curl_url_cleanup(u);
  return info;
}

int Request(const Verb& v) {
  HandlerBegin();
  // The body of a POST: the pairs without their leading '&'.  They are used
  // by this request whatever becomes of it.
  char body[WEB_BUF] = {};
  int bodyLen = 0;
  std::string room;
  if (v.Post) {
    const std::string_view shown = UrlSecretsMasked(sgWeb.url.data(), room);
    TarvDebugLogEscaped("\nsgWeb.url={%.*s}", static_cast<int>(shown.size()), shown.data());
    if (sgWeb.varBufLen > 1) {
      bodyLen = sgWeb.varBufLen - 1;
      std::memcpy(body, sgWeb.varBuf.data() + 1, bodyLen);
    }
    sgWeb.varBufLen = 0;
  } else if (sgWeb.varBufLen > 0) {
    TarvDebugLogEscaped("\nsgWeb.varBufLen=%d\r\n{%s}", sgWeb.varBufLen, sgWeb.varBuf.data());
    const int urlLen = static_cast<int>(strnlen(sgWeb.url.data(), WEB_BUF));
    if (std::memchr(sgWeb.url.data(), '?', urlLen) == nullptr) sgWeb.varBuf[0] = '?';
    if (urlLen + sgWeb.varBufLen > kUrlRoom) return NmsRunError(-1, "sgWeb.varBuf + sgWeb.ulr > 1K");
    std::memcpy(sgWeb.url.data() + urlLen, sgWeb.varBuf.data(), sgWeb.varBufLen);
    sgWeb.url[urlLen + sgWeb.varBufLen] = 0;
    sgWeb.varBufLen = 0;
  }
  if (!v.Post) {
    const std::string_view shown = UrlSecretsMasked(sgWeb.url.data(), room);
    TarvDebugLogEscaped("\nsgWeb.url=[%.*s]", static_cast<int>(shown.size()), shown.data());
  }

  char encoded[3 * WEB_BUF + 1];
  const int urlLen = static_cast<int>(strnlen(sgWeb.url.data(), WEB_BUF));
  if (WebEncodeUrl(sgWeb.url.data(), urlLen, encoded, sizeof encoded) < 0)
    return NmsRunError(-1, "Error %u in WinHttpCrackUrl.", kErrInvalidUrl);
  if (const unsigned err = CrackUrl(encoded); err != 0)
    return NmsRunError(-1, "Error %u in WinHttpCrackUrl.", err);

  CURL* curl = Session(v);
  if (!curl) return NmsRunError(-10, "Error %u in WinHttpOpen.", kErrConnection);
  curl_easy_reset(curl);
  TarvDebugLog("\nWinHttpQueryOption Connection timeout: %u ms",
               static_cast<unsigned>(kConnectTimeoutMs));

  BodySink sink;
  sink.Name = v.Name;
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  // Redirects are followed here, one request each, so that the headers of
  // each can be chosen by where it goes.
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kReceiveTimeoutS);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  // An administrator can name the CA bundle that stands for the system store.
  if (const char* ca = std::getenv("CURL_CA_BUNDLE"); ca && *ca)
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  if (v.Post) {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(bodyLen));
    curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, body);
  }

  // The script's URL names the host its credential headers and its user
  // name and password are for; a redirect to any other (scheme, name or
  // port) gets none of them.
  const Origin home = OriginOf(encoded);
  const UserInfo user = UserInfoOf(encoded);
  std::string target = encoded;
  bool post = v.Post;
  CURLcode rc = CURLE_OK;
  for (int hop = 0;; hop++) {
    const bool sameHost = !home.Host.empty() && OriginOf(target.c_str()) == home;
    curl_slist* headers = BuildHeaders(sameHost, hop == 0);
    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (hop > 0) {
      const bool again = sameHost && user.Given;
      curl_easy_setopt(curl, CURLOPT_USERNAME, again ? user.User.c_str() : nullptr);
      curl_easy_setopt(curl, CURLOPT_PASSWORD, again ? user.Password.c_str() : nullptr);
    }
    sink.Secure = StartsIgnoringCase(target, "https:");
    rc = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    if (rc != CURLE_OK || sink.Low) break;
    char* next = nullptr;
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &next);
    if (!FollowsRedirect(sink)) {
      if (sink.Status >= 300 && sink.Status < 400 && sink.Location) {
        const std::string_view shown = UrlSecretsMasked(next ? next : "", room);
        TarvDebugLogEscaped("\n%s: redirect to [%.*s] not followed", v.Name,
                            static_cast<int>(shown.size()), shown.data());
        HtmlLogWarning("%s: a redirect from https to http is not followed", v.Name);
      }
      break;
    }
    if (hop == kMaxRedirects) {
      rc = CURLE_TOO_MANY_REDIRECTS;
      break;
    }
    if (!next || !*next || std::strlen(next) > 3 * WEB_BUF) {
      rc = CURLE_URL_MALFORMAT;
      break;
    }
    target = next;
    const std::string_view shown = UrlSecretsMasked(target, room);
    TarvDebugLogEscaped("\n%s: redirect to [%.*s]", v.Name, static_cast<int>(shown.size()),
                        shown.data());
    // A moved or seen-other POST goes on as a GET, as browsers do; 307 and
    // 308 send it again with its body.
    if (post && sink.Status >= 301 && sink.Status <= 303) {
      post = false;
      curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    }
  }

  if (sink.RawFits && sink.RawLen > 0 && TarvLogLevel() >= 4) {
    // A cookie the server sets is a credential as much as one sent to it.
    const std::string shown = HeaderBlockMasked({sink.Raw, static_cast<size_t>(sink.RawLen)});
    TarvDebugLogEscaped("Headers Len = %d/strlen=%d {\r\n%s}", sink.RawLen, sink.RawLen,
                        shown.c_str());
  }
  if (sink.Low) return NmsRunError(-22, "%s:text buf is low !", v.Name);
  if (rc != CURLE_OK) {
    const unsigned err = ErrorNumber(rc);
    TarvDebugLog("\n%s: %s", v.Name, curl_easy_strerror(rc));
    if (!sink.Started) return NmsRunError(-11, "Error %u in WinHttpSendRequest.", err);
    return NmsRunError(-23, "%s:Error %u in WinHttpReadData.\n", v.Name, err);
  }
  return TarvReturn(0, "%s return.", v.Name);
}

}  // namespace

int WebEncodeUrl(const char* url, int len, char* dest, int room) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  int out = 0;
  for (int i = 0; i < len; i++) {
    const auto c = static_cast<unsigned char>(url[i]);
    const bool escape = c <= 0x20 || c >= 0x7F;
    if (out + (escape ? 3 : 1) >= room) return -1;
    if (escape) {
      dest[out++] = '%';
      dest[out++] = kHex[c >> 4];
      dest[out++] = kHex[c & 15];
    } else {
      dest[out++] = static_cast<char>(c);
    }
  }
  dest[out] = 0;
  return out;
}

void WebStateClear() {
  if (gSession) curl_easy_cleanup(gSession);
  gSession = nullptr;
  std::memset(static_cast<void*>(&sgWeb), 0, sizeof sgWeb);
}

int web_open_a2() {
  sgRun.StepRunState = ENDOK;
  const int len = igL[2];
  if (len < kUrlArgMin) return NmsRunError(-2, "Length of Arg 2 is :%d  < 3 !", len);
  if (len > kUrlArgMax) return NmsRunError(-2, "Length of Arg 2 is :%d > 1020 !", len);
  std::memcpy(sgWeb.url.data(), agA[2], len);
  sgWeb.url[len] = 0;
  return TarvReturn(0, "web_open_a2 return.");
}

int web_add_var_a3() {
  sgRun.StepRunState = ENDOK;
  if (ArgCheckLength(3, kVarNameMax, -3) != 0) return -3;
  const int nameLen = igL[3];
  char value[WEB_BUF];
  const int valueLen = TarvGetVar4(agA[3], nameLen, value, sizeof value);
  // A pair needs its variable; a missing one must not turn into a pair with
  // a negative length.
  if (valueLen < 0) return NmsRunError(-3, "web_add_var_a3: var <%s> not found !", agA[3]);
  // The pair and the NUL after it must fit.
  if (int64_t{sgWeb.varBufLen} + 2 + nameLen + valueLen + 1 > WEB_BUF)
    return NmsRunError(-9, "VarBuf Too Small,need len=%d, error!", nameLen + valueLen);
  char* p = sgWeb.varBuf.data() + sgWeb.varBufLen;
  *p++ = '&';
  std::memcpy(p, agA[3], nameLen);
  p += nameLen;
  *p++ = '=';
  std::memcpy(p, value, valueLen);
  p[valueLen] = 0;
  sgWeb.varBufLen += nameLen + valueLen + 2;
  return TarvReturn(0, "web_add_var_a3 return.");
}

int web_add_header_a3_value_a5() {
  sgRun.StepRunState = ENDOK;
  if (ArgCheckLength(3, kHeaderArgMax, -3) != 0) return -3;
  // The name is sent without the blanks around it, which would make the
  // header line malformed.
  const char* name = agA[3];
  int nameLen = igL[3];
  while (nameLen > 0 && (name[0] == ' ' || name[0] == '\t')) name++, nameLen--;
  while (nameLen > 0 && (name[nameLen - 1] == ' ' || name[nameLen - 1] == '\t')) nameLen--;
  if (nameLen == 0) return NmsRunError(-3, "Length of Arg 3 is :%d  < 1 !", nameLen);
  const int valueLen = igL[5];
  if (valueLen < 0) return NmsRunError(-5, "Length of Arg 5 is :%d  < 0 !", valueLen);
  if (valueLen > kHeaderArgMax) return NmsRunError(-5, "Length of Arg 5 is :%d > 1020 !", valueLen);
  // A line break would end the header and start another the script never
  // added.
  if (HasCrLf(name, nameLen)) return NmsRunError(-3, "Arg 3 holds CR or LF, error!");
  if (HasCrLf(agA[5], valueLen)) return NmsRunError(-5, "Arg 5 holds CR or LF, error!");
  if (int64_t{sgWeb.HeadLen} + 2 + nameLen + valueLen + 1 > WEB_BUF)
    return NmsRunError(-9, "HeadBuf Too Small,need len=%d, error!", nameLen + valueLen);
  if (sgWeb.headCount >= WEB_HEADERS)
    return NmsRunError(-9, "Head Too Many , Count=%d, error!", sgWeb.headCount);
  const int k = ++sgWeb.headCount;
  sgWeb.HeadOff[k] = sgWeb.HeadLen;
  sgWeb.HeadSize[k] = nameLen + valueLen + 2;
  char* p = sgWeb.HeadBuf.data() + sgWeb.HeadLen;
  std::memcpy(p, name, nameLen);
  p += nameLen;
  *p++ = ':';
  *p++ = ' ';
  std::memcpy(p, agA[5], valueLen);
  p[valueLen] = 0;
  sgWeb.HeadLen += sgWeb.HeadSize[k];
  return TarvReturn(0, "web_add_header_a3_value_a5 return.");
}

int web_get() { return Request({"web_get", false}); }
int web_post() { return Request({"web_post", true}); }

int web_close() {
  sgRun.StepRunState = ENDOK;
  WebStateClear();
  return TarvReturn(0, "web_close return.");
}
