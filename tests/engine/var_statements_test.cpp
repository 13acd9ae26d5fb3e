#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/handlers.h"
#include "engine/run_state.h"
#include "engine/script.h"
#include "engine/step_args.h"
#include "engine/var_store.h"
#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"

namespace {

using tarvtest::TempDir;
using tarvtest::Var;

struct Outcome {
  int code = 0;      // what the last line's handler answered
  int errors = 0;    // run errors of the whole run
  std::string lastError;  // text of the last run error, without its prefix
};

// Runs every line but the last through the step function, then prepares the
// last line and calls its handler, so that its code can be seen.
Outcome RunLast(const TempDir& dir, const std::vector<std::string>& lines) {
  std::string script;
  for (const auto& l : lines) script += l + "\n";
  tarvtest::Start(dir, script);
  const int last = sgNms.LineCount;
  while (sgRun.CurLine < last && sgRun.StepRunState != RUNEND) EsRunNextStep();
  Outcome o;
  EXPECT_EQ(sgRun.CurLine, last);
  EXPECT_EQ(EsPrepareStep(), 0) << "arguments of the last line";
  o.code = EsCallStep();
  o.errors = sgRun.RunErrors;
  if (o.errors > 0) {
    std::string e = Var("run.error." + std::to_string(o.errors));
    const std::string mark = "Error: [";
    size_t p = e.find(mark);
    if (p != std::string::npos && e.size() > p + mark.size())
      o.lastError = e.substr(p + mark.size(), e.size() - p - mark.size() - 1);
    else
      o.lastError = e;
  }
  return o;
}

struct Case {
  const char* what;
  std::vector<std::string> script;  // the last line is the statement under test
  int code;
  const char* message;  // the run error it reports; "" none
  const char* var;      // a variable checked afterwards
  std::string value;    // its value ("<missing>" when it must not exist)
};

void RunCases(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    Outcome o = RunLast(dir, c.script);
    EXPECT_EQ(o.code, c.code);
    if (*c.message) {
      EXPECT_GE(o.errors, 1);
      EXPECT_EQ(o.lastError, c.message);
    } else {
      EXPECT_EQ(o.errors, 0) << o.lastError;
    }
    EXPECT_EQ(Var(c.var), c.value);
  }
}

const std::string k62(62, 'n');
const std::string k63(63, 'n');
const std::string k1000(1000, 'x');

TEST(VarStatements, ValueSetsText) {
  RunCases({
      {"plain text", {"var {s} value {hello world}"}, 0, "", "s", "hello world"},
      {"empty value", {"var {s} value {old}", "var {s} value {}"}, 0, "", "s", ""},
      {"overwrites", {"var {s} value {one}", "var {s} value {two}"}, 0, "", "s", "two"},
      {"escapes and variables are filled in",
       {"var {a} value {A}", "var {s} value {<~a~%41>}"}, 0, "", "s", "<AA>"},
      {"name built from a variable",
       {"var {i} value {7}", "var {row~i~} value {x}"}, 0, "", "row7", "x"},
      {"62-byte name", {"var {" + k62 + "} value {v}"}, 0, "", k62.c_str(), "v"},
      {"63-byte name", {"var {" + k63 + "} value {v}"}, -2, "Length of Arg 2 is :63 > 62 !",
       k63.c_str(), "<missing>"},
      {"empty name", {"var {} value {v}"}, -2, "Length of Arg 2 is :0  < 1 !", "run.errors", "1"},
  });
}

// Lengths that no script word can reach: slots of up to 1022 bytes only.
TEST(VarStatements, ValueRefusesLengthsOutsideASlot) {
  TempDir dir;
  tarvtest::Start(dir, "# nothing\n");
  struct {
    int len;
    int code;
  } cases[] = {{-1, -4}, {1023, -4}, {1022, 0}, {0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.len);
    std::strcpy(agA[2], "s");
    igL[2] = 1;
    std::memset(agA[4], 'v', ARG_SIZE);
    igL[4] = c.len;
    EXPECT_EQ(var_a2_value_a4(), c.code);
    if (c.code == 0) {
      EXPECT_EQ(Var("s"), std::string(c.len, 'v'));
    }
  }
  EXPECT_EQ(Var("run.error.1"), "run.steps [0], Line No. [1], Error: [Length of Arg 4 is :-1  < 1 !]");
  EXPECT_EQ(Var("run.error.2"),
            "run.steps [0], Line No. [1], Error: [Length of Arg 4 is :1023 > 1022 !]");
}

TEST(VarStatements, ValueReportsAFullStore) {
  TempDir dir;
  tarvtest::Start(dir, "var {new} value {x}\n");
  int i = 0;
  while (sgVar.Count < VAR_MAX) {
    std::string n = "f" + std::to_string(i++);
    ASSERT_EQ(TarvSetVar4(n.data(), static_cast<int>(n.size()), "1", 1), 0);
  }
  ASSERT_EQ(EsPrepareStep(), 0);
  EXPECT_EQ(EsCallStep(), -11);
  EXPECT_EQ(sgRun.RunErrors, 1);
  EXPECT_EQ(Var("new"), "<missing>");
}

TEST(VarStatements, ValueNumberTakesPlainNumbers) {
  RunCases({
      {"integer", {"var {n} value number {12}"}, 0, "", "n", "12"},
      {"decimal keeps its integer part", {"var {n} value number {3.7}"}, 0, "", "n", "3"},
      {"negative decimal", {"var {n} value number {-3.7}"}, 0, "", "n", "-3"},
      {"leading blank", {"var {n} value number { -12}"}, 0, "", "n", "-12"},
      {"saturates at the 32-bit range", {"var {n} value number {99999999999}"}, 0, "", "n",
       "2147483647"},
      {"from a variable", {"var {a} value {42}", "var {n} value number {~a~}"}, 0, "", "n", "42"},
      {"empty", {"var {n} value number {}"}, -5, "Length of Arg 5 is :0  < 1 !", "n", "<missing>"},
      {"63-byte name", {"var {" + k63 + "} value number {1}"}, -2, "Length of Arg 2 is :63 > 62 !",
       "run.errors", "1"},
  });
}

TEST(VarStatements, ValueDatetimeHasTheFixedForm) {
  RunCases({
      {"63-byte name", {"var {" + k63 + "} value datetime"}, -2, "Length of Arg 2 is :63 > 62 !",
       "run.errors", "1"},
  });
  TempDir dir;
  Outcome o = RunLast(dir, {"var {now} value {x}", "var {now} value datetime"});
  EXPECT_EQ(o.code, 0);
  EXPECT_EQ(o.errors, 0);
  // "YYYY-MM-DD hh:mm:ss"
  const std::string now = Var("now");
  const std::string form = "dddd-dd-dd dd:dd:dd";
  ASSERT_EQ(now.size(), form.size()) << now;
  for (size_t i = 0; i < form.size(); i++) {
    if (form[i] == 'd') {
      EXPECT_TRUE(now[i] >= '0' && now[i] <= '9') << now;
    } else {
      EXPECT_EQ(now[i], form[i]) << now;
    }
  }
}

TEST(VarStatements, EncryptAndDecrypt) {
  RunCases({
      {"round trip",
       {"var {e} value encrypt {pass word}", "var {d} value decrypt {~e~}"}, 0, "", "d",
       "pass word"},
      {"20 bytes", {"var {e} value encrypt {12345678901234567890}", "var {d} value decrypt {~e~}"},
       0, "", "d", "12345678901234567890"},
      {"21 bytes", {"var {e} value encrypt {123456789012345678901}"}, -4,
       "Length of Arg 4 is :-1  < 1 !", "e", "<missing>"},
      {"empty value", {"var {e} value encrypt {}"}, -5, "Length of Arg 5 is :0  < 1 !", "e",
       "<missing>"},
      {"not scrambled text", {"var {d} value {keep}", "var {d} value decrypt {hello}"}, -5,
       "var_a2_value_decrypt_a5:, len=-1 <=0 !", "d", "keep"},
      {"63-byte name", {"var {" + k63 + "} value decrypt {x}"}, -2,
       "Length of Arg 2 is :63 > 62 !", "run.errors", "1"},
  });
  // The scrambled text differs from the value and is stored as printable text.
  TempDir dir;
  RunLast(dir, {"var {e} value encrypt {pass word}"});
  const std::string e = Var("e");
  EXPECT_NE(e, "pass word");
  EXPECT_EQ(e.find("pass"), std::string::npos);
  EXPECT_EQ(e.find(' '), std::string::npos);
}

TEST(VarStatements, AddAppendsText) {
  RunCases({
      {"appends", {"var {s} value {ab}", "var {s} add {cd}"}, 0, "", "s", "abcd"},
      {"to an empty value", {"var {s} value {}", "var {s} add {cd}"}, 0, "", "s", "cd"},
      {"missing variable", {"var {s} add {cd}"}, -4, "Arg:2, 变量不存在!", "s", "<missing>"},
      {"empty text", {"var {s} value {ab}", "var {s} add {}"}, -4, "Length of Arg 4 is :0  < 1 !",
       "s", "ab"},
      {"up to 1022 bytes", {"var {s} value {" + k1000 + "}", "var {s} add {" + std::string(22, 'y') + "}"},
       0, "", "s", k1000 + std::string(22, 'y')},
      {"past 1022 bytes", {"var {s} value {" + k1000 + "}", "var {s} add {" + std::string(23, 'y') + "}"},
       -4, "Var2.value L + Length of Arg 4 is :23 > 1022 !", "s", k1000},
      {"63-byte name", {"var {" + k63 + "} add {x}"}, -2, "Length of Arg 2 is :63 > 62 !",
       "run.errors", "1"},
  });
}

TEST(VarStatements, AddNumberWithPlainNumbers) {
  RunCases({
      {"adds", {"var {n} value {10}", "var {n} add number {5}"}, 0, "", "n", "15"},
      {"decimal keeps its integer part", {"var {n} value {10}", "var {n} add number {1.6}"}, 0, "",
       "n", "11"},
      {"negative", {"var {n} value {0}", "var {n} add number {-3}"}, 0, "", "n", "-3"},
      {"old text counts as 0", {"var {n} value {abc}", "var {n} add number {5}"}, 0, "", "n", "5"},
      {"old value read as atoi reads", {"var {n} value {12abc}", "var {n} add number {1}"}, 0, "",
       "n", "13"},
      {"empty old value", {"var {n} value {}", "var {n} add number {4}"}, 0, "", "n", "4"},
      {"largest sum", {"var {n} value {2147483646}", "var {n} add number {1}"}, 0, "", "n",
       "2147483647"},
      {"smallest sum", {"var {n} value {-2147483647}", "var {n} add number {-1}"}, 0, "", "n",
       "-2147483648"},
      {"sum above the 32-bit range", {"var {n} value {2147483647}", "var {n} add number {1}"}, -17,
       "var_a2_add_number_a5,[2147483647] + [1] out of range!", "n", "2147483647"},
      {"sum below the 32-bit range", {"var {n} value {-2147483648}", "var {n} add number {-1}"}, -17,
       "var_a2_add_number_a5,[-2147483648] + [-1] out of range!", "n", "-2147483648"},
      {"missing variable", {"var {n} add number {1}"}, -4, "Arg:2, 变量[n]不存在!", "n", "<missing>"},
      {"empty number", {"var {n} value {1}", "var {n} add number {}"}, -5,
       "Length of Arg 5 is :0  < 1 !", "n", "1"},
  });
}

TEST(VarStatements, ReplaceEveryOccurrence) {
  const std::string big(1020, 'a');
  RunCases({
      {"every key", {"var {s} value {aXbX}", "var {s} replace {X} with {YY}"}, 0, "", "s", "aYYbYY"},
      {"inserted text is not rescanned", {"var {s} value {aa}", "var {s} replace {a} with {aa}"}, 0,
       "", "s", "aaaa"},
      {"empty replacement deletes", {"var {s} value {aXbX}", "var {s} replace {X} with {}"}, 0, "",
       "s", "ab"},
      {"no match leaves the value", {"var {s} value {abc}", "var {s} replace {Z} with {Y}"}, 0, "",
       "s", "abc"},
      {"key longer than the value", {"var {s} value {ab}", "var {s} replace {abc} with {Y}"}, 0, "",
       "s", "ab"},
      {"result over 1022 bytes leaves the value",
       {"var {s} value {" + big + "}", "var {s} replace {a} with {bb}"}, 0, "", "s", big},
      {"missing variable", {"var {s} replace {a} with {b}"}, -4, "Arg:2, 变量不存在!", "s",
       "<missing>"},
      {"empty key", {"var {s} value {abc}", "var {s} replace {} with {b}"}, -4,
       "Length of Arg 4 is :0  < 1 !", "s", "abc"},
      {"key of 1021 bytes", {"var {s} value {abc}", "var {s} replace {" + big + "a} with {b}"}, -4,
       "Length of Arg 4 is :1021 > 1020 !", "s", "abc"},
      {"replacement of 1021 bytes", {"var {s} value {abc}", "var {s} replace {a} with {" + big + "b}"},
       -6, "Length of Arg 6 is :1021 > 1020 !", "s", "abc"},
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
  const std::string v1022(1022, 'x');
  RunCases({
      {"middle", {"var {s} value {abc}", "var {s} adjust length {7} align {middle}"}, 0, "", "s",
       "  abc  "},
      {"middle, odd pad", {"var {s} value {abc}", "var {s} adjust length {8} align {middle}"}, 0, "",
       "s", "  abc   "},
      {"left", {"var {s} value {abc}", "var {s} adjust length {6} align {left}"}, 0, "", "s",
       "abc   "},
      {"right", {"var {s} value {abc}", "var {s} adjust length {6} align {right}"}, 0, "", "s",
       "   abc"},
      {"cut, right", {"var {s} value {abc}", "var {s} adjust length {2} align {right}"}, 0, "", "s",
       "ab"},
      {"cut, middle", {"var {s} value {abcdef}", "var {s} adjust length {3} align {middle}"}, 0, "",
       "s", "abc"},
      {"same length", {"var {s} value {abc}", "var {s} adjust length {3} align {left}"}, 0, "", "s",
       "abc"},
      {"zero", {"var {s} value {abc}", "var {s} adjust length {0} align {left}"}, 0, "", "s", ""},
      {"empty value", {"var {s} value {}", "var {s} adjust length {3} align {right}"}, 0, "", "s",
       "   "},
      {"align word from a variable",
       {"var {a} value {right}", "var {s} value {ab}", "var {s} adjust length {3} align {~a~}"}, 0,
       "", "s", " ab"},
      {"longest value", {"var {s} value {" + k1000 + "}", "var {s} add {" + std::string(22, 'x') + "}",
                         "var {s} adjust length {1023} align {right}"},
       0, "", "s", " " + v1022},
      {"longer than a value can be",
       {"var {s} value {abc}", "var {s} adjust length {1024} align {left}"}, -5,
       "var_a2_adjust_length_a5_align_a7,Arg:5 <1024> > 1023 !", "s", "abc"},
      {"far beyond", {"var {s} value {abc}", "var {s} adjust length {99999999999} align {left}"},
       -5, "var_a2_adjust_length_a5_align_a7,Arg:5 <2147483647> > 1023 !", "s", "abc"},
      {"unknown alignment", {"var {s} value {abc}", "var {s} adjust length {5} align {center}"}, -7,
       "var_a2_adjust_length_a5_align_a7->A:7(center) is not support!", "s", "abc"},
      {"alignment is case-sensitive", {"var {s} value {abc}", "var {s} adjust length {5} align {Left}"},
       -7, "var_a2_adjust_length_a5_align_a7->A:7(Left) is not support!", "s", "abc"},
      {"negative length", {"var {s} value {abc}", "var {s} adjust length {-1} align {left}"}, -5,
       "Arg:5 is not integer !", "s", "abc"},
      {"length not a number", {"var {s} value {abc}", "var {s} adjust length {5x} align {left}"},
       -5, "Arg:5 is not integer !", "s", "abc"},
      {"missing variable", {"var {s} adjust length {5} align {left}"}, -7, "Arg:2, 变量不存在!", "s",
       "<missing>"},
      {"empty alignment", {"var {s} value {abc}", "var {s} adjust length {5} align {}"}, -7,
       "Length of Arg 7 is :0  < 1 !", "s", "abc"},
  });
}

TEST(VarStatements, CopyVar) {
  const std::string v1022(1022, 'x');
  RunCases({
      {"copies", {"var {a} value {hello}", "var {b} copy var {a}"}, 0, "", "b", "hello"},
      {"empty value", {"var {a} value {}", "var {b} value {x}", "var {b} copy var {a}"}, 0, "", "b",
       ""},
      {"longest slot value",
       {"var {a} value {" + k1000 + "}", "var {a} add {" + std::string(22, 'x') + "}",
        "var {b} copy var {a}"},
       0, "", "b", v1022},
      {"missing", {"var {b} value {x}", "var {b} copy var {a}"}, -5, "Arg:5, 变量不存在!", "b", "x"},
      {"onto a too long name", {"var {a} value {x}", "var {" + k63 + "} copy var {a}"}, -2,
       "Length of Arg 2 is :63 > 62 !", "run.errors", "1"},
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
  const std::vector<std::string> ten = {"var {a} value {0123456789}"};
  auto with = [&](const std::string& line) {
    auto s = ten;
    s.push_back(line);
    return s;
  };
  RunCases({
      {"last two bytes", with("var {b} copy var {a} after {8} bytes length {2}"), 0, "", "b", "89"},
      {"whole value", with("var {b} copy var {a} after {0} bytes length {10}"), 0, "", "b",
       "0123456789"},
      {"middle", with("var {b} copy var {a} after {3} bytes length {4}"), 0, "", "b", "3456"},
      {"nothing at the end", with("var {b} copy var {a} after {10} bytes length {0}"), 0, "", "b",
       ""},
      {"one byte too many", with("var {b} copy var {a} after {8} bytes length {3}"), -11,
       "var_a2_copy_var_a5_after_a7_bytes_length_a10,length is too big  !", "b", "<missing>"},
      {"offset past the end", with("var {b} copy var {a} after {11} bytes length {0}"), -11,
       "var_a2_copy_var_a5_after_a7_bytes_length_a10,length is too big  !", "b", "<missing>"},
      // In 32 bits these sums wrap negative and pass the check.
      {"sum past 32 bits", with("var {b} copy var {a} after {2147483647} bytes length {2147483647}"),
       -11, "var_a2_copy_var_a5_after_a7_bytes_length_a10,length is too big  !", "b", "<missing>"},
      {"offset past 32 bits", with("var {b} copy var {a} after {99999999999} bytes length {2}"),
       -11, "var_a2_copy_var_a5_after_a7_bytes_length_a10,length is too big  !", "b", "<missing>"},
      {"length past 32 bits", with("var {b} copy var {a} after {1} bytes length {4294967295}"),
       -11, "var_a2_copy_var_a5_after_a7_bytes_length_a10,length is too big  !", "b", "<missing>"},
      {"offset not integer", with("var {b} copy var {a} after {1.5} bytes length {2}"), -7,
       "Arg:7 is not integer !", "b", "<missing>"},
      {"negative offset", with("var {b} copy var {a} after {-1} bytes length {2}"), -7,
       "Arg:7 is not integer !", "b", "<missing>"},
      {"length not integer", with("var {b} copy var {a} after {1} bytes length {x}"), -10,
       "Arg:10 is not integer !", "b", "<missing>"},
      {"empty offset", with("var {b} copy var {a} after {} bytes length {2}"), -7,
       "Length of Arg 7 is :0  < 1 !", "b", "<missing>"},
      {"empty length", with("var {b} copy var {a} after {1} bytes length {}"), -10,
       "Length of Arg 10 is :0  < 1 !", "b", "<missing>"},
      {"missing source", {"var {b} copy var {a} after {0} bytes length {1}"}, -5,
       "Arg:5, 变量不存在!", "b", "<missing>"},
  });
}

// Arithmetic that is not a plain number goes to the script host.
TEST(VarStatements, ValueNumberEvaluatesExpressions) {
  RunCases({
      {"product", {"var {n} value number {2*3}"}, 0, "", "n", "6"},
      {"rounded half to even", {"var {n} value number {5/2}"}, 0, "", "n", "2"},
      {"comparison", {"var {n} value number {(1<2)}"}, 0, "", "n", "-1"},
      {"beyond 32 bits", {"var {n} value number {2147483647+1}"}, 0, "", "n", "2147483648"},
      {"from variables", {"var {a} value {4}", "var {n} value number {~a~*~a~}"}, 0, "", "n", "16"},
      {"compile error", {"var {n} value {keep}", "var {n} value number {2*}"}, -17,
       "var_a2_value_number_a5,vbscript_caluate [2*] 表达式错误!", "n", "keep"},
      {"division by zero", {"var {n} value number {1/0}"}, -17,
       "var_a2_value_number_a5,vbscript_caluate [1/0] 表达式错误!", "n", "<missing>"},
  });
}

TEST(VarStatements, AddNumberEvaluatesAndRoundsToNearest) {
  RunCases({
      {"product", {"var {n} value {10}", "var {n} add number {2*3}"}, 0, "", "n", "16"},
      // Adding 0.5 and truncating gave -2 here.
      {"negative result", {"var {n} value {0}", "var {n} add number {0-3}"}, 0, "", "n", "-3"},
      {"negative old value", {"var {n} value {-10}", "var {n} add number {2*3}"}, 0, "", "n", "-4"},
      {"decimal old value rounds up", {"var {n} value {2.5}", "var {n} add number {1*0}"}, 0, "",
       "n", "3"},
      {"negative half rounds away from zero", {"var {n} value {-2.5}", "var {n} add number {1*0}"},
       0, "", "n", "-3"},
      {"old decimal below half", {"var {n} value {-2.4}", "var {n} add number {1*0}"}, 0, "", "n",
       "-2"},
      {"host rounds first", {"var {n} value {10}", "var {n} add number {7/2}"}, 0, "", "n", "14"},
      {"old text counts as 0", {"var {n} value {abc}", "var {n} add number {2*3}"}, 0, "", "n", "6"},
      {"largest sum", {"var {n} value {2147483640}", "var {n} add number {1+6}"}, 0, "", "n",
       "2147483647"},
      {"above the 32-bit range", {"var {n} value {2147483640}", "var {n} add number {1+7}"}, -17,
       "var_a2_add_number_a5,[2147483640] + [8] out of range!", "n", "2147483640"},
      {"far above", {"var {n} value {0}", "var {n} add number {2^40}"}, -17,
       "var_a2_add_number_a5,[0] + [1099511627776] out of range!", "n", "0"},
      {"below the 32-bit range", {"var {n} value {-2147483648}", "var {n} add number {0-1}"}, -17,
       "var_a2_add_number_a5,[-2147483648] + [-1] out of range!", "n", "-2147483648"},
      {"old value not finite", {"var {n} value {1e999}", "var {n} add number {1*1}"}, -17,
       "var_a2_add_number_a5,[1e999] + [1] out of range!", "n", "1e999"},
      {"expression fails", {"var {n} value {10}", "var {n} add number {1/0}"}, -17,
       "var_a2_value_number_a5,vbscript_caluate [1/0] 表达式错误!", "n", "10"},
  });
}

TEST(VarStatements, ExpressionCannotDoMoreThanCompute) {
  TempDir dir;
  Outcome o = RunLast(dir, {"var {n} value {keep}", "var {n} value number {1 : CreateObject(\"x\")}"});
  EXPECT_EQ(o.code, -17);
  EXPECT_EQ(Var("n"), "keep");
}

// The real program in the hide mode, writing what the statements made to a file.
TEST(VarStatementsBinary, ScriptWritesItsResults) {
  TempDir dir;
  const std::string out = dir.File("out.txt");
  const std::string script = dir.Write("vars.nms",
                                       "var {a} value {0123456789}\n"
                                       "var {b} copy var {a} after {8} bytes length {2}\n"
                                       "var {n} value {0}\n"
                                       "var {n} add number {0-3}\n"
                                       "var {m} value number {7/2}\n"
                                       "var {s} value {abc}\n"
                                       "var {s} adjust length {7} align {middle}\n"
                                       "var {r} value {aXbX}\n"
                                       "var {r} replace {X} with {YY}\n"
                                       "var {e} value encrypt {pw 1}\n"
                                       "var {d} value decrypt {~e~}\n"
                                       "var {missing} add number {1}\n"
                                       "var {b} copy var {a} after {2147483647} bytes length {2147483647}\n"
                                       "text.add {[~b~][~n~][~m~][~s~][~r~][~d~][~run.errors~]}\n"
                                       "text.headpointer move to head\n"
                                       "text.tailpointer move to tail\n"
                                       "text.save to file {" + out + "}\n");
  auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(tarvtest::ReadFile(out), "[89][-3][4][  abc  ][aYYbYY][pw 1][2]");
}

}  // namespace
