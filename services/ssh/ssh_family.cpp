// The ssh family: a connection left open is closed when a run ends and
// before the next run's initialisation clears the record.
#include "engine/core/family.h"
#include "services/ssh/ssh_client.h"

namespace {
constexpr FamilyHandler kHandlers[] = {
    {75, ssh_connect_ip_a3_port_a5_username_a7_password_a9},
    {76, ssh_set_onrecv_a3_send_a5},
    {77, ssh_recv_expect_a3},
    {78, ssh_recv_for_a3_seconds},
    {79, ssh_send_a2},
    {80, ssh_close},
    {81, ssh_command_a2},
};

constexpr Family kFamily = {"ssh", kHandlers, SshReset, SshEndOfRun};
}  // namespace

const Family* SshFamily() { return &kFamily; }
