// Scripting.FileSystemObject for text files and folders, with its
// TextStream, File and Folder objects.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/process.h"
#include "services/scripthost/vbs_date.h"
#include "services/scripthost/vbs_eval.h"
#include "services/scripthost/vbs_objects.h"

namespace tarv::vbs {

namespace {

namespace fs = std::filesystem;

constexpr int kForReading = 1;
constexpr int kForWriting = 2;
constexpr int kForAppending = 8;

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Waits one slice at most for fd (none: -1) to be ready for `events`, and
// never past the run's time limit, which throws. The events that came.
short WaitSlice(const Interpreter* in, int fd, short events) {
  constexpr std::chrono::milliseconds kSlice{100};
  auto slice = kSlice;
  if (in && in->deadline()) {
    in->CheckDeadline();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*in->deadline() - Clock::now());
    slice = std::clamp(left + std::chrono::milliseconds(1), std::chrono::milliseconds(0), kSlice);
  }
  pollfd p{fd, events, 0};
  const int ready = ::poll(fd >= 0 ? &p : nullptr, fd >= 0 ? 1 : 0, static_cast<int>(slice.count()));
  if (in) in->CheckDeadline();
  return ready > 0 ? p.revents : 0;
}

bool IsPipe(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
}

// A read stream takes the file in pieces as the script asks for them, so a
// pipe or a device that gives text slowly (or never) is read up to the run's
// time limit and no further. A write stream writes straight to the file; to
// a pipe it waits for a reader and for room, up to the same limit.
class TextStream : public BuiltinObject {
 public:
  static std::shared_ptr<TextStream> ForReading(const std::string& path, const Interpreter* in) {
    std::error_code ec;
    if (!fs::exists(path, ec)) ThrowRuntime(kErrFileNotFound);
    if (fs::is_directory(path, ec)) ThrowRuntime(kErrPermissionDenied);
    // Without O_NONBLOCK, opening a pipe waits for its writer without limit.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) ThrowRuntime(kErrPermissionDenied);
    auto ts = std::make_shared<TextStream>();
    *ts->fd_.put() = fd;
    ts->pipe_ = IsPipe(fd);
    ts->in_ = in;
    ts->reading_ = true;
    return ts;
  }

  static std::shared_ptr<TextStream> ForWriting(const std::string& path, bool append, const Interpreter* in) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) ThrowRuntime(kErrPermissionDenied);
    if (fs::is_fifo(path, ec)) return ForPipe(path, in);
    FilePtr f(std::fopen(path.c_str(), append ? "ab" : "wb"));
    if (!f) ThrowRuntime(fs::exists(fs::path(path).parent_path().empty() ? "." : fs::path(path).parent_path(), ec)
                             ? kErrPermissionDenied
                             : kErrPathNotFound);
    auto ts = std::make_shared<TextStream>();
    ts->file_ = std::move(f);
    return ts;
  }

  // Opening a pipe without a reader fails (ENXIO) instead of waiting: try
  // again every slice.
  static std::shared_ptr<TextStream> ForPipe(const std::string& path, const Interpreter* in) {
    auto ts = std::make_shared<TextStream>();
    ts->in_ = in;
    ts->pipe_ = true;
    for (;;) {
      *ts->fd_.put() = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (ts->fd_.get() >= 0) return ts;
      if (errno != ENXIO && errno != EINTR) ThrowRuntime(kErrPermissionDenied);
      WaitSlice(in, -1, 0);
    }
  }

  std::string TypeName() const override { return "TextStream"; }

  Value Call(std::string_view name, std::span<const Value> args) override {
    if (EqualsNoCase(name, "close")) {
      ArgCount(args, 0, 0);
      // What the C library still holds reaches the file only now: a full
      // disk shows here, and is the script's error as a failed write is.
      std::FILE* f = file_.release();
      ProcFdClose(fd_.put());
      closed_ = true;
      if (f != nullptr && std::fclose(f) != 0) ThrowRuntime(kErrPermissionDenied);
      return Value();
    }
    if (closed_) ThrowRuntime(kErrBadFileName);
    if (EqualsNoCase(name, "atendofstream")) {
      ArgCount(args, 0, 0);
      NeedReading();
      FillTo(1);
      return Value::Boolean(at_ >= data_.size());
    }
    if (EqualsNoCase(name, "atendofline")) {
      ArgCount(args, 0, 0);
      NeedReading();
      FillTo(1);
      return Value::Boolean(at_ >= data_.size() || data_[at_] == '\n' || data_[at_] == '\r');
    }
    if (EqualsNoCase(name, "line")) {
      ArgCount(args, 0, 0);
      return Value::Long(line_);
    }
    if (EqualsNoCase(name, "readline") || EqualsNoCase(name, "skipline")) {
      ArgCount(args, 0, 0);
      NeedReading();
      const std::size_t stop = FillLine();
      if (at_ >= data_.size()) ThrowRuntime(kErrInputPastEnd);
      std::string line = data_.substr(at_, stop - at_);
      at_ = stop;
      if (at_ < data_.size()) {
        at_ += (data_[at_] == '\r' && at_ + 1 < data_.size() && data_[at_ + 1] == '\n') ? 2 : 1;
      }
      ++line_;
      return EqualsNoCase(name, "readline") ? Value::String(std::move(line)) : Value();
    }
    if (EqualsNoCase(name, "readall")) {
      ArgCount(args, 0, 0);
      NeedReading();
      while (!eof_) Fill();
      if (at_ >= data_.size()) ThrowRuntime(kErrInputPastEnd);
      std::string rest = data_.substr(at_);
      at_ = data_.size();
      return Value::String(std::move(rest));
    }
    if (EqualsNoCase(name, "read")) {
      ArgCount(args, 1, 1);
      NeedReading();
      const std::int32_t n = ToLong(args[0]);
      if (n < 0) ThrowRuntime(kErrInvalidCall);
      FillTo(static_cast<std::size_t>(n) > 0 ? static_cast<std::size_t>(n) : 1);
      if (at_ >= data_.size()) ThrowRuntime(kErrInputPastEnd);
      std::string part = data_.substr(at_, static_cast<std::size_t>(n));
      at_ += part.size();
      return Value::String(std::move(part));
    }
    if (EqualsNoCase(name, "write") || EqualsNoCase(name, "writeline")) {
      const bool line = EqualsNoCase(name, "writeline");
      ArgCount(args, line ? 0 : 1, 1);
      NeedWriting();
      std::string text = args.empty() ? std::string() : ToString(args[0]);
      if (line) text += "\n";  // the line end of the platform
      Put(text);
      return Value();
    }
    if (EqualsNoCase(name, "writeblanklines")) {
      ArgCount(args, 1, 1);
      NeedWriting();
      const std::int32_t n = ToLong(args[0]);
      if (n < 0) ThrowRuntime(kErrInvalidCall);
      CheckTextSize(static_cast<std::uint64_t>(n));
      std::string text;
      for (std::int32_t i = 0; i < n; ++i) text += "\n";
      Put(text);
      return Value();
    }
    ThrowRuntime(kErrNoSuchMember);
  }

 private:
  void NeedReading() const {
    if (!reading_) ThrowRuntime(kErrBadFileMode);
  }
  void NeedWriting() const {
    if (reading_ || (!file_ && fd_.get() < 0)) ThrowRuntime(kErrBadFileMode);
  }
  // Reads what the file has now, or waits for it in slices, checking the
  // run's time limit after each; at the end of the file sets eof_.
  void Fill() {
    // What was read already goes, so that a long stream keeps a short buffer.
    if (at_ > kKeepRead) {
      data_.erase(0, at_);
      at_ = 0;
    }
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd_.get(), buf, sizeof buf);
      if (n > 0) {
        CheckTextSize(static_cast<std::uint64_t>(data_.size()) - at_ + static_cast<std::uint64_t>(n),
                      static_cast<std::uint64_t>(n));
        data_.append(buf, static_cast<std::size_t>(n));
        return;
      }
      // A pipe no writer has opened yet reads as ended too: it ends only
      // once a writer has come and gone (POLLHUP).
      if (n == 0 && !pipe_) {
        eof_ = true;
        return;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) ThrowRuntime(kErrPermissionDenied);
      const short events = WaitSlice(in_, fd_.get(), POLLIN);
      if (n == 0 && (events & POLLHUP) && !(events & POLLIN)) {
        eof_ = true;
        return;
      }
    }
  }
  // At least `want` unread bytes, or all that is left.
  void FillTo(std::size_t want) {
    while (!eof_ && data_.size() - at_ < want) Fill();
  }
  // The end of the next line in data_ (a CR, LF or CR LF), or data_.size()
  // when the file ends first.
  std::size_t FillLine() {
    std::size_t from = at_;
    for (;;) {
      const std::size_t end = data_.find_first_of("\r\n", from);
      // A CR at the end of what came so far may be the first half of CR LF.
      if (end != std::string::npos && (data_[end] == '\n' || end + 1 < data_.size() || eof_)) return end;
      if (eof_) return data_.size();
      from = end == std::string::npos ? data_.size() : end;
      from -= at_;
      Fill();
      from += at_;
    }
  }

  void Put(const std::string& text) {
    for (char c : text) line_ += c == '\n';
    if (file_) {
      if (std::fwrite(text.data(), 1, text.size(), file_.get()) != text.size()) ThrowRuntime(kErrPermissionDenied);
      return;
    }
    // A pipe: what does not fit now waits for the reader to make room. A
    // reader that has gone (EPIPE) refuses the rest.
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(fd_.get(), text.data() + done, text.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        ThrowRuntime(kErrPermissionDenied);
      } else {
        WaitSlice(in_, fd_.get(), POLLOUT);
      }
    }
  }

  std::string data_;
  std::size_t at_ = 0;
  std::int32_t line_ = 1;
  bool reading_ = false;
  bool closed_ = false;
  bool eof_ = false;
  bool pipe_ = false;
  FilePtr file_;
  UniqueFd fd_;
  const Interpreter* in_ = nullptr;
  static constexpr std::size_t kKeepRead = 1u << 20;
};

Value DateOf(const fs::file_time_type& t) {
  const auto sys = std::chrono::time_point_cast<std::chrono::seconds>(
      t - fs::file_time_type::clock::now() + std::chrono::system_clock::now());
  const std::time_t tt = std::chrono::system_clock::to_time_t(sys);
  std::tm local{};
  localtime_r(&tt, &local);
  return Value::Date(SerialFromDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
                     (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec) / 86400.0);
}

// A File or a Folder.
class Entry : public BuiltinObject {
 public:
  Entry(fs::path path, bool folder) : path_(std::move(path)), folder_(folder) {}
  std::string TypeName() const override { return folder_ ? "Folder" : "File"; }
  Value Call(std::string_view name, std::span<const Value> args) override {
    std::error_code ec;
    if (name.empty() || EqualsNoCase(name, "path")) return Value::String(path_.string());
    if (EqualsNoCase(name, "name")) return Value::String(path_.filename().string());
    if (EqualsNoCase(name, "parentfolder")) {
      return Value::Object(std::make_shared<Entry>(path_.parent_path(), true));
    }
    if (EqualsNoCase(name, "datelastmodified")) {
      const auto t = fs::last_write_time(path_, ec);
      if (ec) ThrowRuntime(kErrFileNotFound);
      return DateOf(t);
    }
    if (EqualsNoCase(name, "size")) {
      if (!folder_) {
        const auto n = fs::file_size(path_, ec);
        if (ec) ThrowRuntime(kErrFileNotFound);
        return Value::Double(static_cast<double>(n));
      }
      double total = 0;
      for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
           it.increment(ec)) {
        if (it->is_regular_file(ec)) total += static_cast<double>(it->file_size(ec));
      }
      return Value::Double(total);
    }
    if (folder_ && (EqualsNoCase(name, "files") || EqualsNoCase(name, "subfolders"))) {
      const bool files = EqualsNoCase(name, "files");
      std::vector<fs::path> found;
      for (auto it = fs::directory_iterator(path_, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (files ? it->is_regular_file(ec) : it->is_directory(ec)) found.push_back(it->path());
      }
      std::sort(found.begin(), found.end());
      std::vector<Value> items;
      for (const fs::path& p : found) items.push_back(Value::Object(std::make_shared<Entry>(p, !files)));
      return Value::Object(NewCollection(files ? "Files" : "Folders", std::move(items)));
    }
    (void)args;
    ThrowRuntime(kErrNoSuchMember);
  }

 private:
  fs::path path_;
  bool folder_;
};

class FileSystem : public BuiltinObject {
 public:
  explicit FileSystem(const Interpreter* in) : in_(in) {}
  std::string TypeName() const override { return "FileSystemObject"; }

  Value Call(std::string_view name, std::span<const Value> args) override {
    std::error_code ec;
    if (EqualsNoCase(name, "opentextfile")) {
      ArgCount(args, 1, 4);
      const std::string path = ToString(args[0]);
      const std::int32_t mode = args.size() > 1 && args[1].kind() != Kind::Empty ? ToLong(args[1]) : kForReading;
      const bool create = args.size() > 2 && ToBoolean(args[2]);
      if (mode == kForReading) return Value::Object(TextStream::ForReading(path, in_));
      if (mode != kForWriting && mode != kForAppending) ThrowRuntime(kErrInvalidCall);
      if (!create && !fs::exists(path, ec)) ThrowRuntime(kErrFileNotFound);
      return Value::Object(TextStream::ForWriting(path, mode == kForAppending, in_));
    }
    if (EqualsNoCase(name, "createtextfile")) {
      ArgCount(args, 1, 3);
      const std::string path = ToString(args[0]);
      const bool overwrite = args.size() > 1 ? ToBoolean(args[1]) : true;
      if (!overwrite && fs::exists(path, ec)) ThrowRuntime(kErrFileExists);
      return Value::Object(TextStream::ForWriting(path, false, in_));
    }
    if (EqualsNoCase(name, "fileexists")) {
      ArgCount(args, 1, 1);
      return Value::Boolean(fs::is_regular_file(ToString(args[0]), ec));
    }
    if (EqualsNoCase(name, "folderexists")) {
      ArgCount(args, 1, 1);
      return Value::Boolean(fs::is_directory(ToString(args[0]), ec));
    }
    if (EqualsNoCase(name, "deletefile")) {
      ArgCount(args, 1, 2);
      const std::string path = ToString(args[0]);
      if (!fs::is_regular_file(path, ec)) ThrowRuntime(kErrFileNotFound);
      if (!fs::remove(path, ec)) ThrowRuntime(kErrPermissionDenied);
      return Value();
    }
    if (EqualsNoCase(name, "createfolder")) {
      ArgCount(args, 1, 1);
      const std::string path = ToString(args[0]);
      if (fs::exists(path, ec)) ThrowRuntime(kErrFileExists);
      if (!fs::create_directory(path, ec)) ThrowRuntime(kErrPathNotFound);
      return Value::Object(std::make_shared<Entry>(path, true));
    }
    if (EqualsNoCase(name, "deletefolder")) {
      ArgCount(args, 1, 2);
      const std::string path = ToString(args[0]);
      if (!fs::is_directory(path, ec)) ThrowRuntime(kErrPathNotFound);
      if (in_) in_->CheckDeadline();
      fs::remove_all(path, ec);
      if (ec) ThrowRuntime(kErrPermissionDenied);
      return Value();
    }
    if (EqualsNoCase(name, "getfile") || EqualsNoCase(name, "getfolder")) {
      ArgCount(args, 1, 1);
      const bool folder = EqualsNoCase(name, "getfolder");
      const std::string path = ToString(args[0]);
      if (folder ? !fs::is_directory(path, ec) : !fs::is_regular_file(path, ec)) {
        ThrowRuntime(folder ? kErrPathNotFound : kErrFileNotFound);
      }
      return Value::Object(std::make_shared<Entry>(path, folder));
    }
    if (EqualsNoCase(name, "buildpath")) {
      ArgCount(args, 2, 2);
      std::string a = ToString(args[0]);
      const std::string b = ToString(args[1]);
      if (!a.empty() && a.back() != '/' && !b.starts_with('/')) a += '/';
      return Value::String(a + b);
    }
    if (EqualsNoCase(name, "getfilename")) {
      ArgCount(args, 1, 1);
      return Value::String(fs::path(ToString(args[0])).filename().string());
    }
    if (EqualsNoCase(name, "getbasename")) {
      ArgCount(args, 1, 1);
      return Value::String(fs::path(ToString(args[0])).stem().string());
    }
    if (EqualsNoCase(name, "getextensionname")) {
      ArgCount(args, 1, 1);
      const std::string ext = fs::path(ToString(args[0])).extension().string();
      return Value::String(ext.empty() ? ext : ext.substr(1));
    }
    if (EqualsNoCase(name, "getparentfoldername")) {
      ArgCount(args, 1, 1);
      return Value::String(fs::path(ToString(args[0])).parent_path().string());
    }
    ThrowRuntime(kErrNoSuchMember);
  }

 private:
  const Interpreter* in_;
};

}  // namespace

std::shared_ptr<Object> NewFileSystem(const Interpreter* in) { return std::make_shared<FileSystem>(in); }

}  // namespace tarv::vbs
