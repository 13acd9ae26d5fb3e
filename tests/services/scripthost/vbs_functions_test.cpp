// Cases named by the engine's own checklist, kept apart from the data tables.
#include <gtest/gtest.h>

#include <string>

#include "services/scripthost/script_host.h"

namespace {

using namespace tarv;

std::string Answer(const scripthost::UserOutcome& out) {
  return out.ok ? out.text : "#" + std::to_string(out.error.number);
}

// Cases named by the engine's own checklist: each comparison operator on
// (1,2), (2,2) and (2,1); a call short of arguments; the length of a
// character outside the Basic Multilingual Plane.
TEST(VbsFunctions, ComparisonsArgumentCountAndWideCharacter) {
  const char* ops[] = {"=", "<>", "<", ">", "<=", ">="};
  const char* expected[] = {"FalseTrueFalse", "TrueFalseTrue", "TrueFalseFalse",
                            "FalseFalseTrue", "TrueTrueFalse", "FalseTrueTrue"};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(ops[i]);
    const std::string op = ops[i];
    const std::string script = "Function TarvMain()\nTarvMain = (1 " + op + " 2) & (2 " + op + " 2) & (2 " + op +
                               " 1)\nEnd Function\n";
    EXPECT_EQ(Answer(scripthost::RunUserScript(script, std::nullopt)), expected[i]);
    // The same on variables, which take the whole-number path.
    const std::string vars = "Function TarvMain()\na = 1 : b = 2\nTarvMain = (a " + op + " b) & (b " + op +
                             " b) & (b " + op + " a)\nEnd Function\n";
    EXPECT_EQ(Answer(scripthost::RunUserScript(vars, std::nullopt)), expected[i]);
  }
  const scripthost::UserOutcome few = scripthost::RunUserScript(
      "Function Two(a, b)\nTwo = a + b\nEnd Function\nFunction TarvMain()\nTarvMain = Two(1)\nEnd Function\n",
      std::nullopt);
  ASSERT_FALSE(few.ok);
  EXPECT_EQ(few.error.number, 450);
  EXPECT_EQ(few.error.description, "Wrong number of arguments or invalid property assignment");
  EXPECT_EQ(few.error.line, 5);
  EXPECT_EQ(Answer(scripthost::RunUserScript("Function TarvMain()\nTarvMain = Mid(\"a\")\nEnd Function\n",
                                             std::nullopt)),
            "#450");
  EXPECT_EQ(Answer(scripthost::RunUserScript(
                "Function TarvMain()\nTarvMain = Len(\"\xF0\x9F\x98\x80\") & Len(\"a\xF0\x9F\x98\x80z\")\nEnd Function\n",
                std::nullopt)),
            "24");
}

}  // namespace
