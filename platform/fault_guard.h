// Runs a statement handler so that a crash inside it is caught and reported
// instead of ending the process: C++ exceptions, and SIGSEGV, SIGBUS, SIGFPE
// and SIGILL raised while the handler runs.
#pragma once
#include <csetjmp>
#include <csignal>

// Calls fn.  Returns true and its result in *result when it returned; false
// when it faulted, with *code the signal number (or -1 for an exception).
bool GuardedCall(int (*fn)(), int* result, long* code);

// A loop that calls many functions arms one jump buffer for all of them
// instead of one per call: it keeps FaultGuardCurrent(), calls
// sigsetjmp(jump, 0) in its own frame, then FaultGuardSet({&jump, &open}).
// A fault raised while `open` is non-zero returns to that sigsetjmp with a
// non-zero value (the buffer stays armed), and FaultGuardSignal() tells its
// signal; a fault while `open` is zero is not caught.  At its end the loop
// sets back what it kept.
struct FaultGuardArming {
  sigjmp_buf* jump;
  volatile sig_atomic_t* open;  // null: always open
};
FaultGuardArming FaultGuardCurrent();
void FaultGuardSet(FaultGuardArming arming);
int FaultGuardSignal();
