#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::RunProgram;
using tarvtest::TarvBinary;
using tarvtest::TempDir;

TEST(Binary, HideRunsExitZeroWhateverTheScript) {
  TempDir dir;
  std::string ok = dir.Write("ok.nms", "# nothing\nrun.end\n");
  auto r = RunProgram(TarvBinary(), {"hide", ok}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;

  // A statement that fails, a missing variable, a brace error.
  std::string bad = dir.Write("bad.nms", "tcp.close\nvar {a} value {~nope~}\ntext.add {x{y}\n");
  r = RunProgram(TarvBinary(), {"hide", bad}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_FALSE(r.timedOut);

  r = RunProgram(TarvBinary(), {"hide", dir.File("missing.nms")}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0);
  r = RunProgram(TarvBinary(), {"hide"}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0);
}

TEST(Binary, TheHelloExampleWritesItsGreeting) {
  TempDir dir;
  auto r = RunProgram(TarvBinary(), {"hide", std::string(TARV_SOURCE_DIR) + "/examples/hello.nms"},
                      dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(dir.File("hello.txt")), "Hello from tarv, the answer is 42.\n");
}

TEST(Binary, AMissingVariableSkipsTheStatement) {
  TempDir dir;
  std::string script = dir.Write("m.nms",
                                 "var {a} value {kept}\n"
                                 "var {a} value {~missing~}\n"
                                 "text.add {~a~/~run.errors~}\n"
                                 "text.headpointer move to head\n"
                                 "text.tailpointer move to tail\n"
                                 "text.save to file {out.txt}\n");
  auto r = RunProgram(TarvBinary(), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  // The second line's handler never ran; its argument cost two run errors.
  EXPECT_EQ(tarvtest::ReadFile(dir.File("out.txt")), "kept/2");
}

TEST(Binary, EngineRulesSeenFromAScript) {
  TempDir dir;
  const std::string script = std::string(TARV_SOURCE_DIR) + "/tests/e2e/scripts/spine.nms";
  auto r = RunProgram(TarvBinary(), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  // Counters read in a step show what the step before it published: the
  // first text.add is the fifth step (comments and unmatched lines are steps).
  EXPECT_EQ(tarvtest::ReadFile(dir.File("spine.out")),
            "steps=4 args=3 mode=hide\n"
            "lines=15 errors=0\n"
            "os=linux file=" + script + "\n"
            "~AB");
}

TEST(Binary, LogGoesBesideTheProgramOnlyWhenTheFolderExists) {
  TempDir dir;
  std::filesystem::copy_file(TarvBinary(), dir.File("tarv"));
  std::filesystem::permissions(dir.File("tarv"), std::filesystem::perms::owner_all);
  std::string script = dir.Write("s.nms", "run.set loglevel {debug}\n# x\nrun.end\n");

  auto r = RunProgram(dir.File("tarv"), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("log")));

  std::filesystem::create_directory(dir.File("log"));
  r = RunProgram(dir.File("tarv"), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0);
  int logs = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("log"))) {
    std::string name = e.path().filename().string();
    EXPECT_EQ(name.rfind("hide_s.nms_", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".htm");
    logs++;
  }
  EXPECT_EQ(logs, 1);
}

}  // namespace
