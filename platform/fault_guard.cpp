#include "platform/fault_guard.h"

#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {
constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kNumSignals = sizeof kSignals / sizeof kSignals[0];

thread_local sigjmp_buf* tJump = nullptr;
thread_local volatile sig_atomic_t tSignal = 0;

void OnFault(int sig) {
  if (tJump == nullptr) {
    // Not inside a guarded call: die as the signal would have us die.
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  tSignal = sig;
  siglongjmp(*tJump, 1);
}

// A fault from a stack overflow needs a stack of its own to be handled.
void EnsureAltStack() {
  thread_local bool done = false;
  if (done) return;
  done = true;
  static thread_local char stack[64 * 1024];
  stack_t ss{};
  ss.ss_sp = stack;
  ss.ss_size = sizeof stack;
  sigaltstack(&ss, nullptr);
}
}  // namespace

bool GuardedCall(int (*fn)(), int* result, long* code) {
  EnsureAltStack();
  struct sigaction sa{};
  sa.sa_handler = OnFault;
  sa.sa_flags = SA_ONSTACK | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  struct sigaction old[kNumSignals];
  for (int i = 0; i < kNumSignals; i++) sigaction(kSignals[i], &sa, &old[i]);

  sigjmp_buf jump;
  sigjmp_buf* outer = tJump;
  volatile bool ok = true;
  if (sigsetjmp(jump, 1) == 0) {
    tJump = &jump;
    try {
      *result = fn();
    } catch (...) {
      ok = false;
      *code = -1;
    }
  } else {
    ok = false;
    *code = tSignal;
  }
  tJump = outer;
  for (int i = 0; i < kNumSignals; i++) sigaction(kSignals[i], &old[i], nullptr);
  return ok;
}
