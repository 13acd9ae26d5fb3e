#include "services/scripthost/vbs_eval.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/services/scripthost/vbs_test_util.h"

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

// scripts/expressions.tsv: precedence, literals, built-ins, comments and
// continuations, and the faults with the column they point at.
TEST(VbsEval, ExpressionsGiveValuesOrFaults) {
  for (const auto& row : vbstest::LoadRows("expressions.tsv")) {
    SCOPED_TRACE(row[0]);
    ASSERT_EQ(row.size(), 2u);
    Interpreter vm;
    std::string got;
    try {
      const Value v = vm.Eval(row[0]);
      got = TypeName(v) + " " + (v.kind() == Kind::Null ? "<Null>" : ToString(v));
    } catch (const ScriptError& e) {
      got = "#" + std::to_string(e.error().number) + " " + std::to_string(e.error().column);
      EXPECT_EQ(e.error().compile, e.error().number >= 1000);
      EXPECT_EQ(e.error().description, ErrorDescription(e.error().number));
    }
    EXPECT_EQ(got, row[1]);
  }
  EXPECT_EQ(ErrorDescription(kErrWrongArgCount), "Wrong number of arguments or invalid property assignment");
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

// scripts/programs.tsv: code that does not compile, and the number and line
// of its fault.
TEST(VbsProgram, CompileFaults) {
  for (const auto& row : vbstest::LoadRows("programs.tsv")) {
    SCOPED_TRACE(row[0]);
    Interpreter vm;
    const Error e = FailureOfCode(vm, row[0]);
    EXPECT_TRUE(e.compile);
    EXPECT_EQ("#" + std::to_string(e.number) + " " + std::to_string(e.line), row[1]);
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
