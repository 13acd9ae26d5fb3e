// Mail sent to a real SMTP server on loopback, read back by Python's email
// module: TLS both ways, login, subjects, bodies and attachments.
#include "services/mail/mail_sender.h"

#include <gtest/gtest.h>

#include <cstdlib>

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
  Message m;
  m.from = "me@example.test";
  m.to = "you@example.test";
  m.subject = "plain";
  Server s = To(peer, "right");
  s.implicit_tls = true;
  ASSERT_EQ(tarv::mail::Send(s, m, Soon()), "");
  EXPECT_NE(tarvtest::ReadFile(dir.File("mail1.txt")).find("tls=True\nsubject='plain'"), std::string::npos);
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

}  // namespace
