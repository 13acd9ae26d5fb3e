// Text streams of Scripting.FileSystemObject on a pipe: a read takes what
// has come and waits for the rest only up to the run's time limit, so a
// writer that holds the pipe open without writing cannot hang a run.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "services/scripthost/script_host.h"
#include "tests/engine/harness.h"
#include "tests/machine_wait.h"
#include "tests/services/scripthost/vbs_test_util.h"

namespace {

using namespace tarv;
using namespace std::chrono_literals;

std::string Main(const std::string& body) { return "Function TarvMain()\n" + body + "\nEnd Function\n"; }

std::string Open(const std::string& path) {
  return "Set f = CreateObject(\"Scripting.FileSystemObject\").OpenTextFile(\"" + path + "\", 1)\n";
}

// A pipe in a folder of its own, held open for writing (and reading, so
// that opening it never waits) while the object lives.
class HeldPipe {
 public:
  HeldPipe() : path_((dir_.path() / "pipe").string()) {
    EXPECT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_GE(fd_, 0);
  }
  ~HeldPipe() {
    if (fd_ >= 0) ::close(fd_);
  }
  HeldPipe(const HeldPipe&) = delete;
  HeldPipe& operator=(const HeldPipe&) = delete;
  const std::string& path() const { return path_; }
  void Write(const std::string& bytes) {
    EXPECT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

 private:
  tarvtest::TempDir dir_;
  std::string path_;
  int fd_ = -1;
};

std::string Outcome(const scripthost::UserOutcome& out) {
  return out.ok ? out.text : "#" + std::to_string(out.error.number) + " line " + std::to_string(out.error.line);
}

// Every read that needs more than the writer gave stops at the deadline.
TEST(VbsFileWait, ReadsOfAnIdlePipeStopAtTheDeadline) {
  const char* reads[] = {
      "TarvMain = f.ReadAll",
      "TarvMain = f.ReadLine",
      "TarvMain = f.Read(10)",
      "f.SkipLine",
      "TarvMain = f.AtEndOfStream",
      "TarvMain = f.AtEndOfLine",
  };
  for (const char* read : reads) {
    SCOPED_TRACE(read);
    HeldPipe pipe;
    pipe.Write("abc");  // no line end, fewer than ten bytes
    const scripthost::UserOutcome out =
        scripthost::RunUserScript(Main(Open(pipe.path()) + "x = f.Read(3)\n" + read), vbs::Clock::now() + 200ms);
    EXPECT_EQ(Outcome(out), "#" + std::to_string(vbs::kErrTimeout) + " line 4");
  }
}

// What the writer has sent is there at once: a line does not wait for the
// end of the stream.
TEST(VbsFileWait, ReadsTakeWhatHasComeWithoutWaitingForTheEnd) {
  const struct {
    std::string sent, body, expected;
  } cases[] = {
      {"first\nsecond", "TarvMain = f.ReadLine", "first"},
      {"a\r\nb\n", "x = f.ReadLine\nTarvMain = f.ReadLine & f.Line", "b3"},
      {"0123456789", "TarvMain = f.Read(4) & \"|\" & f.Read(2)", "0123|45"},
      {"x", "TarvMain = f.AtEndOfStream & \" \" & f.AtEndOfLine", "False False"},
      {"\nz", "f.SkipLine\nTarvMain = f.Read(1)", "z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    HeldPipe pipe;
    pipe.Write(c.sent);
    const scripthost::UserOutcome out =
        scripthost::RunUserScript(Main(Open(pipe.path()) + c.body), vbs::Clock::now() + 20s);
    EXPECT_EQ(Outcome(out), c.expected);
  }
}

// A writer that comes after the script has opened the pipe, writes and
// closes: the script reads everything, then the end.
TEST(VbsFileWait, APipeEndsWhenItsWriterCloses) {
  tarvtest::TempDir dir;
  const std::string path = (dir.path() / "late").string();
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::thread writer([&path] {
    // Opening for writing fails (ENXIO) until a reader is there: try for a
    // bounded while.
    int fd = -1;
    for (int i = 0; i < tarvtest::MachineScaled(10) * 200 && fd < 0; i++) {
      fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) std::this_thread::sleep_for(5ms);
    }
    if (fd < 0) return;
    std::this_thread::sleep_for(50ms);
    const std::string text = "one\r\ntwo\n";
    EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
  });
  const scripthost::UserOutcome out = scripthost::RunUserScript(
      Main(Open(path) + "Do Until f.AtEndOfStream\n  s = s & \"[\" & f.ReadLine & \"]\"\nLoop\nTarvMain = s"),
      vbs::Clock::now() + 20s);
  writer.join();
  EXPECT_EQ(Outcome(out), "[one][two]");
}

// Writing to a pipe waits for a reader, and for room in the pipe, up to the
// deadline; what a reader takes arrives whole.
TEST(VbsFileWait, WritesToAPipeWaitUpToTheDeadline) {
  tarvtest::TempDir dir;
  const std::string path = (dir.path() / "out").string();
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  const std::string fso = "Set fs = CreateObject(\"Scripting.FileSystemObject\")\n";
  const std::string timeout = "#" + std::to_string(vbs::kErrTimeout);
  // No reader at all.
  EXPECT_EQ(Outcome(scripthost::RunUserScript(Main(fso + "Set f = fs.OpenTextFile(\"" + path + "\", 2)"),
                                              vbs::Clock::now() + 200ms)),
            timeout + " line 3");
  const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(Outcome(scripthost::RunUserScript(
                Main(fso + "Set f = fs.CreateTextFile(\"" + path + "\", True)\nf.WriteLine \"hello\"\nf.Close\nTarvMain = \"ok\""),
                vbs::Clock::now() + 20s)),
            "ok");
  char buf[16] = {};
  EXPECT_EQ(::read(reader, buf, sizeof buf), 6);
  EXPECT_EQ(std::string(buf), "hello\n");
  // A reader that takes nothing: the pipe fills and the write waits.
  EXPECT_EQ(Outcome(scripthost::RunUserScript(
                Main(fso + "Set f = fs.OpenTextFile(\"" + path + "\", 8)\nf.Write String(300000, \"x\")"),
                vbs::Clock::now() + 200ms)),
            timeout + " line 4");
  ::close(reader);
}

// As a statement of a run: the step time-out ends the read, and the error is
// the time-out's.
TEST(VbsFileWait, StepTimeoutEndsAReadOfAnIdlePipe) {
  HeldPipe pipe;
  tarvtest::TempDir dir;
  std::string nms = "run.set step.timeout {1} seconds\n";
  for (const char* read : {"TarvMain = f.ReadAll", "TarvMain = f.ReadLine"}) {
    nms += "sys.vbscript {" + vbstest::AsArgument(Main(Open(pipe.path()) + read)) + "}\n";
  }
  tarvtest::Run(dir, nms);
  const std::vector<std::string> errors = tarvtest::RunErrors();
  ASSERT_EQ(errors.size(), 2u);
  for (const std::string& e : errors) EXPECT_NE(e.find("Description:Script timed out"), std::string::npos) << e;
}

}  // namespace
