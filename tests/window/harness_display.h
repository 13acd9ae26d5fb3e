// A virtual X display for window tests, and the tarv binary run on it:
// clicks through xdotool, the screen read back by pixel, the output pane's
// text through the primary selection.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarvtest {

// Xvfb on a free display number, stopped by pid on destruction.  While it
// lives, DISPLAY names it.
class VirtualDisplay {
 public:
  VirtualDisplay();
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;
  bool Ready() const { return !name_.empty(); }
  const std::string& Name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// The root window's pixels as 0xRRGGBB.
struct Screenshot {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const;
};
Screenshot TakeScreenshot();

// tarv MODE SCRIPT started in the background, output into a file, killed by
// pid on destruction unless it exited.
class WindowRun {
 public:
  WindowRun(const std::string& program, const std::string& mode, const std::string& script,
            const std::string& cwd);
  ~WindowRun();
  WindowRun(const WindowRun&) = delete;
  WindowRun& operator=(const WindowRun&) = delete;
  // Waits (bounded) until the window shows its banner bar at its place.
  bool WaitShown();
  // A left click at window (client) coordinates.
  void Click(int x, int y);
  // A key pressed in the window (an xdotool key name).
  void Key(const std::string& name);
  // The pixel at window coordinates on a fresh screenshot.
  uint32_t Pixel(int x, int y) const;
  // The output pane's whole text: select all there, read the selection.
  std::string PaneText();
  // Asks the window to close, as its close box does.
  bool Close();
  // Waits at most `seconds` for the process to end; its exit code (128 +
  // the signal that ended it), or -1 while it runs.
  int WaitExit(int seconds);
  bool Running();

 private:
  pid_t pid_ = -1;
  int exitCode_ = -1;
};

// Polls `done` every 50 ms for at most `seconds`.
template <typename F>
bool WaitFor(F done, int seconds = 20);
void SleepMs(int ms);

}  // namespace tarvtest

#include <chrono>
#include <thread>
template <typename F>
bool tarvtest::WaitFor(F done, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}
