// arp.get: the hardware address of an IPv4 neighbour as "XX-XX-XX-XX-XX-XX".
#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "platform/neighbour.h"
#include "services/netdiag/netdiag.h"

namespace {

constexpr int kAddrMax = 250;
constexpr int kMsPerSecond = 1000;

}  // namespace

int WinArpGetMac(const char* ip, char* out, int room) {
  if (room > 0) out[0] = 0;
  // A text that is no dotted address stands for the all-ones address, which
  // no neighbour has.
  in_addr addr;
  if (inet_pton(AF_INET, ip, &addr) != 1) addr.s_addr = INADDR_NONE;
  uint8_t mac[NEIGHBOUR_MAC_MAX];
  std::memset(mac, 0xff, sizeof mac);
  int len = 0;
  // Resolution may take the whole step time-out (at least one second).
  const int waitMs = (sgRun.StepTimeout > 1 ? sgRun.StepTimeout : 1) * kMsPerSecond;
  const int r = NeighbourMacV4(addr, mac, &len, waitMs);
  TarvDebugLog("\nSending ARP request for IP address: %s , return=%d", ip, -r);
  if (r != 0) return TarvReturn(-2, "arp [%s] Error! retcode=[%d]", ip, -r);
  if (len == 0) return TarvReturn(-1, "arp [%s] Error! No Response", ip);
  int n = 0;
  for (int i = 0; i < len && n + 3 < room; ++i)
    n += std::snprintf(out + n, room - n, i + 1 < len ? "%.2X-" : "%.2X", mac[i]);
  return n;
}

int arp_get_var_a3_ip_a5() {
  HandlerBegin();
  if (int r = ArgCheckLength(3, VAR_NAME - 2, -2)) return r;
  TarvSetVar4(agA[3], igL[3], "", 0);
  if (int r = ArgCheckLength(5, kAddrMax, -3)) return r;
  char out[NETDIAG_OUT] = {};
  const int len = WinArpGetMac(agA[5], out, sizeof out);
  if (len < 0) return NmsRunError(-9, "WinArpGetMac  <0 !");
  if (TarvSetVar4(agA[3], igL[3], out, len) < 0) return NmsRunError(-5, "TarvSetVar4 len< 0 !");
  return TarvReturn(0, "arp_get_var_a3_ip_a5 return.");
}
