// Run control: the run statements' helpers outside the statement table.
#pragma once

// Test seam: run.nms starts the program that runs it again (/proc/self/exe).
// A test program must not start itself, so tests name the program to start;
// nullptr returns to the running program.
void RunNmsSetProgram(const char* path);

// Starts cmdLine (NUL-terminated) with /dev/null for its three streams, in a
// session of its own, and leaves it running: nothing is read or waited for,
// and no descriptor of it is kept.  0, or -1 (a run error) when it could
// not start.
int sys_execute_no_output(const char* cmdLine);
