// Sending one mail over SMTP: the MIME message is composed here and handed to
// libcurl, which speaks SMTP (implicit TLS, or STARTTLS when asked for, and
// then required) and logs in with AUTH.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarv::mail {

struct Attachment {
  std::string name;          // the file name shown to the recipient
  std::string content_type;  // from the name's extension
  std::string bytes;
};

struct Message {
  std::string from;
  std::string to;  // one or more addresses separated by ',' or ';'
  std::string subject;
  std::string body;
  std::vector<Attachment> attachments;
};

struct Server {
  std::string host;
  int port = 25;
  bool authenticate = false;
  std::string user;
  std::string password;
  bool implicit_tls = false;  // TLS from the first byte (SMTPS)
  bool use_tls = false;       // else STARTTLS, required: no login or mail in clear
  int connect_timeout_s = 60;
};

// Attachments larger than this in all are refused: they would have to sit in
// memory twice while the message is sent.
inline constexpr std::uint64_t kMaxAttachmentBytes = 64u << 20;

// The environment setting naming a file of CA certificates trusted for the
// server's certificate in place of the system's store.
inline constexpr const char* kCaFileEnv = "TARV_MAIL_CAFILE";

// The port of SMTP over TLS from the first byte.
inline constexpr int kSmtpsPort = 465;

// Content type for a file name by its extension; application/octet-stream
// when unknown.
std::string_view ContentTypeFor(std::string_view file_name);

// Reads a file to attach; nothing (with `error` set) when it cannot be read
// or is too large.
std::optional<Attachment> LoadAttachment(const std::string& path, std::uint64_t already,
                                         std::string& error);

// The addresses of a To text, each without a display name: "A <a@x>, b@y"
// gives a@x and b@y.
std::vector<std::string> SplitAddresses(std::string_view to);

// An address header ("To") of a To text: the entries separated by ',' or ';'
// written as a comma-separated list, folded before 76 columns where an entry
// allows it. No CRLF at the end.
std::string AddressHeader(std::string_view name, std::string_view to);

// The whole message with CRLF line ends: headers (Date, Message-ID, From, To,
// Subject as UTF-8 encoded-words when needed, MIME-Version) and the body, in
// base64 so that any text and line length survive; multipart/mixed when
// there are attachments. `boundary_seed` makes the boundary and Message-ID
// unique.
std::string ComposeMessage(const Message& m, std::uint64_t boundary_seed);

// A subject as header text: plain when printable ASCII, else UTF-8
// encoded-words folded to lines of at most 76 characters, the first line
// counted with the "Subject: " before it.
std::string EncodeSubject(std::string_view subject);

// Sends the message. Empty on success, else what went wrong. Refuses CR or LF
// in the sender or the recipients. With `use_tls` a server that does not
// start TLS gets no login and no mail. Gives up at `deadline`.
std::string Send(const Server& server, const Message& m,
                 std::optional<std::chrono::steady_clock::time_point> deadline);

}  // namespace tarv::mail
