// However a windowed run is stopped, its HTML log ends as a whole file:
// closed by the user, by SIGTERM, SIGHUP or SIGINT, or by the loss of the
// display, in the middle of a step or after the run's end.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/window/harness_display.h"

namespace {

using tarvtest::Count;

constexpr char kEnd[] = "\n</td></tr></table></body></html>";
// The closing message as an entry of its own, then the end.
constexpr char kClosedEnd[] = "<tr><td /><td><pre>\ntarv windows is closed.\n</td></tr></table></body></html>";

enum class Stop { kClose, kTerm, kHangUp, kInterrupt, kDisplayGone };

struct Ending {
  const char* name;
  bool midRun;  // stopped while a step sleeps; else after the run's end
  Stop stop;
  int end;      // exit code, or 128 + the signal
};

TEST(WindowLogEnd, EveryWayOfStoppingLeavesAWholeLog) {
  const Ending endings[] = {
      {"close mid-run", true, Stop::kClose, 0},
      {"SIGTERM mid-run", true, Stop::kTerm, 128 + SIGTERM},
      {"SIGINT mid-run", true, Stop::kInterrupt, 128 + SIGINT},
      {"display gone mid-run", true, Stop::kDisplayGone, 1},
      {"SIGHUP after the end", false, Stop::kHangUp, 128 + SIGHUP},
      {"SIGTERM after the end", false, Stop::kTerm, 128 + SIGTERM},
  };
  for (const Ending& e : endings) {
    SCOPED_TRACE(e.name);
    tarvtest::VirtualDisplay display;
    ASSERT_TRUE(display.Ready());
    tarvtest::TempDir dir;
    const std::string script = dir.Write(
        "s.nms", e.midRun ? "var {x} value {1}\nrun.sleep {3600} seconds\ntext.add {never}\n"
                          : "var {x} value {1}\n");
    tarvtest::WindowRun run(tarvtest::BinaryWithLog(dir.path().string()), "debug", script,
                            dir.path().string());
    ASSERT_TRUE(run.WaitShown());
    run.Click(tarvtest::kGoX, tarvtest::kGlyphY);
    // Mid-run: the second step has begun its hour of sleep.
    ASSERT_TRUE(tarvtest::WaitFor([&] {
      return e.midRun ? Count(run.PaneText(), "Line No.[2]") == 1
                      : tarvtest::LogsIn(dir).find("run.ed, exit") != std::string::npos;
    }));
    switch (e.stop) {
      case Stop::kClose: ASSERT_TRUE(run.Close()); break;
      case Stop::kTerm: run.Signal(SIGTERM); break;
      case Stop::kHangUp: run.Signal(SIGHUP); break;
      case Stop::kInterrupt: run.Signal(SIGINT); break;
      case Stop::kDisplayGone: display.Stop(); break;
    }
    EXPECT_EQ(run.WaitEnd(), e.end);
    const std::string log = tarvtest::LogsIn(dir);
    ASSERT_GE(log.size(), size_t{300});
    EXPECT_EQ(log.substr(log.size() - (sizeof kEnd - 1)), kEnd) << log.substr(log.size() - 300);
    EXPECT_EQ(Count(log, "</html>"), 1);
    EXPECT_EQ(Count(log, "tarv windows is closed."), e.stop == Stop::kClose ? 1 : 0);
    if (e.stop == Stop::kClose) {
      EXPECT_EQ(log.substr(log.size() - (sizeof kClosedEnd - 1)), kClosedEnd) << log.substr(log.size() - 300);
    }
    // The run's end is logged once the run ends, not when the program does.
    EXPECT_EQ(Count(log, "run.ed, exit"), e.midRun ? 0 : 1);
  }
}

}  // namespace
