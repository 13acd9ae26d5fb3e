// Children handed over while still running are reaped without a thread
// each: many closed dialogues of long-lived children cost no threads.
#include <dirent.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <vector>

#include "platform/process.h"
#include "tests/platform/child_watch.h"

namespace {

int ThreadCount() {
  int n = 0;
  DIR* d = opendir("/proc/self/task");
  if (!d) return -1;
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

TEST(Reaper, ReleasedLiveChildrenShareOneReaper) {
  constexpr int kChildren = 200;
  std::vector<int32_t> pids;
  // A first release may start the reaper: count from after it.
  int32_t first = -1;
  ASSERT_EQ(ProcSpawn("sleep 30", 8, {}, false, &first), 0);
  pids.push_back(first);
  ProcRelease(first);
  const int before = ThreadCount();
  for (int i = 1; i < kChildren; i++) {
    int32_t pid = -1;
    ASSERT_EQ(ProcSpawn("sleep 30", 8, {}, false, &pid), 0);
    pids.push_back(pid);
    ProcRelease(pid);
  }
  EXPECT_EQ(ThreadCount(), before);
  EXPECT_EQ(ProcReleasedPending(), kChildren);
  for (int32_t pid : pids) kill(pid, SIGKILL);
  for (int32_t pid : pids)
    EXPECT_TRUE(childwatch::WaitFor([&] { return childwatch::Gone(pid); })) << pid;
  EXPECT_EQ(ProcReleasedPending(), 0);
}

}  // namespace
