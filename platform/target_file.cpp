#include "platform/target_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Write permission as the desktop shows it: a file with no write bit in its
// mode is read-only for root as well.
bool Writable(const char* path, const struct stat& st) {
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
}

// Where a chain of symbolic links at `path` ends: the last link's target,
// whether or not that exists; the path itself when it is no link.
std::string FinalPath(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char link[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), link, sizeof link);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof link)) return path;
    std::string next(link, static_cast<size_t>(n));
    if (next[0] != '/') {
      const size_t slash = path.rfind('/');
      if (slash != std::string::npos) next.insert(0, path, 0, slash + 1);
    }
    path = std::move(next);
  }
  return path;  // a loop: opening it reports one
}

const char* Reason(int error) {
  const char* d = strerrordesc_np(error);
  return d != nullptr ? d : "unknown error";
}

}  // namespace

TargetFile::~TargetFile() {
  if (fd_ >= 0) close(fd_);
  if (!temp_.empty()) unlink(temp_.c_str());
}

bool TargetFile::Fail(Failure f, int error) {
  if (failed_ == Failure::kNone) {
    failed_ = f;
    error_ = error;
  }
  return false;
}

bool TargetFile::Open(const char* path, TargetWrite how) {
  how_ = how;
  if (path == nullptr || path[0] == '\0') return Fail(Failure::kOpen, ENOENT);
  if (how == TargetWrite::kReplace) return OpenReplace(path);
  struct stat st {};
  if (stat(path, &st) == 0) {
    if (!S_ISREG(st.st_mode)) return Fail(Failure::kNotRegular, EINVAL);
    if (!Writable(path, st)) return Fail(Failure::kOpen, EACCES);
  } else if (errno != ENOENT) {
    return Fail(Failure::kOpen, errno);
  }
  // Without blocking: what was no FIFO a moment ago may be one now.
  const int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | (how == TargetWrite::kAppend ? O_APPEND : 0);
  fd_ = open(path, flags, 0666);
  if (fd_ < 0) return Fail(errno == ENXIO ? Failure::kNotRegular : Failure::kOpen, errno);
  if (fstat(fd_, &st) != 0) return Fail(Failure::kOpen, errno);
  if (!S_ISREG(st.st_mode)) return Fail(Failure::kNotRegular, EINVAL);
  if (how == TargetWrite::kTruncate && ftruncate(fd_, 0) != 0) return Fail(Failure::kWrite, errno);
  return true;
}

bool TargetFile::OpenReplace(const char* path) {
  target_ = FinalPath(path);
  struct stat st {};
  if (stat(target_.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return Fail(Failure::kNotRegular, EINVAL);
    if (!Writable(target_.c_str(), st)) return Fail(Failure::kOpen, EACCES);
    hadOld_ = true;
    oldMode_ = st.st_mode & 07777;
    oldUid_ = st.st_uid;
    oldGid_ = st.st_gid;
  } else if (errno != ENOENT) {
    return Fail(Failure::kOpen, errno);
  }
  const size_t slash = target_.rfind('/');
  const size_t baseAt = slash == std::string::npos ? 0 : slash + 1;
  if (baseAt == target_.size()) return Fail(Failure::kOpen, EISDIR);
  // A hidden name beside the target, so the rename stays on its file system;
  // a long name is shortened to leave room for the suffix.
  const std::string stem =
      target_.substr(0, baseAt) + "." + target_.substr(baseAt, std::min<size_t>(target_.size() - baseAt, 200)) + ".";
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%x%x%lx", static_cast<unsigned>(getpid()), ++counter,
                  static_cast<unsigned long>(now.tv_nsec));
    std::string temp = stem + suffix;
    // Created by us with the umask's permissions, as any new file.
    fd_ = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      temp_ = std::move(temp);
      return true;
    }
    if (errno != EEXIST) return Fail(Failure::kOpen, errno);
  }
  return Fail(Failure::kOpen, EEXIST);
}

bool TargetFile::Write(const void* data, size_t n) {
  if (fd_ < 0 || failed_ != Failure::kNone) return false;
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t k = write(fd_, p, n);
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) return Fail(Failure::kWrite, errno);
    if (k == 0) return Fail(Failure::kWrite, ENOSPC);
    written_ += k;
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

bool TargetFile::Finish() {
  if (fd_ < 0) return false;
  bool ok = failed_ == Failure::kNone;
  if (ok && hadOld_) {
    // A change of owner clears set-id bits: the mode comes after it.
    if (fchown(fd_, oldUid_, oldGid_) != 0) {
      // Not ours to give away: the file stays with its writer.
    }
    if (fchmod(fd_, oldMode_) != 0) ok = Fail(Failure::kWrite, errno);
  }
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) ok = Fail(Failure::kWrite, errno);
  if (!ok || temp_.empty()) return ok;
  // What was a regular file when the save began must still be one: a rename
  // over a device node or a FIFO would remove it.
  struct stat st {};
  if (lstat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return Fail(Failure::kNotRegular, EINVAL);
  if (rename(temp_.c_str(), target_.c_str()) != 0) return Fail(Failure::kWrite, errno);
  temp_.clear();
  return true;
}

std::string TargetFile::Why(int64_t total) const {
  switch (failed_) {
    case Failure::kNone:
    case Failure::kOpen:
      return {};
    case Failure::kNotRegular:
      return " not a regular file";
    case Failure::kWrite:
      break;
  }
  char out[160];
  if (total >= 0)
    std::snprintf(out, sizeof out, " written=[%lld] of [%lld] bytes, %s", static_cast<long long>(written_),
                  static_cast<long long>(total), Reason(error_));
  else
    std::snprintf(out, sizeof out, " written=[%lld] bytes, %s", static_cast<long long>(written_), Reason(error_));
  return out;
}
