#include "platform/target_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/engine/harness.h"

namespace {

namespace fs = std::filesystem;
using tarvtest::ReadFile;
using tarvtest::TempDir;

constexpr TargetWrite kModes[] = {TargetWrite::kTruncate, TargetWrite::kAppend, TargetWrite::kReplace};

// Writes `bytes` to path the way `how` does; the failure, kNone when it was
// written.
TargetFile::Failure Save(const std::string& path, TargetWrite how, const std::string& bytes,
                         std::string* why = nullptr) {
  TargetFile f;
  const bool ok = f.Open(path.c_str(), how) && f.Write(bytes.data(), bytes.size()) && f.Finish();
  if (why != nullptr) *why = f.Why(static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(ok, f.failed() == TargetFile::Failure::kNone) << path;
  return f.failed();
}

// The names in dir, hidden ones included.
std::vector<std::string> Names(const TempDir& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir.path())) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(TargetFile, WritesInPlaceAppendsAndReplaces) {
  TempDir dir;
  const std::string a = dir.Write("a.txt", "a longer old content");
  EXPECT_EQ(Save(a, TargetWrite::kTruncate, "new"), TargetFile::Failure::kNone);
  EXPECT_EQ(ReadFile(a), "new");
  EXPECT_EQ(Save(a, TargetWrite::kAppend, "+1"), TargetFile::Failure::kNone);
  EXPECT_EQ(Save(a, TargetWrite::kAppend, "+2"), TargetFile::Failure::kNone);
  EXPECT_EQ(ReadFile(a), "new+1+2");
  // New files of every kind, an empty one too.
  EXPECT_EQ(Save(dir.File("t.new"), TargetWrite::kTruncate, "t"), TargetFile::Failure::kNone);
  EXPECT_EQ(Save(dir.File("a.new"), TargetWrite::kAppend, "a"), TargetFile::Failure::kNone);
  EXPECT_EQ(Save(dir.File("r.new"), TargetWrite::kReplace, ""), TargetFile::Failure::kNone);
  EXPECT_EQ(ReadFile(dir.File("t.new")) + ReadFile(dir.File("a.new")) + ReadFile(dir.File("r.new")), "ta");

  // A replaced file is a new one under the old name, with the old mode; no
  // other name is left behind.
  const std::string r = dir.Write("r.gif", "old");
  ASSERT_EQ(chmod(r.c_str(), 0640), 0);
  struct stat before {};
  ASSERT_EQ(stat(r.c_str(), &before), 0);
  EXPECT_EQ(Save(r, TargetWrite::kReplace, "replaced"), TargetFile::Failure::kNone);
  struct stat after {};
  ASSERT_EQ(stat(r.c_str(), &after), 0);
  EXPECT_EQ(ReadFile(r), "replaced");
  EXPECT_NE(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"a.new", "a.txt", "r.gif", "r.new", "t.new"}));
}

// Through a symbolic link (a chain, a relative one, one whose file does not
// exist yet) the file it leads to is replaced and the link stays.
TEST(TargetFile, ReplacingThroughALinkKeepsTheLink) {
  TempDir dir;
  fs::create_directory(dir.path() / "sub");
  const std::string real = dir.Write("sub/real.gif", "old");
  fs::create_symlink("sub/real.gif", dir.path() / "one");
  fs::create_symlink(dir.File("one"), dir.path() / "two");
  EXPECT_EQ(Save(dir.File("two"), TargetWrite::kReplace, "new"), TargetFile::Failure::kNone);
  EXPECT_TRUE(fs::is_symlink(dir.File("two")));
  EXPECT_TRUE(fs::is_symlink(dir.File("one")));
  EXPECT_EQ(ReadFile(real), "new");

  fs::create_symlink("sub/later.gif", dir.path() / "dangling");
  EXPECT_EQ(Save(dir.File("dangling"), TargetWrite::kReplace, "made"), TargetFile::Failure::kNone);
  EXPECT_TRUE(fs::is_symlink(dir.File("dangling")));
  EXPECT_EQ(ReadFile(dir.File("sub/later.gif")), "made");

  // A link into a folder that does not exist cannot be written.
  fs::create_symlink("missing/x.gif", dir.path() / "nowhere");
  for (TargetWrite how : kModes) {
    std::string why = "?";
    EXPECT_EQ(Save(dir.File("nowhere"), how, "x"), TargetFile::Failure::kOpen);
    EXPECT_EQ(Save(dir.File("nowhere"), how, "x", &why), TargetFile::Failure::kOpen);
    EXPECT_EQ(why, "");
  }
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
}

// What is no regular file is refused before anything is written, a FIFO at
// once whether or not it has a reader; a file with no write bit is refused
// for root as well; every such target stays as it was.
TEST(TargetFile, RefusesWhatIsNoRegularFileAndReadOnlyFiles) {
  TempDir dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(dir.path() / "folder");
  const std::string ro = dir.Write("ro.txt", "kept");
  ASSERT_EQ(chmod(ro.c_str(), 0444), 0);
  fs::create_symlink(fifo, dir.path() / "to_fifo");
  // A reader, so that a writer's open would not wait if it were tried.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  for (TargetWrite how : kModes) {
    const int mode = static_cast<int>(how);
    std::string why;
    EXPECT_EQ(Save(fifo, how, "x", &why), TargetFile::Failure::kNotRegular) << mode;
    EXPECT_EQ(why, " not a regular file");
    EXPECT_EQ(Save(dir.File("to_fifo"), how, "x"), TargetFile::Failure::kNotRegular) << mode;
    EXPECT_EQ(Save(dir.File("folder"), how, "x"), TargetFile::Failure::kNotRegular) << mode;
    EXPECT_EQ(Save(ro, how, "x", &why), TargetFile::Failure::kOpen) << mode;
    EXPECT_EQ(why, "");
  }
  char byte;
  EXPECT_LE(read(reader, &byte, 1), 0);  // nothing reached the FIFO
  close(reader);
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_directory(dir.File("folder")));
  EXPECT_TRUE(fs::is_empty(dir.File("folder")));
  EXPECT_EQ(ReadFile(ro), "kept");
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"fifo", "folder", "ro.txt", "to_fifo"}));
}

// A replacement that is not finished leaves the old file whole and no new
// file beside it.
TEST(TargetFile, AnUnfinishedReplacementLeavesTheOldFile) {
  TempDir dir;
  const std::string old = dir.Write("a.gif", "old content");
  {
    TargetFile f;
    ASSERT_TRUE(f.Open(old.c_str(), TargetWrite::kReplace));
    ASSERT_TRUE(f.Write("partial", 7));
    EXPECT_EQ(f.written(), 7);
  }
  EXPECT_EQ(ReadFile(old), "old content");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"a.gif"});
}

// A write that fails is reported with the bytes written before it and the
// reason: here the file size limit, held for the length of the saves.
TEST(TargetFile, AShortWriteIsAFailureWithTheBytesWritten) {
  TempDir dir;
  const std::string bytes(10000, 'x');
  rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldSignal = signal(SIGXFSZ, SIG_IGN);
  rlimit limit = old;
  limit.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  std::string why[3];
  TargetFile::Failure failed[3];
  for (TargetWrite how : kModes) {
    const int k = static_cast<int>(how);
    failed[k] = Save(dir.File("f" + std::to_string(k)), how, bytes, &why[k]);
  }
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldSignal);
  for (TargetWrite how : kModes) {
    const int k = static_cast<int>(how);
    EXPECT_EQ(failed[k], TargetFile::Failure::kWrite) << k;
    EXPECT_EQ(why[k], " written=[4096] of [10000] bytes, File too large") << k;
  }
  // In place the bytes written stay; a replacement leaves nothing.
  EXPECT_EQ(fs::file_size(dir.File("f0")), 4096u);
  EXPECT_EQ(fs::file_size(dir.File("f1")), 4096u);
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"f0", "f1"}));
}

}  // namespace
