// The snmp statements: one agent as the target, and single GET and GET-NEXT
// queries of one object each.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

struct Family;
const Family* SnmpFamily();

int snmp_open_version_a3_ip_a5_port_a7_password_a9();
int snmp_get_var_a3_oid_a5();
int snmp_getnext_oid_a3();

inline constexpr int SNMP_TEXT = 512;         // address, community and version fields
inline constexpr int SNMP_VALUE_MAX = 1020;   // bytes of a value text
inline constexpr int SNMP_OID_TEXT = 512;     // room of an answer's OID text
inline constexpr int SNMP_PDU_GET = 0xA0;
inline constexpr int SNMP_PDU_GETNEXT = 0xA1;

// The protocol version the queries use: 1 SNMPv1, 2 SNMPv2c.
inline constexpr int SNMP_MODE_V1 = 1;
inline constexpr int SNMP_MODE_V2 = 2;

struct SnmpState {
  int32_t State;               // 0 not started, 1 started, -1 the last start failed
  int32_t snmpCallBackTimes;   // answers accepted so far
  int32_t Port;
  std::array<char, SNMP_TEXT> Address;
  std::array<char, SNMP_TEXT> Community;
  std::array<char, SNMP_TEXT> Version;
  int32_t TranslateMode;       // SNMP_MODE_V1 or SNMP_MODE_V2
};

extern SnmpState sgSnmp;

void SnmpStateClear();

// Starts the SNMP library once per run: 0, or a negative code.
int tarvSnmpStartup();

// One query of the target: value and OID texts (NUL-terminated, buffers of
// 1024 bytes) of the answer's one binding; 0 or a negative code, every
// failure a run error.
int tarvSnmpGet(const char* oidText, char* valueOut, char* oidOut, int pduType);

// One value of an answer, as its syntax and its bytes or number.
struct SnmpValue {
  int Syntax;
  int64_t Number;        // integers, counters, gauges, time ticks
  const uint8_t* Bytes;  // octets, opaque, addresses
  size_t Len;
};

// The value as text (at most 1020 bytes and a NUL into out, 1024 bytes):
// its length.
int tarvSnmpValueToStr(const SnmpValue& value, char* out);
