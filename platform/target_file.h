// Files that statements write at paths a script names (text.save, the PNG
// of screen.save, the GIF of gif.save).
//
// A target must be a regular file, or not exist yet: a FIFO would hold the
// run for as long as nobody reads it, and a device or a directory is no
// file to save into.  The path is looked at before it is opened and opened
// without blocking, so a FIFO is refused at once whatever the timing.  A file
// without a write bit in its mode, or that the user may not write, is refused
// too, root included.  Every write is carried out whole and the close is
// checked: a full disk is a failure, never a short file reported as written.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

enum class TargetWrite {
  kTruncate,  // in place, emptied first
  kAppend,    // in place, at its end
  // A new file beside the target, renamed over it once whole: a failure
  // leaves the old file as it was.  Through a symbolic link the file it
  // leads to is replaced and the link stays; an old file's mode (and owner,
  // where we may give it) passes to the new one.
  kReplace,
};

class TargetFile {
 public:
  enum class Failure { kNone, kOpen, kNotRegular, kWrite };

  TargetFile() = default;
  // An unfinished file is closed; in kReplace its new file is removed.
  ~TargetFile();
  TargetFile(const TargetFile&) = delete;
  TargetFile& operator=(const TargetFile&) = delete;

  // false when the target is refused or cannot be opened.
  bool Open(const char* path, TargetWrite how);
  // Writes all n bytes; false at the first failure (and after one).
  bool Write(const void* data, size_t n);
  // Closes the file (kReplace: renames it over the target); false when the
  // close or the rename fails, or a write failed before.
  bool Finish();

  Failure failed() const { return failed_; }
  int64_t written() const { return written_; }
  // What went wrong, to follow a statement's error text: "" when the path
  // could not be opened, as such a failure always read; " not a regular
  // file"; or " written=[N] bytes, REASON" (" written=[N] of [total] bytes,
  // REASON" when total is not negative).
  std::string Why(int64_t total = -1) const;

 private:
  bool Fail(Failure f, int error);
  bool OpenReplace(const char* path);

  int fd_ = -1;
  TargetWrite how_ = TargetWrite::kTruncate;
  Failure failed_ = Failure::kNone;
  int error_ = 0;
  int64_t written_ = 0;
  std::string temp_;    // kReplace: the new file, until it is renamed
  std::string target_;  // kReplace: the path it is renamed to
  bool hadOld_ = false;
  mode_t oldMode_ = 0;
  uid_t oldUid_ = 0;
  gid_t oldGid_ = 0;
};
