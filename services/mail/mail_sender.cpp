#include "services/mail/mail_sender.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

namespace tarv::mail {

namespace {

constexpr std::string_view kBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(std::string_view in) {
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= in.size(); i += 3) {
    const std::uint32_t n = (std::uint32_t(std::uint8_t(in[i])) << 16) |
                            (std::uint32_t(std::uint8_t(in[i + 1])) << 8) | std::uint8_t(in[i + 2]);
    out += kBase64[(n >> 18) & 63];
    out += kBase64[(n >> 12) & 63];
    out += kBase64[(n >> 6) & 63];
    out += kBase64[n & 63];
  }
  if (const std::size_t rest = in.size() - i; rest > 0) {
    std::uint32_t n = std::uint32_t(std::uint8_t(in[i])) << 16;
    if (rest == 2) n |= std::uint32_t(std::uint8_t(in[i + 1])) << 8;
    out += kBase64[(n >> 18) & 63];
    out += kBase64[(n >> 12) & 63];
    out += rest == 2 ? kBase64[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// Base64 in lines of 76 characters, each ended by CRLF.
std::string Base64Lines(std::string_view in) {
  const std::string b = Base64(in);
  std::string out;
  out.reserve(b.size() + b.size() / 38 + 2);
  for (std::size_t i = 0; i < b.size(); i += 76) {
    out.append(b, i, 76);
    out += "\r\n";
  }
  return out;
}

// Text line breaks in their canonical form: CRLF, whether written as LF, CR
// or CRLF.
std::string CanonicalLines(std::string_view in) {
  std::string out;
  out.reserve(in.size() + in.size() / 16);
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\r') {
      out += "\r\n";
      if (i + 1 < in.size() && in[i + 1] == '\n') ++i;
    } else if (in[i] == '\n') {
      out += "\r\n";
    } else {
      out += in[i];
    }
  }
  return out;
}

bool PlainHeaderText(std::string_view s) {
  return s.size() <= 900 && std::all_of(s.begin(), s.end(), [](char c) {
           return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
         });
}

// A file name as a parameter of Content-Type and Content-Disposition: quoted
// when plain ASCII, else in the UTF-8 form of extended parameters.
std::string FileNameParameter(std::string_view attr, std::string_view name) {
  const bool plain = PlainHeaderText(name) && name.find_first_of("\"\\") == std::string_view::npos;
  if (plain) return std::string(attr) + "=\"" + std::string(name) + "\"";
  std::string out = std::string(attr) + "*=UTF-8''";
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
      out += ch;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string RfcDate() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S %z", &tm);
  return buf;
}

std::string HostName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "localhost";
  return host;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

struct Upload {
  std::string_view data;
  std::size_t pos = 0;
};

std::size_t ReadUpload(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto* up = static_cast<Upload*>(user);
  const std::size_t n = std::min(size * count, up->data.size() - up->pos);
  std::copy_n(up->data.data() + up->pos, n, buffer);
  up->pos += n;
  return n;
}

// Cuts the connections of one send at its deadline. libcurl waits for the
// answer to the mail's final dot with a response time-out of its own that
// the transfer's time-out does not shorten; shutting the socket down ends
// that wait at once. The sockets are opened and closed through here, so a
// descriptor is never touched after libcurl has closed it.
class DeadlineCutter {
 public:
  explicit DeadlineCutter(std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (!deadline) return;
    timer_ = std::thread([this, end = *deadline] {
      std::unique_lock lock(mutex_);
      if (wake_.wait_until(lock, end, [this] { return done_; })) return;
      fired_ = true;
      for (const curl_socket_t fd : open_) shutdown(fd, SHUT_RDWR);
    });
  }
  ~DeadlineCutter() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    if (timer_.joinable()) timer_.join();
  }
  DeadlineCutter(const DeadlineCutter&) = delete;
  DeadlineCutter& operator=(const DeadlineCutter&) = delete;

  void Attach(CURL* c) {
    curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, OpenSocket);
    curl_easy_setopt(c, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(c, CURLOPT_CLOSESOCKETFUNCTION, CloseSocket);
    curl_easy_setopt(c, CURLOPT_CLOSESOCKETDATA, this);
  }
  bool fired() {
    std::lock_guard lock(mutex_);
    return fired_;
  }

 private:
  static curl_socket_t OpenSocket(void* self, curlsocktype, curl_sockaddr* a) {
    auto* me = static_cast<DeadlineCutter*>(self);
    std::lock_guard lock(me->mutex_);
    if (me->fired_) return CURL_SOCKET_BAD;
    const curl_socket_t fd = socket(a->family, a->socktype | SOCK_CLOEXEC, a->protocol);
    if (fd != CURL_SOCKET_BAD) me->open_.push_back(fd);
    return fd;
  }
  static int CloseSocket(void* self, curl_socket_t fd) {
    auto* me = static_cast<DeadlineCutter*>(self);
    std::lock_guard lock(me->mutex_);
    me->open_.erase(std::remove(me->open_.begin(), me->open_.end(), fd), me->open_.end());
    return close(fd);
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<curl_socket_t> open_;
  bool done_ = false;
  bool fired_ = false;
  std::thread timer_;
};

// The host part of an SMTP URL: an IPv6 address goes in brackets.
std::string UrlHost(const std::string& host) {
  if (host.find(':') != std::string::npos && host.front() != '[') return "[" + host + "]";
  return host;
}

}  // namespace

std::string_view ContentTypeFor(std::string_view file_name) {
  struct Row {
    std::string_view ext, type;
  };
  static constexpr Row kTypes[] = {
      {"txt", "text/plain"},        {"log", "text/plain"},         {"csv", "text/csv"},
      {"htm", "text/html"},         {"html", "text/html"},         {"xml", "application/xml"},
      {"json", "application/json"}, {"pdf", "application/pdf"},    {"zip", "application/zip"},
      {"gz", "application/gzip"},   {"png", "image/png"},          {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},       {"gif", "image/gif"},          {"bmp", "image/bmp"},
      {"wav", "audio/wav"},         {"doc", "application/msword"}, {"xls", "application/vnd.ms-excel"},
      {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
  };
  const std::size_t dot = file_name.rfind('.');
  if (dot == std::string_view::npos) return "application/octet-stream";
  std::string ext(file_name.substr(dot + 1));
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const Row& r : kTypes)
    if (r.ext == ext) return r.type;
  return "application/octet-stream";
}

std::optional<Attachment> LoadAttachment(const std::string& path, std::uint64_t already,
                                         std::string& error) {
  if (HasLineBreak(path)) {
    error = "Attachment path holds a line break";
    return std::nullopt;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    error = "File not found: " + path;
    return std::nullopt;
  }
  const std::uint64_t size = std::filesystem::file_size(path, ec);
  if (ec || already + size > kMaxAttachmentBytes) {
    error = "Attachments too large: " + path;
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  Attachment a;
  a.bytes.resize(size);
  if (!in.read(a.bytes.data(), static_cast<std::streamsize>(size))) {
    error = "Cannot read file: " + path;
    return std::nullopt;
  }
  a.name = std::filesystem::path(path).filename().string();
  a.content_type = std::string(ContentTypeFor(a.name));
  return a;
}

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The entries of a To text, trimmed, without the empty ones. Separators
// inside a quoted display name do not count.
std::vector<std::string_view> ListEntries(std::string_view to) {
  std::vector<std::string_view> out;
  auto take = [&out](std::string_view part) {
    if (part = Trim(part); !part.empty()) out.push_back(part);
  };
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < to.size(); ++i) {
    if (to[i] == '"') quoted = !quoted;
    if (!quoted && (to[i] == ',' || to[i] == ';')) {
      take(to.substr(start, i - start));
      start = i + 1;
    }
  }
  take(to.substr(start));
  return out;
}

}  // namespace

std::vector<std::string> SplitAddresses(std::string_view to) {
  std::vector<std::string> out;
  for (std::string_view part : ListEntries(to)) {
    const std::size_t lt = part.rfind('<');
    const std::size_t gt = part.rfind('>');
    if (lt != std::string_view::npos && gt != std::string_view::npos && gt > lt)
      part = Trim(part.substr(lt + 1, gt - lt - 1));
    if (!part.empty()) out.emplace_back(part);
  }
  return out;
}

std::string AddressHeader(std::string_view name, std::string_view to) {
  // Mail readers know only ',' between addresses; long lists are folded
  // after a comma.
  std::string out(name);
  out += ':';
  std::size_t line = out.size();
  bool first = true;
  for (const std::string_view entry : ListEntries(to)) {
    if (!first) {
      out += ',';
      ++line;
    }
    if (!first && line + 1 + entry.size() > 76) {
      out += "\r\n";
      line = 0;
    }
    out += ' ';
    out += entry;
    line += 1 + entry.size();
    first = false;
  }
  return out;
}

std::string EncodeSubject(std::string_view subject) {
  if (PlainHeaderText(subject)) return std::string(subject);
  // Encoded-words of at most 75 characters: 45 bytes of text each (39 on
  // the first line, which "Subject: " starts), cut only between UTF-8
  // characters.
  std::string out;
  std::size_t i = 0;
  while (i < subject.size()) {
    std::size_t n = std::min<std::size_t>(out.empty() ? 39 : 45, subject.size() - i);
    while (n > 1 && i + n < subject.size() &&
           (static_cast<unsigned char>(subject[i + n]) & 0xC0) == 0x80)
      --n;
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + Base64(subject.substr(i, n)) + "?=";
    i += n;
  }
  return out;
}

std::string ComposeMessage(const Message& m, std::uint64_t seed) {
  char unique[64];
  std::snprintf(unique, sizeof unique, "%llx.%lx.%d", static_cast<unsigned long long>(seed),
                static_cast<long>(std::time(nullptr)), static_cast<int>(getpid()));
  std::string out;
  out += "Date: " + RfcDate() + "\r\n";
  out += "Message-ID: <" + std::string(unique) + "@" + HostName() + ">\r\n";
  out += "From: " + m.from + "\r\n";
  out += AddressHeader("To", m.to) + "\r\n";
  out += "Subject: " + EncodeSubject(m.subject) + "\r\n";
  out += "MIME-Version: 1.0\r\n";
  const std::string text_headers =
      "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
  const std::string text = Base64Lines(CanonicalLines(m.body));
  if (m.attachments.empty()) {
    out += text_headers + text;
    return out;
  }
  const std::string boundary = "=_tarv_" + std::string(unique);
  out += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
  out += "This is a multi-part message in MIME format.\r\n";
  out += "--" + boundary + "\r\n" + text_headers + text;
  for (const Attachment& a : m.attachments) {
    out += "--" + boundary + "\r\n";
    out += "Content-Type: " + a.content_type + "; " + FileNameParameter("name", a.name) + "\r\n";
    out += "Content-Transfer-Encoding: base64\r\n";
    out += "Content-Disposition: attachment; " + FileNameParameter("filename", a.name) + "\r\n\r\n";
    out += Base64Lines(a.bytes);
  }
  out += "--" + boundary + "--\r\n";
  return out;
}

std::string Send(const Server& server, const Message& m,
                 std::optional<std::chrono::steady_clock::time_point> deadline) {
  if (HasLineBreak(m.from) || HasLineBreak(m.to)) return "Sender or recipient holds a line break";
  if (server.host.empty()) return "No SMTP server";
  if (server.port < 1 || server.port > 65535) return "Invalid SMTP port";
  const std::vector<std::string> recipients = SplitAddresses(m.to);
  if (recipients.empty()) return "No recipient";
  const std::vector<std::string> senders = SplitAddresses(m.from);

  static const CURLcode global = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (global != CURLE_OK) return curl_easy_strerror(global);
  // Declared first: libcurl closes its sockets through it until the handle
  // is cleaned up.
  DeadlineCutter cutter(deadline);
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return "Cannot start the SMTP client";
  CURL* c = curl.get();
  cutter.Attach(c);

  const bool implicit_tls = server.implicit_tls;
  const std::string url = std::string(implicit_tls ? "smtps://" : "smtp://") + UrlHost(server.host) +
                          ":" + std::to_string(server.port);
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  // TLS asked for is TLS required: a server (or a man in the middle) that
  // offers no STARTTLS gets neither the login nor the mail.
  const bool starttls = !implicit_tls && server.use_tls;
  if (starttls) curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  if (const char* ca = std::getenv(kCaFileEnv); ca && *ca) curl_easy_setopt(c, CURLOPT_CAINFO, ca);
  if (server.authenticate) {
    curl_easy_setopt(c, CURLOPT_USERNAME, server.user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, server.password.c_str());
  }
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, static_cast<long>(std::max(1, server.connect_timeout_s)));
  if (deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        *deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return "Timed out";
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
  }
  const std::string mail_from = "<" + (senders.empty() ? std::string() : senders.front()) + ">";
  curl_easy_setopt(c, CURLOPT_MAIL_FROM, mail_from.c_str());
  curl_slist* list = nullptr;
  for (const std::string& r : recipients) {
    curl_slist* next = curl_slist_append(list, ("<" + r + ">").c_str());
    if (!next) {
      curl_slist_free_all(list);
      return "Out of memory";
    }
    list = next;
  }
  std::unique_ptr<curl_slist, SlistDeleter> rcpt(list);
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt.get());

  static std::uint64_t sent = 0;
  const std::string text = ComposeMessage(m, ++sent);
  Upload up{text};
  curl_easy_setopt(c, CURLOPT_READFUNCTION, ReadUpload);
  curl_easy_setopt(c, CURLOPT_READDATA, &up);
  curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
  char errbuf[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
  const CURLcode rc = curl_easy_perform(c);
  if (rc == CURLE_OK) return {};
  if (cutter.fired()) return curl_easy_strerror(CURLE_OPERATION_TIMEDOUT);
  if (rc == CURLE_USE_SSL_FAILED && starttls)
    return "TLS is required but the server did not start it (no STARTTLS); nothing was sent";
  std::string why = curl_easy_strerror(rc);
  if (errbuf[0]) why += std::string(": ") + errbuf;
  return why;
}

}  // namespace tarv::mail
