// Mail and workbook cells: smtp.* and excel.*.
#include "engine/core/family.h"
#include "services/mail/mail_statements.h"

namespace {

constexpr FamilyHandler kHandlers[] = {
    {119, smtp_server_a2_port_a4_username_a6_password_a8},
    {120, smtp_subject_a2_body_a4},
    {121, smtp_add_attachment_a3},
    {122, smtp_send_to_a3},
    {127, excel_open_a2_sheet_a4},
    {128, excel_cell_a2_value_a4},
    {129, excel_get_var_a3_cell_a5},
    {130, excel_close},
};

constexpr Family kFamily = {"mail", kHandlers, MailReset, nullptr};

}  // namespace

const Family* MailFamily() { return &kFamily; }
