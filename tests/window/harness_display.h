// A virtual X display for window tests, and the tarv binary run on it:
// clicks through xdotool, the screen read back by pixel, the output pane's
// text through the primary selection.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tests/machine_wait.h"
#include "tests/platform/local_daemon.h"

namespace tarvtest {

// Xvfb on a free display number, stopped by pid on destruction.  While it
// lives, DISPLAY names it.
class VirtualDisplay {
 public:
  VirtualDisplay();
  ~VirtualDisplay();
  bool Ready() const { return ready_; }
  // The X server goes away, as when the user logs out.
  void Stop() { xvfb_.Stop(); }

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
  int WaitExit(int seconds = MachineSeconds()) { return tarv_.Wait(seconds); }
  bool Running() { return tarv_.Running(); }
  // Sends the program a signal.
  void Signal(int signal) { tarv_.Signal(signal); }
  // How it ended, once it has within the machine's deadline: its exit code,
  // or 128 + the signal that ended it; -1 while it runs.
  int WaitEnd() { return tarv_.WaitEnd(MachineSeconds()); }

 private:
  localdaemon::Daemon tarv_;
};

// Window coordinates of the buttons' middles and of the panel's glyphs.
inline constexpr int kRunX = 694, kRunY = 522;
inline constexpr int kStepX = 794, kStepY = 522;
inline constexpr int kTextX = 694, kTextY = 582;
inline constexpr int kVarX = 694, kVarY = 612;
inline constexpr int kClearX = 694, kClearY = 702;
inline constexpr int kGoX = 700, kStepGlyphX = 800, kGlyphY = 446;

// The binary copied into dir beside a log folder, so that its log is kept.
std::string BinaryWithLog(const std::string& dir);

// A PNG of a few bytes whose header declares width x height pixels.
std::string PngClaiming(uint32_t width, uint32_t height);
// Writes a real PNG of width x height pixels all of one colour (a palette of
// one entry, one bit a pixel: small on disk whatever its size).
bool WritePngOfOneColour(const std::string& path, uint32_t width, uint32_t height, uint32_t rgb);

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace tarvtest
