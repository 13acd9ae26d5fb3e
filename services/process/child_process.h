// The child-process statements: sys.command runs a command line to its end,
// and the sys.execute statements hold a dialogue with one child.
#pragma once
#include <cstdint>

struct Family;
const Family* ProcessFamily();

int sys_command_a2();
int sys_execute_open_a3();
int sys_execute_send_a3();
int sys_execute_recv_expect_a4();
int sys_execute_recv_for_a4_seconds();
int sys_execute_close();
// Closes the sys.execute child at the end of a run; no zombie is left.
void ProcessEndOfRun();

// The child of the sys.execute statements.  -1 in a descriptor or in Pid
// means none.
struct ExecuteState {
  int32_t OutRead;   // our end of the child's standard output and error
  int32_t OutWrite;  // the child's end of that pipe; closed once it runs
  int32_t InRead;    // the child's end of its input pipe; closed once it runs
  int32_t InWrite;   // our end of the child's standard input
  int32_t Pid;
  int32_t Open;      // 1 from a successful open to the close
};

extern ExecuteState sgExecute;

// Closes the sys.execute child's pipes, as the close statement does.
void ExecuteCloseChild();
