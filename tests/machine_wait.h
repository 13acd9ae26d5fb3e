// How long a test waits for the machine: a peer or a display to start, a
// window to appear, a child to be reaped, a run to reach a point.  Such
// waits end as soon as their condition holds; the deadline only decides
// when a test gives up, so it is generous, and one for the whole suite.
// The sanitizer build runs several times slower and gets a longer one;
// TARV_TEST_WAIT_FACTOR (a whole number) stretches it further on a machine
// known to be slow.  A test's own bounds on the program under test (a step
// that must end within its time-out) are not machine waits and stay as
// they are.
#pragma once
#include <chrono>
#include <cstdlib>
#include <thread>

namespace tarvtest {

// Whether the tests run under the address sanitizer (gcc says so with a
// macro, clang with a feature).
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
inline constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
inline constexpr bool kSanitized = false;
#endif

inline constexpr int kMachineWaitSeconds = 60;
inline constexpr int kSanitizedWaitFactor = 3;

// `seconds` of a wait for the machine as this build on this machine takes
// them: a guard against a hang (a watchdog, a peer's own wait) that holds
// `seconds` on an idle machine.
inline int MachineScaled(int seconds) {
  static const int factor = [] {
    const char* given = std::getenv("TARV_TEST_WAIT_FACTOR");
    const int extra = given != nullptr ? std::atoi(given) : 1;
    return (kSanitized ? kSanitizedWaitFactor : 1) * (extra >= 1 ? extra : 1);
  }();
  return seconds * factor;
}
// The deadline of a wait for the machine, in seconds.
inline int MachineSeconds() { return MachineScaled(kMachineWaitSeconds); }
inline std::chrono::milliseconds MachineWait() { return std::chrono::seconds(MachineSeconds()); }

// Polls `done` every `poll` until it holds or the machine's deadline (or
// the bound given) has passed; its last answer.
template <typename F>
bool WaitFor(F done, std::chrono::milliseconds bound = MachineWait(),
             std::chrono::milliseconds poll = std::chrono::milliseconds(50)) {
  const auto end = std::chrono::steady_clock::now() + bound;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(poll);
  }
  return done();
}

}  // namespace tarvtest
