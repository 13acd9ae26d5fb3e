#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "engine/core/var_store.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;
using tarvtest::RunErrors;
using tarvtest::Var;

const std::string kFinal = "tarv_debug_a2 can only run in development mode!";
const std::string kOpen = "\n\t int  ilTextChar2Len = ";

class DebugStatement : public ::testing::Test {
 protected:
  TempDir dir;
  void TearDown() override { TarvEngineReset(); }

  // Runs `tarv.debug {a2}` over a text buffer holding `text`, selected from
  // head to tail; returns what the statement appended.
  std::string Run(const std::string& a2, const std::string& text, int head, int tail,
                  const std::string& mode = "hide") {
    tarvtest::Start(dir, "tarv.debug {" + a2 + "}\n", mode);
    std::memcpy(sgRun.Text.data() + 1, text.data(), text.size());
    sgRun.TextLen = static_cast<int>(text.size());
    sgRun.headPointer = head;
    sgRun.tailPointer = tail;
    TarvRunToEnd();
    return std::string(sgRun.Text.data() + 1 + text.size(), sgRun.TextLen - text.size());
  }
  std::string Select(const std::string& text) {
    return Run("T", text, 1, static_cast<int>(text.size()));
  }
  std::string Log() {
    TarvFlushLog();
    std::string log;
    for (const auto& e : std::filesystem::directory_iterator(dir.File("log")))
      log += tarvtest::ReadFile(e.path().string());
    return log;
  }
};

// The declarations of selections: byte forms, a line feed continuing the
// declaration, a continuation every sixteen bytes (after a line feed the
// count starts at four), and position 0, which holds no data and reads as a
// zero byte.
TEST_F(DebugStatement, DeclarationsOfSelections) {
  const std::string cases[] = {
      "A\nB",
      " '",      // blank and single quote are below the literal range
      "\\\\",   // a backslash stays a valid character literal
      "(~",
      "\"\x7F",
      std::string("\0\r", 2),
      "\xC3\xA9\xFF",
      std::string(17, 'x'),
      "\n" + std::string(15, 'x'),
  };
  std::string all;
  for (const auto& bytes : cases) {
    all += tarvtest::Section(testing::PrintToString(bytes), Select(bytes));
    EXPECT_EQ(RunErrors(), std::vector<std::string>{kFinal});
  }
  all += tarvtest::Section("from position 0", Run("T", "abc", 0, 2));
  tarvtest::ExpectGolden("developer_declarations.txt", all);
}

// No statement sets a negative head (the other refusals: cases/developer.cases).
TEST_F(DebugStatement, ANegativeHeadIsRefused) {
  EXPECT_EQ(Run("T", "abc", -1, 2), "");
  EXPECT_EQ(RunErrors(), (std::vector<std::string>{
                             "TextSelectedToCharVar(): TextLen=3, text.headpointer=[-1],tailpointer=2, Error!",
                             kFinal}));
}

// The action chosen by the argument's prefix: cases/developer.cases.
TEST(DebugStatementCases, ActionsByPrefix) { tarvtest::ExpectCaseFile("developer.cases"); }

TEST_F(DebugStatement, DiagnosticsInTheDebugLog) {
  std::filesystem::create_directory(dir.File("log"));
  Run("W", "", 0, 0, "debug");
  std::string log = Log();
  EXPECT_NE(log.find("\nMD5 = [7F138A09169B250E9DCB378140907378] Len =32"), std::string::npos);
  EXPECT_NE(log.find("\nSHA = [9FAED964FEF80190696BB2B0B98ED45CB7120C93] Len =40"),
            std::string::npos);
  EXPECT_EQ(RunErrors(), std::vector<std::string>{kFinal});

  const auto count = tarvtest::Count;
  std::filesystem::remove_all(dir.File("log"));
  std::filesystem::create_directory(dir.File("log"));
  Run("P", "", 0, 0, "debug");
  log = Log();
  // Once after the load, once more on request.
  EXPECT_EQ(count(log, "\n--------nms Parser Words,Report End.---------\n"), 2);
  EXPECT_EQ(count(log, "\n001(180)  tarv.debug {P} \n--------nms Parser Report End."), 2);

  std::filesystem::remove_all(dir.File("log"));
  std::filesystem::create_directory(dir.File("log"));
  Run("H", "", 0, 0, "debug");
  log = Log();
  EXPECT_NE(log.find("\nnms.length=[15]\nHexLog DataLen=15"), std::string::npos);
  EXPECT_EQ(count(log, "\nMD5 = ["), 0);
}

// The declaration of a selection holding every byte value, compiled into a
// program that writes the array back out, reproduces the selection exactly.
TEST_F(DebugStatement, EveryByteValueRoundTripsThroughTheCompiler) {
  std::string bytes;
  for (int b = 0; b < 256; b++) bytes += static_cast<char>(b);
  for (int b = 255; b >= 0; b--) bytes += static_cast<char>(b);
  bytes += "\\\\\n\n\r\n'\"?\?=";
  const std::string declaration = Select(bytes);
  ASSERT_EQ(declaration.substr(0, kOpen.size()), kOpen);
  ASSERT_EQ(RunErrors(), std::vector<std::string>{kFinal});

  const std::string program =
      "#include <cstdio>\n"
      "int main() {\n" +
      declaration +
      "\n  std::fwrite(alTextChar2, 1, ilTextChar2Len, stdout);\n"
      "  return sizeof alTextChar2 == static_cast<unsigned>(ilTextChar2Len) + 1 ? 0 : 3;\n"
      "}\n";
  const std::string source = dir.Write("bytes.cpp", program);
  const std::string binary = dir.File("bytes");
  const std::string errors = dir.File("errors.txt");
  const std::string build =
      "c++ -std=c++20 -o '" + binary + "' '" + source + "' > '" + errors + "' 2>&1";
  ASSERT_EQ(std::system(build.c_str()), 0) << tarvtest::ReadFile(errors);
  const std::string output = dir.File("out.bin");
  ASSERT_EQ(std::system(("'" + binary + "' > '" + output + "'").c_str()), 0);
  EXPECT_EQ(tarvtest::ReadFile(output), bytes);
}

}  // namespace
