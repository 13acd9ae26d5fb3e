// Child processes: pipes, starting a command line without a shell, reading
// and writing the child's streams, and reaping.
//
// A descriptor field holding -1 means "no descriptor"; the functions that
// close one set the caller's field to -1.  Process ids are only ever used
// when above 0, so a cleared record can never name "every process".
#pragma once
#include <cstdint>

inline constexpr int CMDLINE_BYTES_MAX = 1024;  // longest command line accepted
inline constexpr int CMDLINE_WORDS_MAX = CMDLINE_BYTES_MAX / 2 + 1;

// A command line cut into an argv array, in fixed storage.
struct CommandWords {
  // Each word takes at most the bytes it came from plus its terminator.
  char Bytes[2 * CMDLINE_BYTES_MAX + 2];
  char* Argv[CMDLINE_WORDS_MAX + 1];  // null-terminated
  int32_t Count;
};

// Cuts len bytes of a command line into words the way a Windows program's
// start-up does: blanks and tabs separate, double quotes group (and are
// dropped), 2n backslashes before a quote give n backslashes, 2n+1 give n and
// a literal quote, other backslashes are plain, and "" inside quotes is one
// literal quote.  The first word, the program, takes quotes only: its
// backslashes are plain.  Returns the count of words, or -1 when len is
// negative or above CMDLINE_BYTES_MAX.
int ProcSplitCommandLine(const char* line, int len, CommandWords* out);

// A pipe; both ends close-on-exec and above the standard descriptors.
struct PipeEnds {
  int32_t Read = -1;
  int32_t Write = -1;
};
// 0, or the errno of the failure (both ends stay -1).
int ProcPipeOpen(PipeEnds* p);
// Closes *fd when it is open and sets it to -1.
void ProcFdClose(int32_t* fd);

// Owns one descriptor for the length of a scope.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int32_t fd) : fd_(fd) {}
  ~UniqueFd() { ProcFdClose(&fd_); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int32_t get() const { return fd_; }
  int32_t* put() { return &fd_; }
  // Hands the descriptor over to the caller.
  int32_t release() {
    int32_t fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int32_t fd_ = -1;
};

// The child's standard streams: a descriptor of ours, or -1 for /dev/null.
struct ChildStdio {
  int32_t In = -1;
  int32_t Out = -1;
  int32_t Err = -1;
};

// Starts the command line (len bytes) with posix_spawnp: the first word is
// looked up on PATH, no shell reads the line.  The child gets the streams of
// io, the default action for SIGPIPE (this process ignores it), an empty
// signal mask, our environment and working directory, and a session of its
// own when newSession is set.  Returns 0 and the child's id in *pid, or the
// errno of the failure (ENOENT for a program not found or an empty line).
int ProcSpawn(const char* cmdLine, int len, ChildStdio io, bool newSession, int32_t* pid);

// Reads at most room bytes, waiting without limit: the count, 0 at the end of
// the stream, or -errno.
int ProcRead(int32_t fd, char* buf, int room);
inline constexpr int PROC_READ_TIMEOUT = -1000000;
// The same, waiting at most timeoutMs milliseconds (0: only what is there
// already) for data: PROC_READ_TIMEOUT when nothing came.
int ProcReadWait(int32_t fd, char* buf, int room, int timeoutMs);
// Writes all len bytes; returns how many were written (fewer on failure,
// such as a child that has closed its end).
int ProcWriteAll(int32_t fd, const char* data, int len);
// The same, waiting at most timeoutMs milliseconds in all for room in the
// pipe: a reader that stops taking (or never takes) what is written cannot
// hold the caller longer.  Returns how many bytes were written by then.
int ProcWriteWait(int32_t fd, const char* data, int len, int timeoutMs);

// Waits for the child to end and reaps it: its wait status, or -errno.
int ProcWait(int32_t pid);
// Hands over a child nobody will wait for: reaped now when it has ended,
// otherwise by the one background reaper shortly after it ends, so it never
// stays a zombie for long.
void ProcRelease(int32_t pid);
// Released children not reaped yet.
int ProcReleasedPending();

// Raises the scheduling priority of every thread of this process (nice -10).
// 0, or the errno of the refusal (EACCES or EPERM without the privilege).
int ProcRaisePriority();
