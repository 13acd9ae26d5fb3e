// The snmp family: the target and the library's start are cleared by every
// initialisation.
#include "engine/core/family.h"
#include "services/snmp/snmp_statements.h"

namespace {
constexpr FamilyHandler kHandlers[] = {
    {82, snmp_open_version_a3_ip_a5_port_a7_password_a9},
    {83, snmp_get_var_a3_oid_a5},
    {84, snmp_getnext_oid_a3},
};

constexpr Family kFamily = {"snmp", kHandlers, SnmpStateClear, nullptr};
}  // namespace

const Family* SnmpFamily() { return &kFamily; }
