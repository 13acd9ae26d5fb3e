#include "services/scripthost/vbs_parser.h"

#include <algorithm>
#include <set>

namespace tarv::vbs {

namespace {

// Parentheses and prefix operators nest the parser's own recursion; trees
// taller than this would also make evaluating and freeing them recurse deeply.
constexpr int kMaxNesting = 200;
constexpr int kMaxTreeDepth = 1000;

class Parser {
 public:
  explicit Parser(std::string_view src) : src_(src), toks_(Tokenize(src)) {}

  std::unique_ptr<Program> ParseWholeProgram() {
    auto prog = std::make_unique<Program>();
    prog->source = std::string(src_);
    std::set<std::string> global_dims;
    std::vector<std::pair<std::string, Pos>> dim_positions;
    for (;;) {
      SkipSeparators();
      if (Is(Tok::End)) break;
      if (IsWord("function") || ((IsWord("private") || IsWord("public")) && IsWordAt(1, "function"))) {
        FunctionDecl fn = Function();
        for (const FunctionDecl& other : prog->functions) {
          if (other.key == fn.key) Fail(kErrNameRedefined, fn.pos);
        }
        prog->functions.push_back(std::move(fn));
      } else {
        Stmt s = Statement(nullptr);
        if (auto* dim = std::get_if<DimStmt>(&s.node)) {
          for (const std::string& key : dim->keys) {
            if (!global_dims.insert(key).second) Fail(kErrNameRedefined, s.pos);
            dim_positions.emplace_back(key, s.pos);
          }
        }
        prog->code.push_back(std::move(s));
      }
      EndOfStatement();
    }
    for (const auto& [key, pos] : dim_positions) {
      for (const FunctionDecl& fn : prog->functions) {
        if (fn.key == key) Fail(kErrNameRedefined, pos);
      }
    }
    return prog;
  }

  ExpressionUnit ParseLoneExpression() {
    ExpressionUnit unit;
    unit.source = std::string(src_);
    unit.root = Expression();
    if (!Is(Tok::End)) Fail(kErrExpectedEndOfStatement, Cur().pos);
    return unit;
  }

 private:
  // ---- token access ----

  const Token& Cur() const { return toks_[i_]; }
  const Token& At(std::size_t ahead) const {
    return toks_[std::min(i_ + ahead, toks_.size() - 1)];
  }
  bool Is(Tok k) const { return Cur().kind == k; }
  bool IsWordAt(std::size_t ahead, std::string_view kw) const {
    return At(ahead).kind == Tok::Identifier && At(ahead).folded == kw;
  }
  bool IsWord(std::string_view kw) const { return IsWordAt(0, kw); }
  void Next() {
    if (i_ + 1 < toks_.size()) ++i_;
  }
  bool AtEndOfStatement() const { return Is(Tok::Newline) || Is(Tok::Colon) || Is(Tok::End); }

  [[noreturn]] void Fail(int number, Pos at) const { ThrowCompile(number, src_, at); }

  void Expect(Tok k, int error) {
    if (!Is(k)) Fail(error, Cur().pos);
    Next();
  }

  void ExpectWord(std::string_view kw, int error) {
    if (!IsWord(kw)) Fail(error, Cur().pos);
    Next();
  }

  // A name that is not a keyword; returns it as written.
  std::string Identifier() {
    if (!Is(Tok::Identifier) || IsReservedWord(Cur().folded)) Fail(kErrExpectedIdentifier, Cur().pos);
    std::string name = Cur().text;
    Next();
    return name;
  }

  void SkipSeparators() {
    while (Is(Tok::Newline) || Is(Tok::Colon)) Next();
  }

  void EndOfStatement() {
    if (Is(Tok::End)) return;
    if (!Is(Tok::Newline) && !Is(Tok::Colon)) Fail(kErrExpectedEndOfStatement, Cur().pos);
    Next();
  }

  // ---- declarations and statements ----

  FunctionDecl Function() {
    FunctionDecl fn;
    fn.pos = Cur().pos;
    if (IsWord("private") || IsWord("public")) {
      fn.is_private = IsWord("private");
      Next();
    }
    ExpectWord("function", kErrExpectedFunction);
    fn.name = Identifier();
    fn.key = FoldCase(fn.name);
    std::set<std::string> names;
    if (Is(Tok::LParen)) {
      Next();
      while (!Is(Tok::RParen)) {
        // ByRef is taken as ByVal for now: arguments are copied in.
        if (IsWord("byval") || IsWord("byref")) Next();
        const Pos at = Cur().pos;
        std::string key = FoldCase(Identifier());
        if (!names.insert(key).second) Fail(kErrNameRedefined, at);
        fn.params.push_back(std::move(key));
        if (!Is(Tok::Comma)) break;
        Next();
      }
      Expect(Tok::RParen, kErrExpectedRParen);
    }
    EndOfStatement();
    for (;;) {
      SkipSeparators();
      if (Is(Tok::End)) Fail(kErrExpectedEnd, Cur().pos);
      if (IsWord("end")) {
        Next();
        ExpectWord("function", kErrExpectedFunction);
        break;
      }
      Stmt s = Statement(&fn);
      if (auto* dim = std::get_if<DimStmt>(&s.node)) {
        for (const std::string& key : dim->keys) {
          if (key == fn.key || !names.insert(key).second) Fail(kErrNameRedefined, s.pos);
          fn.locals.push_back(key);
        }
      }
      fn.body.push_back(std::move(s));
      EndOfStatement();
    }
    return fn;
  }

  Stmt Statement(const FunctionDecl* fn) {
    Stmt s;
    s.pos = Cur().pos;
    if (IsWord("dim") || IsWord("private") || IsWord("public")) {
      // Private and Public declare variables like Dim outside procedures.
      if (!IsWord("dim") && fn) Fail(kErrSyntax, s.pos);
      Next();
      DimStmt dim;
      for (;;) {
        dim.keys.push_back(FoldCase(Identifier()));
        if (!Is(Tok::Comma)) break;
        Next();
      }
      s.node = std::move(dim);
      return s;
    }
    if (IsWord("exit")) {
      Next();
      if (!fn || !IsWord("function")) Fail(kErrInvalidExit, s.pos);
      Next();
      s.node = ExitFunctionStmt{};
      return s;
    }
    if (IsWord("set")) {
      Next();
      AssignStmt a;
      a.is_set = true;
      a.target = NameChain();
      Expect(Tok::Eq, kErrExpectedEquals);
      a.value = Expression();
      s.node = std::move(a);
      return s;
    }
    if (IsWord("call")) {
      Next();
      s.node = CallStmt{NameChain(), {}};
      return s;
    }
    if (!Is(Tok::Identifier) || IsReservedWord(Cur().folded)) Fail(kErrExpectedStatement, s.pos);
    ExprPtr target = NameChain();
    if (Is(Tok::Eq)) {
      Next();
      AssignStmt a;
      a.target = std::move(target);
      a.value = Expression();
      s.node = std::move(a);
      return s;
    }
    CallStmt call{std::move(target), {}};
    if (auto* c = std::get_if<CallExpr>(&call.callee->node); c && c->args.size() == 1 && Is(Tok::Comma)) {
      // `Name (a), b`: the parentheses belonged to the first argument only.
      auto callee = std::make_unique<Expr>();
      callee->pos = call.callee->pos;
      callee->node = NameExpr{c->name, c->key};
      call.args.push_back(std::move(c->args.front()));
      call.callee = std::move(callee);
      Next();
    } else if (AtEndOfStatement() || WrittenWithArguments(*call.callee)) {
      // A callee written with its argument list, or without any, ends here.
      s.node = std::move(call);
      return s;
    }
    for (;;) {
      call.args.push_back(Expression());
      if (!Is(Tok::Comma)) break;
      Next();
    }
    s.node = std::move(call);
    return s;
  }

  static bool WrittenWithArguments(const Expr& e) {
    if (std::holds_alternative<CallExpr>(e.node)) return true;
    const auto* m = std::get_if<MemberExpr>(&e.node);
    return m && m->has_args;
  }

  // ---- expressions, loosest binding first ----

  struct NestingGuard {
    explicit NestingGuard(Parser& p) : p_(p) {
      if (++p_.nesting_ > kMaxNesting) p_.Fail(kErrOutOfStack, p_.Cur().pos);
    }
    ~NestingGuard() { --p_.nesting_; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
    Parser& p_;
  };

  ExprPtr MakeBinary(BinaryOp op, Pos pos, ExprPtr lhs, ExprPtr rhs) {
    auto e = std::make_unique<Expr>();
    e->pos = pos;
    e->depth = std::max(lhs->depth, rhs->depth) + 1;
    if (e->depth > kMaxTreeDepth) Fail(kErrOutOfStack, pos);
    e->node = BinaryExpr{op, std::move(lhs), std::move(rhs)};
    return e;
  }

  ExprPtr MakeUnary(UnaryOp op, Pos pos, ExprPtr operand) {
    auto e = std::make_unique<Expr>();
    e->pos = pos;
    e->depth = operand->depth + 1;
    e->node = UnaryExpr{op, std::move(operand)};
    return e;
  }

  // Keyword operators of one level, left to right.
  template <typename Sub>
  ExprPtr KeywordLevel(std::string_view kw, BinaryOp op, Sub sub) {
    ExprPtr lhs = (this->*sub)();
    while (IsWord(kw)) {
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(op, at, std::move(lhs), (this->*sub)());
    }
    return lhs;
  }

  ExprPtr Expression() {
    NestingGuard guard(*this);
    return KeywordLevel("imp", BinaryOp::Imp, &Parser::EqvLevel);
  }
  ExprPtr EqvLevel() { return KeywordLevel("eqv", BinaryOp::Eqv, &Parser::XorLevel); }
  ExprPtr XorLevel() { return KeywordLevel("xor", BinaryOp::Xor, &Parser::OrLevel); }
  ExprPtr OrLevel() { return KeywordLevel("or", BinaryOp::Or, &Parser::AndLevel); }
  ExprPtr AndLevel() { return KeywordLevel("and", BinaryOp::And, &Parser::NotLevel); }

  ExprPtr NotLevel() {
    if (!IsWord("not")) return Comparison();
    NestingGuard guard(*this);
    const Pos at = Cur().pos;
    Next();
    return MakeUnary(UnaryOp::Not, at, NotLevel());
  }

  ExprPtr Comparison() {
    ExprPtr lhs = ConcatLevel();
    for (;;) {
      BinaryOp op;
      switch (Cur().kind) {
        case Tok::Eq: op = BinaryOp::Eq; break;
        case Tok::Ne: op = BinaryOp::Ne; break;
        case Tok::Lt: op = BinaryOp::Lt; break;
        case Tok::Gt: op = BinaryOp::Gt; break;
        case Tok::Le: op = BinaryOp::Le; break;
        case Tok::Ge: op = BinaryOp::Ge; break;
        default: return lhs;
      }
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(op, at, std::move(lhs), ConcatLevel());
    }
  }

  ExprPtr ConcatLevel() {
    ExprPtr lhs = AddLevel();
    while (Is(Tok::Ampersand)) {
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(BinaryOp::Concat, at, std::move(lhs), AddLevel());
    }
    return lhs;
  }

  ExprPtr AddLevel() {
    ExprPtr lhs = ModLevel();
    while (Is(Tok::Plus) || Is(Tok::Minus)) {
      const BinaryOp op = Is(Tok::Plus) ? BinaryOp::Add : BinaryOp::Subtract;
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(op, at, std::move(lhs), ModLevel());
    }
    return lhs;
  }

  ExprPtr ModLevel() { return KeywordLevel("mod", BinaryOp::Modulo, &Parser::IntDivLevel); }

  ExprPtr IntDivLevel() {
    ExprPtr lhs = MulLevel();
    while (Is(Tok::Backslash)) {
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(BinaryOp::IntDivide, at, std::move(lhs), MulLevel());
    }
    return lhs;
  }

  ExprPtr MulLevel() {
    ExprPtr lhs = Negation();
    while (Is(Tok::Star) || Is(Tok::Slash)) {
      const BinaryOp op = Is(Tok::Star) ? BinaryOp::Multiply : BinaryOp::Divide;
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(op, at, std::move(lhs), Negation());
    }
    return lhs;
  }

  // A sign binds looser than ^, so -2^2 is -(2^2).
  ExprPtr Negation() {
    if (!Is(Tok::Minus) && !Is(Tok::Plus)) return PowerLevel();
    NestingGuard guard(*this);
    const UnaryOp op = Is(Tok::Minus) ? UnaryOp::Negate : UnaryOp::Plus;
    const Pos at = Cur().pos;
    Next();
    return MakeUnary(op, at, Negation());
  }

  ExprPtr PowerLevel() {
    ExprPtr lhs = Postfix();
    while (Is(Tok::Caret)) {
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(BinaryOp::Power, at, std::move(lhs), PowerOperand());
    }
    return lhs;
  }

  // The right side of ^ may carry its own sign: 2^-1.
  ExprPtr PowerOperand() {
    if (!Is(Tok::Minus) && !Is(Tok::Plus)) return Postfix();
    NestingGuard guard(*this);
    const UnaryOp op = Is(Tok::Minus) ? UnaryOp::Negate : UnaryOp::Plus;
    const Pos at = Cur().pos;
    Next();
    return MakeUnary(op, at, PowerOperand());
  }

  ExprPtr Postfix() {
    const Token& t = Cur();
    auto e = std::make_unique<Expr>();
    e->pos = t.pos;
    switch (t.kind) {
      case Tok::Number:
      case Tok::String:
        e->node = LiteralExpr{t.value};
        Next();
        return e;
      case Tok::LParen: {
        Next();
        ExprPtr inner = Expression();
        Expect(Tok::RParen, kErrExpectedRParen);
        return inner;
      }
      case Tok::Identifier: break;
      default: Fail(kErrExpectedExpression, t.pos);
    }
    if (t.folded == "true" || t.folded == "false") {
      e->node = LiteralExpr{Value::Boolean(t.folded == "true")};
    } else if (t.folded == "empty") {
      e->node = LiteralExpr{Value()};
    } else if (t.folded == "null") {
      e->node = LiteralExpr{Value::Null()};
    } else if (t.folded == "nothing") {
      e->node = LiteralExpr{Value::Object(nullptr)};
    } else if (IsReservedWord(t.folded)) {
      Fail(kErrExpectedExpression, t.pos);
    } else {
      return NameChain();
    }
    Next();
    return e;
  }

  std::vector<ExprPtr> ArgumentList() {
    std::vector<ExprPtr> args;
    Expect(Tok::LParen, kErrSyntax);
    if (Is(Tok::RParen)) {
      Next();
      return args;
    }
    for (;;) {
      args.push_back(Expression());
      if (!Is(Tok::Comma)) break;
      Next();
    }
    Expect(Tok::RParen, kErrExpectedRParen);
    return args;
  }

  static int MaxDepth(const std::vector<ExprPtr>& args) {
    int d = 0;
    for (const ExprPtr& a : args) d = std::max(d, a->depth);
    return d;
  }

  // name, name(args), and any .member or .member(args) after them.
  ExprPtr NameChain() {
    auto e = std::make_unique<Expr>();
    e->pos = Cur().pos;
    const std::string name = Identifier();
    if (Is(Tok::LParen)) {
      std::vector<ExprPtr> args = ArgumentList();
      e->depth = MaxDepth(args) + 1;
      e->node = CallExpr{name, FoldCase(name), std::move(args)};
    } else {
      e->node = NameExpr{name, FoldCase(name)};
    }
    while (Is(Tok::Dot)) {
      const Pos at = Cur().pos;
      Next();
      if (!Is(Tok::Identifier)) Fail(kErrExpectedIdentifier, Cur().pos);
      MemberExpr m;
      m.member = Cur().text;
      Next();
      if (Is(Tok::LParen)) {
        m.has_args = true;
        m.args = ArgumentList();
      }
      auto outer = std::make_unique<Expr>();
      outer->pos = at;
      outer->depth = std::max(e->depth, MaxDepth(m.args)) + 1;
      if (outer->depth > kMaxTreeDepth) Fail(kErrOutOfStack, at);
      m.object = std::move(e);
      outer->node = std::move(m);
      e = std::move(outer);
    }
    return e;
  }

  std::string_view src_;
  std::vector<Token> toks_;
  std::size_t i_ = 0;
  int nesting_ = 0;
};

}  // namespace

bool IsLiteral(const Expr& e) {
  if (std::holds_alternative<LiteralExpr>(e.node)) return true;
  if (const auto* u = std::get_if<UnaryExpr>(&e.node)) {
    return u->op != UnaryOp::Not && IsLiteral(*u->operand);
  }
  return false;
}

std::unique_ptr<Program> ParseProgram(std::string_view source) {
  return Parser(source).ParseWholeProgram();
}

ExpressionUnit ParseExpression(std::string_view source) {
  return Parser(source).ParseLoneExpression();
}

}  // namespace tarv::vbs
