// The child-process family: sys.command and the sys.execute dialogue; the
// dialogue's child is closed when a run ends.
#include "engine/core/family.h"
#include "services/process/child_process.h"

namespace {
constexpr FamilyHandler kHandlers[] = {
    {155, sys_command_a2},
    {156, sys_execute_open_a3},
    {157, sys_execute_send_a3},
    {158, sys_execute_recv_expect_a4},
    {159, sys_execute_recv_for_a4_seconds},
    {160, sys_execute_close},
};

constexpr Family kFamily = {"process", kHandlers, nullptr, ProcessEndOfRun};
}  // namespace

const Family* ProcessFamily() { return &kFamily; }
