// The child-process statements: sys.command runs a command line to its end,
// the sys.execute statements hold a dialogue with one child, and
// sys_execute_no_output starts a program and lets it run on its own.
#pragma once
#include <cstdint>

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

// Starts cmdLine (NUL-terminated) with /dev/null for its three streams, in a
// session of its own, and leaves it running: nothing is read or waited for,
// and no descriptor of it is kept.  0, or -1 (a run error) when it could
// not start.
int sys_execute_no_output(const char* cmdLine);

// Closes the sys.execute child's pipes, as the close statement does.
void ExecuteCloseChild();
