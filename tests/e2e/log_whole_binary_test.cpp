// Through the tarv binary: a hidden run's HTML log is a whole file whatever
// the values it shows (NUL bytes, long UTF-8 steps) and whatever the level,
// and a script too long for the loader says so to its own first line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::Count;
using tarvtest::RunProgram;
using tarvtest::TempDir;

// The offset of the first byte that breaks UTF-8, or npos.
size_t FirstBadUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return i;
    for (size_t k = 1; k < len; k++)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return i;
    i += len;
  }
  return std::string::npos;
}

// Runs `script` hidden through a copy of the program that logs; the one log.
std::string HiddenRunLog(const TempDir& dir, const std::string& script) {
  tarvtest::CopyProgram(dir.path().string());
  std::filesystem::create_directory(dir.File("log"));
  const auto r = RunProgram(dir.File("tarv"), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_FALSE(r.timedOut);
  std::string log;
  int logs = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("log"))) {
    log += tarvtest::ReadFile(e.path().string());
    logs++;
  }
  EXPECT_EQ(logs, 1);
  return log;
}

// Each step's argument table sits inside its entry: closed before the
// entry's own end.
void ExpectArgumentTablesClosed(const std::string& log) {
  int tables = 0;
  for (size_t at = log.find("<table><tr><td>line No."); at != std::string::npos;
       at = log.find("<table><tr><td>line No.", at + 1)) {
    const size_t close = log.find("</tr></table>", at);
    const size_t entryEnd = log.find("</pre>", at);
    ASSERT_NE(entryEnd, std::string::npos);
    EXPECT_LT(close, entryEnd) << log.substr(at, 300);
    tables++;
  }
  EXPECT_GT(tables, 0);
}

TEST(LogWhole, NulBytesAndLongUtf8StepsKeepEveryRowAndTheFileValid) {
  TempDir dir;
  // "ab" puts the text's 1,023rd byte inside a four-byte character.
  std::string wide = "ab";
  for (int i = 0; i < 200; i++) wide += "\xE2\x82\xAC";
  for (int i = 0; i < 100; i++) wide += "\xF0\x9F\x98\x80";
  const std::string script = dir.Write(
      "s.nms", "run.set loglevel {info}\n"
               "var {a} value {x}\n"
               "var {a} replace {b%00c} with {SECOND}\n"
               "var {v} value {x%00<b>y}\n"
               "var {w} value {" + wide + "}\n"
               "var {after} value {z}\n");
  const std::string log = HiddenRunLog(dir, script);

  EXPECT_EQ(FirstBadUtf8(log), std::string::npos);
  // The NUL is written as the byte it is; the later arguments and the
  // row's end follow it, and the step's end entry comes after the table.
  const std::string nul(1, '\0');
  EXPECT_NE(log.find("<td class=\"tarv_green\"> b" + nul + "c</td><td  > with</td>"
                     "<td class=\"tarv_green\"> SECOND</td></tr></table>\n(^_^) Line [3] Run End, Ok!"),
            std::string::npos);
  EXPECT_NE(log.find("<td class=\"tarv_green\"> x" + nul + "&lt;b&gt;y</td></tr></table>\n"
                     "(^_^) Line [4] Run End, Ok!"),
            std::string::npos);
  ExpectArgumentTablesClosed(log);
  // The step's text is cut before the character that would not fit.
  const size_t step = log.find("Line No. 005 : var {w} value {ab");
  ASSERT_NE(step, std::string::npos);
  const size_t stepEnd = log.find("</td></tr></table>", step);
  ASSERT_NE(stepEnd, std::string::npos);
  // 1,023 bytes of room, less the three of the character that would not fit.
  EXPECT_EQ(stepEnd - step, 1020u);
  EXPECT_NE(log.find("<td colspan=3>Line No. 006 : var {after} value {z} </td>"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 14), "</body></html>");
}

// However low the level, a hidden run that started its log closes it.
TEST(LogWhole, AHiddenRunClosesItsLogAtEveryLevel) {
  for (const char* level : {"debug", "info", "error"}) {
    SCOPED_TRACE(level);
    TempDir dir;
    const std::string script = dir.Write(
        "s.nms", std::string("run.set loglevel {") + level + "}\nvar {a} value {~missing~}\nvar {b} value {c}\n");
    const std::string log = HiddenRunLog(dir, script);
    EXPECT_NE(log.find("description: [var [missing]"), std::string::npos) << log;
    constexpr std::string_view kEnd = "\n</td></tr></table></body></html>";
    ASSERT_GE(log.size(), kEnd.size());
    EXPECT_EQ(log.substr(log.size() - kEnd.size()), kEnd);
    EXPECT_EQ(Count(log, "</html>"), 1);
  }
}

// A script of `size` bytes whose first lines save what nms.errors is, then
// end the run; a comment fills it up to its size.
std::string ScriptOfSize(size_t size) {
  std::string s =
      "var {first} value {~nms.errors~}\ntext.add {~first~%0a}\ntext.headpointer move to head\n"
      "text.tailpointer move to tail\ntext.save to file {out.txt}\nrun.end\n# ";
  s.append(size - s.size() - 1, 'c');
  return s + "\n";
}

TEST(LogWhole, AScriptCutAtTheLoadersLimitCountsAScriptError) {
  const struct {
    size_t size;
    const char* saved;
  } kCases[] = {{65531, "0\n"}, {65532, "1\n"}, {100000, "1\n"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.size);
    TempDir dir;
    const std::string script = dir.Write("big.nms", ScriptOfSize(c.size));
    ASSERT_EQ(std::filesystem::file_size(script), c.size);
    const auto r = RunProgram(tarvtest::TarvBinary(), {"hide", script}, dir.path().string());
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(tarvtest::ReadFile(dir.File("out.txt")), c.saved);
  }
}

}  // namespace
