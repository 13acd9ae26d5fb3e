#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

extern char** environ;

namespace {
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The scoped spawn attribute and file-action objects.
struct SpawnActions {
  posix_spawn_file_actions_t fa;
  bool ok;
  SpawnActions() : ok(posix_spawn_file_actions_init(&fa) == 0) {}
  ~SpawnActions() {
    if (ok) posix_spawn_file_actions_destroy(&fa);
  }
};
struct SpawnAttr {
  posix_spawnattr_t at;
  bool ok;
  SpawnAttr() : ok(posix_spawnattr_init(&at) == 0) {}
  ~SpawnAttr() {
    if (ok) posix_spawnattr_destroy(&at);
  }
};

// Gives the child's stream `target` our descriptor fd, or /dev/null.
int AddStream(posix_spawn_file_actions_t* fa, int target, int32_t fd, int flags) {
  if (fd < 0) return posix_spawn_file_actions_addopen(fa, target, "/dev/null", flags, 0);
  // A source among the standard descriptors could be overwritten by an
  // earlier action before it is copied.
  if (fd <= 2 && fd != target) return EINVAL;
  return posix_spawn_file_actions_adddup2(fa, fd, target);
}

// Moves a descriptor above the standard ones (a process started with one of
// them closed gets it back from pipe2).
int LiftAboveStd(int32_t* fd) {
  if (*fd > 2) return 0;
  int moved = fcntl(*fd, F_DUPFD_CLOEXEC, 3);
  if (moved < 0) return errno;
  close(*fd);
  *fd = moved;
  return 0;
}
}  // namespace

int ProcSplitCommandLine(const char* line, int len, CommandWords* out) {
  out->Count = 0;
  out->Argv[0] = nullptr;
  if (len < 0 || len > CMDLINE_BYTES_MAX) return -1;
  int o = 0;  // next free byte of out->Bytes
  int i = 0;
  while (true) {
    while (i < len && IsBlank(line[i])) i++;
    if (i >= len) break;
    out->Argv[out->Count] = out->Bytes + o;
    bool quoted = false;
    if (out->Count == 0) {
      // The program's path: quotes group, nothing escapes.
      for (; i < len && (quoted || !IsBlank(line[i])); i++) {
        if (line[i] == '"')
          quoted = !quoted;
        else
          out->Bytes[o++] = line[i];
      }
    } else {
      while (i < len && (quoted || !IsBlank(line[i]))) {
        const char c = line[i];
        if (c == '\\') {
          int k = 0;
          while (i + k < len && line[i + k] == '\\') k++;
          if (i + k < len && line[i + k] == '"') {
            for (int b = 0; b < k / 2; b++) out->Bytes[o++] = '\\';
            if (k % 2 == 1) {
              out->Bytes[o++] = '"';
              i += k + 1;
            } else {
              i += k;  // the quote groups, on the next pass
            }
          } else {
            for (int b = 0; b < k; b++) out->Bytes[o++] = '\\';
            i += k;
          }
        } else if (c == '"') {
          if (quoted && i + 1 < len && line[i + 1] == '"') {
            out->Bytes[o++] = '"';
            i += 2;
          } else {
            quoted = !quoted;
            i++;
          }
        } else {
          out->Bytes[o++] = c;
          i++;
        }
      }
    }
    out->Bytes[o++] = 0;
    out->Count++;
    out->Argv[out->Count] = nullptr;
  }
  return out->Count;
}

int ProcPipeOpen(PipeEnds* p) {
  p->Read = p->Write = -1;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return errno;
  int32_t r = fds[0], w = fds[1];
  int err = LiftAboveStd(&r);
  if (err == 0) err = LiftAboveStd(&w);
  if (err != 0) {
    ProcFdClose(&r);
    ProcFdClose(&w);
    return err;
  }
  p->Read = r;
  p->Write = w;
  return 0;
}

void ProcFdClose(int32_t* fd) {
  // Linux frees the descriptor even when close is interrupted: never retry.
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

int ProcSpawn(const char* cmdLine, int len, ChildStdio io, bool newSession, int32_t* pid) {
  *pid = -1;
  CommandWords words;
  int n = ProcSplitCommandLine(cmdLine, len, &words);
  if (n < 0) return E2BIG;
  if (n == 0) return ENOENT;

  SpawnActions actions;
  SpawnAttr attr;
  if (!actions.ok || !attr.ok) return ENOMEM;
  int err = AddStream(&actions.fa, 0, io.In, O_RDONLY);
  if (err == 0) err = AddStream(&actions.fa, 1, io.Out, O_WRONLY);
  if (err == 0) err = AddStream(&actions.fa, 2, io.Err, O_WRONLY);
  if (err != 0) return err;

  sigset_t defaults, mask;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigemptyset(&mask);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (newSession) flags |= POSIX_SPAWN_SETSID;
  posix_spawnattr_setsigdefault(&attr.at, &defaults);
  posix_spawnattr_setsigmask(&attr.at, &mask);
  posix_spawnattr_setflags(&attr.at, flags);

  pid_t child = -1;
  err = posix_spawnp(&child, words.Argv[0], &actions.fa, &attr.at, words.Argv, environ);
  if (err != 0) return err;
  *pid = child;
  return 0;
}

int ProcRead(int32_t fd, char* buf, int room) {
  if (fd < 0) return -EBADF;
  for (;;) {
    ssize_t n = read(fd, buf, room);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return -errno;
  }
}

int ProcReadWait(int32_t fd, char* buf, int room, int timeoutMs) {
  if (fd < 0) return -EBADF;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    if (r == 0) return PROC_READ_TIMEOUT;
    return ProcRead(fd, buf, room);
  }
}

int ProcWriteAll(int32_t fd, const char* data, int len) {
  if (fd < 0) return 0;
  int done = 0;
  while (done < len) {
    ssize_t n = write(fd, data + done, len - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    done += static_cast<int>(n);
  }
  return done;
}

int ProcWriteWait(int32_t fd, const char* data, int len, int timeoutMs) {
  if (fd < 0) return 0;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  // A blocking write of more than the pipe's free room waits for the reader;
  // without blocking it takes what fits (or all of a write of up to PIPE_BUF
  // bytes, which stays whole) and the rest waits here, by the clock.  The
  // flag is the file description's, which only this end shares.
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return 0;
  if (!(flags & O_NONBLOCK) && fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return 0;
  int done = 0;
  while (done < len) {
    const ssize_t n = write(fd, data + done, len - done);
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLOUT, 0};
    const int r = poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX)));
    if (r < 0 && errno != EINTR) break;
    // POLLERR (the reader is gone) lets the next write fail with EPIPE.
  }
  if (!(flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags);
  return done;
}

int ProcWait(int32_t pid) {
  if (pid <= 0) return -ECHILD;
  int status = 0;
  for (;;) {
    if (waitpid(pid, &status, 0) == pid) return status;
    if (errno != EINTR) return -errno;
  }
}

namespace {
// Children handed over by ProcRelease that had not ended yet.  One reaper
// thread looks after all of them: a waiting thread per child would cost a
// stack each for as long as the child lives.
constexpr int kMaxReleased = 4096;
struct Released {
  std::mutex Mutex;
  std::condition_variable Wake;
  std::array<pid_t, kMaxReleased> Pids;
  int Count = 0;
  bool ReaperRunning = false;
};
// Never destroyed: the reaper may still be waiting while the process ends.
Released& gReleased = *new Released;

// Reaps every listed child that has ended (or is no longer ours) and keeps
// the others.
void ReapReleasedLocked() {
  int kept = 0;
  for (int i = 0; i < gReleased.Count; i++) {
    int status;
    pid_t r = waitpid(gReleased.Pids[i], &status, WNOHANG);
    if (r == 0 || (r < 0 && errno == EINTR)) gReleased.Pids[kept++] = gReleased.Pids[i];
  }
  gReleased.Count = kept;
}

// Runs while released children are still running; a child's end sends no
// wake-up of its own, so the list is looked at again every 100 ms.
void ReaperLoop() {
  std::unique_lock lock(gReleased.Mutex);
  for (;;) {
    ReapReleasedLocked();
    if (gReleased.Count == 0) break;
    gReleased.Wake.wait_for(lock, std::chrono::milliseconds(100));
  }
  gReleased.ReaperRunning = false;
}
}  // namespace

void ProcRelease(int32_t pid) {
  if (pid <= 0) return;
  int status;
  pid_t r = waitpid(pid, &status, WNOHANG);
  if (r != 0) return;  // reaped now, or not our child
  std::lock_guard lock(gReleased.Mutex);
  ReapReleasedLocked();
  // With the list full the child stays unreaped until this process ends.
  if (gReleased.Count >= kMaxReleased) return;
  gReleased.Pids[gReleased.Count++] = pid;
  if (gReleased.ReaperRunning) return;
  try {
    std::thread(ReaperLoop).detach();
    gReleased.ReaperRunning = true;
  } catch (const std::system_error&) {
    // No thread to spare: the list is looked at again at the next release.
  }
}

int ProcReleasedPending() {
  std::lock_guard lock(gReleased.Mutex);
  return gReleased.Count;
}

int ProcRaisePriority() {
  constexpr int kHigh = -10;
  // Linux keeps the nice value per thread: raise every thread of ours.
  DIR* d = opendir("/proc/self/task");
  if (!d) return setpriority(PRIO_PROCESS, 0, kHigh) == 0 ? 0 : errno;
  int err = 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    int tid = static_cast<int>(std::strtol(e->d_name, nullptr, 10));
    if (setpriority(PRIO_PROCESS, tid, kHigh) != 0 && err == 0) err = errno;
  }
  closedir(d);
  return err;
}
