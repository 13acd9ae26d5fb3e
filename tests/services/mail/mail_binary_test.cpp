// Mail and workbook scripts through the real binary.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
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
  const std::string script = dir.Write(
      "mail.nms",
      "smtp.server {127.0.0.1} port {465} username {ops@example.test} password {secret}\n"
      "smtp.subject {Nightly report} body {All 12 routers answered.%0AThe end.}\n"
      "smtp.add attachment {" + dir.Write("routers.txt", "r1 up\nr2 up\n") + "}\n"
      "smtp.send to {noc@example.test}\n"
      "text.add {~smtp.status~ ~run.errors~}\n"
      "text.headpointer move to head\n"
      "text.tailpointer move to tail\n"
      "text.save to file {out.txt}\n");
  const auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(dir.File("out.txt")), "SEND_MAIL_OK 0");
  EXPECT_EQ(tarvtest::ReadFile(dir.File("mail1.txt")),
            "from=ops@example.test to=noc@example.test login=ops tls=True\n"
            "subject='Nightly report'\ndate=True id=True\n"
            "body='All 12 routers answered.\\r\\nThe end.'\n"
            "attachment=routers.txt text/plain\n");
  EXPECT_EQ(tarvtest::ReadFile(dir.File("mail1.att1")), "r1 up\nr2 up\n");
}

TEST(MailBinary, WorkbookCountersUpdatedInPlace) {
  tarvtest::TempDir dir;
  const std::string book = dir.File("counters.xlsx");
  const std::string make = dir.Write("make.py", "import openpyxl\nwb = openpyxl.Workbook(); ws = wb.active\n"
                                                "ws.title = 'Links'; ws['A1'] = 'router'; ws['B1'] = 'errors'\n"
                                                "ws['A2'] = 'r1'; ws['B2'] = 41\nwb.save('" + book + "')\n");
  ASSERT_EQ(std::system(("/usr/bin/python3 " + make).c_str()), 0);
  const std::string script = dir.Write(
      "count.nms",
      "excel.open {" + book + "} sheet {Links}\n"
      "excel.get var {n} cell {B2}\n"
      "var {n} add number {1}\n"
      "excel.cell {B2} value {~n~}\n"
      "excel.get var {again} cell {B2}\n"
      "excel.close\n"
      "text.add {~again~ ~run.errors~}\n"
      "text.headpointer move to head\n"
      "text.tailpointer move to tail\n"
      "text.save to file {out.txt}\n");
  const auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(dir.File("out.txt")), "42 0");
  const std::string check = dir.Write("check.py", "import openpyxl\nws = openpyxl.load_workbook('" + book +
                                                      "')['Links']\nprint(ws['B2'].value, ws['A1'].value)\n");
  const auto py = tarvtest::RunProgram("/usr/bin/python3", {check}, dir.path().string());
  EXPECT_EQ(py.output, "42 router\n");
}

}  // namespace
