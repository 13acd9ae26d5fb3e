#include "tests/window/harness_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/e2e/harness_binary.h"

namespace tarvtest {
namespace {

constexpr int kWindowX = 10;
constexpr int kWindowY = 10;

pid_t Spawn(const std::vector<std::string>& argv, const std::string& cwd, const std::string& out,
            int keepFd) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd >= 0) {
    dup2(fd, 1);
    dup2(fd, 2);
  }
  if (keepFd >= 0) fcntl(keepFd, F_SETFD, 0);
  if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

void Xdotool(const std::vector<std::string>& args) { RunProgram("/usr/bin/xdotool", args, "", 20); }

}  // namespace

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

VirtualDisplay::VirtualDisplay() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  pid_ = Spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x800x24",
                "-nolisten", "tcp"},
               "", "/dev/null", fds[1]);
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  char buf[32];
  while (number.find('\n') == std::string::npos && poll(&p, 1, 15000) > 0) {
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    number.append(buf, n);
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) return;
  name_ = ":" + number.substr(0, number.find('\n'));
  setenv("DISPLAY", name_.c_str(), 1);
}

VirtualDisplay::~VirtualDisplay() {
  unsetenv("DISPLAY");
  Stop(pid_);
}

uint32_t Screenshot::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFFFFu;
  return pixels[static_cast<size_t>(y) * width + x];
}

Screenshot TakeScreenshot() {
  Screenshot shot;
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return shot;
  const Window root = DefaultRootWindow(d);
  XWindowAttributes a;
  XGetWindowAttributes(d, root, &a);
  XImage* image = XGetImage(d, root, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (image != nullptr) {
    shot.width = a.width;
    shot.height = a.height;
    shot.pixels.resize(static_cast<size_t>(a.width) * a.height);
    for (int y = 0; y < a.height; y++)
      for (int x = 0; x < a.width; x++)
        shot.pixels[static_cast<size_t>(y) * a.width + x] = XGetPixel(image, x, y) & 0xFFFFFF;
    XDestroyImage(image);
  }
  XCloseDisplay(d);
  return shot;
}

WindowRun::WindowRun(const std::string& program, const std::string& mode, const std::string& script,
                     const std::string& cwd) {
  pid_ = Spawn({program, mode, script}, cwd, cwd + "/tarv.out", -1);
}

WindowRun::~WindowRun() {
  if (exitCode_ < 0) Stop(pid_);
}

bool WindowRun::WaitShown() {
  // The banner bar's blue at its left end and the screen's black frame.
  return WaitFor([this] { return Running() && Pixel(800, 500) == 0x6495ED && Pixel(0, 240) == 0; });
}

void WindowRun::Click(int x, int y) {
  Xdotool({"mousemove", std::to_string(x + kWindowX), std::to_string(y + kWindowY), "click", "1"});
}

void WindowRun::Key(const std::string& name) { Xdotool({"key", name}); }

uint32_t WindowRun::Pixel(int x, int y) const {
  return TakeScreenshot().At(x + kWindowX, y + kWindowY);
}

std::string WindowRun::PaneText() {
  Click(320, 600);
  Xdotool({"key", "ctrl+a"});
  SleepMs(100);
  return RunProgram("/usr/bin/xclip", {"-o", "-selection", "primary"}, "", 20).output;
}

bool WindowRun::Close() {
  const std::string found = RunProgram("/usr/bin/xdotool", {"search", "--name", "^tarv$"}, "", 20).output;
  const Window w = std::strtoul(found.c_str(), nullptr, 10);
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr || w == 0) return false;
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(d, w, False, NoEventMask, &e) != 0;
  XCloseDisplay(d);
  return sent;
}

int WindowRun::WaitExit(int seconds) {
  WaitFor([this] { return !Running(); }, seconds);
  return exitCode_;
}

bool WindowRun::Running() {
  int status = 0;
  if (exitCode_ < 0 && pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_)
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return exitCode_ < 0;
}

}  // namespace tarvtest
