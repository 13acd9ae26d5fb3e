// The mail, cell and speech scripts: each is built from its fixed template
// with the values pasted into string literals, run by the script host with
// only its own object at hand, and its failure reported as a run error.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>

#include "engine/core/run_state.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "services/mail/host_objects.h"
#include "services/mail/mail_statements.h"
#include "services/scripthost/script_host.h"
#include "services/scripthost/vbs_eval.h"

namespace tarv::mailscript {

namespace {

// Scripts longer than this are logged in two entries, after the run.
constexpr std::size_t kLogSplit = 1000;
// Room for a description inside a run-error message.
constexpr std::size_t kDescriptionRoom = 900;

std::string_view EscapeOf(char c) {
  switch (c) {
    case '"':
      return "\"\"";
    case '\n':
      return "\"&chr(10)&\"";
    case '\r':
      return "\"&chr(13)&\"";
    case '\0':
      return "\"&chr(0)&\"";
    default:
      return {};
  }
}

// At most `room` bytes of the text, cut before a UTF-8 character that would
// not fit whole.
std::string CutUtf8(std::string_view s, std::size_t room) {
  if (s.size() <= room) return std::string(s);
  std::size_t n = room;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return std::string(s.substr(0, n));
}

std::optional<vbs::Clock::time_point> StepDeadline() {
  if (sgRun.StepTimeout <= 0) return std::nullopt;
  return vbs::Clock::now() + std::chrono::seconds(sgRun.StepTimeout);
}

// A step time-out of 0 still gives the mail a second: a server that stops
// answering mid-dialogue must not hold the run.
vbs::Clock::time_point MailDeadline() {
  return vbs::Clock::now() + std::chrono::seconds(std::max(1, sgRun.StepTimeout));
}

// Runs a template whose script may create only `prog_id` and must end by
// `deadline`, and gives the value of its TarvMain as text.
scripthost::ScriptOutcome RunTemplate(std::string_view script, std::string_view prog_id,
                                      std::optional<vbs::Clock::time_point> deadline) {
  scripthost::ScriptOutcome out;
  hostobj::SingleClassFactory factory(prog_id);
  vbs::Interpreter vm(&factory);
  factory.SetInterpreter(&vm);
  vm.SetDeadline(deadline);
  try {
    vm.AddCode(script);
    out.text = scripthost::TarvMainText(vm);
    out.ok = true;
  } catch (const vbs::ScriptError& err) {
    out.error = err.error();
  }
  return out;
}

void LogScript(const std::string& script) {
  if (script.size() <= kLogSplit) {
    TarvDebugLogEscaped("\n%s", script.c_str());
    return;
  }
  TarvDebugLogEscaped("\n%s", script.substr(0, kLogSplit).c_str());
  TarvDebugLogEscaped("\n%s", script.c_str() + kLogSplit);
}

// The two reports of a failed script: the run error with its description,
// then the whole report as an error entry.
void Report(const char* format, const vbs::Error& error) {
  const std::string description = CutUtf8(error.description, kDescriptionRoom);
  const std::string report = CutUtf8(scripthost::FailureReport(error), scripthost::kErrorRoom);
  NmsRunError(-1, format, description.c_str());
  HtmlLogError("%s", report.c_str());
}

std::string Line(std::string_view a, std::string_view value, std::string_view b) {
  return std::string(a) + EscapeLiteral(value) + std::string(b);
}

std::string ExcelHead(std::string_view path, std::string_view sheet) {
  return "Private Function TarvMain()\n"
         "Dim ExcelApp,ExcelBook,ExcelSheet,Ret \n"
         "Set   ExcelApp  =  CreateObject(\"Excel.Application\")\n" +
         Line("Set   ExcelBook =  ExcelApp.Workbooks.open(\"", path, "\")\n") +
         Line("Set   ExcelSheet=  ExcelBook.Worksheets(\"", sheet, "\")\n") +
         " ExcelApp.Visible = False \n ExcelSheet.Activate \n";
}

}  // namespace

std::string EscapeLiteral(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (const char c : text) {
    if (const std::string_view e = EscapeOf(c); !e.empty())
      out += e;
    else
      out += c;
  }
  return out;
}

std::string BuildMailScript(const SmtpRecord& r, bool mask) {
  const std::string_view user(r.User);
  const std::string password = mask ? std::string(std::strlen(r.Password) ? 8 : 0, '*') : std::string(r.Password);
  std::string s = "Private Function TarvMain()\n";
  s += Line("Const Email_From = \"", user, "\"\n");
  s += Line("Const UserName = \"", user.substr(0, user.find('@')), "\"\n");
  s += Line("Const Password = \"", password, "\"\n");
  s += Line("Const Email_To = \"", r.To, "\"\n");
  s += "Set CDO = CreateObject(\"CDO.Message\") \n";
  s += Line("CDO.Subject = \"", r.Subject, "\"\n");
  s += "CDO.From = Email_From\n";
  s += "CDO.To = Email_To\n";
  s += Line("CDO.TextBody = \"", r.Body, "\"\n");
  std::size_t at = 0;
  for (int i = 0; i < kAttachSlots && r.AttachLen[i] > 0; ++i) {
    const auto len = static_cast<std::size_t>(r.AttachLen[i]);
    if (at + len > kTextField) break;  // a record that does not add up
    s += Line("CDO.AddAttachment( \"", std::string_view(r.AttachNames + at, len), "\" )\n");
    at += len;
  }
  s += "Const schema = \"" + std::string(hostobj::kCdoSchema) + "\"\n";
  s += "With CDO.Configuration.Fields\n";
  s += "\t.Item(schema & \"sendusing\") = 2\n";
  s += Line("\t.Item(schema & \"smtpserver\") = \"", r.Server, "\"\n");
  s += "\t.Item(schema & \"smtpauthenticate\") = 1\n";
  s += "\t.Item(schema & \"sendusername\") = UserName\n";
  s += "\t.Item(schema & \"sendpassword\") = Password\n";
  s += "\t.Item(schema & \"smtpserverport\") = " + std::to_string(r.Port) + "\n";
  s += r.Set ? "\t.Item(schema & \"smtpusessl\") = True\n" : "\t.Item(schema & \"smtpusessl\") = False\n";
  s += "\t.Item(schema & \"smtpconnectiontimeout\") = 60\n";
  s += "\t.Update\n";
  s += "End With\n";
  s += "CDO.Send\n";
  s += "TarvMain = \"SEND_MAIL_OK\"\n";
  s += "End Function\n";
  return s;
}

std::string BuildSetCellScript(std::string_view path, std::string_view sheet, std::string_view cell,
                               std::string_view value) {
  return ExcelHead(path, sheet) + "ExcelSheet.Range(\"" + EscapeLiteral(cell) + "\").Value=\"" +
         EscapeLiteral(value) + "\" \n" +
         "ExcelBook.Save \n ExcelBook.Close \n ExcelApp.Quit\n"
         "TarvMain = \"SaveOK\" \n"
         "End Function\n";
}

std::string BuildGetCellScript(std::string_view path, std::string_view sheet, std::string_view cell) {
  return ExcelHead(path, sheet) + Line("Ret = ExcelSheet.Range(\"", cell, "\").Item(1,1).Value \n") +
         "ExcelBook.Close \n ExcelApp.Quit\n"
         "TarvMain = Ret \n"
         "End Function\n";
}

std::string BuildSpeakScript(std::string_view text) {
  return "Private Function TarvMain()\n"
         "set spvoice = createobject(\"SAPI.SpVoice\") \n" +
         Line("spvoice.Speak \"", text, "\" \n") +
         "TarvMain = \"speak.ok\" \n"
         "End Function\n";
}

}  // namespace tarv::mailscript

using namespace tarv;

int vbscript_smtp() {
  TarvSetVar3("smtp.status", "SEND_MAIL_ERROR", 15);
  TarvDebugLog("\nvbscript_smtp ,begin ...");
  try {
    const std::string script = mailscript::BuildMailScript(sgSmtp, false);
    TarvDebugLog("\nVbs.Len=%d", static_cast<int>(script.size()));
    const scripthost::ScriptOutcome out =
        mailscript::RunTemplate(script, hostobj::kMailClass, mailscript::MailDeadline());
    if (out.ok) {
      const std::string status = mailscript::CutUtf8(out.text, scripthost::kErrorRoom);
      TarvSetVar3("smtp.status", status.c_str(), static_cast<int>(status.size()));
    } else {
      mailscript::Report("smtp.send mail,Error:%s", out.error);
    }
  } catch (const std::exception&) {
    NmsRunError(-9, "vbscript_smtp COM Error.");
  }
  // The logged copy never shows the password.
  mailscript::LogScript(mailscript::BuildMailScript(sgSmtp, true));
  return TarvReturn(0, "vbscript_smtp return");
}

namespace {

// Logs, runs and reports a cell script; the outcome when it ran.
std::optional<scripthost::ScriptOutcome> RunCellScript(const std::string& script, const char* format) {
  TarvDebugLog("\nVbs.Len=%d", static_cast<int>(script.size()));
  const bool log_before = script.size() <= mailscript::kLogSplit;
  if (log_before) mailscript::LogScript(script);
  scripthost::ScriptOutcome out =
      mailscript::RunTemplate(script, hostobj::kExcelClass, mailscript::StepDeadline());
  if (!log_before) mailscript::LogScript(script);
  if (!out.ok) {
    mailscript::Report(format, out.error);
    return std::nullopt;
  }
  return out;
}

}  // namespace

int vbscript_set_excel_cell(const char* path, const char* sheet, const char* cell, std::string_view value) {
  TarvDebugLog("\nvbscript_set_excel_cell ,begin ...");
  try {
    RunCellScript(mailscript::BuildSetCellScript(path, sheet, cell, value), "vbscript_set_excel_cell,Error:%s");
  } catch (const std::exception&) {
    NmsRunError(-9, "vbscript_set_excel_cell COM Error.");
  }
  return 0;
}

int vbscript_get_excel_cell(const char* path, const char* sheet, const char* cell, char* dest) {
  TarvDebugLog("\nvbscript_get_excel_cell ,begin ...");
  try {
    const auto out =
        RunCellScript(mailscript::BuildGetCellScript(path, sheet, cell), "vbscript_get_excel_cell,Error:%s");
    if (!out) return -1;
    // A longer text is refused whole rather than cut inside a character.
    if (out->text.size() > kTextField) {
      NmsRunError(-1, "vbscript_get_excel_cell,Error:Cell value of %d bytes is longer than %d",
                  static_cast<int>(std::min<std::size_t>(out->text.size(), INT32_MAX)), kTextField);
      return -1;
    }
    std::memcpy(dest, out->text.data(), out->text.size());
    return static_cast<int>(out->text.size());
  } catch (const std::exception&) {
    NmsRunError(-9, "vbscript_get_excel_cell COM Error.");
    return -1;
  }
}

void vbscript_speak(const char* text) {
  TarvDebugLog("\nvbscript_speak ,begin ...");
  try {
    const std::string script = mailscript::BuildSpeakScript(text ? text : "");
    TarvDebugLog("\nVbs.Len=%d", static_cast<int>(script.size()));
    TarvDebugLogEscaped("\n%s", script.c_str());
    const scripthost::ScriptOutcome out =
        mailscript::RunTemplate(script, hostobj::kVoiceClass, mailscript::StepDeadline());
    if (!out.ok) mailscript::Report("vbscript_speak, exception.Description :[%s]", out.error);
  } catch (const std::exception&) {
    NmsRunError(-9, "vbscript_speak  COM Error.");
  }
}
