// A mail script through the real binary.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/services/binary_run.h"
#include "tests/services/mail/smtp_peer.h"
#include "tests/services/netdiag/netns_sandbox.h"

namespace {

// Port 465 speaks TLS from the first byte; a namespace of its own gives the
// test that port on loopback.
TEST(MailBinary, ImplicitTlsOnTheSmtpsPort) {
  NETNS_ENTER();
  tarvtest::TempDir dir;
  mailtest::SmtpPeer peer(dir.path().string(), "implicit", "ops", "secret", 465);
  ASSERT_EQ(peer.port(), 465);
  setenv("TARV_MAIL_CAFILE", peer.cert().c_str(), 1);
  EXPECT_EQ(tarvtest::RunSaved(dir, "mail.nms",
                               "smtp.server {127.0.0.1} port {465} username {ops@example.test} password {secret}\n"
                               "smtp.subject {Nightly report} body {All 12 routers answered.%0AThe end.}\n"
                               "smtp.add attachment {" + dir.Write("routers.txt", "r1 up\nr2 up\n") + "}\n"
                               "smtp.send to {noc@example.test}\n"
                               "text.add {~smtp.status~ ~run.errors~}\n"),
            "SEND_MAIL_OK 0");
  EXPECT_EQ(tarvtest::ReadFile(dir.File("mail1.txt")),
            "from=ops@example.test to=noc@example.test login=ops tls=True\n"
            "subject='Nightly report'\ndate=True id=True\n"
            "body='All 12 routers answered.\\r\\nThe end.'\n"
            "attachment=routers.txt text/plain\n");
  EXPECT_EQ(tarvtest::ReadFile(dir.File("mail1.att1")), "r1 up\nr2 up\n");
}

}  // namespace
