// The snmp statements through the real binary against snmpd.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/services/snmp/snmpd_peer.h"

namespace {

TEST(SnmpBinary, ScriptReadsTheAgent) {
  tarvtest::TempDir dir;
  snmppeer::Snmpd agent(dir);
  ASSERT_TRUE(agent.up());
  const std::string out = dir.File("out.txt");
  const std::string b = snmppeer::kBase;
  const std::string script = dir.Write(
      "snmp.nms", "snmp.open version {2c} ip {127.0.0.1} port {" + std::to_string(agent.port()) +
                      "} password {public}\n"
                      "snmp.get var {ticks} oid {" + b + ".2}\n"
                      "snmp.getnext oid {" + b + ".3}\n"
                      "text.add {~ticks~|~snmp.oid~|~snmp.value~|~run.errors~}\n"
                      "text.headpointer move to head\n"
                      "text.tailpointer move to tail\n"
                      "text.save to file {" + out + "}\n"
                      "run.end\n");
  const auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script},
                                      dir.path().string(), 60);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(out),
            "1 Days 0 Hours 0 Minutes 0 Seconds|" + b + ".4|4294967295|0");
}

}  // namespace
