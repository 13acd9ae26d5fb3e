// The run's time limit where a script waits or runs out of plain sight: a
// wait on a pipe ends at the limit, not a polling slice after it, and a
// Class_Terminate that runs past the limit stops the program like any code.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "services/scripthost/script_host.h"
#include "tests/engine/harness.h"
#include "tests/services/scripthost/vbs_test_util.h"

namespace {

using namespace tarv;
using namespace std::chrono_literals;

std::string Main(const std::string& body) { return "Function TarvMain()\n" + body + "\nEnd Function\n"; }

std::string Outcome(const scripthost::UserOutcome& out) {
  return out.ok ? out.text : "#" + std::to_string(out.error.number) + " line " + std::to_string(out.error.line);
}

// How long after its deadline a script that waits on a pipe ends, the
// least of a few tries: a script that starts late (a loaded machine) fails
// at once and shows no overrun, so one prompt try is enough to see a wait
// that runs on past the deadline.
std::chrono::milliseconds LeastOverrun(const std::string& script, std::string* outcome) {
  auto least = std::chrono::milliseconds::max();
  for (int i = 0; i < 5; ++i) {
    const vbs::Clock::time_point deadline = vbs::Clock::now() + 40ms;
    *outcome = Outcome(scripthost::RunUserScript(script, deadline));
    least = std::min(least, std::chrono::duration_cast<std::chrono::milliseconds>(vbs::Clock::now() - deadline));
  }
  return least;
}

// The waits poll in slices: the last slice is cut to the time left, so the
// script ends within a few milliseconds of its deadline, never a whole
// slice (100 ms) after it.
TEST(VbsTimeLimit, PipeWaitsEndAtTheDeadline) {
  tarvtest::TempDir dir;
  const std::string idle = (dir.path() / "idle").string(), unread = (dir.path() / "unread").string();
  ASSERT_EQ(::mkfifo(idle.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(unread.c_str(), 0600), 0);
  // Held open for writing (and reading, so the open does not wait) without
  // a byte written: a read waits.
  const int writer = ::open(idle.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  const std::string fso = "Set fs = CreateObject(\"Scripting.FileSystemObject\")\n";
  const std::string timeout = "#" + std::to_string(vbs::kErrTimeout);
  const struct {
    std::string what, script, outcome;
  } waits[] = {
      {"a read of an idle pipe", Main(fso + "Set f = fs.OpenTextFile(\"" + idle + "\", 1)\nTarvMain = f.ReadLine"),
       timeout + " line 4"},
      {"an open of a pipe nobody reads", Main(fso + "Set f = fs.OpenTextFile(\"" + unread + "\", 2)"),
       timeout + " line 3"},
  };
  for (const auto& w : waits) {
    SCOPED_TRACE(w.what);
    std::string outcome;
    const std::chrono::milliseconds overrun = LeastOverrun(w.script, &outcome);
    EXPECT_EQ(outcome, w.outcome);
    EXPECT_LT(overrun.count(), 35);
  }
  ::close(writer);
}

// A Class_Terminate that never ends, run where the last reference goes.
const std::string kEndless =
    "Class Slow\n"
    "  Private Sub Class_Terminate()\n"
    "    Do : Loop\n"
    "  End Sub\n"
    "End Class\n"
    "Sub UseOne()\n"
    "  Dim o : Set o = New Slow\n"
    "End Sub\n";

// The limit ends the run even when it comes inside Class_Terminate, where
// other errors are let go, and whatever On Error asked for.
TEST(VbsTimeLimit, ATimeOutInsideClassTerminateStopsTheProgram) {
  const std::string timeout = "#" + std::to_string(vbs::kErrTimeout);
  const struct {
    std::string what, body, outcome;
  } cases[] = {
      {"an object set to Nothing", "Set o = New Slow\nSet o = Nothing\nTarvMain = \"went on\"", timeout + " line 3"},
      {"a local at the end of its procedure", "UseOne\nTarvMain = \"went on\"", timeout + " line 3"},
      {"under On Error Resume Next", "On Error Resume Next\nSet o = New Slow\nSet o = Nothing\nTarvMain = \"went on\"",
       timeout + " line 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const scripthost::UserOutcome out = scripthost::RunUserScript(kEndless + Main(c.body), vbs::Clock::now() + 200ms);
    EXPECT_EQ(Outcome(out), c.outcome);
  }
  // An error of another kind inside Class_Terminate is let go.
  const std::string failing =
      "Class Bad\n  Private Sub Class_Terminate()\n    x = 1 / 0\n  End Sub\nEnd Class\n";
  EXPECT_EQ(Outcome(scripthost::RunUserScript(failing + Main("Set o = New Bad\nSet o = Nothing\nTarvMain = \"went on\""),
                                              vbs::Clock::now() + 20s)),
            "went on");
}

// As a statement of a run: the step time-out ends the script, and the run
// records the time-out.
TEST(VbsTimeLimit, StepTimeOutInsideClassTerminateIsTheStatementsError) {
  tarvtest::TempDir dir;
  const std::string script = kEndless + Main("UseOne\nTarvMain = \"went on\"");
  tarvtest::Run(dir, "run.set step.timeout {1} seconds\nvar {vbscript.return} value {before}\nsys.vbscript {" +
                         vbstest::AsArgument(script) + "}\n");
  EXPECT_EQ(tarvtest::Var("vbscript.return"), "before");
  const std::vector<std::string> errors = tarvtest::RunErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("Description:Script timed out"), std::string::npos) << errors[0];
}

}  // namespace
