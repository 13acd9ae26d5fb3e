// One SNMP query: the request is built and the answer parsed by net-snmp;
// the datagram socket and the wait are ours.  net-snmp is started without
// its configuration files, persistent files and MIBs: nothing is read from
// disk, and OIDs travel as dotted numbers only.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <poll.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/log/log.h"
#include "platform/socket.h"
#include "services/snmp/snmp_statements.h"
#include "services/sockets/socket_layer.h"

namespace {

constexpr int kWaitSteps = 8;       // waits of i*i*20 ms: 4080 ms in all
constexpr int kWaitUnitMs = 20;
constexpr int kRetryAfterMs = 100;  // one resend when nothing came by then
constexpr size_t kPacketRoom = 65536;
constexpr size_t kBuildRoom = 1500;
constexpr int kOidMaxParts = MAX_OID_LEN;

std::array<u_char, kPacketRoom> gPacket;  // the datagram being read

struct PduFree {
  void operator()(netsnmp_pdu* p) const { snmp_free_pdu(p); }
};
using PduPtr = std::unique_ptr<netsnmp_pdu, PduFree>;

struct FdCloser {
  int32_t fd = -1;
  ~FdCloser() { SockClose(&fd); }
};

// Called once per process before anything else of the library: no file is
// read then or later, and nothing is logged to the standard streams.
void LibraryStart() {
  static bool started = false;
  if (started) return;
  started = true;
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_CONFIG_LOAD, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_LOAD_HOST_FILES, 1);
  snmp_disable_log();
  netsnmp_session s;
  snmp_sess_init(&s);  // the library's own start: request ids and transports
  // Built from the end backwards, as the build call below expects.
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_REVERSE_ENCODE, 1);
}

// Dotted decimal OID text ("1.3.6.1.2.1.1.1.0", a leading dot allowed):
// the number of parts, or 0 when the text is no OID.
size_t ParseOid(const char* text, oid* out) {
  const char* p = text;
  if (*p == '.') p++;
  size_t n = 0;
  while (*p) {
    if (*p < '0' || *p > '9' || n == static_cast<size_t>(kOidMaxParts)) return 0;
    uint64_t v = 0;
    while (*p >= '0' && *p <= '9') {
      v = v * 10 + static_cast<uint64_t>(*p++ - '0');
      if (v > 0xFFFFFFFFu) return 0;
    }
    out[n++] = static_cast<oid>(v);
    if (*p == '.') {
      if (*++p == '\0') return 0;
    } else if (*p) {
      return 0;
    }
  }
  return n >= 2 ? n : 0;
}

// The OID as dotted decimal text with its NUL in room bytes; -1 when it does
// not fit.
int OidToText(const oid* name, size_t len, char* out, int room) {
  int used = 0;
  for (size_t i = 0; i < len; i++) {
    const int w = std::snprintf(out + used, static_cast<size_t>(room - used), i ? ".%lu" : "%lu",
                                static_cast<unsigned long>(name[i]));
    if (w < 0 || w >= room - used) {
      out[0] = '\0';
      return -1;
    }
    used += w;
  }
  out[used] = '\0';
  return used;
}

// The target's address with the port of snmp.open; numeric addresses only.
int TargetAddress(sockaddr_storage* addr) {
  const char* text = sgSnmp.Address.data();
  if (TarvIsIpV4(text) == 0) {
    uint8_t parts[4];
    TarvIpV4Parts(text, parts);
    return static_cast<int>(SockAddrV4(parts, sgSnmp.Port, addr));
  }
  if (TarvIsIpV6(text) == 0) return SockAddrV6(text, sgSnmp.Port, addr);
  return -1;
}

bool SameAddress(const sockaddr_storage& a, const sockaddr_storage& b) {
  if (a.ss_family != b.ss_family) return false;
  if (a.ss_family == AF_INET) {
    const auto& x = reinterpret_cast<const sockaddr_in&>(a);
    const auto& y = reinterpret_cast<const sockaddr_in&>(b);
    return x.sin_port == y.sin_port && x.sin_addr.s_addr == y.sin_addr.s_addr;
  }
  const auto& x = reinterpret_cast<const sockaddr_in6&>(a);
  const auto& y = reinterpret_cast<const sockaddr_in6&>(b);
  return x.sin6_port == y.sin6_port && std::memcmp(&x.sin6_addr, &y.sin6_addr, 16) == 0;
}

netsnmp_session Session(long version) {
  netsnmp_session s;
  snmp_sess_init(&s);
  s.version = version;
  s.community = reinterpret_cast<u_char*>(sgSnmp.Community.data());
  s.community_len = std::strlen(sgSnmp.Community.data());
  return s;
}

// The request message into *packet (malloc'd, freed by the caller): the
// start of the message and its length, or a null start.
u_char* BuildRequest(netsnmp_session* s, int pduType, long reqid, const oid* name, size_t nameLen,
                     u_char** packet, size_t* length) {
  PduPtr pdu(snmp_pdu_create(pduType));
  if (!pdu) return nullptr;
  pdu->version = s->version;
  pdu->reqid = reqid;
  pdu->community = static_cast<u_char*>(malloc(s->community_len + 1));
  if (!pdu->community) return nullptr;
  std::memcpy(pdu->community, s->community, s->community_len);
  pdu->community_len = s->community_len;
  // An OID text that is no OID leaves the request without a binding.
  if (nameLen > 0 && !snmp_add_null_var(pdu.get(), name, nameLen)) return nullptr;
  size_t room = kBuildRoom;
  *packet = static_cast<u_char*>(malloc(room));
  if (!*packet) return nullptr;
  size_t offset = 0;
  if (snmp_build(packet, &room, &offset, s, pdu.get()) != 0) return nullptr;
  *length = offset;
  return *packet + room - offset;
}

// A datagram read from the socket, taken when it is the target's answer to
// this request: its parsed message, or null.
PduPtr TakeAnswer(int fd, const sockaddr_storage& target, netsnmp_session* s, long reqid) {
  sockaddr_storage from{};
  socklen_t fromLen = sizeof from;
  const int n = SockRecvFrom(fd, reinterpret_cast<char*>(gPacket.data()),
                             static_cast<int>(gPacket.size()), false, false, &from, &fromLen);
  if (n <= 0) return nullptr;
  if (!SameAddress(from, target)) {
    TarvDebugLog("\ntarvSnmpGet: a datagram from another address is dropped");
    return nullptr;
  }
  PduPtr pdu(static_cast<netsnmp_pdu*>(calloc(1, sizeof(netsnmp_pdu))));
  if (!pdu) return nullptr;
  if (snmp_parse(nullptr, s, pdu.get(), gPacket.data(), static_cast<size_t>(n)) != 0) {
    TarvDebugLog("\ntarvSnmpGet: an answer that cannot be read is dropped, len=%d", n);
    return nullptr;
  }
  if (pdu->command != SNMP_MSG_RESPONSE || pdu->reqid != reqid) {
    TarvDebugLog("\ntarvSnmpGet: an answer to another request is dropped, id=%ld", pdu->reqid);
    return nullptr;
  }
  return pdu;
}

// Waits for the answer on the schedule of i*i*20 ms steps; the request is
// sent once more when nothing came within the first 100 ms.
PduPtr AwaitAnswer(int fd, const sockaddr_storage& target, netsnmp_session* s, long reqid,
                   const u_char* request, size_t requestLen) {
  bool resent = false;
  int64_t waited = 0;
  for (int i = 1; i <= kWaitSteps; i++) {
    const int64_t end = SockNowMs() + int64_t{i} * i * kWaitUnitMs;
    for (int64_t left = end - SockNowMs(); left > 0; left = end - SockNowMs()) {
      short revents = 0;
      if (SockWaitOne(fd, POLLIN, &revents, static_cast<int>(left)) <= 0) break;
      if (PduPtr pdu = TakeAnswer(fd, target, s, reqid)) {
        sgSnmp.snmpCallBackTimes++;
        TarvDebugLog("\nsgSnmp.snmpCallBackTimes = %d,i=%d", sgSnmp.snmpCallBackTimes, i);
        return pdu;
      }
    }
    TarvDebugLog("\nsgSnmp.snmpCallBackTimes = %d,i=%d", sgSnmp.snmpCallBackTimes, i);
    waited += int64_t{i} * i * kWaitUnitMs;
    if (!resent && waited >= kRetryAfterMs) {
      resent = true;
      SockSend(fd, reinterpret_cast<const char*>(request), static_cast<int>(requestLen));
    }
  }
  return nullptr;
}

SnmpValue ValueOf(const netsnmp_variable_list* vb) {
  SnmpValue v{vb->type, 0, nullptr, vb->val_len};
  switch (vb->type) {
    case ASN_INTEGER:
      if (vb->val.integer) v.Number = *vb->val.integer;
      break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:
      if (vb->val.integer) v.Number = static_cast<int64_t>(*vb->val.integer & 0xFFFFFFFFul);
      break;
    case ASN_OCTET_STR:
    case ASN_OPAQUE:
    case ASN_IPADDRESS:
    case ASN_NSAP:
      v.Bytes = vb->val.string;
      if (!v.Bytes) v.Len = 0;
      break;
    default:
      v.Len = 0;
      break;
  }
  return v;
}

}  // namespace

int tarvSnmpValueToStr(const SnmpValue& value, char* out) {
  std::memset(out, 0, SNMP_VALUE_MAX + 1);
  switch (value.Syntax) {
    case ASN_INTEGER:
      return std::snprintf(out, SNMP_VALUE_MAX + 1, "%d", static_cast<int32_t>(value.Number));
    case ASN_OCTET_STR:
    case ASN_OPAQUE: {
      if (value.Len == 0 || value.Bytes == nullptr)
        return std::snprintf(out, SNMP_VALUE_MAX + 1, "OCTETS NULL");
      const size_t n = value.Len < SNMP_VALUE_MAX ? value.Len : SNMP_VALUE_MAX;
      std::memcpy(out, value.Bytes, n);
      return static_cast<int>(strnlen(out, n));
    }
    case ASN_IPADDRESS:
    case ASN_NSAP: {
      // A value shorter than an address shows its missing bytes as 0.
      uint8_t b[4] = {};
      for (size_t i = 0; i < 4 && i < value.Len && value.Bytes; i++) b[i] = value.Bytes[i];
      return std::snprintf(out, SNMP_VALUE_MAX + 1, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    }
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_UINTEGER:
      return std::snprintf(out, SNMP_VALUE_MAX + 1, "%u", static_cast<uint32_t>(value.Number));
    case ASN_TIMETICKS: {
      const uint32_t s = static_cast<uint32_t>(value.Number) / 100;
      return std::snprintf(out, SNMP_VALUE_MAX + 1, "%d Days %d Hours %d Minutes %d Seconds",
                           static_cast<int>(s / 86400), static_cast<int>(s % 86400 / 3600),
                           static_cast<int>(s % 3600 / 60), static_cast<int>(s % 60));
    }
    default:
      return std::snprintf(out, SNMP_VALUE_MAX + 1, "NULL");
  }
}

int tarvSnmpGet(const char* oidText, char* valueOut, char* oidOut, int pduType) {
  if (sgSnmp.Version[0] == '1') sgSnmp.TranslateMode = SNMP_MODE_V1;
  if (sgSnmp.Version[0] == '2') sgSnmp.TranslateMode = SNMP_MODE_V2;
  if (sgSnmp.State != 1) return NmsRunError(-1, "tarvSnmpGet SnmpCreateSession error!");
  LibraryStart();
  FdCloser sock;
  sockaddr_storage target{};
  const int targetLen = TargetAddress(&target);
  if (targetLen < 0) return NmsRunError(-2, "tarvSnmpGet Creat entity error!!");
  sock.fd = SockOpen(target.ss_family, SOCK_DGRAM, IPPROTO_UDP);
  if (sock.fd < 0) return NmsRunError(-1, "tarvSnmpGet SnmpCreateSession error!");
  if (sgSnmp.Community[0] == '\0')
    return NmsRunError(-3, "tarvSnmpGet Create context handle error!!");

  netsnmp_session s =
      Session(sgSnmp.TranslateMode == SNMP_MODE_V2 ? SNMP_VERSION_2c : SNMP_VERSION_1);
  std::array<oid, MAX_OID_LEN> name{};
  const size_t nameLen = ParseOid(oidText, name.data());
  const long reqid = snmp_get_next_reqid();
  u_char* packet = nullptr;
  size_t length = 0;
  const u_char* request = BuildRequest(&s, pduType, reqid, name.data(), nameLen, &packet, &length);
  std::unique_ptr<u_char, decltype(&free)> packetOwner(packet, &free);
  if (!request) return NmsRunError(-7, "tarvSnmpGet SnmpCreatePdu error!");

  if (SockConnectDatagram(sock.fd, target, static_cast<socklen_t>(targetLen)) != 0 ||
      SockSend(sock.fd, reinterpret_cast<const char*>(request), static_cast<int>(length)) !=
          static_cast<int>(length))
    return NmsRunError(-8, "tarvSnmpGet SnmpSendMsg error!");

  PduPtr answer = AwaitAnswer(sock.fd, target, &s, reqid, request, length);
  if (!answer) return NmsRunError(-9, "tarvSnmpGet after 4 seconds,but no answer!");

  // An agent's error answer is read like any other: its binding tells.
  int count = 0;
  for (const netsnmp_variable_list* vb = answer->variables; vb; vb = vb->next_variable) count++;
  if (count != 1) return NmsRunError(-10, "tarvSnmpGet SnmpCountVbl=%d,  error!", count);
  const netsnmp_variable_list* vb = answer->variables;
  char oidText2[SNMP_OID_TEXT];
  if (OidToText(vb->name, vb->name_length, oidText2, SNMP_OID_TEXT) < 0)
    return NmsRunError(-11, "tarvSnmpGet SnmpGetVb,  error!");
  tarvSnmpValueToStr(ValueOf(vb), valueOut);
  std::memcpy(oidOut, oidText2, std::strlen(oidText2) + 1);
  return 0;
}
