// smtp.* and excel.*: the statements keep the settings; sending and the cell
// work are the scripts' job.
#include "services/mail/mail_statements.h"

#include <algorithm>
#include <cstring>

#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"

SmtpRecord sgSmtp;
ExcelRecord sgExcel;

namespace {

// Word w may be empty but no longer than hi bytes.
int CheckUpTo(int w, int hi, int code) {
  if (igL[w] > hi) return NmsRunError(code, "Length of Arg %d is :%d > %d !", w, igL[w], hi);
  return 0;
}

// Replaces a text field with word w.
void Store(char (&field)[1024], int w) {
  const auto n = static_cast<std::size_t>(std::clamp(igL[w], 0, kTextField));
  std::memcpy(field, agA[w], n);
  field[n] = '\0';
}

}  // namespace

void MailReset() {
  std::memset(&sgSmtp, 0, sizeof sgSmtp);
  std::memset(&sgExcel, 0, sizeof sgExcel);
}

int smtp_server_a2_port_a4_username_a6_password_a8() {
  std::memset(&sgSmtp, 0, sizeof sgSmtp);
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nsmtp_server_a2_port_a4_username_a6_password_a8 ,begin ...");
  if (const int r = CheckUpTo(2, kTextField, -2)) return r;
  if (!ArgReadInteger(4)) return NmsRunError(-4, "Arg:4 is not integer !");
  if (igV[4] < 1) return NmsRunError(-4, "Arg:4=%d  < 1 !", igV[4]);
  if (igV[4] > 65535) return NmsRunError(-4, "Arg:4=%d > 65535 !", igV[4]);
  if (const int r = CheckUpTo(6, kTextField, -6)) return r;
  if (const int r = ArgCheckLength(8, kTextField, -8)) return r;
  Store(sgSmtp.Server, 2);
  sgSmtp.Port = igV[4];
  Store(sgSmtp.User, 6);
  Store(sgSmtp.Password, 8);
  sgSmtp.Set = 1;
  return TarvReturn(0, "smtp_server_a2_port_a4_username_a6_password_a8 return.");
}

int smtp_subject_a2_body_a4() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nsmtp_subject_a2_body_a4 ,begin ...");
  if (const int r = CheckUpTo(2, kTextField, -2)) return r;
  if (const int r = CheckUpTo(4, kTextField, -4)) return r;
  Store(sgSmtp.Subject, 2);
  Store(sgSmtp.Body, 4);
  return TarvReturn(0, "smtp_subject_a2_body_a4 return.");
}

int smtp_add_attachment_a3() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nsmtp_add_attachment_a3 ,begin ...");
  if (const int r = CheckUpTo(3, kTextField, -3)) return r;
  const int len = igL[3];
  int sum = 0;
  for (int i = 0; i < kAttachSlots; ++i) {
    if (sgSmtp.AttachLen[i] > 0) {
      sum += sgSmtp.AttachLen[i];
      continue;
    }
    if (sum + len > kTextField) return NmsRunError(-13, "Arg:3, All attchmentLen =%d > 1020 !", sum + len);
    if (len > 0) {
      std::memcpy(sgSmtp.AttachNames + sum, agA[3], static_cast<std::size_t>(len));
      sgSmtp.AttachLen[i] = len;
    }
    return TarvReturn(0, "smtp_add_attachment_a3 return.");
  }
  return NmsRunError(-23, "Arg:3, All attchment > 10 !");
}

int smtp_send_to_a3() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nsmtp_send_to_a3 ,begin ...");
  if (const int r = CheckUpTo(3, kTextField, -3)) return r;
  Store(sgSmtp.To, 3);
  vbscript_smtp();
  return TarvReturn(0, "smtp_send_to_a3 return.");
}

int excel_open_a2_sheet_a4() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nexcel_open_a2_sheet_a4 ,begin ...");
  if (const int r = ArgCheckLength(2, kTextField, -2)) return r;
  if (const int r = ArgCheckLength(4, kTextField, -4)) return r;
  Store(sgExcel.Path, 2);
  Store(sgExcel.Sheet, 4);
  return TarvReturn(0, "excel_open_a2_sheet_a4 return.");
}

int excel_cell_a2_value_a4() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nexcel_cell_a2_value_a4 ,begin ...");
  if (const int r = ArgCheckLength(2, 20, -2)) return r;
  if (const int r = ArgCheckLength(4, kTextField, -4)) return r;
  const std::string cell(agA[2], static_cast<std::size_t>(igL[2]));
  const std::string value(agA[4], static_cast<std::size_t>(igL[4]));
  vbscript_set_excel_cell(sgExcel.Path, sgExcel.Sheet, cell.c_str(), value);
  return TarvReturn(0, "excel_cell_a2_value_a4 return.");
}

int excel_get_var_a3_cell_a5() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nexcel_get_var_a3_cell_a5 ,begin ...");
  if (const int r = ArgCheckLength(3, 62, -3)) return r;
  // The cell reference's errors carry -4, as they always have.
  if (const int r = ArgCheckLength(5, 20, -4)) return r;
  const std::string cell(agA[5], static_cast<std::size_t>(igL[5]));
  char value[1024];
  const int n = vbscript_get_excel_cell(sgExcel.Path, sgExcel.Sheet, cell.c_str(), value);
  if (n < 0 || TarvSetVar4(agA[3], igL[3], value, n) < 0) return NmsRunError(-6, "excel_get_var_a3_cell_a5 !");
  return TarvReturn(0, "excel_get_var_a3_cell_a5 return.");
}

int excel_close() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nexcel_close ,begin ...");
  std::memset(&sgExcel, 0, sizeof sgExcel);
  return TarvReturn(0, "excel_close return.");
}
