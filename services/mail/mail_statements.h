// The smtp and excel statements: the settings of one mail and the workbook
// named for the cell statements, and the scripts that do the work.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Settings of the mail to send, texts NUL-terminated.
struct SmtpRecord {
  std::int32_t Set;  // 1 after smtp.server: the mail script asks for TLS
  char Server[1024];
  std::int32_t Port;
  char User[1024];  // the account, also the sender's address
  char Password[1024];
  char To[1024];
  char Subject[1024];
  char Body[1024];
  char AttachNames[1024];  // packed one after the other, no separators
  std::int32_t AttachLen[10];  // the first slot <= 0 ends the list
};
extern SmtpRecord sgSmtp;

struct ExcelRecord {
  char Path[1024];
  char Sheet[1024];
};
extern ExcelRecord sgExcel;

inline constexpr int kTextField = 1020;  // longest text a field takes
inline constexpr int kAttachSlots = 10;

void MailReset();

int smtp_server_a2_port_a4_username_a6_password_a8();
int smtp_subject_a2_body_a4();
int smtp_add_attachment_a3();
int smtp_send_to_a3();
int excel_open_a2_sheet_a4();
int excel_cell_a2_value_a4();
int excel_get_var_a3_cell_a5();
int excel_close();

// The scripts. Each builds its script from the texts given, runs it and
// reports a failure as a run error.
// Sends the mail of sgSmtp; sets smtp.status.
int vbscript_smtp();
// The value goes by its length: a NUL byte is part of it.
int vbscript_set_excel_cell(const char* path, const char* sheet, const char* cell, std::string_view value);
// Copies the cell's text (no NUL) into dest (1024 bytes) and gives its
// length; -1 after a reported failure.
int vbscript_get_excel_cell(const char* path, const char* sheet, const char* cell, char* dest);
// Speaks the text and returns when the speech has ended.
void vbscript_speak(const char* text);

namespace tarv::mailscript {

// The text as the inside of a VBScript string literal.
std::string EscapeLiteral(std::string_view text);

// The mail script for sgSmtp; with `mask` the password shows as asterisks.
std::string BuildMailScript(const SmtpRecord& r, bool mask);
std::string BuildSetCellScript(std::string_view path, std::string_view sheet, std::string_view cell,
                               std::string_view value);
std::string BuildGetCellScript(std::string_view path, std::string_view sheet, std::string_view cell);
std::string BuildSpeakScript(std::string_view text);

}  // namespace tarv::mailscript

struct Family;
const Family* MailFamily();
