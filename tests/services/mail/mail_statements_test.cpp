// smtp.* and excel.* run as script statements: the scripts they build, the
// argument rules, and their effect on a real SMTP server and real workbooks;
// and a mail script through the binary.
#include "services/mail/mail_statements.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "services/mail/host_objects.h"
#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/services/binary_run.h"
#include "tests/services/mail/smtp_peer.h"
#include "tests/services/netdiag/netns_sandbox.h"
#include "tests/services/statement_checks.h"

namespace {

using Strings = std::vector<std::string>;

// Runs a Python program with Debian's interpreter and gives its output.
std::string Python(const tarvtest::TempDir& dir, const std::string& program) {
  const std::string file = dir.Write("prog.py", program);
  const std::string out = dir.File("prog.out");
  const std::string cmd = "/usr/bin/python3 " + file + " > " + out + " 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << tarvtest::ReadFile(out);
  return tarvtest::ReadFile(out);
}

TEST(MailScripts, EachScriptCreatesOnlyItsOwnObject) {
  tarv::hostobj::SingleClassFactory mail(tarv::hostobj::kMailClass);
  EXPECT_NE(mail.Create("cdo.MESSAGE"), nullptr);
  EXPECT_EQ(mail.Create("Excel.Application"), nullptr);
  EXPECT_EQ(mail.Create("Scripting.FileSystemObject"), nullptr);
  tarv::hostobj::SingleClassFactory voice(tarv::hostobj::kVoiceClass);
  EXPECT_NE(voice.Create("SAPI.SpVoice"), nullptr);
  EXPECT_EQ(voice.Create("WScript.Shell"), nullptr);
}

TEST(MailStatements, ArgumentRules) {
  tarvtest::TempDir dir;
  const std::string n102(102, 'a'), n113(113, 'b');
  std::string script = "smtp.server {} port {0} username {u} password {p}\n"
                       "smtp.server {} port {x1} username {u} password {p}\n"
                       "smtp.server {h} port {65536} username {u} password {p}\n"
                       "smtp.server {} port {65535} username {} password {}\n"
                       "smtp.server {} port {65535} username {} password {p}\n";
  for (int i = 0; i < 10; ++i) script += "smtp.add attachment {" + n102 + "}\n";
  script += "smtp.add attachment {c}\n";
  script += "smtp.server {} port {25} username {} password {p}\n";
  for (int i = 0; i < 9; ++i) script += "smtp.add attachment {" + n113 + "}\n";
  script += "smtp.add attachment {}\n"
            "smtp.add attachment {dddd}\n"
            "smtp.add attachment {ddd}\n"
            "excel.get var {" + std::string(63, 'v') + "} cell {A1}\n"
            "excel.get var {v} cell {" + std::string(21, 'A') + "}\n"
            "excel.cell {" + std::string(21, 'A') + "} value {1}\n";
  tarvtest::Run(dir, script);
  EXPECT_EQ(tarvtest::RunErrors(), (Strings{"Arg:4=0  < 1 !", "Arg:4 is not integer !", "Arg:4=65536 > 65535 !",
                                            "Length of Arg 8 is :0  < 1 !", "Arg:3, All attchment > 10 !",
                                            "Arg:3, All attchmentLen =1021 > 1020 !",
                                            "Length of Arg 3 is :63 > 62 !", "Length of Arg 5 is :21 > 20 !",
                                            "Length of Arg 2 is :21 > 20 !"}));
  // The last accepted name filled the record exactly.
  EXPECT_EQ(sgSmtp.AttachLen[9], 3);
  EXPECT_EQ(std::string(sgSmtp.AttachNames + 9 * 113, 3), "ddd");
}

TEST(MailStatements, SendsThroughTheScriptAndMasksThePassword) {
  tarvtest::TempDir dir;
  // The script logs in with the part of the user name before its at sign.
  mailtest::SmtpPeer peer(dir.path().string(), "starttls", "me", "pa\"ss");
  ASSERT_GT(peer.port(), 0);
  setenv("TARV_MAIL_CAFILE", peer.cert().c_str(), 1);
  std::filesystem::create_directory(dir.path() / "log");  // the run logs there
  const std::string a = dir.Write("a.txt", "first\n");
  const std::string b = dir.Write("b \"q\".bin", std::string("\x00\x01\x02", 3));
  const std::string server = "smtp.server {127.0.0.1} port {" + std::to_string(peer.port()) +
                             "} username {me@example.test} password {";
  tarvtest::Run(dir, "run.set loglevel {debug}\n" + server +
                         "pa\"ss}\n"
                         "smtp.subject {Zwei%0AZeilen \"quoted\" ü} body {Hallo%0D%0AWelt}\n"
                         "smtp.add attachment {" + a + "}\n"
                         "smtp.add attachment {" + b + "}\n"
                         "smtp.send to {a-very-long-address@example.test}\n"
                         "smtp.send to {you@example.test}\n"
                         "var {ok} value {~smtp.status~}\n"
                         "smtp.send to {x@example.test%0D%0ABcc: evil@example.test}\n"
                         "var {injected} value {~smtp.status~}\n" +
                         server + "wrong}\n"
                         "smtp.send to {you@example.test}\n"
                         "var {refused} value {~smtp.status~}\n" +
                         server + "pa\"ss}\n"
                         "smtp.add attachment {" + dir.File("missing.txt") + "}\n"
                         "smtp.send to {you@example.test}\n"
                         "var {missing} value {~smtp.status~}\n");
  EXPECT_EQ(tarvtest::Vars({"ok", "injected", "refused", "missing"}),
            "SEND_MAIL_OK|SEND_MAIL_ERROR|SEND_MAIL_ERROR|SEND_MAIL_ERROR");
  const Strings errors = tarvtest::RunErrors();
  ASSERT_EQ(errors.size(), 3u) << ::testing::PrintToString(errors);
  EXPECT_EQ(errors[0], "smtp.send mail,Error:The message could not be sent to the SMTP server. "
                       "Sender or recipient holds a line break");
  EXPECT_EQ(errors[1].rfind("smtp.send mail,Error:The message could not be sent to the SMTP server. Login denied", 0), 0u)
      << errors[1];
  EXPECT_EQ(errors[2], "smtp.send mail,Error:File not found: " + dir.File("missing.txt"));
  // Sending again to a shorter address uses exactly that address.
  const std::string second = tarvtest::ReadFile(dir.File("mail2.txt"));
  EXPECT_EQ(second,
            "from=me@example.test to=you@example.test login=me tls=True\n"
            "to_header=['you@example.test']\n"
            "subject='Zwei\\nZeilen \"quoted\" ü'\n"
            "date=True id=True\n"
            "body='Hallo\\r\\nWelt'\n"
            "attachment=a.txt text/plain\n"
            "attachment=b \"q\".bin application/octet-stream\n");
  EXPECT_EQ(tarvtest::ReadFile(dir.File("mail2.att2")), std::string("\x00\x01\x02", 3));
  EXPECT_FALSE(std::filesystem::exists(dir.File("mail3.txt")));
  const std::string html = tarvtest::LogsIn(dir);
  // The script's copy in the log hides the password (the statement's own
  // line is logged as written).
  EXPECT_EQ(html.find("pa\"\"ss"), std::string::npos);
  EXPECT_NE(html.find("Const Password = \"********\""), std::string::npos);
}

// The template always asks for TLS: a server without STARTTLS gets no login
// and no mail. Recipients given with ';' all stand in the To header.
TEST(MailStatements, TlsRequiredAndEveryRecipientInTheHeader) {
  tarvtest::TempDir dir;
  tarvtest::TempDir plain_dir;
  mailtest::SmtpPeer peer(dir.path().string(), "starttls", "me", "secret");
  mailtest::SmtpPeer plain(plain_dir.path().string(), "plain", "me", "secret");
  ASSERT_GT(peer.port(), 0);
  ASSERT_GT(plain.port(), 0);
  setenv("TARV_MAIL_CAFILE", peer.cert().c_str(), 1);
  const auto server = [](int port) {
    return "smtp.server {127.0.0.1} port {" + std::to_string(port) + "} username {me@example.test} password {secret}\n";
  };
  tarvtest::Run(dir, server(peer.port()) +
                         "smtp.subject {s} body {b}\n"
                         "smtp.send to {a@example.test; B <b@example.test>;c@example.test}\n"
                         "var {ok} value {~smtp.status~}\n" +
                         server(plain.port()) +
                         "smtp.subject {s} body {b}\n"
                         "smtp.send to {a@example.test}\n"
                         "var {clear} value {~smtp.status~}\n");
  EXPECT_EQ(tarvtest::Vars({"ok", "clear"}), "SEND_MAIL_OK|SEND_MAIL_ERROR");
  EXPECT_EQ(tarvtest::RunErrors(), Strings{"smtp.send mail,Error:The message could not be sent to the SMTP server. "
                                           "TLS is required but the server did not start it (no STARTTLS); nothing was sent"});
  const std::string mail = tarvtest::ReadFile(dir.File("mail1.txt"));
  EXPECT_EQ(mail.substr(0, mail.find("subject=")),
            "from=me@example.test to=a@example.test,b@example.test,c@example.test login=me tls=True\n"
            "to_header=['a@example.test', 'b@example.test', 'c@example.test']\n");
  EXPECT_FALSE(std::filesystem::exists(plain_dir.File("auth.txt")));
  EXPECT_FALSE(std::filesystem::exists(plain_dir.File("mail1.txt")));
}

// A server that greets and then never answers holds the send only up to the
// step time-out, and a time-out of 0 still means one second, not no limit.
TEST(MailBinary, AServerThatStallsMidDialogueEndsTheSendAtTheStepTimeOut) {
  tarvtest::TempDir dir;
  mailtest::SmtpPeer peer(dir.path().string(), "stall", "me", "secret");
  ASSERT_GT(peer.port(), 0);
  for (const char* seconds : {"0", "2"}) {
    SCOPED_TRACE(seconds);
    // Without the step's bound the run would outlast the 30 seconds given to it.
    const std::string out = tarvtest::RunSaved(
        dir, "stall.nms",
        std::string("run.set step.timeout {") + seconds + "} seconds\n" + "smtp.server {127.0.0.1} port {" +
            std::to_string(peer.port()) + "} username {me@example.test} password {secret}\n"
            "smtp.subject {s} body {b}\nsmtp.send to {a@example.test}\n"
            "text.add {~smtp.status~ ~run.errors~ ~run.error.1~}\n",
        30);
    EXPECT_TRUE(out.starts_with("SEND_MAIL_ERROR 1 ")) << out;
    EXPECT_NE(out.find("Timeout was reached"), std::string::npos) << out;
  }
}

// A server that goes silent once the mail's data is asked for, before it
// reads the data or after its final dot, holds the send only up to the step
// time-out too (a second when it is 0), and the send is reported failed.
TEST(MailBinary, AServerSilentAfterItsDataAnswerEndsTheSendAtTheStepTimeOut) {
  for (const char* mode : {"silent354", "silentdot"}) {
    tarvtest::TempDir dir;
    mailtest::SmtpPeer peer(dir.path().string(), mode, "me", "secret");
    ASSERT_GT(peer.port(), 0);
    setenv("TARV_MAIL_CAFILE", peer.cert().c_str(), 1);
    for (const int seconds : {0, 3}) {
      SCOPED_TRACE(std::string(mode) + " " + std::to_string(seconds));
      // The run's own second after its error, and the start of the program.
      const int bound = std::max(1, seconds) + 1 + 3;
      const auto start = std::chrono::steady_clock::now();
      // A send that waits on beyond its bound is ended a little past it: the
      // run is killed and fails here, and the next one starts.
      const std::string out = tarvtest::RunSaved(
          dir, "silent.nms",
          "run.set step.timeout {" + std::to_string(seconds) + "} seconds\n" + "smtp.server {127.0.0.1} port {" +
              std::to_string(peer.port()) + "} username {me@example.test} password {secret}\n"
              "smtp.subject {s} body {b}\nsmtp.send to {a@example.test}\n"
              "text.add {~smtp.status~ ~run.errors~ ~run.error.1~}\n",
          tarvtest::MachineScaled(bound + 2));
      const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      EXPECT_TRUE(out.starts_with("SEND_MAIL_ERROR 1 ")) << out;
      EXPECT_NE(out.find("Timeout was reached"), std::string::npos) << out;
      EXPECT_LT(took, bound) << out;
    }
  }
}

TEST(ExcelStatements, ReadWriteAndReadBackWithOpenpyxl) {
  tarvtest::TempDir dir;
  const std::string book = dir.File("book.xlsx");
  Python(dir, "import openpyxl\nfrom openpyxl.styles import Font\n"
              "wb = openpyxl.Workbook(); ws = wb.active; ws.title = 'Da\"ta'\n"
              "ws['A1'] = 42; ws['A2'] = 'shared text'; ws['A3'] = True; ws['A4'] = 0.1 + 0.2\n"
              "ws['B1'] = 1e20; ws['B2'] = -7.25; ws['A6'] = 'six'\n"
              "ws['C1'] = 'bold'; ws['C1'].font = Font(bold=True)\n"
              "o = wb.create_sheet('Other'); o['A1'] = 'keep'; o['B2'] = 3\n"
              "wb.save('" + book + "')\n");
  const std::string injected = "x\") : CreateObject(\"Scripting.FileSystemObject\").CreateTextFile(\"" +
                               dir.File("pwned") + "\") : y=(\"";
  tarvtest::Run(dir, "excel.open {" + book + "} sheet {da\"ta}\n"
                     "excel.get var {a1} cell {A1}\n"
                     "excel.get var {a2} cell {a2}\n"
                     "excel.get var {a3} cell {A3}\n"
                     "excel.get var {a4} cell {$A$4}\n"
                     "excel.get var {b1} cell {B1}\n"
                     "excel.get var {b2} cell {B2}\n"
                     "excel.get var {empty} cell {Z99}\n"
                     "excel.cell {C1} value {12.5}\n"
                     "excel.cell {B5} value {two%0Alines \"quoted\"}\n"
                     "excel.cell {D6} value {FALSE}\n"
                     "excel.cell {E2} value {" + injected + "}\n"
                     "excel.cell {A2} value {'007}\n"
                     "excel.get var {c1} cell {C1}\n"
                     "excel.get var {b5} cell {B5}\n"
                     "excel.get var {e2} cell {E2}\n");
  EXPECT_EQ(tarvtest::RunErrors(), Strings{});
  EXPECT_EQ(tarvtest::Vars({"a1", "a2", "a3", "a4", "b1", "b2", "empty", "c1", "b5", "e2"}),
            "42|shared text|True|0.3|1E+20|-7.25||12.5|two\nlines \"quoted\"|" + injected);
  EXPECT_FALSE(std::filesystem::exists(dir.File("pwned")));
  EXPECT_EQ(Python(dir, "import openpyxl\n"
                        "wb = openpyxl.load_workbook('" + book + "')\n"
                        "for ws in wb:\n"
                        "  print(ws.title, [[(c.coordinate, c.value) for c in r if c.value is not None] for r in ws.iter_rows()])\n"
                        "print(wb['Da\"ta']['C1'].font.b, [r[0].row for r in wb['Da\"ta'].iter_rows()])\n"),
            std::string("Da\"ta [[('A1', 42), ('B1', 1e+20), ('C1', 12.5)], [('A2', '007'), ('B2', -7.25), ('E2', '") +
                "x\") : CreateObject(\"Scripting.FileSystemObject\").CreateTextFile(\"" + dir.File("pwned") +
                "\") : y=(\"')], [('A3', True)], [('A4', 0.3)], "
                "[('B5', 'two\\nlines \"quoted\"')], [('A6', 'six'), ('D6', False)]]\n"
                "Other [[('A1', 'keep')], [('B2', 3)]]\n"
                "True [1, 2, 3, 4, 5, 6]\n");
}

// A value goes into the sheet by its length and comes back byte for byte:
// a NUL byte, other control bytes and text that looks like the format's own
// escapes included.
TEST(ExcelStatements, ValuesRoundTripByteForByte) {
  tarvtest::TempDir dir;
  const std::string book = dir.File("book.xlsx");
  Python(dir, "import openpyxl\nwb = openpyxl.Workbook(); wb.active.title = 'S'\nwb.save('" + book + "')\n");
  const struct {
    std::string script;  // as a script writes it
    std::string bytes;
  } values[] = {
      {"ab%00cd", std::string("ab\0cd", 5)},
      {"%00", std::string(1, '\0')},
      {"x%00%01%1F%7F", std::string("x\0\x01\x1F\x7F", 5)},
      {"_x0041_ and _x0000_", "_x0041_ and _x0000_"},
      {"tab%09end", "tab\tend"},
  };
  for (const auto& v : values) {
    SCOPED_TRACE(v.script);
    tarvtest::Run(dir, "excel.open {" + book + "} sheet {S}\nexcel.cell {C3} value {" + v.script +
                           "}\nexcel.get var {got} cell {C3}\n");
    EXPECT_EQ(tarvtest::RunErrors(), Strings{});
    EXPECT_EQ(tarvtest::Var("got"), v.bytes);
  }
}

// A formula cell that gets a value takes the calculation chain with it, so
// that Excel does not find the chain pointing at a cell without a formula.
TEST(ExcelStatements, OverwrittenFormulaDropsTheCalculationChain) {
  tarvtest::TempDir dir;
  const std::string book = dir.File("f.xlsx");
  const std::string chain_of = dir.Write("chain.py",
      "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\nn = z.namelist()\n"
      "print('xl/calcChain.xml' in n, b'calcChain' in z.read('[Content_Types].xml'),"
      " b'calcChain' in z.read('xl/_rels/workbook.xml.rels'), 'xl/styles.xml' in n)\n");
  Python(dir, "import openpyxl, zipfile, shutil\nwb = openpyxl.Workbook(); ws = wb.active; ws.title = 'S'\n"
              "ws['A1'] = 2; ws['A2'] = '=A1*2'\nwb.save('" + dir.File("plain.xlsx") + "')\n"
              "src = zipfile.ZipFile('" + dir.File("plain.xlsx") + "'); dst = zipfile.ZipFile('" + book + "', 'w')\n"
              "for i in src.infolist():\n"
              "  d = src.read(i.filename)\n"
              "  if i.filename == '[Content_Types].xml': d = d.replace(b'</Types>', b'<Override PartName=\"/xl/calcChain.xml\" "
              "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml\"/></Types>')\n"
              "  if i.filename == 'xl/_rels/workbook.xml.rels': d = d.replace(b'</Relationships>', b'<Relationship Id=\"rIdC\" "
              "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/calcChain\" Target=\"calcChain.xml\"/></Relationships>')\n"
              "  dst.writestr(i, d)\n"
              "dst.writestr('xl/calcChain.xml', '<calcChain xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><c r=\"A2\" i=\"1\"/></calcChain>')\n"
              "dst.close()\n");
  const auto chain = [&] {
    const auto r = tarvtest::RunProgram("/usr/bin/python3", {chain_of, book}, dir.path().string());
    return r.output;
  };
  ASSERT_EQ(chain(), "True True True True\n");
  tarvtest::Run(dir, "excel.open {" + book + "} sheet {S}\nexcel.cell {A1} value {3}\n");
  EXPECT_EQ(chain(), "True True True True\n");  // no formula lost yet
  tarvtest::Run(dir, "excel.open {" + book + "} sheet {S}\nexcel.cell {A2} value {4}\n"
                     "excel.get var {a2} cell {A2}\n");
  EXPECT_EQ(tarvtest::RunErrors(), Strings{});
  EXPECT_EQ(tarvtest::Var("a2"), "4");
  EXPECT_EQ(chain(), "False False False True\n");
}

TEST(ExcelStatements, DateFormatsReadAsDates) {
  tarvtest::TempDir dir;
  const std::string book = dir.File("dates.xlsx");
  Python(dir, "import openpyxl, datetime\nwb = openpyxl.Workbook(); ws = wb.active\n"
              "ws['A1'] = datetime.datetime(2024, 1, 5, 13, 30); ws['A2'] = datetime.date(2024, 1, 5)\n"
              "ws['A3'] = 0.5; ws['A3'].number_format = '0.00%'\n"
              "ws['A4'] = 45296; ws['A4'].number_format = '\"day\" 0'\n"
              "ws['A5'] = 1.25; ws['A5'].number_format = '[h]:mm'\n"
              "wb.save('" + book + "')\n");
  tarvtest::Run(dir, "excel.open {" + book + "} sheet {Sheet}\n"
                     "excel.get var {a1} cell {A1}\n"
                     "excel.get var {a2} cell {A2}\n"
                     "excel.get var {a3} cell {A3}\n"
                     "excel.get var {a4} cell {A4}\n"
                     "excel.get var {a5} cell {A5}\n");
  EXPECT_EQ(tarvtest::RunErrors(), Strings{});
  // An elapsed time (a5) is a date too, counted from day 0.
  EXPECT_EQ(tarvtest::Vars({"a1", "a2", "a3", "a4", "a5"}),
            "1/5/2024 1:30:00 PM|1/5/2024|0.5|45296|12/31/1899 6:00:00 AM");
}

TEST(ExcelStatements, MissingWorkbookSheetOrCell) {
  tarvtest::TempDir dir;
  const std::string book = dir.File("book.xlsx");
  Python(dir, "import openpyxl\nwb = openpyxl.Workbook(); wb.active.title = 'S'; wb.active['A1'] = 'x' * 1021\n"
              "wb.active['A2'] = 'ü' * 510\nwb.save('" + book + "')\n");
  tarvtest::Run(dir, "excel.open {" + dir.File("none.xlsx") + "} sheet {S}\n"
                     "excel.get var {v} cell {A1}\n"
                     "excel.open {" + book + "} sheet {T\"1}\n"
                     "excel.cell {A1} value {1}\n"
                     "excel.open {" + book + "} sheet {S}\n"
                     "excel.get var {v} cell {A1}\n"
                     "excel.get var {w} cell {A2}\n"
                     "excel.get var {v} cell {not-a-cell}\n"
                     "excel.close\n"
                     "excel.cell {A1} value {1}\n");
  EXPECT_EQ(tarvtest::RunErrors(),
            (Strings{"vbscript_get_excel_cell,Error:File not found: " + dir.File("none.xlsx"),
                     "excel_get_var_a3_cell_a5 !", "vbscript_set_excel_cell,Error:Subscript out of range",
                     "vbscript_get_excel_cell,Error:Cell value of 1021 bytes is longer than 1020",
                     "excel_get_var_a3_cell_a5 !",
                     "vbscript_get_excel_cell,Error:Method 'Range' of object '_Worksheet' failed",
                     "excel_get_var_a3_cell_a5 !", "vbscript_set_excel_cell,Error:File not found: "}));
  std::string umlauts;  // 1020 bytes, the longest value taken
  for (int i = 0; i < 510; ++i) umlauts += "ü";
  EXPECT_EQ(tarvtest::Var("w"), umlauts);
}

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
            "to_header=['noc@example.test']\n"
            "subject='Nightly report'\ndate=True id=True\n"
            "body='All 12 routers answered.\\r\\nThe end.'\n"
            "attachment=routers.txt text/plain\n");
  EXPECT_EQ(tarvtest::ReadFile(dir.File("mail1.att1")), "r1 up\nr2 up\n");
}

}  // namespace
