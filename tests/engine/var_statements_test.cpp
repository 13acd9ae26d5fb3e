#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/handlers.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;
using tarvtest::Var;

// Runs the lines through the shared runner.
tarvtest::Outcome RunLast(const TempDir& dir, const std::vector<std::string>& lines) {
  std::string script;
  for (const auto& l : lines) script += l + "\n";
  return tarvtest::RunCase(dir, script);
}

struct Case {
  std::vector<std::string> script;  // the last line is the statement under test
  int code;
  const char* var;           // a variable checked afterwards
  std::string value;         // its value ("<missing>" when it must not exist)
  const char* message = "";  // the run error it reports
};

void RunCases(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script.back().substr(0, 100));
    TempDir dir;
    const auto o = RunLast(dir, c.script);
    EXPECT_EQ(o.Code(static_cast<int>(c.script.size())), c.code);
    if (*c.message) {
      ASSERT_FALSE(o.errors.empty());
      EXPECT_EQ(o.errors.back(), c.message);
    } else {
      EXPECT_EQ(o.errors, std::vector<std::string>{});
    }
    EXPECT_EQ(Var(c.var), c.value);
  }
}

// The script lines "var {<name>} value {<value>}" followed by `line`.
std::vector<std::string> With(const char* name, const std::string& value, const std::string& line) {
  return {std::string("var {") + name + "} value {" + value + "}", line};
}

const std::string k62(62, 'n');
const std::string k63(63, 'n');
const std::string k1000(1000, 'x');
const std::string v1022(1022, 'x');
// Two lines giving s a value of 1022 bytes, more than one word can carry.
const std::vector<std::string> kFullS = {"var {s} value {" + k1000 + "}",
                                         "var {s} add {" + std::string(22, 'x') + "}"};

TEST(VarStatements, ValueSetsText) {
  RunCases({
      {With("s", "old", "var {s} value {}"), 0, "s", ""},
      {{"var {" + k62 + "} value {v}"}, 0, k62.c_str(), "v"},
      {{"var {" + k63 + "} value {v}"}, -2, k63.c_str(), "<missing>",
       "Length of Arg 2 is :63 > 62 !"},
      {{"var {} value {v}"}, -2, "run.errors", "1", "Length of Arg 2 is :0  < 1 !"},
  });
}

TEST(VarStatements, ValueReportsAFullStore) {
  TempDir dir;
  tarvtest::Start(dir, "var {new} value {x}\n");
  for (int i = 0; sgVar.Count < VAR_MAX; i++) {
    std::string n = "f" + std::to_string(i);
    ASSERT_EQ(TarvSetVar4(n.data(), static_cast<int>(n.size()), "1", 1), 0);
  }
  ASSERT_EQ(EsPrepareStep(), 0);
  EXPECT_EQ(EsCallStep(), -11);
  EXPECT_EQ(sgRun.RunErrors, 1);
  EXPECT_EQ(Var("new"), "<missing>");
}

TEST(VarStatements, ValueNumberTakesPlainNumbers) {
  RunCases({
      {{"var {n} value number {3.7}"}, 0, "n", "3"},  // the integer part
      {{"var {n} value number {-3.7}"}, 0, "n", "-3"},
      {{"var {n} value number {99999999999}"}, 0, "n", "2147483647"},
      {With("a", "42", "var {n} value number {~a~}"), 0, "n", "42"},
      {{"var {n} value number {}"}, -5, "n", "<missing>", "Length of Arg 5 is :0  < 1 !"},
  });
}

// The layout itself belongs to the date utility.
TEST(VarStatements, ValueDatetimeStoresTheDateAndTime) {
  TempDir dir;
  const auto o = RunLast(dir, {"var {now} value {x}", "var {now} value datetime"});
  EXPECT_EQ(o.Code(2), 0);
  EXPECT_EQ(o.errors, std::vector<std::string>{});
  EXPECT_TRUE(tarvtest::Shaped(Var("now"), "9999-99-99 99:99:99"))
      << Var("now");
}

TEST(VarStatements, EncryptAndDecrypt) {
  RunCases({
      {{"var {e} value encrypt {12345678901234567890}", "var {d} value decrypt {~e~}"}, 0, "d",
       "12345678901234567890"},
      {{"var {e} value encrypt {123456789012345678901}"}, -4, "e", "<missing>",
       "Length of Arg 4 is :-1  < 1 !"},
      {{"var {e} value encrypt {}"}, -5, "e", "<missing>", "Length of Arg 5 is :0  < 1 !"},
      {With("d", "keep", "var {d} value decrypt {hello}"), -5, "d", "keep",
       "var_a2_value_decrypt_a5:, len=-1 <=0 !"},
  });
  // Stored scrambled, as printable text.
  TempDir dir;
  RunLast(dir, {"var {e} value encrypt {pass word}"});
  EXPECT_EQ(Var("e").find("pass"), std::string::npos);
  EXPECT_EQ(Var("e").find(' '), std::string::npos);
}

TEST(VarStatements, AddAppendsText) {
  RunCases({
      {With("s", "ab", "var {s} add {cd}"), 0, "s", "abcd"},
      {{"var {s} add {cd}"}, -4, "s", "<missing>", "Arg:2, 变量不存在!"},
      {With("s", "ab", "var {s} add {}"), -4, "s", "ab", "Length of Arg 4 is :0  < 1 !"},
      {kFullS, 0, "s", v1022},
      {With("s", k1000, "var {s} add {" + std::string(23, 'y') + "}"), -4, "s", k1000,
       "Var2.value L + Length of Arg 4 is :23 > 1022 !"},
  });
}

TEST(VarStatements, AddNumberWithPlainNumbers) {
  RunCases({
      {With("n", "10", "var {n} add number {1.6}"), 0, "n", "11"},
      {With("n", "0", "var {n} add number {-3}"), 0, "n", "-3"},
      {With("n", "12abc", "var {n} add number {1}"), 0, "n", "13"},  // read as atoi reads
      {With("n", "2147483646", "var {n} add number {1}"), 0, "n", "2147483647"},
      {With("n", "2147483647", "var {n} add number {1}"), -17, "n", "2147483647",
       "var_a2_add_number_a5,[2147483647] + [1] out of range!"},
      {With("n", "-2147483648", "var {n} add number {-1}"), -17, "n", "-2147483648",
       "var_a2_add_number_a5,[-2147483648] + [-1] out of range!"},
      {{"var {n} add number {1}"}, -4, "n", "<missing>", "Arg:2, 变量[n]不存在!"},
  });
}

TEST(VarStatements, ReplaceEveryOccurrence) {
  const std::string big(1020, 'a');
  RunCases({
      {With("s", big, "var {s} replace {a} with {bb}"), 0, "s", big},  // over 1022: unchanged
      {{"var {s} replace {a} with {b}"}, -4, "s", "<missing>", "Arg:2, 变量不存在!"},
      {With("s", "abc", "var {s} replace {} with {b}"), -4, "s", "abc",
       "Length of Arg 4 is :0  < 1 !"},
      {With("s", "abc", "var {s} replace {" + big + "a} with {b}"), -4, "s", "abc",
       "Length of Arg 4 is :1021 > 1020 !"},
      {With("s", "abc", "var {s} replace {a} with {" + big + "b}"), -6, "s", "abc",
       "Length of Arg 6 is :1021 > 1020 !"},
  });
}

TEST(VarStatements, ReplaceWithoutMatchStillMarksTheVariable) {
  TempDir dir;
  RunLast(dir, {"var {s} value {abc}", "var {t} value {x}", "var {s} replace {Z} with {Y}"});
  const int i = TarvFindVar("s", 1);
  ASSERT_GT(i, 0);
  EXPECT_EQ(sgVar.editByStep[i], sgRun.RunSteps);
}

TEST(VarStatements, AdjustLengthPadsAndCuts) {
  auto adjust = [](const std::string& len, const std::string& align) {
    return With("s", "abc", "var {s} adjust length {" + len + "} align {" + align + "}");
  };
  auto longest = kFullS;
  longest.push_back("var {s} adjust length {1023} align {right}");
  RunCases({
      {adjust("8", "middle"), 0, "s", "  abc   "},
      {adjust("6", "left"), 0, "s", "abc   "},
      {With("s", "abcdef", "var {s} adjust length {3} align {middle}"), 0, "s", "abc"},
      {adjust("0", "left"), 0, "s", ""},
      {With("s", "", "var {s} adjust length {3} align {right}"), 0, "s", "   "},
      {longest, 0, "s", " " + v1022},
      {adjust("1024", "left"), -5, "s", "abc",
       "var_a2_adjust_length_a5_align_a7,Arg:5 <1024> > 1023 !"},
      {adjust("5", "center"), -7, "s", "abc",
       "var_a2_adjust_length_a5_align_a7->A:7(center) is not support!"},
      {adjust("5", "Left"), -7, "s", "abc",
       "var_a2_adjust_length_a5_align_a7->A:7(Left) is not support!"},
      {adjust("-1", "left"), -5, "s", "abc", "Arg:5 is not integer !"},
      {{"var {s} adjust length {5} align {left}"}, -7, "s", "<missing>", "Arg:2, 变量不存在!"},
  });
}

TEST(VarStatements, CopyVar) {
  auto longest = kFullS;
  longest.push_back("var {b} copy var {s}");
  RunCases({
      {With("a", "hello", "var {b} copy var {a}"), 0, "b", "hello"},
      {{"var {a} value {}", "var {b} value {x}", "var {b} copy var {a}"}, 0, "b", ""},
      {longest, 0, "b", v1022},
      {With("b", "x", "var {b} copy var {a}"), -5, "b", "x", "Arg:5, 变量不存在!"},
  });
}

// A 1023-byte value fits a variable but not a slot.
TEST(VarStatements, CopyVarRefusesAValueLongerThanASlot) {
  TempDir dir;
  tarvtest::Start(dir, "var {b} copy var {a}\n");
  std::string big(1023, 'w');
  ASSERT_EQ(TarvSetVar4("a", 1, big.data(), 1023), 0);
  ASSERT_EQ(EsPrepareStep(), 0);
  EXPECT_EQ(EsCallStep(), -5);
  EXPECT_EQ(Var("b"), "<missing>");
}

TEST(VarStatements, CopyVarPart) {
  auto part = [](const std::string& after, const std::string& length) {
    return With("a", "0123456789",
                "var {b} copy var {a} after {" + after + "} bytes length {" + length + "}");
  };
  const char* tooBig = "var_a2_copy_var_a5_after_a7_bytes_length_a10,length is too big  !";
  RunCases({
      {part("0", "10"), 0, "b", "0123456789"},
      {part("10", "0"), 0, "b", ""},
      {part("8", "3"), -11, "b", "<missing>", tooBig},
      {part("11", "0"), -11, "b", "<missing>", tooBig},
      // Beyond 32 bits (sums that would wrap: tests/e2e/scripts/var_statements.nms).
      {part("99999999999", "2"), -11, "b", "<missing>", tooBig},
      {part("1.5", "2"), -7, "b", "<missing>", "Arg:7 is not integer !"},
      {part("1", ""), -10, "b", "<missing>", "Length of Arg 10 is :0  < 1 !"},
      {{"var {b} copy var {a} after {0} bytes length {1}"}, -5, "b", "<missing>",
       "Arg:5, 变量不存在!"},
  });
}

// Arithmetic that is not a plain number goes to the script host.
TEST(VarStatements, ValueNumberEvaluatesExpressions) {
  RunCases({
      {{"var {n} value number {5/2}"}, 0, "n", "2"},  // half to even
      {{"var {n} value number {2147483647+1}"}, 0, "n", "2147483648"},
      {With("n", "keep", "var {n} value number {2*}"), -17, "n", "keep",
       "var_a2_value_number_a5,vbscript_caluate [2*] 表达式错误!"},
      {{"var {n} value number {1/0}"}, -17, "n", "<missing>",
       "var_a2_value_number_a5,vbscript_caluate [1/0] 表达式错误!"},
  });
}

TEST(VarStatements, AddNumberEvaluatesAndRoundsToNearest) {
  auto add = [](const std::string& old, const std::string& expr) {
    return With("n", old, "var {n} add number {" + expr + "}");
  };
  RunCases({
      // Adding 0.5 and truncating gave -2 for 0-3 (tests/e2e/scripts/var_statements.nms).
      {add("2.5", "1*0"), 0, "n", "3"},
      {add("-2.5", "1*0"), 0, "n", "-3"},
      {add("-2.4", "1*0"), 0, "n", "-2"},
      {add("10", "7/2"), 0, "n", "14"},  // the host rounds first
      {add("2147483640", "1+6"), 0, "n", "2147483647"},
      {add("2147483640", "1+7"), -17, "n", "2147483640",
       "var_a2_add_number_a5,[2147483640] + [8] out of range!"},
      {add("0", "2^40"), -17, "n", "0", "var_a2_add_number_a5,[0] + [1099511627776] out of range!"},
      {add("1e999", "1*1"), -17, "n", "1e999", "var_a2_add_number_a5,[1e999] + [1] out of range!"},
      {add("10", "1/0"), -17, "n", "10", "var_a2_value_number_a5,vbscript_caluate [1/0] 表达式错误!"},
  });
}

}  // namespace
