#include "services/scripthost/vbs_eval.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace tarv::vbs;
using namespace std::chrono_literals;

Error ErrorFrom(auto&& fn, const std::string& what) {
  try {
    fn();
  } catch (const ScriptError& e) {
    return e.error();
  }
  ADD_FAILURE() << "no error from " << what;
  return {};
}
Error FailureOf(Interpreter& vm, const std::string& expr) {
  return ErrorFrom([&] { vm.Eval(expr); }, expr);
}
Error FailureOfCode(Interpreter& vm, const std::string& code) {
  return ErrorFrom([&] { vm.AddCode(code); }, code);
}

TEST(VbsEval, ExpressionsGiveVbscriptValues) {
  const struct { const char* expr; const char* type; const char* text; /* "<Null>" for Null */ } cases[] = {
      // precedence: ^ above negation above * / above \ above Mod above + -
      {"-2^2", "Double", "-4"}, {"2^-1", "Double", "0.5"}, {"2^3^2", "Double", "64"},
      {"1+2*3", "Integer", "7"}, {"10\\3*2", "Integer", "1"}, {"7 Mod 4\\2", "Integer", "1"},
      {"1 + 2 & 3", "String", "33"}, {"1 < 2 = True", "Boolean", "True"},
      {"Not 1 = 2", "Boolean", "True"}, {"Not True And False", "Boolean", "False"},
      {"True Or False And False", "Boolean", "True"}, {"True Xor True Or True", "Boolean", "False"},
      {"False Imp False Eqv False", "Boolean", "True"},
      // literals
      {"&hff", "Integer", "255"}, {"&HFFFF", "Integer", "-1"}, {"&HFFFF&", "Long", "65535"},
      {"&H10000", "Long", "65536"}, {"&O17", "Integer", "15"}, {"32767", "Integer", "32767"},
      {"32768", "Long", "32768"}, {"2147483648", "Double", "2147483648"},
      {"1e16", "Double", "1E+16"}, {".25", "Double", "0.25"},
      {"\"say \"\"hi\"\"\"", "String", "say \"hi\""}, {"Empty", "Empty", ""}, {"Null", "Null", "<Null>"},
      // names never assigned; a literal pulls text to a number
      {"abc", "Empty", ""}, {"abc & \"x\"", "String", "x"}, {"1 = \"1\"", "Boolean", "True"},
      // built-ins
      {"Round(2.5)", "Double", "2"},
      {"Round(2.675, 2)", "Double", "2.68"}, {"Round(1.005, 2)", "Double", "1"},
      {"Round(1.25, 1)", "Double", "1.2"}, {"Round(7)", "Integer", "7"},
      {"Round(True)", "Integer", "-1"}, {"Round(\"34\")", "Double", "34"},
      {"Round(70000)", "Long", "70000"},
      {"Int(-2.5)", "Double", "-3"}, {"Fix(-2.5)", "Double", "-2"}, {"Fix(True)", "Integer", "-1"},
      {"Fix(Null)", "Null", "<Null>"}, {"Abs(-32768)", "Long", "32768"}, {"Sqr(16)", "Double", "4"},
      {"Sgn(-0.1)", "Integer", "-1"}, {"Exp(1)", "Double", "2.71828182845905"},
      {"Log(Exp(3))", "Double", "3"}, {"CInt(2.5)", "Integer", "2"},
      {"CInt(\"3.5\")", "Integer", "4"}, {"CLng(70000.5)", "Long", "70000"},
      {"CDbl(\"1e3\")", "Double", "1000"}, {"CStr(True)", "String", "True"},
      {"CBool(\"false\")", "Boolean", "False"}, {"Len(12345)", "Long", "5"},
      {"Len(\"\xE4\xBD\xA0\xE5\xA5\xBD\")", "Long", "2"}, {"Hex(255)", "String", "FF"},
      {"Hex(-1)", "String", "FFFF"}, {"Hex(-1.0)", "String", "FFFFFFFF"},
      {"TypeName(1.5)", "String", "Double"}, {"round(2.5) + ROUND(1.5)", "Double", "4"},
      // comments and continuations
      {"1 + 2 ' three", "Integer", "3"}, {"1 + _\n  2", "Integer", "3"},
      {"1 + _  \r\n2", "Integer", "3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expr);
    Interpreter vm;
    try {
      const Value v = vm.Eval(c.expr);
      EXPECT_EQ(TypeName(v), c.type);
      EXPECT_EQ(v.kind() == Kind::Null ? "<Null>" : ToString(v), c.text);
    } catch (const ScriptError& e) {
      ADD_FAILURE() << e.error().description;
    }
  }
}

TEST(VbsEval, FaultsCarryNumberAndPosition) {
  const struct { const char* expr; int number; bool compile; int column; } cases[] = {
      {"1/0", kErrDivisionByZero, false, 2},        {"1 + 0/0", kErrOverflow, false, 6},
      {"5 \\ 0", kErrDivisionByZero, false, 3},     {"5 Mod 0", kErrDivisionByZero, false, 3},
      {"\"a\" * 2", kErrTypeMismatch, false, 5},    {"1e308 * 10", kErrOverflow, false, 7},
      {"CInt(40000)", kErrOverflow, false, 1},      {"Sqr(-1)", kErrInvalidCall, false, 1},
      {"Exp(710)", kErrOverflow, false, 1},         {"Log(0)", kErrInvalidCall, false, 1},
      {"Round(1, -1)", kErrInvalidCall, false, 1},  {"Round()", kErrWrongArgCount, false, 1},
      {"CStr(Null)", kErrInvalidUseOfNull, false, 1}, {"nosuch(1)", kErrTypeMismatch, false, 1},
      {"CreateObject(\"Scripting.FileSystemObject\")", kErrCannotCreateObject, false, 1},
      {"x.y", kErrObjectRequired, false, 1},        {"2*", kErrExpectedExpression, true, 3},
      {"(1", kErrExpectedRParen, true, 3},          {"1 2", kErrExpectedEndOfStatement, true, 3},
      {"2abc", kErrExpectedEndOfStatement, true, 2}, {"1 : 2", kErrExpectedEndOfStatement, true, 3},
      {"1\n2", kErrExpectedEndOfStatement, true, 2}, {"\"open", kErrUnterminatedString, true, 1},
      {"1 $ 2", kErrInvalidCharacter, true, 3},     {"1 _", kErrInvalidCharacter, true, 3},
      {"End", kErrExpectedExpression, true, 1},     {"f(1,)", kErrExpectedExpression, true, 5},
      {"&HFFFFFFFFF", kErrInvalidNumber, true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expr);
    Interpreter vm;
    const Error e = FailureOf(vm, c.expr);
    EXPECT_EQ(e.number, c.number);
    EXPECT_EQ(e.compile, c.compile);
    EXPECT_EQ(e.column, c.column);
    EXPECT_EQ(e.description, ErrorDescription(c.number));
  }
}

TEST(VbsProgram, ProceduresAndScopes) {
  Interpreter vm;
  vm.AddCode(
      "Dim total\n"
      "total = 10\n"
      "Private Function TarvMain()\nDim Ret \nRet = 7/2 \nTarvMain = Round(Ret, 0) \nEnd Function\n"
      "Function Twice(ByVal n)\n  Twice = n * 2\nEnd Function\n"
      "Public Function AddTotal(a, b) : AddTotal = a + b + total : End Function\n"
      "Function Early()\n  Early = 1\n  Exit Function\n  Early = 2\nEnd Function\n"
      "Function Counter()\n"
      "  Counter = Counter + 1\n"   // the function's own name reads its value
      "  Counter = Counter + 1\n"
      "End Function\n"
      "Function SetsGlobal()\n"
      "  total = total + 1\n"
      "  scratch = 5\n"            // an undeclared name becomes a local
      "  SetsGlobal = scratch\n"
      "End Function\n");
  const Value main = vm.Eval("TarvMain");
  EXPECT_EQ(main.kind(), Kind::Double);
  EXPECT_EQ(ToString(main), "4");
  EXPECT_EQ(ToString(vm.CallFunction("tarvmain", {})), "4");
  EXPECT_EQ(ToString(vm.Eval("Twice(21)")), "42");
  EXPECT_EQ(ToString(vm.Eval("AddTotal(1, 2)")), "13");
  EXPECT_EQ(ToString(vm.Eval("Early")), "1");
  EXPECT_EQ(ToString(vm.Eval("Counter()")), "2");
  EXPECT_EQ(ToString(vm.Eval("SetsGlobal()")), "5");
  EXPECT_EQ(ToString(vm.Global("total")), "11");
  EXPECT_EQ(vm.Global("scratch").kind(), Kind::Empty);
  EXPECT_EQ(FailureOf(vm, "Twice(1, 2)").number, kErrWrongArgCount);
  // Code added later sees what earlier code left.
  vm.AddCode("total = Twice(total)\n");
  EXPECT_EQ(ToString(vm.Global("TOTAL")), "22");
}

// A literal on one side of a comparison pulls a string variable to a number;
// two variables of different kinds compare by kind (a number sorts first).
TEST(VbsProgram, ComparisonOfVariablesAndLiterals) {
  Interpreter vm;
  vm.AddCode(
      "a = \"10\"\nb = 9\nwithLiteral = (a > 9)\nwithVariable = (a > b)\ntextLiteral = (b < \"10\")\n"
      "c = \"1\"\nd = 1\nsame = (c = d)\nsameLiteral = (c = 1)\n");
  EXPECT_EQ(ToString(vm.Global("withLiteral")), "True");
  EXPECT_EQ(ToString(vm.Global("withVariable")), "True");
  EXPECT_EQ(ToString(vm.Global("textLiteral")), "False");  // "9" < "10" is false as text
  EXPECT_EQ(ToString(vm.Global("same")), "False");
  EXPECT_EQ(ToString(vm.Global("sameLiteral")), "True");
}

TEST(VbsProgram, StatementsSeparatorsAndComments) {
  Interpreter vm;
  vm.AddCode(
      "Dim log\nFunction Note(a, b)\n  log = log & a & b\nEnd Function\n"
      "Note 1, 2\nCall Note(3, 4)\nNote (5), 6\n"
      "Rem a comment\nx = 1 : y = 2 ' note\n  REM another : z = 3\n");
  EXPECT_EQ(ToString(vm.Global("log")), "123456");
  EXPECT_EQ(ToString(vm.Global("x")), "1");
  EXPECT_EQ(ToString(vm.Global("y")), "2");
  EXPECT_EQ(vm.Global("z").kind(), Kind::Empty);
}

TEST(VbsProgram, CompileFaults) {
  const struct { const char* code; int number; int line; } cases[] = {
      {"Function F()\nF = 1\n", kErrExpectedEnd, 3},
      {"Function F()\nEnd Sub\n", kErrExpectedFunction, 2},
      {"Function F(a, a)\nEnd Function\n", kErrNameRedefined, 1},
      {"Function F()\nDim x, x\nEnd Function\n", kErrNameRedefined, 2},
      {"Function F()\nEnd Function\nFunction f()\nEnd Function\n", kErrNameRedefined, 3},
      {"Dim F\nFunction F()\nEnd Function\n", kErrNameRedefined, 1},
      {"Function F()\nFunction G()\nEnd Function\nEnd Function\n", kErrExpectedStatement, 2},
      {"Exit Function\n", kErrInvalidExit, 1}, {"x = 1 y = 2\n", kErrExpectedEndOfStatement, 1},
      {"Set x 1\n", kErrExpectedEquals, 1},    {"Dim 1\n", kErrExpectedIdentifier, 1},
      {"x = ((((1)))\n", kErrExpectedRParen, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    Interpreter vm;
    const Error e = FailureOfCode(vm, c.code);
    EXPECT_EQ(e.number, c.number);
    EXPECT_TRUE(e.compile);
    EXPECT_EQ(e.line, c.line);
  }
  Interpreter vm;
  vm.AddCode("Function F()\nEnd Function\n");
  EXPECT_EQ(FailureOfCode(vm, "F = 1\n").number, kErrIllegalAssignment);
  EXPECT_EQ(FailureOfCode(vm, "Round = 1\n").number, kErrIllegalAssignment);
}

TEST(VbsProgram, RuntimeFaultNamesTheLine) {
  Interpreter vm;
  vm.AddCode("Function F()\n  F = 1\n  F = F / 0\nEnd Function\n");
  const Error e = FailureOf(vm, "F()");
  EXPECT_EQ(e.number, kErrDivisionByZero);
  EXPECT_FALSE(e.compile);
  EXPECT_EQ(e.line, 3);
  EXPECT_EQ(e.column, 9);
  EXPECT_EQ(e.source_text, "  F = F / 0");
}

TEST(VbsLimits, RunawayRecursionStops) {
  Interpreter vm;
  vm.AddCode("Function F(n)\n  F = F(n + 1)\nEnd Function\n");
  EXPECT_EQ(FailureOf(vm, "F(1)").number, kErrOutOfStack);
  // The depth count unwound: the interpreter is usable afterwards.
  vm.AddCode("Function G()\n  G = 5\nEnd Function\n");
  EXPECT_EQ(ToString(vm.Eval("G()")), "5");
}

TEST(VbsLimits, DeepExpressions) {
  auto chain = [](int terms) {
    std::string s = "1";
    for (int i = 1; i < terms; ++i) s += "+1";
    return s;
  };
  auto parens = [](int depth) { return std::string(depth, '(') + "1" + std::string(depth, ')'); };
  Interpreter vm;
  EXPECT_EQ(ToString(vm.Eval(chain(900))), "900");
  EXPECT_EQ(ToString(vm.Eval(parens(150))), "1");
  EXPECT_EQ(FailureOf(vm, chain(1200)).number, kErrOutOfStack);
  EXPECT_EQ(FailureOf(vm, parens(300)).number, kErrOutOfStack);
  EXPECT_EQ(FailureOf(vm, std::string(300, '-') + "1").number, kErrOutOfStack);
}

TEST(VbsLimits, DeadlineStopsTheRun) {
  const char* code = "Function F()\n  F = 1\nEnd Function\n";
  {
    // Declaring procedures runs nothing; the first statement that would run
    // (line 2, inside F) meets the deadline.
    Interpreter vm;
    vm.SetDeadline(Clock::now() - 1ms);
    vm.AddCode(code);
    const Error e = ErrorFrom([&] { vm.CallFunction("F", {}); }, "F");
    EXPECT_EQ(e.number, kErrTimeout);
    EXPECT_EQ(e.description, "Script timed out");
    EXPECT_EQ(e.line, 2);
    EXPECT_EQ(FailureOf(vm, "F()").number, kErrTimeout);
  }
  {
    Interpreter vm;
    vm.SetDeadline(Clock::now() - 1ms);
    EXPECT_EQ(FailureOfCode(vm, "x = 1\n").number, kErrTimeout);
    EXPECT_EQ(vm.Global("x").kind(), Kind::Empty);
    EXPECT_EQ(FailureOf(vm, "1 + 1").number, kErrTimeout);
    vm.SetDeadline(Clock::now() + 60s);
    EXPECT_EQ(ToString(vm.Eval("1 + 1")), "2");
    vm.SetDeadline(std::nullopt);
    EXPECT_EQ(ToString(vm.Eval("2 + 1")), "3");
  }
}

class Thing : public Object {
 public:
  std::string TypeName() const override { return "Thing"; }
  Value GetProperty(std::string_view name, std::span<const Value>) override {
    if (name.empty() || EqualsNoCase(name, "value")) return Value::Integer(value_);
    if (EqualsNoCase(name, "name")) return Value::String(name_);
    ThrowRuntime(kErrNoSuchMember);
  }
  void SetProperty(std::string_view name, std::span<const Value> args, const Value& v) override {
    if (EqualsNoCase(name, "name") && args.empty()) name_ = ToString(v);
    else if (name.empty() || EqualsNoCase(name, "value")) value_ = ToInteger(v);
    else ThrowRuntime(kErrNoSuchMember);
  }
  Value Call(std::string_view name, std::span<const Value> args) override {
    calls_.push_back(std::string(name));
    if (EqualsNoCase(name, "add") && args.size() == 2) return Add(args[0], args[1]);
    if (name.empty() && args.size() == 1) return Value::Integer(static_cast<std::int16_t>(value_ * ToInteger(args[0])));
    if (EqualsNoCase(name, "touch")) return Value();
    ThrowRuntime(kErrNoSuchMember);
  }
  std::vector<std::string> calls_;

 private:
  std::int16_t value_ = 7;
  std::string name_;
};

class Things : public ObjectFactory {
 public:
  std::shared_ptr<Object> Create(std::string_view prog_id) override {
    if (!EqualsNoCase(prog_id, "Test.Thing")) return nullptr;
    return last_ = std::make_shared<Thing>();
  }
  std::shared_ptr<Thing> last_;
};

TEST(VbsObjects, MembersDefaultValueAndSet) {
  Things factory;
  Interpreter vm(&factory);
  vm.AddCode(
      "Set t = CreateObject(\"test.thing\")\n"
      "t.Name = \"box\"\n"
      "t.Value = 3\n"
      "n = t.name & \"/\" & t.Add(2, 3)\n"
      "plain = t\n"          // without Set: the default value
      "scaled = t(10)\n"     // default member with arguments
      "t.Touch\n"
      "t.Touch 1, 2\n");
  EXPECT_EQ(ToString(vm.Global("n")), "box/5");
  EXPECT_EQ(vm.Global("plain").kind(), Kind::Integer);
  EXPECT_EQ(ToString(vm.Global("plain")), "3");
  EXPECT_EQ(ToString(vm.Global("scaled")), "30");
  EXPECT_EQ(TypeName(vm.Global("t")), "Thing");
  EXPECT_EQ(ToString(vm.Eval("t + 1")), "4");
  ASSERT_TRUE(factory.last_);
  EXPECT_EQ(factory.last_->calls_, (std::vector<std::string>{"Add", "", "Touch", "Touch"}));

  EXPECT_EQ(FailureOf(vm, "t.Missing").number, kErrNoSuchMember);
  EXPECT_EQ(FailureOf(vm, "CreateObject(\"Other.Thing\")").number, kErrCannotCreateObject);
  EXPECT_EQ(FailureOfCode(vm, "Set u = 5\n").number, kErrObjectRequired);
  vm.AddCode("Set t = Nothing\n");
  EXPECT_EQ(FailureOf(vm, "t.Name").number, kErrObjectNotSet);
}

}  // namespace
