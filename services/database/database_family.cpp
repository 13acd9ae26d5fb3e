// The database family.  No reset hook: the SQLite state is cleared by its
// own open and close statements, the MySQL settings live as long as the
// process, and no connection outlives a step.
#include "services/database/database_family.h"

#include "engine/core/family.h"
#include "services/database/mysql_statements.h"
#include "services/database/sqlite_statements.h"

namespace {
constexpr FamilyHandler kHandlers[] = {
    {131, mysql_open_ip_a3_port_a5_user_a7_password_a9_database_a11},
    {132, mysql_exec_a2},
    {133, mysql_log_a2},
    {134, mysql_object_create_a3_class_a5},
    {135, mysql_object_get_var_a4_property_a6},
    {136, mysql_object_open_a3},
    {137, mysql_object_property_a3_type_a5_log_a7},
    {138, mysql_object_property_a3_value_a5},
    {140, sqlite_open_a2},
    {141, sqlite_exec_a2},
    {142, sqlite_log_a2},
    {143, sqlite_save_var_a3},
    {144, sqlite_save_var_name_prefix_a5},
    {145, sqlite_load_var_a3},
    {146, sqlite_load_var_name_prefix_a5},
    {147, sqlite_close},
};

constexpr Family kFamily = {"database", kHandlers, nullptr, nullptr};
}  // namespace

const Family* DatabaseFamily() { return &kFamily; }
