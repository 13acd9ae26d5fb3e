// The screen and gif statements through the real binary in the hide mode:
// the script sees which errors counted, and no image file appears.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"

namespace {

TEST(ScreenBinary, HideModeCountsOnlyTheCountedErrorsAndWritesNoImage) {
  tarvtest::TempDir dir;
  const std::string script = dir.Write(
      "s.nms",
      "screen.set color red {300} green {-5} blue {x}\n"
      "screen.line from point {1} {2} to point {-1} {3}\n"
      "screen.meter at point {1} {2} range {0} to {9} min {1} max {5} value {3}\n"
      "var {a} value {~run.errors~}\n"
      "screen.save to file {s.png} from point {0} {0} to point {850} {720}\n"
      "screen.save to file {t.png} from point {0} {0} to point {851} {720}\n"
      "screen.clear\n"
      "gif.create from {0} {0} to {40} {40}\n"
      "gif.add frame delay {0.5} seconds\n"
      "gif.save to file {a.gif}\n"
      "text.add {~a~/~run.errors~/~run.error.1~}\n"
      "text.headpointer move to head\n"
      "text.tailpointer move to tail\n"
      "text.save to file {out.txt}\n");
  const auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const std::string out = tarvtest::ReadFile(dir.File("out.txt"));
  EXPECT_EQ(out.substr(0, 4), "0/2/") << out;
  EXPECT_NE(out.find("Arg:11=851 > 850 !"), std::string::npos) << out;
  for (const char* name : {"s.png", "t.png", "a.gif"})
    EXPECT_FALSE(std::filesystem::exists(dir.File(name))) << name;
}

}  // namespace
