// The network-diagnosis family: dns.get, dns.set ipmode, ping.ip, arp.get.
#include "engine/core/family.h"
#include "services/netdiag/netdiag.h"

namespace {
constexpr FamilyHandler kHandlers[] = {
    {32, dns_get_var_a3_host_a5},
    {33, ping_ip_a2_ttl_a4_size_a6},
    {34, arp_get_var_a3_ip_a5},
    {87, dns_set_ipmode_a3},
};

// The IP mode lives in the run state, which initialisation clears.
constexpr Family kFamily = {"netdiag", kHandlers, nullptr, nullptr};
}  // namespace

const Family* NetdiagFamily() { return &kFamily; }
