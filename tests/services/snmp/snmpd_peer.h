// Debian's snmpd on 127.0.0.1 and a free port, with a pass script that
// answers exact values of each type under 1.3.6.1.4.1.99999, the only
// subtree the community "public" may see.
#pragma once
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/machine_wait.h"
#include "tests/platform/local_daemon.h"
#include "tests/services/sockets/tcp_peer.h"

namespace snmppeer {

inline constexpr const char* kBase = "1.3.6.1.4.1.99999";

// The objects: .1 integer -5, .2 time ticks of one day, .3 an address,
// .4 the largest counter, .5 octets with a zero byte inside, .6 a gauge,
// .7 a string; nothing after .7.
inline constexpr const char* kPassScript = R"(#!/usr/bin/python3
import sys
BASE = (1, 3, 6, 1, 4, 1, 99999)
OBJS = [((1,), "integer", "-5"), ((2,), "timeticks", "8640000"),
        ((3,), "ipaddress", "10.1.2.3"), ((4,), "counter", "4294967295"),
        ((5,), "octet", "41 42 00 43"), ((6,), "gauge", "7"),
        ((7,), "string", "hello world")]
mode, want = sys.argv[1], tuple(int(x) for x in sys.argv[2].strip(".").split("."))
for sub, typ, val in OBJS:
    o = BASE + sub
    if (mode == "-g" and o == want) or (mode == "-n" and o > want):
        print("." + ".".join(map(str, o)))
        print(typ)
        print(val)
        break
)";

class Snmpd {
 public:
  explicit Snmpd(const tarvtest::TempDir& dir) : dir_(dir) {
    const std::string pass = dir.Write("pass.py", kPassScript);
    chmod(pass.c_str(), 0755);
    for (int attempt = 0; attempt < 3 && !up_; attempt++) {
      port_ = tcppeer::FreePort(SOCK_DGRAM);
      const std::string conf = dir.Write(
          "snmpd.conf", "agentAddress udp:127.0.0.1:" + std::to_string(port_) +
                            "\nview tarvview included .1.3.6.1.4.1.99999\n"
                            "rocommunity public 127.0.0.1 -V tarvview\n"
                            "pass .1.3.6.1.4.1.99999 " + pass + "\n");
      const std::string log = dir.File("snmpd.log");
      if (!daemon_.Start({"/usr/sbin/snmpd", "-f", "-Lo", "-C", "-r", "-c", conf}, log,
                         {Env(), "MIBS="}))
        continue;
      up_ = Ready();
      if (!up_) daemon_.Stop();
    }
  }

  bool up() const { return up_; }
  int port() const { return port_; }

  // snmpget's bare value of one object ("-Oqv", time ticks as a number).
  std::string Get(const char* version, const std::string& oid) const {
    auto r = tarvtest::RunProgram(
        "/usr/bin/env",
        {Env(), "MIBS=", "/usr/bin/snmpget", "-v", version, "-c", "public", "-Oqvt", "-r", "0",
         "127.0.0.1:" + std::to_string(port_), oid},
        dir_.path().string(), 20);
    while (!r.output.empty() && (r.output.back() == '\n' || r.output.back() == ' '))
      r.output.pop_back();
    return r.output;
  }

 private:
  std::string Env() const { return "SNMP_PERSISTENT_DIR=" + dir_.File("persist"); }

  // The agent answers once its first object can be read.
  bool Ready() {
    return tarvtest::WaitFor(
        [this] { return !daemon_.Running() || Get("2c", std::string(kBase) + ".1") == "-5"; },
        tarvtest::MachineWait(), std::chrono::milliseconds(200)) &&
           daemon_.Running();
  }

  const tarvtest::TempDir& dir_;
  localdaemon::Daemon daemon_;
  int port_ = -1;
  bool up_ = false;
};

}  // namespace snmppeer
