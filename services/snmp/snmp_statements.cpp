// snmp.open remembers the target; snmp.get and snmp.getnext query it, one
// object per request.
#include "services/snmp/snmp_statements.h"

#include <cstring>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"

SnmpState sgSnmp = {};

namespace {

// What the library reports at its start; the translate mode is SNMPv1
// until a version word says otherwise.
constexpr int kMajorVersion = 2;
constexpr int kMinorVersion = 0;
constexpr int kLevel = 2;
constexpr int kRetransmitMode = 1;

constexpr int kVersionMax = 62;
constexpr int kAddressMax = 250;
constexpr int kCommunityMax = 62;
constexpr int kPortMax = 65534;
constexpr int kVarNameMax = 63;
constexpr int kGetOidMax = 350;
constexpr int kNextOidMax = 250;

// Keeps word w, NUL-terminated, in a field of the record.
void Keep(int w, std::array<char, SNMP_TEXT>* field) {
  field->fill(0);
  std::memcpy(field->data(), agA[w], igL[w]);
}

bool SetVar(const char* name, const char* value) {
  return TarvSetVar4(name, static_cast<int>(std::strlen(name)), value,
                     static_cast<int>(std::strlen(value))) >= 0;
}

}  // namespace

void SnmpStateClear() {
  sgSnmp = {};
  sgSnmp.TranslateMode = SNMP_MODE_V1;
}

int tarvSnmpStartup() {
  if (sgSnmp.State > 0) return 0;
  sgSnmp.State = 1;
  sgSnmp.TranslateMode = SNMP_MODE_V1;
  const bool set = TarvSetVarInt2("snmp.MajorVersion", kMajorVersion) >= 0 &&
                   TarvSetVarInt2("snmp.MinorVersion", kMinorVersion) >= 0 &&
                   TarvSetVarInt2("snmp.Level", kLevel) >= 0 &&
                   TarvSetVarInt2("snmp.TranslateMode", sgSnmp.TranslateMode) >= 0 &&
                   TarvSetVarInt2("snmp.RetransmitMode", kRetransmitMode) >= 0;
  if (!set) return NmsRunError(-11, "SnmpStartup: SetVar Error!");
  return 0;
}

int snmp_open_version_a3_ip_a5_port_a7_password_a9() {
  HandlerBegin();
  tarvSnmpStartup();
  if (ArgCheckLength(3, kVersionMax, -3) != 0) return -3;
  Keep(3, &sgSnmp.Version);
  if (ArgCheckLength(5, kAddressMax, -5) != 0) return -5;
  Keep(5, &sgSnmp.Address);
  if (const int rc = ArgCheckRange(7, 1, kPortMax)) return rc;
  sgSnmp.Port = igV[7];
  if (ArgCheckLength(9, kCommunityMax, -9) != 0) return -9;
  Keep(9, &sgSnmp.Community);
  return TarvReturn(0, "snmp_open_version_a3_ip_a5_port_a7_password_a9 return.");
}

int snmp_get_var_a3_oid_a5() {
  HandlerBegin();
  if (ArgCheckLength(3, kVarNameMax, -3) != 0) return -3;
  if (ArgCheckLength(5, kGetOidMax, -5) != 0) return -5;
  char value[1024] = {};
  char oid[1024] = {};
  // A failed query has recorded its own error; the variable is then empty.
  tarvSnmpGet(agA[5], value, oid, SNMP_PDU_GET);
  if (TarvSetVar4(agA[3], igL[3], value, static_cast<int>(std::strlen(value))) < 0)
    return NmsRunError(-5, "TarvSetVar4 len< 0 !");
  return TarvReturn(0, "snmp_get_var_a3_oid_a5 return.");
}

int snmp_getnext_oid_a3() {
  HandlerBegin();
  if (ArgCheckLength(3, kNextOidMax, -6) != 0) return -6;
  char value[1024] = {};
  char oid[1024] = {};
  tarvSnmpGet(agA[3], value, oid, SNMP_PDU_GETNEXT);
  if (!SetVar("snmp.oid", oid) || !SetVar("snmp.value", value))
    return NmsRunError(-5, "TarvSetVar4 len< 0 !");
  return TarvReturn(0, "snmp_getnext_oid_a3 return.");
}
