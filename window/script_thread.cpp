#include "window/script_thread.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "engine/core/engine.h"
#include "engine/core/family.h"
#include "engine/core/run_state.h"
#include "engine/log/log.h"
#include "window/frame.h"
#include "window/output_pane.h"
#include "window/page_copy.h"
#include "window/spill.h"
#include "window/window_state.h"

namespace {
struct StepEvent {
  std::mutex mutex;
  std::condition_variable changed;
  bool set = true;  // created signalled; the runner resets it before its first wait
  bool closed = false;
  bool waiting = false;  // the runner is blocked in the wait
};
StepEvent gStep;

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
  // Waiting counts only while the runner is blocked: an event set before
  // the wait lets it through at once.
  while (!gStep.set && !gStep.closed) {
    gStep.waiting = true;
    gStep.changed.wait(lock);
    gStep.waiting = false;
  }
  return !gStep.closed;
}

void StepEventInit() {
  std::lock_guard lock(gStep.mutex);
  gStep.set = true;
  gStep.closed = false;
  gStep.waiting = false;
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
  PagesShow([id](const PageSource& from) { PageCommand(id, from); });
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
      if (!StepEventWait()) return;
    }
    // A click on "run" during the wait counts for this step already.
    SetRunMode(sgWin.requestedMode.load());
    EsRunNextStep();
    SpillPanel();
    if (sgRun.RunMode == RUNMODE_RUN) {
      if (FrameDue()) FramePanel();
      // Whatever the next step does and however long it takes, the pages
      // show the run as this step left it.
      PagesPublish();
    }
    StepEventReset();
  }
  TarvFamiliesEndOfRun();
  // The log's closing lines wait for the window to close (TarvFinishLog).
  EsRunEnd(false);
  TarvCloseLog();
  SpillPanel();
  FrameShowNow();
  sgWin.threadEnded = 1;
}
