// The telnet family: its statements, and the session cleared at every
// initialisation.  The rows it leaves out (sending a file, receiving an exact
// text, listening) answer that they are not yet completed.
#include "engine/core/family.h"
#include "services/telnet/telnet_session.h"

namespace {
constexpr FamilyHandler kHandlers[] = {
    {35, telnet_connect_ip_a3_port_a5},
    {36, telnet_recv_expect_a3},
    {37, telnet_recv_for_a3_seconds},
    {38, telnet_set_onrecv_a3_send_a5},
    {39, telnet_set_delay_a3_ms_after_per_byte_send},
    {40, telnet_send_a2},
    {41, telnet_send_text},
    {44, telnet_close},
};

constexpr Family kFamily = {"telnet", kHandlers, TelnetStateClear, nullptr};
}  // namespace

const Family* TelnetFamily() { return &kFamily; }
