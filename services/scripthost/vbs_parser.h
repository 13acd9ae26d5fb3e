// The syntax tree of a VBScript program and the parser that builds it. Names
// are bound to storage slots later, when the program joins an interpreter
// (vbs_eval.cpp); the parser leaves them unbound.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "services/scripthost/vbs_lexer.h"
#include "services/scripthost/vbs_value.h"

namespace tarv::vbs {

struct Builtin;
struct Expr;
struct Stmt;
struct ProcDecl;
struct ClassMember;
using ExprPtr = std::unique_ptr<Expr>;
using Block = std::vector<Stmt>;

enum class UnaryOp : std::uint8_t { Negate, Plus, Not };

enum class BinaryOp : std::uint8_t {
  Power, Multiply, Divide, IntDivide, Modulo, Add, Subtract, Concat,
  Eq, Ne, Lt, Gt, Le, Ge, Is,
  And, Or, Xor, Eqv, Imp,
};

// Where a name's value lives, decided when the program joins an interpreter.
struct NameRef {
  enum class Where : std::uint8_t {
    Unbound,  // not bound yet
    Local,    // slot of the running procedure
    Global,   // entry of the global table
    Dynamic,  // the global when one is defined at run time, else the local slot
    Field,    // a variable of the instance whose method runs (slot: its index)
    Member,   // a method or property of that instance, called through it
  };
  Where where = Where::Unbound;
  bool is_const = false;
  bool strict = false;  // Option Explicit: an undeclared name is an error
  int slot = -1;    // Local and Dynamic
  int global = -1;  // Global and Dynamic
  const Builtin* builtin = nullptr;  // a built-in of that name, if any
  const ClassMember* member = nullptr;  // Member
};

enum class ExprKind : std::uint8_t {
  Literal,  // value
  Name,     // a variable, a constant, or a procedure called without arguments
  Call,     // name(args): a call, an array element, an object's default member
  Member,   // object.name, with or without (args)
  Unary,
  Binary,
  With,     // the object of the innermost With block, before a leading '.'
  New,      // New ClassName
  Me,       // the instance whose method runs
  Omitted,  // an argument left out: f(a, , c)
};

// One step of a whole-number tree in postfix order: push a literal, a local
// or Len of one; or combine the two values on top with `op`.
struct WholeStep {
  enum Kind : std::uint8_t { Literal, Local, Len, Op };
  Kind kind = Literal;
  std::uint8_t op = 0;  // a BinaryOp
  bool small = false;   // Literal: an Integer
  int slot = -1;        // Local
  std::int64_t value = 0;       // Literal
  const Expr* len = nullptr;    // Len: the call
};
inline constexpr std::size_t kMaxWholeSteps = 31;

struct Expr {
  ExprKind kind = ExprKind::Literal;
  std::uint8_t op = 0;        // UnaryOp or BinaryOp
  bool has_args = false;      // Member written with an argument list
  bool parenthesized = false; // written inside its own parentheses
  // Arithmetic of literals and local variables only (+ - * \ Mod), which
  // may be counted in whole numbers without making values; the top of such a
  // tree keeps it in `steps`.
  bool whole = false;
  // CStr of a local or a literal: a whole number's digits go straight into
  // the variable assigned, without a Value made and moved on the way.
  bool text_of_whole = false;
  // Chr of one argument: appended to text, a whole number below 128 is its
  // byte, added without a text made for it.
  bool char_of_whole = false;
  std::vector<WholeStep> steps;
  Pos pos;
  int depth = 1;              // height of the tree below and including this node
  Value value;                // Literal
  std::string name;           // Name, Call, Member, New: as written
  std::string key;            // lower case
  NameRef ref;                // Name and Call
  ExprPtr lhs;                // Member: the object; Unary: the operand; Binary: left
  ExprPtr rhs;                // Binary: right
  std::vector<ExprPtr> args;
};


// True for a literal, or a sign in front of one: such a side of a comparison
// pulls the other side to its own kind.
bool IsLiteral(const Expr& e);

enum class StmtKind : std::uint8_t {
  Dim,       // items
  ReDim,     // items, preserve
  Const,     // items with values
  Assign,    // target = value
  Set,       // Set target = value
  Call,      // target is the callee; args written without parentheses
  If,        // arms (the last may have no condition: Else)
  For,       // target is the counter; from, to, step; body
  ForEach,   // target is the element variable; value the collection; body
  Do,        // cond with pre/post and until; body
  Select,    // value; arms with tests
  Exit,      // exit
  With,      // value; body
  OnError,   // resume_next
  Erase,     // target
  Nothing,   // Option Explicit and the like: nothing to run
};

enum class ExitKind : std::uint8_t { Do, For, Function, Sub };

struct DimItem {
  ExprPtr target;               // a Name
  std::vector<ExprPtr> bounds;  // Dim a(2, 3), ReDim a(n)
  bool is_array = false;        // written with parentheses, even empty
  ExprPtr value;                // Const
};

// One test of a Case: a value, a range lo To hi, or Is <op> value.
struct CaseTest {
  ExprPtr lo;
  ExprPtr hi;          // ranges
  bool is_op = false;  // Is <op> lo
  BinaryOp op = BinaryOp::Eq;
};

struct Arm {
  ExprPtr cond;                 // If arms; null for Else
  std::vector<CaseTest> tests;  // Select arms; empty for Case Else
  bool is_else = false;
  Block body;
};

struct Stmt {
  StmtKind kind = StmtKind::Nothing;
  Pos pos;
  bool flag = false;      // Set: is Set; ReDim: Preserve; OnError: Resume Next; Do: Until
  bool post = false;      // Do: the condition stands after Loop
  bool append = false;    // Assign: x = x & e, appended in place (set when bound)
  ExitKind exit = ExitKind::Do;
  ExprPtr target;
  ExprPtr value;
  ExprPtr from, to, step;  // For
  ExprPtr cond;            // Do
  std::vector<ExprPtr> args;
  std::vector<DimItem> items;
  std::vector<Arm> arms;
  Block body;
};

struct Program;
struct ClassDecl;

enum class PropertyKind : std::uint8_t { None, Get, Let, Set };

struct ProcDecl {
  Pos pos;
  std::string name;  // as written
  std::string key;   // lower case
  bool is_sub = false;
  bool is_private = false;
  bool is_default = false;              // a class's Default member
  PropertyKind property = PropertyKind::None;
  const ClassDecl* owner = nullptr;     // the class of a method
  std::vector<std::string> params;  // lower case
  std::vector<bool> by_val;
  Block body;
  // Local names and their slots: the parameters first, then every name the
  // body declares with Dim or Const, then names it only assigns. A function
  // keeps its result in slot `result_slot`.
  std::unordered_map<std::string, int> slots;
  std::vector<bool> const_slot;
  // Names the body uses without declaring them: their slots, used when no
  // global of that name exists at run time.
  std::unordered_map<std::string, int> implicit_slots;
  int slot_count = 0;
  int result_slot = -1;
  const Program* program = nullptr;
};

// What a name means to the code of a class: a variable of the instance
// (`field`), or the procedures that read, let and set it.
struct ClassMember {
  int field = -1;
  bool is_public = true;
  ProcDecl* get = nullptr;  // Function, Sub or Property Get
  ProcDecl* let = nullptr;  // Property Let
  ProcDecl* set = nullptr;  // Property Set
};

struct ClassDecl {
  Pos pos;
  std::string name;  // as written
  std::string key;   // lower case
  std::vector<DimItem> fields;  // in the order declared; index = field slot
  std::vector<std::unique_ptr<ProcDecl>> methods;
  std::unordered_map<std::string, ClassMember> members;
  std::string default_key;       // the Default member, if any
  const ProcDecl* initialize = nullptr;
  const ProcDecl* terminate = nullptr;
};

struct Program {
  std::string source;
  bool option_explicit = false;
  std::vector<std::unique_ptr<ProcDecl>> procs;
  std::vector<std::unique_ptr<ClassDecl>> classes;
  Block code;  // statements outside any procedure, run in order
  // Names the top-level code declares (Dim, Const, ReDim) or assigns.
  std::vector<std::string> global_names;
  std::vector<std::string> declared_names;
};

// One expression and nothing after it: a ':', a line end or anything else
// that follows the expression is a compile error. The source is kept so that
// a run-time error can show its line.
struct ExpressionUnit {
  std::string source;
  ExprPtr root;
};

// Both throw a compile-time ScriptError with the position of the fault.
std::unique_ptr<Program> ParseProgram(std::string_view source);
ExpressionUnit ParseExpression(std::string_view source);

}  // namespace tarv::vbs
