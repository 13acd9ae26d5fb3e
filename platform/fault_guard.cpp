#include "platform/fault_guard.h"

#include <csetjmp>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>

namespace {
constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kNumSignals = sizeof kSignals / sizeof kSignals[0];

struct sigaction gPrevious[kNumSignals];
thread_local sigjmp_buf* tJump = nullptr;
thread_local volatile sig_atomic_t* tOpen = nullptr;
thread_local volatile sig_atomic_t tSignal = 0;

void OnFault(int sig, siginfo_t* info, void*) {
  if (tJump != nullptr && (tOpen == nullptr || *tOpen != 0)) {
    tSignal = sig;
    siglongjmp(*tJump, 1);
  }
  // Not inside a guarded call: hand the signal to whoever had it before.
  for (int i = 0; i < kNumSignals; i++)
    if (kSignals[i] == sig) sigaction(sig, &gPrevious[i], nullptr);
  // A fault raised by the hardware happens again on return and then reaches
  // the previous action with its real details; a sent signal is sent again.
  if (info == nullptr || info->si_code <= 0) raise(sig);
}

// Installed once: changing the actions around every handler call would cost
// more than the handlers themselves.
void Install() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction sa{};
    sa.sa_sigaction = OnFault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < kNumSignals; i++) sigaction(kSignals[i], &sa, &gPrevious[i]);
  });
}

// A fault from a stack overflow needs a stack of its own to be handled.  It
// is allocated by the first guarded call of a thread, so that only threads
// that run handlers pay for it, and given back when the thread ends.
class AltStack {
 public:
  ~AltStack() {
    if (!stack_) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
  }
  void Ensure() {
    if (stack_) return;
    stack_ = std::make_unique<char[]>(kSize);
    stack_t ss{};
    ss.ss_sp = stack_.get();
    ss.ss_size = kSize;
    sigaltstack(&ss, nullptr);
  }

 private:
  static constexpr size_t kSize = 64 * 1024;
  std::unique_ptr<char[]> stack_;
};

void EnsureAltStack() {
  thread_local AltStack stack;
  stack.Ensure();
}

void Prepare() {
  // The actions and this thread's signal stack are set up by its first call.
  thread_local bool ready = false;
  if (!ready) {
    Install();
    EnsureAltStack();
    ready = true;
  }
}
}  // namespace

bool GuardedCall(int (*fn)(), int* result, long* code) {
  sigjmp_buf jump;
  const FaultGuardArming outer = FaultGuardCurrent();
  volatile bool ok = true;
  // The handler blocks nothing (SA_NODEFER), so the mask need not be saved.
  if (sigsetjmp(jump, 0) == 0) {
    FaultGuardSet({&jump, nullptr});
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
  FaultGuardSet(outer);
  return ok;
}

FaultGuardArming FaultGuardCurrent() { return {tJump, tOpen}; }

void FaultGuardSet(FaultGuardArming arming) {
  Prepare();
  tJump = arming.jump;
  tOpen = arming.open;
}

int FaultGuardSignal() { return tSignal; }
