// The syntax tree of a VBScript program and the parser that builds it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "services/scripthost/vbs_lexer.h"
#include "services/scripthost/vbs_value.h"

namespace tarv::vbs {

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

enum class UnaryOp { Negate, Plus, Not };

enum class BinaryOp {
  Power, Multiply, Divide, IntDivide, Modulo, Add, Subtract, Concat,
  Eq, Ne, Lt, Gt, Le, Ge,
  And, Or, Xor, Eqv, Imp,
};

struct LiteralExpr {
  Value value;
};

// A bare name: a variable, or a function called without arguments.
struct NameExpr {
  std::string name;  // as written
  std::string key;   // lower case
};

// name(args): a function call, or the default member of an object variable.
struct CallExpr {
  std::string name;
  std::string key;
  std::vector<ExprPtr> args;
};

// object.member, with or without an argument list.
struct MemberExpr {
  ExprPtr object;
  std::string member;
  bool has_args = false;
  std::vector<ExprPtr> args;
};

struct UnaryExpr {
  UnaryOp op;
  ExprPtr operand;
};

struct BinaryExpr {
  BinaryOp op;
  ExprPtr lhs;
  ExprPtr rhs;
};

struct Expr {
  Pos pos;
  int depth = 1;  // height of the tree below and including this node
  std::variant<LiteralExpr, NameExpr, CallExpr, MemberExpr, UnaryExpr, BinaryExpr> node;
};

// True for a literal, or a sign in front of one: such a side of a comparison
// pulls the other side to its own kind.
bool IsLiteral(const Expr& e);

struct DimStmt {
  std::vector<std::string> keys;  // lower case
};

// target = value, and Set target = value. The target is a NameExpr, a
// CallExpr or a MemberExpr.
struct AssignStmt {
  ExprPtr target;
  ExprPtr value;
  bool is_set = false;
};

// A procedure called as a statement: `Name`, `Name args`, `Call Name(args)`,
// `obj.Method args`. `callee` is a NameExpr, CallExpr or MemberExpr.
struct CallStmt {
  ExprPtr callee;
  std::vector<ExprPtr> args;  // arguments written without parentheses
};

struct ExitFunctionStmt {};

struct Stmt {
  Pos pos;
  std::variant<DimStmt, AssignStmt, CallStmt, ExitFunctionStmt> node;
};

struct FunctionDecl {
  Pos pos;
  std::string name;  // as written
  std::string key;   // lower case
  bool is_private = false;
  std::vector<std::string> params;  // lower case
  std::vector<Stmt> body;
  std::vector<std::string> locals;  // every name the body declares with Dim
};

struct Program {
  std::string source;
  std::vector<FunctionDecl> functions;
  std::vector<Stmt> code;  // statements outside any procedure, run in order
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
