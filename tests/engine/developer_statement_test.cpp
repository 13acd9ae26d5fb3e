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
const std::string kArray = "\n\t unsigned char alTextChar2[] = { ";
const std::string kClose = "0x00 };\n";

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

std::string Declared(int n, const std::string& body) {
  return kOpen + std::to_string(n) + " ;" + kArray + body + kClose;
}

TEST_F(DebugStatement, LineFeedContinuesTheDeclaration) {
  EXPECT_EQ(Select("A\nB"), Declared(3, "'A','\\n',\\\n\t\t'B',"));
  EXPECT_EQ(RunErrors(), std::vector<std::string>{kFinal});
}

TEST_F(DebugStatement, ByteForms) {
  struct Case {
    std::string bytes, body;
  };
  const std::vector<Case> cases = {
      {" '", "0x20,0x27,"},  // blank and single quote are below the literal range
      {"\\\\", "'\\\\','\\\\',"},  // a backslash stays a valid character literal
      {"(~", "'(','~',"},
      {"\"\x7F", "0x22,0x7f,"},
      {std::string("\0\r", 2), "0x00,'\\r',"},
      {"\xC3\xA9\xFF", "0xc3,0xa9,0xff,"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Select(c.bytes), Declared(static_cast<int>(c.bytes.size()), c.body)) << c.body;
    EXPECT_EQ(RunErrors(), std::vector<std::string>{kFinal});
  }
}

TEST_F(DebugStatement, ContinuationEverySixteenBytes) {
  std::string row;
  for (int i = 0; i < 16; i++) row += "'x',";
  EXPECT_EQ(Select(std::string(17, 'x')), Declared(17, row + "\\\n\t\t'x',"));
  // After a line feed the count starts at four: fifteen more bytes fill the row.
  std::string after;
  for (int i = 0; i < 15; i++) after += "'x',";
  EXPECT_EQ(Select("\n" + std::string(15, 'x')),
            Declared(16, "'\\n',\\\n\t\t" + after + "\\\n\t\t"));
}

TEST_F(DebugStatement, SelectionIsChecked) {
  struct Case {
    int head, tail;
  };
  const std::string text = "abc";
  for (const Case c : std::vector<Case>{{2, 2}, {-1, 2}, {1, 4}, {3, 1}}) {
    EXPECT_EQ(Run("T", text, c.head, c.tail), "") << c.head << "," << c.tail;
    const std::string refused = "TextSelectedToCharVar(): TextLen=3, text.headpointer=[" +
                                std::to_string(c.head) + "],tailpointer=" + std::to_string(c.tail) +
                                ", Error!";
    EXPECT_EQ(RunErrors(), (std::vector<std::string>{refused, kFinal})) << c.head << "," << c.tail;
  }
  // Position 0 holds no data and reads as a zero byte.
  EXPECT_EQ(Run("T", text, 0, 2), Declared(3, "0x00,'a','b',"));
}

TEST_F(DebugStatement, ActionChosenByPrefix) {
  struct Case {
    std::string a2;
    bool declares;
    std::vector<std::string> errors;
  };
  const std::vector<Case> cases = {
      {"T", true, {kFinal}},
      {"TextSel", true, {kFinal}},
      {"TextSelectedToCharVar", true, {kFinal}},
      {"TextSelectedToCharVarX", false, {kFinal}},  // longer than the name
      {"HexLogNmsAndMoreBytes", false, {kFinal}},
      {"t", false, {kFinal}},
      {"X", false, {kFinal}},
      {"W", false, {kFinal}},
      {"Par", false, {kFinal}},
      {"", false, {"Length of Arg 2 is :0  < 1 !", kFinal}},
      {std::string(1020, 'T'), false, {kFinal}},
      {std::string(1021, 'T'), false, {"Length of Arg 2 is :1021 > 1020 !", kFinal}},
  };
  for (const auto& c : cases) {
    const std::string out = Run(c.a2, "ab", 1, 2);
    EXPECT_EQ(out.empty(), !c.declares) << c.a2.substr(0, 30);
    EXPECT_EQ(RunErrors(), c.errors) << c.a2.substr(0, 30);
  }
}

TEST_F(DebugStatement, DiagnosticsInTheDebugLog) {
  std::filesystem::create_directory(dir.File("log"));
  Run("W", "", 0, 0, "debug");
  std::string log = Log();
  EXPECT_NE(log.find("\nMD5 = [7F138A09169B250E9DCB378140907378] Len =32"), std::string::npos);
  EXPECT_NE(log.find("\nSHA = [9FAED964FEF80190696BB2B0B98ED45CB7120C93] Len =40"),
            std::string::npos);
  EXPECT_EQ(RunErrors(), std::vector<std::string>{kFinal});

  auto count = [](const std::string& s, const std::string& what) {
    int n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) n++;
    return n;
  };
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
