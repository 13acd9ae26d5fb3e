// The snmp statements in scripts inside the test process: against Debian's
// snmpd started by the test, and against a fake agent that answers with
// what snmpd never sends; and the text of each value syntax.
#include "services/snmp/snmp_statements.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/run_state.h"
#include "tests/engine/harness.h"
#include "tests/machine_wait.h"
#include "tests/services/binary_run.h"
#include "tests/services/case_rows.h"
#include "tests/services/snmp/snmpd_peer.h"
#include "tests/services/sockets/tcp_peer.h"
#include "tests/services/statement_checks.h"

namespace {

using tarvtest::RunErrors;
using tarvtest::TempDir;
using tarvtest::Var;
using Errors = std::vector<std::string>;

std::string Open(const char* version, int port, const char* community = "public",
                 const char* ip = "127.0.0.1") {
  return std::string("snmp.open version {") + version + "} ip {" + ip + "} port {" +
         std::to_string(port) + "} password {" + community + "}\n";
}

std::string Oid(int n) { return std::string(snmppeer::kBase) + "." + std::to_string(n); }

class SnmpdTest : public ::testing::Test {
 protected:
  TempDir dir;
  snmppeer::Snmpd agent{dir};
  void SetUp() override { ASSERT_TRUE(agent.up()) << tarvtest::ReadFile(dir.File("snmpd.log")); }
};

// A walk by repeated getnext to past the end of the view, with a get of
// every object found: each value type through both versions.  SNMPv2c ends
// with the end-of-view exception, SNMPv1 with an error answer that repeats
// the asked object.
TEST_F(SnmpdTest, WalkAndGetToPastTheEnd) {
  const char* const texts[] = {"-5", "1 Days 0 Hours 0 Minutes 0 Seconds", "10.1.2.3",
                               "4294967295", "AB", "7", "hello world"};
  std::string walked;
  for (int n = 1; n <= 7; n++) walked += Oid(n) + "=" + texts[n - 1] + "=" + texts[n - 1] + ";";
  walked += Oid(7) + "=NULL=hello world;";
  for (const char* version : {"2c", "1"}) {
    const auto o = tarvtest::RunCase(dir, Open(version, agent.port()) + "var {next} value {" +
                                              snmppeer::kBase +
                                              "}\n"
                                              "loop.begin\n"
                                              "snmp.getnext oid {~next~}\n"
                                              "snmp.get var {got} oid {~snmp.oid~}\n"
                                              "text.add {~snmp.oid~=~snmp.value~=~got~;}\n"
                                              "if.var {snmp.value} contain {NULL}\n"
                                              "loop.exit\n"
                                              "if.end\n"
                                              "var {next} value {~snmp.oid~}\n"
                                              "loop.end\n");
    EXPECT_EQ(o.errors, Errors{}) << version;
    EXPECT_EQ(o.text, walked) << version;
  }
  EXPECT_EQ(Var("snmp.MajorVersion"), "2");
  EXPECT_EQ(Var("snmp.TranslateMode"), "1");
}

TEST_F(SnmpdTest, ThroughTheBinary) {
  const std::string b = snmppeer::kBase;
  // An OID may start with a dot.
  EXPECT_EQ(tarvtest::RunSaved(dir, "snmp.nms",
                               Open("2c", agent.port()) + "snmp.get var {ticks} oid {" + b +
                                   ".2}\nsnmp.getnext oid {" + b + ".3}\n"
                                   "snmp.get var {dotted} oid {." + b + ".1}\n"
                                   "text.add {~ticks~|~snmp.oid~|~snmp.value~|~dotted~|~run.errors~}\n"),
            "1 Days 0 Hours 0 Minutes 0 Seconds|" + b + ".4|4294967295|-5|0");
}

TEST_F(SnmpdTest, FailuresLeaveTheVariableEmpty) {
  // A query before snmp.open, a wrong community (no answer at all), an
  // address that is no address, and an OID text that is no OID.
  tarvtest::Run(dir, "var {a} value {x}\nsnmp.get var {a} oid {" + Oid(1) + "}\n" +
                         Open("2c", agent.port(), "wrong") + "var {b} value {x}\n" +
                         "snmp.get var {b} oid {" + Oid(1) + "}\n" +
                         Open("2c", agent.port(), "public", "localhost") +
                         "snmp.get var {c} oid {" + Oid(1) + "}\n" +
                         Open("2c", agent.port()) + "snmp.get var {d} oid {sysDescr.0}\n" +
                         "snmp.getnext oid {" + Oid(3) + "}\n");
  EXPECT_EQ(RunErrors(), (Errors{"tarvSnmpGet SnmpCreateSession error!",
                                  "tarvSnmpGet after 4 seconds,but no answer!",
                                  "tarvSnmpGet Creat entity error!!",
                                  "tarvSnmpGet SnmpCountVbl=0,  error!"}));
  EXPECT_EQ(tarvtest::Vars({"a", "b", "c", "d", "snmp.oid", "snmp.value"}), "||||" + Oid(4) + "|4294967295");
}

TEST(SnmpStatements, ArgumentChecks) {
  TempDir dir;
  const std::string long63(63, 'v');
  const std::string long251(251, '1');
  tarvtest::Run(dir,
                "snmp.open version {} ip {127.0.0.1} port {161} password {public}\n"
                "snmp.open version {2c} ip {127.0.0.1} port {-1} password {public}\n"
                "snmp.open version {2c} ip {127.0.0.1} port {65535} password {public}\n"
                "snmp.open version {2c} ip {127.0.0.1} port {161} password {}\n"
                "snmp.get var {" + long63 + "x} oid {1.3}\n"
                "snmp.getnext oid {" + long251 + "}\n");
  EXPECT_EQ(RunErrors(), (Errors{"Length of Arg 3 is :0  < 1 !", "Arg:7 is not integer !",
                                  "Arg:7=65535 > 65534 !", "Length of Arg 9 is :0  < 1 !",
                                  "Length of Arg 3 is :64 > 63 !",
                                  "Length of Arg 3 is :251 > 250 !"}));
  EXPECT_EQ(std::string(sgSnmp.Address.data()), "127.0.0.1");
  EXPECT_EQ(sgSnmp.Port, 161);
}

// A fake agent on the target's port: it answers each request first with the
// request id of the one before and from another port, each with a value of
// its own, which must both be dropped, and then with the real answer built
// by the callback.
const oid kName[] = {1, 3, 6, 1, 4, 1, 99999, 9};

class FakeAgent {
 public:
  using Answer = void (*)(netsnmp_pdu* answer, int request);
  FakeAgent(Answer answer, int requests) : answer_(answer) {
    sock_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    other_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_storage a;
    const socklen_t len = tcppeer::Loopback(AF_INET, 0, &a);
    bind(sock_, reinterpret_cast<sockaddr*>(&a), len);
    bind(other_, reinterpret_cast<sockaddr*>(&a), len);
    port_ = tcppeer::PortOf(sock_);
    thread_ = std::thread([this, requests] {
      for (int i = 0; i < requests; i++) Serve(i);
    });
  }
  ~FakeAgent() {
    thread_.join();
    close(sock_);
    close(other_);
  }
  int port() const { return port_; }

 private:
  void Serve(int request) {
    pollfd p{sock_, POLLIN, 0};
    if (poll(&p, 1, tarvtest::MachineScaled(10) * 1000) != 1) return;
    u_char buf[2048];
    sockaddr_storage from;
    socklen_t fromLen = sizeof from;
    const ssize_t n = recvfrom(sock_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    netsnmp_session s;
    snmp_sess_init(&s);
    s.version = SNMP_VERSION_2c;
    auto* req = static_cast<netsnmp_pdu*>(calloc(1, sizeof(netsnmp_pdu)));
    if (n <= 0 || snmp_parse(nullptr, &s, req, buf, n) != 0) {
      snmp_free_pdu(req);
      return;
    }
    s.community = req->community;
    s.community_len = req->community_len;
    for (int k = 0; k < 3; k++) {
      netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_RESPONSE);
      pdu->version = SNMP_VERSION_2c;
      pdu->reqid = k == 0 ? req->reqid - 1 : req->reqid;
      pdu->community = static_cast<u_char*>(malloc(req->community_len));
      memcpy(pdu->community, req->community, req->community_len);
      pdu->community_len = req->community_len;
      if (k == 2)
        answer_(pdu, request);
      else
        snmp_pdu_add_variable(pdu, kName, 8, ASN_OCTET_STR, k == 0 ? "stale" : "elsewhere",
                              k == 0 ? 5 : 9);
      size_t room = 1500, offset = 0;
      auto* out = static_cast<u_char*>(malloc(room));
      if (snmp_build(&out, &room, &offset, &s, pdu) == 0) {
        u_char* msg = out + room - offset;
        sendto(k == 1 ? other_ : sock_, msg, offset, 0, reinterpret_cast<sockaddr*>(&from),
               fromLen);
      }
      free(out);
      snmp_free_pdu(pdu);
    }
    snmp_free_pdu(req);
  }

  Answer answer_;
  int sock_ = -1;
  int other_ = -1;
  int port_ = -1;
  std::thread thread_;
};

// Answers a well-formed agent never gives: two bindings, and an OID whose
// text needs more than 512 bytes.
TEST(SnmpFakeAgent, OnlyTheMatchingAnswerCounts) {
  TempDir dir;
  {
    FakeAgent agent(
        [](netsnmp_pdu* pdu, int request) {
          oid longName[60];
          for (oid& o : longName) o = 4294967295u;
          longName[0] = 1;  // the first two parts share one encoded number
          longName[1] = 3;
          switch (request) {
            case 0:
              snmp_pdu_add_variable(pdu, kName, 8, ASN_OCTET_STR, "real", 4);
              break;
            case 1:
              snmp_pdu_add_variable(pdu, kName, 8, ASN_OCTET_STR, "one", 3);
              snmp_pdu_add_variable(pdu, kName, 8, ASN_OCTET_STR, "two", 3);
              break;
            default:
              snmp_pdu_add_variable(pdu, longName, 60, ASN_NULL, nullptr, 0);
              break;
          }
        },
        3);
    const std::string get = "} oid {1.3.6.1.4.1.99999.9}\n";
    tarvtest::Run(dir, Open("2c", agent.port()) + "snmp.get var {a" + get + "snmp.get var {b" +
                           get + "snmp.getnext oid {1.3}\n");
  }
  EXPECT_EQ(tarvtest::Vars({"a", "b", "snmp.oid"}), "real||");
  EXPECT_EQ(RunErrors(), (Errors{"tarvSnmpGet SnmpCountVbl=2,  error!",
                                  "tarvSnmpGet SnmpGetVb,  error!"}));
  EXPECT_EQ(sgSnmp.snmpCallBackTimes, 3);
}

// values.tsv: the text of each value syntax an answer may carry.
TEST(SnmpValueToStr, EverySyntax) {
  for (const auto& row : tarvtest::LoadRows("services/snmp/values.tsv")) {
    char out[1024];
    const SnmpValue v{std::stoi(row[1]), std::stoll(row[2]), reinterpret_cast<const uint8_t*>(row[3].data()),
                      row[3].size()};
    EXPECT_EQ(tarvSnmpValueToStr(v, out), static_cast<int>(row[4].size())) << row[0];
    EXPECT_EQ(std::string(out), row[4]) << row[0];
  }
  const std::string big(1500, 'x');
  char out[1024];
  const SnmpValue longOctets{4, 0, reinterpret_cast<const uint8_t*>(big.data()), big.size()};
  EXPECT_EQ(tarvSnmpValueToStr(longOctets, out), 1020);
  EXPECT_EQ(std::string(out), big.substr(0, 1020));
}

}  // namespace
