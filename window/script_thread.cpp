#include "window/script_thread.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/family.h"
#include "engine/core/run_state.h"
#include "engine/log/log.h"
#include "window/frame.h"
#include "window/output_pane.h"
#include "window/spill.h"
#include "window/window_state.h"

namespace {
struct StepEvent {
  std::mutex mutex;
  std::condition_variable changed;
  bool set = true;  // created signalled; the runner resets it before its first wait
  bool closed = false;
  bool waiting = false;
  // Page buttons pressed while the run goes on, for the runner to show;
  // once it has gone, the window's thread shows them itself.
  std::vector<int> pages;
  bool runnerGone = false;
};
StepEvent gStep;
std::atomic<bool> gPagesAsked{false};
constexpr size_t kPagesKept = 64;  // clicks come at a person's pace

// Shows the pages asked for; the caller holds `lock`, which is released
// meanwhile.
void ShowPagesLocked(std::unique_lock<std::mutex>& lock) {
  while (!gStep.pages.empty()) {
    std::vector<int> pages;
    pages.swap(gStep.pages);
    gPagesAsked = false;
    lock.unlock();
    for (int id : pages) PageCommand(id);
    lock.lock();
  }
}

void ShowPages() {
  if (!gPagesAsked.load(std::memory_order_relaxed)) return;
  std::unique_lock lock(gStep.mutex);
  ShowPagesLocked(lock);
}

// The runner leaves: pages still asked for are shown first.
void RunnerGone() {
  std::unique_lock lock(gStep.mutex);
  ShowPagesLocked(lock);
  gStep.runnerGone = true;
}

void SetRunMode(int32_t mode) {
  std::atomic_ref<int32_t>(sgRun.RunMode).store(mode, std::memory_order_relaxed);
}
}  // namespace

void StepEventSet() {
  {
    std::lock_guard lock(gStep.mutex);
    gStep.set = true;
  }
  gStep.changed.notify_all();
}

void StepEventReset() {
  std::lock_guard lock(gStep.mutex);
  gStep.set = false;
}

bool StepEventWait() {
  std::unique_lock lock(gStep.mutex);
  gStep.waiting = true;
  for (;;) {
    gStep.changed.wait(lock, [] { return gStep.set || gStep.closed || !gStep.pages.empty(); });
    if (gStep.closed || gStep.pages.empty()) break;
    ShowPagesLocked(lock);
  }
  gStep.waiting = false;
  return !gStep.closed;
}

void StepEventInit() {
  std::lock_guard lock(gStep.mutex);
  gStep.set = true;
  gStep.closed = false;
  gStep.waiting = false;
  gStep.pages.clear();
  gStep.runnerGone = false;
  gPagesAsked = false;
}

bool StepEventWaiting() {
  std::lock_guard lock(gStep.mutex);
  return gStep.waiting;
}

void StepEventClose() {
  {
    std::lock_guard lock(gStep.mutex);
    gStep.closed = true;
  }
  gStep.changed.notify_all();
}

void PageRequest(int id) {
  bool queued = false;
  {
    std::lock_guard lock(gStep.mutex);
    if (!gStep.runnerGone) {
      if (gStep.pages.size() < kPagesKept) gStep.pages.push_back(id);
      gPagesAsked = true;
      queued = true;
    }
  }
  if (queued)
    gStep.changed.notify_all();
  else
    PageCommand(id);
}

void RunModeCommand(int32_t runMode) {
  sgWin.requestedMode = runMode;
  StepEventSet();
}

void ScriptThread() {
  const int32_t state = sgRun.StepRunState;
  sgWin.requestedMode = RUNMODE_STEP;
  SetRunMode(RUNMODE_STEP);
  if (state == RUNEND) {
    RunnerGone();
    sgWin.threadEnded = 1;
    return;
  }
  StepEventReset();
  while (sgRun.StepRunState != RUNEND) {
    SetRunMode(sgWin.requestedMode.load());
    if (sgRun.RunMode == RUNMODE_STEP) {
      // The window shows the step just run, in the step mode's colours even
      // when a continuous run has just been paused.
      FrameShowNow();
      if (!StepEventWait()) {
        RunnerGone();
        return;
      }
    }
    // A click on "run" during the wait counts for this step already.
    SetRunMode(sgWin.requestedMode.load());
    EsRunNextStep();
    SpillPanel();
    if (sgRun.RunMode == RUNMODE_RUN && FrameDue()) FramePanel();
    ShowPages();
    StepEventReset();
  }
  TarvFamiliesEndOfRun();
  // The log's end waits for the window's closing message.
  EsRunEnd(false);
  TarvCloseLog();
  SpillPanel();
  FrameShowNow();
  RunnerGone();
  sgWin.threadEnded = 1;
}
