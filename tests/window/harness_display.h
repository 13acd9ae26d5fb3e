// A virtual X display for window tests, and the tarv binary run on it:
// clicks through xdotool, the screen read back by pixel, the output pane's
// text through the primary selection.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/local_daemon.h"

namespace tarvtest {

// Xvfb on a free display number, stopped by pid on destruction.  While it
// lives, DISPLAY names it.
class VirtualDisplay {
 public:
  VirtualDisplay();
  ~VirtualDisplay();
  bool Ready() const { return ready_; }

 private:
  localdaemon::Daemon xvfb_;
  bool ready_ = false;
};

// The root window's pixels as 0xRRGGBB.
struct Screenshot {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const;
};
Screenshot TakeScreenshot();

// tarv MODE SCRIPT started in cwd, output into cwd/tarv.out, stopped by pid
// on destruction unless it exited.
class WindowRun {
 public:
  WindowRun(const std::string& program, const std::string& mode, const std::string& script,
            const std::string& cwd)
      : tarv_({program, mode, script}, cwd + "/tarv.out", {}, cwd) {}
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
  // The exit code once it has ended within `seconds`; -1 otherwise.
  int WaitExit(int seconds) { return tarv_.Wait(seconds); }
  bool Running() { return tarv_.Running(); }

 private:
  localdaemon::Daemon tarv_;
};

// Polls `done` every 50 ms for at most `seconds`.
template <typename F>
bool WaitFor(F done, int seconds = 20) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}
// A PNG of a few bytes whose header declares width x height pixels.
std::string PngClaiming(uint32_t width, uint32_t height);
// Writes a real PNG of width x height pixels all of one colour (a palette of
// one entry, one bit a pixel: small on disk whatever its size).
bool WritePngOfOneColour(const std::string& path, uint32_t width, uint32_t height, uint32_t rgb);

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace tarvtest
