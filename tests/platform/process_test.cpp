#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/harness.h"
#include "tests/platform/child_watch.h"

namespace {

std::vector<std::string> Split(const std::string& line) {
  CommandWords w;
  int n = ProcSplitCommandLine(line.data(), static_cast<int>(line.size()), &w);
  std::vector<std::string> out;
  for (int i = 0; i < n; i++) out.emplace_back(w.Argv[i]);
  EXPECT_EQ(w.Argv[n < 0 ? 0 : n], nullptr);
  return out;
}

// The Windows start-up rules: tests/engine/cases/command_lines.txt.
TEST(ProcSplitCommandLine, WindowsStartUpRules) {
  tarvtest::ExpectLineCases("command_lines.txt", [](const std::string& line) {
    std::string out;
    for (const std::string& w : Split(line)) out += "[" + w + "]";
    return out;
  });
}

TEST(ProcSplitCommandLine, LengthBoundsAndFullStorage) {
  CommandWords w;
  EXPECT_EQ(ProcSplitCommandLine("abc", -1, &w), -1);
  std::string tooLong(CMDLINE_BYTES_MAX + 1, 'a');
  EXPECT_EQ(ProcSplitCommandLine(tooLong.data(), static_cast<int>(tooLong.size()), &w), -1);
  EXPECT_EQ(ProcSplitCommandLine("ab cd", 2, &w), 1);  // only len bytes count
  EXPECT_STREQ(w.Argv[0], "ab");
  // The most words and bytes a line can give fit the fixed storage.
  std::string many;
  while (many.size() + 3 <= CMDLINE_BYTES_MAX) many += "a ";
  many += "a";
  ASSERT_LE(many.size(), static_cast<size_t>(CMDLINE_BYTES_MAX));
  const int words = static_cast<int>(many.size() + 1) / 2;
  EXPECT_EQ(ProcSplitCommandLine(many.data(), static_cast<int>(many.size()), &w), words);
  EXPECT_STREQ(w.Argv[words - 1], "a");
  EXPECT_EQ(w.Argv[words], nullptr);
  std::string quotes = "p";
  while (quotes.size() + 3 <= CMDLINE_BYTES_MAX) quotes += " \"\"";
  int n = ProcSplitCommandLine(quotes.data(), static_cast<int>(quotes.size()), &w);
  EXPECT_EQ(n, 1 + static_cast<int>(quotes.size() - 1) / 3);
  EXPECT_STREQ(w.Argv[n - 1], "");
}

class ProcTest : public ::testing::Test {
 protected:
  void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }
  void TearDown() override { EXPECT_TRUE(childwatch::NoZombies()); }

  // Output and error share one pipe: the bytes written.
  std::string Run(const std::string& cmd, ChildStdio io = {-1, 0, 0}, bool newSession = false) {
    PipeEnds p;
    EXPECT_EQ(ProcPipeOpen(&p), 0);
    UniqueFd r(p.Read), w(p.Write);
    if (io.Out == 0) io.Out = w.get();
    if (io.Err == 0) io.Err = w.get();
    int32_t pid = -1;
    int err = ProcSpawn(cmd.data(), static_cast<int>(cmd.size()), io, newSession, &pid);
    ProcFdClose(w.put());
    EXPECT_EQ(err, 0) << cmd;
    if (err != 0) return "<spawn failed>";
    EXPECT_GT(pid, 0);
    std::string out;
    char buf[4096];
    int n;
    while ((n = ProcRead(r.get(), buf, sizeof buf)) > 0) out.append(buf, n);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(ProcWait(pid), 0);
    return out;
  }
};

TEST_F(ProcTest, NoShellReadsTheLineAndUnsetStreamsAreDevNull) {
  // Without a shell, $HOME and ; are plain bytes of the arguments.
  EXPECT_EQ(Run("printf \"%s|\" $HOME ; \"a b\""), "$HOME|;|a b|");
  EXPECT_EQ(Run("readlink /proc/self/fd/2", {-1, 0, -1}), "/dev/null\n");
}

// A missing program and an empty line are the sys.command tests'.
TEST_F(ProcTest, RefusedStarts) {
  int32_t pid = 1234;
  std::string tooLong(CMDLINE_BYTES_MAX + 1, 'a');
  EXPECT_EQ(ProcSpawn(tooLong.data(), static_cast<int>(tooLong.size()), {}, false, &pid), E2BIG);
  EXPECT_EQ(pid, -1);
  // A standard descriptor handed in for another stream is refused.
  EXPECT_EQ(ProcSpawn("true", 4, {1, -1, -1}, false, &pid), EINVAL);
}

// Descriptors of a process, from /proc.
std::set<int> OpenFds(const std::string& pid) {
  std::set<int> fds;
  for (const auto& e : std::filesystem::directory_iterator("/proc/" + pid + "/fd"))
    fds.insert(std::stoi(e.path().filename().string()));
  return fds;
}

TEST_F(ProcTest, ChildSeesNoDescriptorOfOurs) {
  // What the child may rightly get: its three streams, and whatever this
  // test program was itself given without close-on-exec (looked at before
  // the pipes exist, so that pipes without it show).
  std::set<int> expected = {0, 1, 2};
  for (int fd : OpenFds("self"))
    if (fd > 2 && fcntl(fd, F_GETFD) >= 0 && !(fcntl(fd, F_GETFD) & FD_CLOEXEC)) expected.insert(fd);
  PipeEnds in, out, extra;
  for (PipeEnds* p : {&in, &out, &extra}) ASSERT_EQ(ProcPipeOpen(p), 0);
  int32_t pid = -1;
  ASSERT_EQ(ProcSpawn("cat", 3, {in.Read, out.Write, out.Write}, false, &pid), 0);
  // An echo through cat proves the start is complete.
  char buf[16];
  ASSERT_EQ(ProcWriteAll(in.Write, "x", 1), 1);
  ASSERT_EQ(ProcReadWait(out.Read, buf, sizeof buf, 10000), 1);
  const std::set<int> seen = OpenFds(std::to_string(pid));
  // A child holding its own input's write end would wait for ever.
  if (seen != expected) kill(pid, SIGKILL);
  for (int32_t* fd : {&in.Read, &in.Write, &out.Write, &extra.Read, &extra.Write}) ProcFdClose(fd);
  EXPECT_EQ(ProcRead(out.Read, buf, sizeof buf), 0);
  ProcFdClose(&out.Read);
  EXPECT_EQ(ProcWait(pid), 0);
  EXPECT_EQ(seen, expected);
}

TEST_F(ProcTest, SigpipeIsDefaultAndNoSignalIsBlockedInTheChild) {
  ASSERT_EQ(std::signal(SIGPIPE, SIG_IGN), SIG_IGN);
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  std::string status = Run("cat /proc/self/status");
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  auto mask = [&](const std::string& key) {
    size_t at = status.find("\n" + key + ":");
    EXPECT_NE(at, std::string::npos) << key;
    return std::stoull(status.substr(at + key.size() + 2), nullptr, 16);
  };
  EXPECT_EQ(mask("SigIgn") & (1ull << (SIGPIPE - 1)), 0u);
  EXPECT_EQ(mask("SigBlk"), 0u);
}

TEST_F(ProcTest, NewSessionOnlyWhenAsked) {
  auto session = [](const std::string& stat, int* pid) {
    *pid = std::stoi(stat);
    std::istringstream rest(stat.substr(stat.rfind(')') + 1));
    char state;
    int ppid, pgrp, sid;
    rest >> state >> ppid >> pgrp >> sid;
    return sid;
  };
  int pid = 0;
  EXPECT_EQ(session(Run("cat /proc/self/stat", {-1, 0, 0}, true), &pid), pid);
  EXPECT_EQ(session(Run("cat /proc/self/stat"), &pid), getsid(0));
}

// Pipes are close-on-exec: ChildSeesNoDescriptorOfOurs.  A write to a
// closed reader is short, not fatal (the receives are the
// sys.execute tests').
TEST_F(ProcTest, WritesSurviveAClosedReader) {
  PipeEnds p;
  ASSERT_EQ(ProcPipeOpen(&p), 0);
  ProcFdClose(&p.Read);
  EXPECT_EQ(p.Read, -1);  // closed ends read as none
  EXPECT_EQ(ProcWriteAll(p.Write, "abc", 3), 0);
  EXPECT_EQ(ProcWriteAll(-1, "abc", 3), 0);
  ProcFdClose(&p.Write);
}

// A bounded write into a pipe whose reader does not take: what fits goes,
// the rest waits for room no longer than it was given; a reader that takes
// lets all of it go; a reader that has gone ends it at once.  The
// descriptor's own blocking mode is kept.
TEST_F(ProcTest, BoundedWritesWaitForRoomOnlyAsLongAsGiven) {
  childwatch::Watchdog bound{10, "a bounded write"};
  PipeEnds p;
  ASSERT_EQ(ProcPipeOpen(&p), 0);
  const int room = fcntl(p.Write, F_GETPIPE_SZ);
  ASSERT_GT(room, 0);
  const std::string big(static_cast<size_t>(room) + 5000, 'z');
  const int bigLen = static_cast<int>(big.size());
  using Clock = std::chrono::steady_clock;
  auto start = Clock::now();
  EXPECT_EQ(ProcWriteWait(p.Write, big.data(), bigLen, 300), room);
  const double waited = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(waited, 0.29);
  EXPECT_LT(waited, 2.0);
  EXPECT_EQ(fcntl(p.Write, F_GETFL) & O_NONBLOCK, 0);
  // A small write into a full pipe is not cut: none of it goes.
  EXPECT_EQ(ProcWriteWait(p.Write, "abc", 3, 0), 0);

  int64_t taken = 0;
  std::thread reader([&] {
    char buf[4096];
    while (taken < room + bigLen) {
      const int n = ProcRead(p.Read, buf, sizeof buf);
      if (n <= 0) break;
      taken += n;
    }
  });
  EXPECT_EQ(ProcWriteWait(p.Write, big.data(), bigLen, 10000), bigLen);
  reader.join();
  EXPECT_EQ(taken, room + bigLen);

  ProcFdClose(&p.Read);
  start = Clock::now();
  EXPECT_EQ(ProcWriteWait(p.Write, "abc", 3, 10000), 0);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
  EXPECT_EQ(ProcWriteWait(-1, "abc", 3, 100), 0);
  ProcFdClose(&p.Write);
}

TEST_F(ProcTest, ReleasedChildrenAreReapedWhenTheyEnd) {
  int32_t ended = -1, running = -1;
  ASSERT_EQ(ProcSpawn("true", 4, {}, false, &ended), 0);
  ASSERT_TRUE(childwatch::WaitFor([&] {
    childwatch::Proc p;
    return childwatch::ReadProc(ended, &p) && p.state == 'Z';
  }));
  ProcRelease(ended);  // already a zombie: reaped at once
  EXPECT_TRUE(childwatch::Gone(ended));

  ASSERT_EQ(ProcSpawn("sleep 0.3", 9, {}, false, &running), 0);
  ProcRelease(running);  // still running: reaped when it ends
  EXPECT_FALSE(childwatch::Gone(running));
  EXPECT_TRUE(childwatch::WaitFor([&] { return childwatch::Gone(running); }));
  ProcRelease(-1);
  ProcRelease(0);
  EXPECT_EQ(ProcWait(-1), -ECHILD);
}

TEST(ProcRaisePriority, RaisesWithThePrivilegeAndIsRefusedWithout) {
  const bool root = geteuid() == 0;
  if (root) {
    EXPECT_EQ(childwatch::InChild([] {
                if (ProcRaisePriority() != 0) return 1;
                errno = 0;
                return getpriority(PRIO_PROCESS, 0) == -10 && errno == 0 ? 0 : 2;
              }),
              0);
  }
  // An unprivileged process may not raise its priority.
  EXPECT_EQ(childwatch::InChild([root] {
              if (root && setuid(65534) != 0) return 3;
              rlimit rl{0, 0};
              setrlimit(RLIMIT_NICE, &rl);
              const int before = getpriority(PRIO_PROCESS, 0);
              int err = ProcRaisePriority();
              if (err != EACCES && err != EPERM) return 4;
              return getpriority(PRIO_PROCESS, 0) == before ? 0 : 5;
            }),
            0);
}

}  // namespace
