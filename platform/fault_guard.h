// Runs a statement handler so that a crash inside it is caught and reported
// instead of ending the process: C++ exceptions, and SIGSEGV, SIGBUS, SIGFPE
// and SIGILL raised while the handler runs.
#pragma once

// Calls fn.  Returns true and its result in *result when it returned; false
// when it faulted, with *code the signal number (or -1 for an exception).
bool GuardedCall(int (*fn)(), int* result, long* code);
