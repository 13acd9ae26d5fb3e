#include "engine/tools/source_generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "engine/core/text_buffer.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;
using tarvtest::RunErrors;
using tarvtest::Var;

class Generator : public ::testing::Test {
 protected:
  TempDir dir;
  void TearDown() override { TarvEngineReset(); }

  std::string Generate(const std::string& script) {
    tarvtest::Run(dir, script);
    return tarvtest::Text();
  }
};

const std::string kNotRun = "tarv_createsource::This statement is not run in normal!";

// Each line's generated source; words are numbered in the name 1-9, then
// a, b, ...; dots become '_' after the first byte only; a keyword with
// alternatives forks the name and the "var" form reads its variable and hands
// over to the "string" form; the limit shown in the variable check is the
// last bound given; "+x/y" offers only y.
TEST_F(Generator, SourcesOfEachKindOfWord) {
  const char* patterns[] = {
      "tcp.close",
      "udp.send {l/1/1022}",
      "run.sleep {-/0/3600} seconds",
      "run.sleep {-//9} seconds",  // only the bounds that are given are checked
      "run.sleep {-} seconds",
      "text.align {+/left/right}",
      "text.replace +/string/var {A3}",
      "+x/y +/a/var {l/1/50}",
      ".k {A} {A} {A} {A} {A} {A} {A} {A} {A} {A} {A}",
  };
  std::string all;
  for (const char* pattern : patterns) {
    all += tarvtest::Section(pattern, Generate(std::string("tarv.createsource ") + pattern));
    EXPECT_EQ(RunErrors(), std::vector<std::string>{kNotRun}) << pattern;
    EXPECT_EQ(sgRun.StepErrors, 1);
  }
  // Ids count across the lines of a run, an empty pattern included; a new
  // run starts again at 181.
  all += tarvtest::Section("three lines", Generate("tarv.createsource tcp.close\n"
                                                   "tarv.createsource\n"
                                                   "tarv.createsource udp.close\n"));
  EXPECT_EQ(sgSource.NextId, 184);
  EXPECT_EQ(RunErrors(), (std::vector<std::string>{kNotRun, kNotRun, kNotRun}));
  tarvtest::ExpectGolden("generated_sources.txt", all);
}

// Patterns at and past the limits: cases/source_sizes.txt.
TEST(GeneratorLimits, OversizedInputIsRefused) {
  tarvtest::ExpectLineCases("source_sizes.txt", [](const std::string& pattern) {
    tarvtest::TempDir dir;
    tarvtest::Run(dir, "tarv.createsource" + pattern + "\n");
    std::string out;
    for (const auto& e : RunErrors()) out += e + " | ";
    return out + std::string(sgRun.Text.data() + 1, std::min(sgRun.TextLen, 20));
  });
  TarvEngineReset();
}

// The 1023-byte argument is quoted whole in its comment line.
TEST_F(Generator, LongestArgumentIsQuotedWhole) {
  const std::string word1023 = "{" + std::string(1021, 'x') + "}";
  const std::string text = Generate("tarv.createsource a" + word1023);
  EXPECT_NE(text.find("/* Arg:2 , " + word1023 + " */"), std::string::npos);
}

// Once the text buffer refuses a piece, the rest of the output is dropped
// rather than refused piece by piece, each at the price of a run error.
TEST_F(Generator, FullTextBufferCostsOneError) {
  tarvtest::Start(dir, "tarv.createsource +/a/b/c/d/e +/a/b/c/d/e {l/1/9} {-/1/9}");
  sgRun.TextLen = TEXT_ADD_LIMIT - 2000;
  TarvRunToEnd();
  EXPECT_LT(sgRun.TextLen, TEXT_ADD_LIMIT);
  EXPECT_GT(sgRun.TextLen, TEXT_ADD_LIMIT - 2000);
  const std::vector<std::string> errors = RunErrors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].substr(0, 8), "BufLen=<");
  EXPECT_EQ(errors[1], kNotRun);
  // Every function was still numbered.
  EXPECT_EQ(sgSource.NextId, 181 + 25);
}

// The skeleton is real source of this system: it compiles against the
// engine's own headers.
TEST_F(Generator, SkeletonCompilesAgainstEngineHeaders) {
  const std::string text = Generate(
      "tarv.createsource udp.send {l/1/1022}\n"
      "tarv.createsource run.sleep {-/0/3600} seconds\n"
      "tarv.createsource text.align {+/left/middle/right}\n"
      "tarv.createsource text.replace +/string/var {A3} with {l/1/}\n"
      "tarv.createsource tcp.connect ip {A3} port {-/1/65535}\n"
      "tarv.createsource tcp.close\n");
  ASSERT_NE(text.find("int text_replace_var_a3_with_a5( )"), std::string::npos);
  const std::string source =
      "#include <cstdlib>\n#include <cstring>\n"
      "#include \"engine/log/log.h\"\n#include \"engine/core/run_state.h\"\n"
      "#include \"engine/core/step_args.h\"\n#include \"engine/util/util.h\"\n"
      "#include \"engine/core/var_store.h\"\n" +
      text;
  const std::string file = dir.Write("generated.cpp", source);
  const std::string errors = dir.File("errors.txt");
  const std::string cmd = "c++ -std=c++20 -fsyntax-only -Wall -Werror -I'" TARV_SOURCE_DIR "' '" +
                          file + "' > '" + errors + "' 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << tarvtest::ReadFile(errors) << source;

  // A broken skeleton fails the same compile: the check is not vacuous.
  const std::string broken = dir.Write("broken.cpp", source + "\nint x( ) { return agZ[1]; }\n");
  const std::string cmd2 = "c++ -std=c++20 -fsyntax-only -I'" TARV_SOURCE_DIR "' '" + broken +
                           "' > /dev/null 2>&1";
  EXPECT_NE(std::system(cmd2.c_str()), 0);
}

}  // namespace
