#include "engine/tools/source_generator.h"

#include <gtest/gtest.h>

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
    return std::string(sgRun.Text.data() + 1, sgRun.TextLen);
  }
};

const std::string kNotRun = "tarv_createsource::This statement is not run in normal!";

// The opening pieces every generated function shares.
std::string Head(int id, int args, const std::string& name) {
  return "\n/**************\n" + std::to_string(id) + "," + std::to_string(args) + "," +
         std::to_string(name.size()) + "," + name + ",\"" + name + "\",\n#define MAX_FUN = " +
         std::to_string(id + 1) + "\n" + "\nint " + name + "( );\n**************/\n" + "\nint " +
         name + "( )\n{\n\t sgRun.StepRunState = ENDOK;\n" +
         "\n\t return NmsRunError(-99,\"" + name + ":This statement is not yet completed.\" ); " +
         "\n\n\t TarvDebugLog(\"" + name + " ,begin ...\" ); ";
}

std::string Return(const std::string& name) {
  return "\n\n\t return TarvReturn(0,\"" + name + " return.\");\n}\n";
}

TEST_F(Generator, PlainKeywords) {
  EXPECT_EQ(Generate("tarv.createsource tcp.close"),
            Head(181, 1, "tcp_close") + Return("tcp_close"));
  EXPECT_EQ(RunErrors(), std::vector<std::string>{kNotRun});
  EXPECT_EQ(sgRun.StepErrors, 1);
}

TEST_F(Generator, LengthLimits) {
  const std::string name = "udp_send_a2";
  EXPECT_EQ(
      Generate("tarv.createsource udp.send {l/1/1022}"),
      Head(181, 2, name) + "\r\n\r\n\t /* Arg:2 , {l/1/1022} */" +
          "\n\t if( igL[2] < 1 ) return NmsRunError(-2,\"Arg:2, len=%d  < 1 !\", igL[2]); " +
          "\n\t if( igL[2] > 1022 ) return NmsRunError(-2,\"Arg:2, len=%d > 1022 !\", igL[2]); " +
          Return(name));
}

TEST_F(Generator, IntegerRanges) {
  const std::string isInteger =
      "\n\t if( TarvIsInteger2(agA[2],igL[2]) < 0 ) "
      "return NmsRunError(-2,\"Arg:2 is not integer !\" ); "
      "\n\t igV[2] = atoi( agA[2] );\r\n";
  const std::string name = "run_sleep_a2_seconds";
  const std::string checks =
      "\r\n\r\n\t /* Arg:2 , {-/0/3600} */" + isInteger +
      "\n\t if( igV[2] < 0 ) return NmsRunError(-2,\"Arg:2=%d  < 0 !\", igV[2]); "
      "\n\t if( igV[2] > 3600 ) return NmsRunError(-2,\"Arg:2=%d > 3600 !\", igV[2]); ";
  EXPECT_EQ(Generate("tarv.createsource run.sleep {-/0/3600} seconds"),
            Head(181, 3, name) + checks + Return(name));

  // Only the bounds that are given are checked.
  const std::string onlyMax =
      "\r\n\r\n\t /* Arg:2 , {-//9} */" + isInteger +
      "\n\t if( igV[2] > 9 ) return NmsRunError(-2,\"Arg:2=%d > 9 !\", igV[2]); ";
  EXPECT_EQ(Generate("tarv.createsource run.sleep {-//9} seconds"),
            Head(181, 3, name) + onlyMax + Return(name));
  const std::string bare = "\r\n\r\n\t /* Arg:2 , {-} */" + isInteger;
  EXPECT_EQ(Generate("tarv.createsource run.sleep {-} seconds"),
            Head(181, 3, name) + bare + Return(name));
}

TEST_F(Generator, ChoicesReturnEachTheirOwnText) {
  const std::string name = "text_align_a2";
  const std::string checks =
      "\r\n\r\n\t /* Arg:2 , {+/left/right} */"
      "\n\t if( CurStepIsArg3(2,\"left\",4) == 0 )"
      "\n\t {"
      "\n\n\t\t return TarvReturn(0,\"text_align_a2->A:2(left) return.\");"
      "\n\t }"
      "\n\t else if( CurStepIsArg3(2,\"right\",5) == 0 )"
      "\n\t {"
      "\n\n\t\t return TarvReturn(0,\"text_align_a2->A:2(right) return.\");"
      "\n\t }"
      "\n\t else"
      "\n\t {"
      "\n\n\t\t return NmsRunError(-2,\"text_align_a2->A:2(%s) is not support!\",agA[2]);"
      "\n\t }";
  EXPECT_EQ(Generate("tarv.createsource text.align {+/left/right}"),
            Head(181, 2, name) + checks + Return(name));
}

// A keyword with alternatives forks the name; the "var" form reads its
// variable and hands over to the "string" form.
TEST_F(Generator, ForkedKeywordWithVariableRead) {
  const std::string read =
      "\r\n\r\n\t /* Arg:3 , {A3} */"
      "\n\n\t igL[3] = TarvGetVar4( agA[3],igL[3],agV[3],1022);"
      "\n\t if( igL[3] < 0 ) return NmsRunError(-3,\"Arg:3, GetVar len=%d  < 0 !\", igL[3]); "
      "\n\t memcpy( agA[3],agV[3],igL[3]);"
      "\n\t agA[3][igL[3]] = 0x00 ;"
      "\n\t TarvDebugLog( \"L[3]=%d,A[3]=<%s>\",igL[3],agA[3]);";
  const std::string expected =
      Head(181, 3, "text_replace_string_a3") + read + Return("text_replace_string_a3") +
      Head(182, 3, "text_replace_var_a3") + read +
      "\n\n\t TarvDebugLog( \"redirect call text_replace_string_a3()\" );"
      "\n\n\t return text_replace_string_a3();\n}\n";
  EXPECT_EQ(Generate("tarv.createsource text.replace +/string/var {A3}"), expected);

  // The limit shown in the variable check is the last bound given; a field
  // ends at its '}'; "+x/y" offers only y.
  const std::string text = Generate("tarv.createsource +x/y +/a/var {l/1/50}");
  EXPECT_EQ(text.find("x_"), std::string::npos);
  EXPECT_NE(text.find("\nint y_a_a3( )"), std::string::npos);
  EXPECT_NE(text.find("\nint y_var_a3( )"), std::string::npos);
  EXPECT_NE(text.find("\"Arg:3, GetVar len=%d  < 50 !\""), std::string::npos);
  EXPECT_NE(text.find("return y_string_a3();"), std::string::npos);
}

TEST_F(Generator, IdsCountAcrossLinesAndEmptyPattern) {
  const std::string text = Generate(
      "tarv.createsource tcp.close\n"
      "tarv.createsource\n"
      "tarv.createsource udp.close\n");
  EXPECT_EQ(text, Head(181, 1, "tcp_close") + Return("tcp_close") + Head(182, 0, "") + Return("") +
                      Head(183, 1, "udp_close") + Return("udp_close"));
  EXPECT_EQ(sgSource.NextId, 184);
  EXPECT_EQ(RunErrors(), (std::vector<std::string>{kNotRun, kNotRun, kNotRun}));

  // A new run starts again at 181.
  EXPECT_EQ(Generate("tarv.createsource tcp.close").substr(0, 20), "\n/**************\n181");
}

// Words are numbered in the name 1-9, then a, b, ...; dots become '_' after
// the first byte only.
TEST_F(Generator, NameRules) {
  std::string line = "tarv.createsource .k";
  for (int w = 2; w <= 12; w++) line += " {A}";
  const std::string text = Generate(line);
  const std::string name = ".k_a2_a3_a4_a5_a6_a7_a8_a9_aa_ab_ac";
  EXPECT_EQ(text.substr(0, Head(181, 12, name).size()), Head(181, 12, name));
}

TEST_F(Generator, OversizedInputIsRefused) {
  struct Case {
    std::string pattern;
    std::string error;  // "" when the generation goes through
  };
  std::string nineteen, twenty;
  for (int i = 0; i < 19; i++) nineteen += " {A}";
  twenty = nineteen + " {A}";
  const std::string word1023 = "{" + std::string(1021, 'x') + "}";
  const std::string half(600, 'k');
  const std::vector<Case> cases = {
      {nineteen, ""},
      {twenty, "tarv_createsource: 20 words > 19 !"},
      {" a" + word1023, ""},
      {" a " + std::string(1024, 'k'), "tarv_createsource: Length of word 3 is :1024 > 1023 !"},
      {" " + half + " " + half, "tarv_createsource: Length of name is :1202 > 1023 !"},
      {" " + std::string(1022, 'k'), ""},  // the name with its '_' just fits
      {" " + std::string(1023, 'k'), "tarv_createsource: Length of name is :1024 > 1023 !"},
      {" " + half + " +/a/" + std::string(500, 'b'),
       "tarv_createsource: Length of name is :1102 > 1023 !"},
  };
  for (const auto& c : cases) {
    const std::string text = Generate("tarv.createsource" + c.pattern);
    if (c.error.empty()) {
      EXPECT_EQ(RunErrors(), std::vector<std::string>{kNotRun}) << c.pattern.substr(0, 40);
      EXPECT_EQ(text.substr(0, 20), "\n/**************\n181") << c.pattern.substr(0, 40);
    } else {
      EXPECT_EQ(RunErrors(), (std::vector<std::string>{c.error, kNotRun}))
          << c.pattern.substr(0, 40);
      EXPECT_EQ(text, "") << c.pattern.substr(0, 40);
    }
  }
  // The 1023-byte argument is quoted whole in its comment line.
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
