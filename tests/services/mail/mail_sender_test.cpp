// Mail sent to a real SMTP server on loopback, read back by Python's email
// module: TLS both ways, login, subjects, bodies and attachments.
#include "services/mail/mail_sender.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "tests/engine/harness.h"
#include "tests/services/mail/smtp_peer.h"

namespace {

using tarv::mail::Attachment;
using tarv::mail::Message;
using tarv::mail::Server;

Server To(const mailtest::SmtpPeer& peer, const std::string& password) {
  setenv(tarv::mail::kCaFileEnv, peer.cert().c_str(), 1);
  Server s;
  s.host = "127.0.0.1";
  s.port = peer.port();
  s.authenticate = true;
  s.user = "me@example.test";
  s.password = password;
  s.use_tls = true;
  s.connect_timeout_s = 10;
  return s;
}

Message PlainMail() {
  Message m;
  m.from = "me@example.test";
  m.to = "you@example.test";
  m.subject = "plain";
  return m;
}

std::optional<std::chrono::steady_clock::time_point> Soon() {
  return std::chrono::steady_clock::now() + std::chrono::seconds(30);
}

TEST(MailSender, StartTlsLoginSubjectBodyAndAttachmentsInOrder) {
  tarvtest::TempDir dir;
  mailtest::SmtpPeer peer(dir.path().string(), "starttls", "me@example.test", "pa\"ss wörd");
  ASSERT_GT(peer.port(), 0);
  Message m;
  m.from = "me@example.test";
  m.to = "you@example.test; Second <two@example.test>";
  // Two lines, non-ASCII, long enough to need several encoded-words.
  m.subject = "Bericht\nÜber die Nacht: 中文字符 und noch viel mehr Text dahinter, ganz lang";
  m.body = "line1\nline2\r\n中文 ü\n";
  std::string error;
  const std::string binary("\x00\x01\xff\r\nend", 7);
  auto first = tarv::mail::LoadAttachment(dir.Write("report.csv", binary), 0, error);
  auto second = tarv::mail::LoadAttachment(dir.Write("bild ü.png", "PNG"), 0, error);
  ASSERT_TRUE(first && second) << error;
  m.attachments = {*first, *second};
  ASSERT_EQ(tarv::mail::Send(To(peer, "pa\"ss wörd"), m, Soon()), "");
  EXPECT_EQ(tarvtest::ReadFile(dir.File("mail1.txt")),
            "from=me@example.test to=you@example.test,two@example.test login=me@example.test tls=True\n"
            "to_header=['you@example.test', 'two@example.test']\n"
            "subject='Bericht\\nÜber die Nacht: 中文字符 und noch viel mehr Text dahinter, ganz lang'\n"
            "date=True id=True\n"
            "body='line1\\r\\nline2\\r\\n中文 ü\\r\\n'\n"
            "attachment=report.csv text/csv\n"
            "attachment=bild ü.png image/png\n");
  EXPECT_EQ(tarvtest::ReadFile(dir.File("mail1.att1")), binary);
  EXPECT_EQ(tarvtest::ReadFile(dir.File("mail1.att2")), "PNG");
}

TEST(MailSender, ImplicitTlsAndFailures) {
  tarvtest::TempDir dir;
  mailtest::SmtpPeer peer(dir.path().string(), "implicit", "me@example.test", "right");
  ASSERT_GT(peer.port(), 0);
  const Message m = PlainMail();
  Server s = To(peer, "right");
  s.implicit_tls = true;
  ASSERT_EQ(tarv::mail::Send(s, m, Soon()), "");
  EXPECT_NE(tarvtest::ReadFile(dir.File("mail1.txt")).find("tls=True\nto_header=['you@example.test']\nsubject='plain'"),
            std::string::npos);
  // Each of these fails with a reason and sends nothing.
  Server wrong = s;
  wrong.password = "wrong";
  Server plain = s;  // a TLS server spoken to in clear text
  plain.implicit_tls = false;
  plain.use_tls = false;
  plain.connect_timeout_s = 2;
  Server closed = s;
  closed.port = 1;
  EXPECT_NE(tarv::mail::Send(wrong, m, Soon()), "");
  EXPECT_NE(tarv::mail::Send(plain, m, std::chrono::steady_clock::now() + std::chrono::seconds(3)), "");
  EXPECT_NE(tarv::mail::Send(closed, m, Soon()), "");
  EXPECT_FALSE(std::filesystem::exists(dir.File("mail2.txt")));
}

// (A missing attachment is the statements' business.)
TEST(MailSender, AddressesAndContentTypes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(tarv::mail::SplitAddresses(" A <a@x> ,b@y;; \"C, D\" <c@z>"), (V{"a@x", "b@y", "c@z"}));
  EXPECT_EQ(tarv::mail::SplitAddresses(""), V{});
  EXPECT_EQ(tarv::mail::ContentTypeFor("x.PDF"), "application/pdf");
  EXPECT_EQ(tarv::mail::ContentTypeFor("archive.tar.gz"), "application/gzip");
  EXPECT_EQ(tarv::mail::ContentTypeFor("noext"), "application/octet-stream");
  // Encoded-words never split a UTF-8 character and stay within 76 columns.
  const std::string subject = tarv::mail::EncodeSubject(std::string(60, 'a') + "中文中文中文中文中文中文中文中文中文");
  std::size_t start = 0;
  while (start < subject.size()) {
    const std::size_t end = std::min(subject.find("\r\n", start), subject.size());
    EXPECT_LE(end - start, 76u);
    start = end + 2;
  }
}

// A server that offers no STARTTLS (or a man in the middle that strips it)
// gets neither the login nor the mail when TLS is asked for; the same
// server takes both in clear text when it is not, so it is listening.
TEST(MailSender, TlsAskedForIsRequired) {
  tarvtest::TempDir dir;
  mailtest::SmtpPeer peer(dir.path().string(), "plain", "me@example.test", "secret");
  ASSERT_GT(peer.port(), 0);
  const Message m = PlainMail();
  Server s = To(peer, "secret");
  EXPECT_EQ(tarv::mail::Send(s, m, Soon()),
            "TLS is required but the server did not start it (no STARTTLS); nothing was sent");
  EXPECT_FALSE(std::filesystem::exists(dir.File("auth.txt")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("mail1.txt")));
  s.use_tls = false;
  ASSERT_EQ(tarv::mail::Send(s, m, Soon()), "");
  EXPECT_EQ(tarvtest::ReadFile(dir.File("auth.txt")), "PLAIN b'me@example.test'\n");
  EXPECT_NE(tarvtest::ReadFile(dir.File("mail1.txt")).find("tls=False"), std::string::npos);
}

std::string FromBase64(std::string_view in) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::uint32_t bits = 0;
  int have = 0;
  for (const char c : in) {
    if (c == '=') break;
    const std::size_t v = kAlphabet.find(c);
    if (v == std::string_view::npos) ADD_FAILURE() << "not base64: " << in;
    bits = (bits << 6) | static_cast<std::uint32_t>(v & 63);
    if ((have += 6) >= 8) out += static_cast<char>((bits >> (have -= 8)) & 0xFF);
  }
  return out;
}

bool ValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    out.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "the message ends without CRLF";
  return out;
}

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// Readers that decode each encoded-word alone see mojibake where a word
// ends inside a character; transports cut lines past 76 columns.
TEST(MailSender, EncodedWordsAndBase64LinesKeepTheirLimits) {
  struct Case {
    std::string subject, body;
    std::size_t attachment;
  };
  const Case cases[] = {
      {"a" + Repeat("é", 40), "", 0},
      {Repeat("é", 40), std::string(57, 'x'), 57},
      {"ab" + Repeat("中", 30), std::string(58, 'y'), 1000},
      {"x" + Repeat("😀", 25) + "ü", Repeat("zeile\n", 40), 56},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subject);
    Message m = PlainMail();
    m.subject = c.subject;
    m.body = c.body;
    if (c.attachment) m.attachments.push_back({"a.bin", "application/octet-stream", std::string(c.attachment, '\xfe')});
    const std::vector<std::string> lines = Lines(tarv::mail::ComposeMessage(m, 1));
    std::string subject;
    bool in_subject = false;
    for (const std::string& line : lines) {
      if (!line.starts_with("Message-ID:")) {
        EXPECT_LE(line.size(), 76u) << line;
      }
      in_subject = line.starts_with("Subject: ") || (in_subject && line.starts_with(" "));
      if (!in_subject) continue;
      const std::string word = line.substr(line.find(' ') + 1);
      ASSERT_TRUE(word.starts_with("=?UTF-8?B?") && word.ends_with("?=")) << word;
      const std::string text = FromBase64(std::string_view(word).substr(10, word.size() - 12));
      EXPECT_TRUE(ValidUtf8(text)) << word;
      subject += text;
    }
    EXPECT_EQ(subject, c.subject);
  }
}

TEST(MailSender, SemicolonsBecomeCommasInTheToHeader) {
  struct Case {
    std::string to, header;
  };
  const Case cases[] = {
      {"a@x;b@y", "To: a@x, b@y"},
      {" a@x ;; B <b@y>, ", "To: a@x, B <b@y>"},
      {"\"Doe; John\" <j@x>; k@y", "To: \"Doe; John\" <j@x>, k@y"},
      {Repeat("abcdefghijklmnopqrs@example.test;", 3),
       "To: abcdefghijklmnopqrs@example.test, abcdefghijklmnopqrs@example.test,\r\n"
       " abcdefghijklmnopqrs@example.test"},
  };
  for (const Case& c : cases) EXPECT_EQ(tarv::mail::AddressHeader("To", c.to), c.header) << c.to;
}

}  // namespace
