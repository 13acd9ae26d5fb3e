#include "services/scripthost/vbs_parser.h"

#include <algorithm>
#include <initializer_list>
#include <set>

namespace tarv::vbs {

namespace {

// Parentheses, prefix operators and nested blocks recurse in the parser;
// trees taller than this would also make evaluating and freeing them recurse
// deeply.
constexpr int kMaxNesting = 200;
constexpr int kMaxTreeDepth = 1000;

class Parser {
 public:
  explicit Parser(std::string_view src) : src_(src), toks_(Tokenize(src)) {}

  std::unique_ptr<Program> ParseWholeProgram() {
    auto prog = std::make_unique<Program>();
    prog->source = std::string(src_);
    program_ = prog.get();
    std::vector<std::pair<std::string, Pos>> declared;
    for (;;) {
      SkipSeparators();
      if (Is(Tok::End)) break;
      if (IsProcedureStart() || IsWord("class")) {
        Definition();
      } else {
        Stmt s = Statement(nullptr);
        if (s.kind == StmtKind::Dim || s.kind == StmtKind::Const) {
          for (const DimItem& item : s.items) {
            for (const auto& [key, pos] : declared) {
              if (key == item.target->key) Fail(kErrNameRedefined, s.pos);
            }
            declared.emplace_back(item.target->key, s.pos);
          }
        }
        prog->code.push_back(std::move(s));
      }
      EndOfStatement();
    }
    for (const auto& [key, pos] : declared) {
      for (const auto& proc : prog->procs) {
        if (proc->key == key) Fail(kErrNameRedefined, pos);
      }
      prog->declared_names.push_back(key);
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
  // `End` closes a block even without a separator before it: Sub s() x = 1 End Sub.
  bool AtEndOfStatement() const {
    return Is(Tok::Newline) || Is(Tok::Colon) || Is(Tok::End) || IsWord("end") ||
           (single_line_ > 0 && IsWord("else"));
  }

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

  struct NestingGuard {
    explicit NestingGuard(Parser& p) : p_(p) {
      if (++p_.nesting_ > kMaxNesting) p_.Fail(kErrOutOfStack, p_.Cur().pos);
    }
    ~NestingGuard() { --p_.nesting_; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
    Parser& p_;
  };

  // ---- procedures ----

  bool IsProcedureStart() const {
    if (IsWord("function") || IsWord("sub")) return true;
    return (IsWord("private") || IsWord("public")) && (IsWordAt(1, "function") || IsWordAt(1, "sub"));
  }

  int AddSlot(ProcDecl& proc, const std::string& key, bool is_const, Pos at) {
    if (!proc.slots.emplace(key, proc.slot_count).second) Fail(kErrNameRedefined, at);
    proc.const_slot.push_back(is_const);
    return proc.slot_count++;
  }

  // A Sub, Function or Class of the program. Those written inside a block of
  // the top-level code (If False Then Sub s ... End If) exist all the same.
  void Definition() {
    if (IsWord("class")) {
      auto cls = ClassBlock();
      for (const auto& other : program_->classes) {
        if (other->key == cls->key) Fail(kErrNameRedefined, cls->pos);
      }
      program_->classes.push_back(std::move(cls));
      return;
    }
    auto proc = Procedure(nullptr);
    for (const auto& other : program_->procs) {
      if (other->key == proc->key) Fail(kErrNameRedefined, proc->pos);
    }
    program_->procs.push_back(std::move(proc));
  }

  // Class Name ... End Class: variables (Dim, Public, Private) and
  // procedures, Public unless marked Private.
  std::unique_ptr<ClassDecl> ClassBlock() {
    auto cls = std::make_unique<ClassDecl>();
    cls->pos = Cur().pos;
    Next();
    cls->name = Identifier();
    cls->key = FoldCase(cls->name);
    EndOfStatement();
    for (;;) {
      SkipSeparators();
      if (Is(Tok::End)) Fail(kErrExpectedEnd, Cur().pos);
      if (IsWord("end")) break;
      bool is_public = true, is_default = false, is_dim = false, marked = false;
      if (IsWord("public") || IsWord("private")) {
        is_public = IsWord("public");
        marked = true;
        Next();
        if (is_public && IsWord("default")) {
          is_default = true;
          Next();
        }
      } else if (IsWord("dim")) {
        is_dim = true;
        Next();
      }
      if (!is_dim && (IsWord("sub") || IsWord("function") || IsWord("property"))) {
        auto proc = Procedure(cls.get());
        proc->is_private = !is_public;
        proc->is_default = is_default;
        AddMethod(*cls, std::move(proc));
        // End Sub (or Function, Property) and End Class may share a line.
        if (IsWord("end")) continue;
      } else {
        // Variables are declared with Dim, Public or Private; nothing else
        // stands in a class.
        if (is_default || (!is_dim && !marked)) Fail(kErrExpectedStatement, Cur().pos);
        ClassFields(*cls, is_public);
        // The last declaration may share its line with End Class.
        if (IsWord("end")) continue;
      }
      EndOfStatement();
    }
    Next();
    ExpectWord("class", kErrExpectedEnd);
    return cls;
  }

  void ClassFields(ClassDecl& cls, bool is_public) {
    Stmt s = Declaration(Stmt{}, StmtKind::Dim, nullptr);
    for (DimItem& item : s.items) {
      ClassMember& m = cls.members[item.target->key];
      if (m.field >= 0 || m.get || m.let || m.set) Fail(kErrNameRedefined, item.target->pos);
      m.field = static_cast<int>(cls.fields.size());
      m.is_public = is_public;
      cls.fields.push_back(std::move(item));
    }
  }

  void AddMethod(ClassDecl& cls, std::unique_ptr<ProcDecl> proc) {
    ClassMember& m = cls.members[proc->key];
    ProcDecl** place = proc->property == PropertyKind::Let   ? &m.let
                       : proc->property == PropertyKind::Set ? &m.set
                                                             : &m.get;
    if (m.field >= 0 || *place) Fail(kErrNameRedefined, proc->pos);
    if (proc->property == PropertyKind::None && (m.let || m.set)) Fail(kErrNameRedefined, proc->pos);
    *place = proc.get();
    m.is_public = !proc->is_private;
    if (proc->is_default) {
      if (!cls.default_key.empty() && cls.default_key != proc->key) Fail(kErrNameRedefined, proc->pos);
      cls.default_key = proc->key;
    }
    if (proc->key == "class_initialize" && proc->is_sub) cls.initialize = proc.get();
    if (proc->key == "class_terminate" && proc->is_sub) cls.terminate = proc.get();
    cls.methods.push_back(std::move(proc));
  }

  std::unique_ptr<ProcDecl> Procedure(const ClassDecl* owner) {
    auto proc = std::make_unique<ProcDecl>();
    proc->pos = Cur().pos;
    proc->program = program_;
    proc->owner = owner;
    if (IsWord("private") || IsWord("public")) {
      proc->is_private = IsWord("private");
      Next();
    }
    proc->is_sub = IsWord("sub");
    if (IsWord("property")) {
      Next();
      if (IsWord("get")) proc->property = PropertyKind::Get;
      else if (IsWord("let")) proc->property = PropertyKind::Let;
      else if (IsWord("set")) proc->property = PropertyKind::Set;
      else Fail(kErrSyntax, Cur().pos);
      proc->is_sub = proc->property != PropertyKind::Get;
    }
    Next();
    proc->name = Identifier();
    proc->key = FoldCase(proc->name);
    if (Is(Tok::LParen)) {
      Next();
      while (!Is(Tok::RParen)) {
        bool by_val = false;
        if (IsWord("byval") || IsWord("byref")) {
          by_val = IsWord("byval");
          Next();
        }
        const Pos at = Cur().pos;
        std::string key = FoldCase(Identifier());
        if (Is(Tok::LParen) && At(1).kind == Tok::RParen) {  // an array parameter a()
          Next();
          Next();
        }
        if (key == proc->key) Fail(kErrNameRedefined, at);
        AddSlot(*proc, key, false, at);
        proc->params.push_back(std::move(key));
        proc->by_val.push_back(by_val);
        if (!Is(Tok::Comma)) break;
        Next();
      }
      Expect(Tok::RParen, kErrExpectedRParen);
    }
    if (!proc->is_sub) proc->result_slot = AddSlot(*proc, proc->key, false, proc->pos);
    if (proc->property != PropertyKind::None && proc->property != PropertyKind::Get && proc->params.empty()) {
      Fail(kErrSyntax, Cur().pos);  // Let and Set take the new value
    }
    if (!Is(Tok::Identifier)) EndOfStatement();  // else the body starts on this line
    proc_ = proc.get();
    proc->body = BlockUntil({"end"}, kErrExpectedEnd);
    proc_ = nullptr;
    Next();  // End
    if (proc->property != PropertyKind::None) ExpectWord("property", kErrExpectedEnd);
    else ExpectWord(proc->is_sub ? "sub" : "function", proc->is_sub ? kErrExpectedSub : kErrExpectedFunction);
    return proc;
  }

  // ---- blocks ----

  // Statements up to a line that begins with one of `enders` (left as the
  // current token). The end of the source instead is the compile error
  // `missing`.
  Block BlockUntil(std::initializer_list<std::string_view> enders, int missing) {
    NestingGuard guard(*this);
    Block b;
    for (;;) {
      SkipSeparators();
      if (Is(Tok::End)) Fail(missing, Cur().pos);
      if (Is(Tok::Identifier)) {
        if (std::find(enders.begin(), enders.end(), Cur().folded) != enders.end()) return b;
        // The closing word of some other block: this one was left open.
        static constexpr std::string_view kClosers[] = {"end", "next", "loop", "wend", "else", "elseif", "case"};
        if (std::find(std::begin(kClosers), std::end(kClosers), Cur().folded) != std::end(kClosers)) {
          Fail(missing, Cur().pos);
        }
        if (!proc_ && program_ && (IsProcedureStart() || IsWord("class"))) {
          Definition();
          EndOfStatement();
          continue;
        }
      }
      b.push_back(Statement(proc_));
      if (!IsWord("end")) EndOfStatement();
    }
  }

  // The statements of a single-line If branch: up to Else or the line end.
  Block LineBlock() {
    NestingGuard guard(*this);
    Block b;
    for (;;) {
      b.push_back(Statement(proc_));
      if (!Is(Tok::Colon)) return b;
      while (Is(Tok::Colon)) Next();
      if (Is(Tok::Newline) || Is(Tok::End) || IsWord("else")) return b;
    }
  }

  // ---- statements ----

  Stmt Statement(ProcDecl* proc) {
    Stmt s;
    s.pos = Cur().pos;
    if (Is(Tok::Dot) || IsWord("me")) return AssignOrCall(std::move(s));
    if (!Is(Tok::Identifier)) Fail(kErrExpectedStatement, s.pos);
    const std::string& w = Cur().folded;
    if (w == "dim" || ((w == "private" || w == "public") && !IsWordAt(1, "const"))) {
      // Private and Public declare variables like Dim outside procedures.
      if (w != "dim" && proc) Fail(kErrSyntax, s.pos);
      Next();
      return Declaration(std::move(s), StmtKind::Dim, proc);
    }
    if (w == "const" || w == "private" || w == "public") {
      if (w != "const") {
        if (proc) Fail(kErrSyntax, s.pos);
        Next();
      }
      Next();
      return Declaration(std::move(s), StmtKind::Const, proc);
    }
    if (w == "redim") {
      Next();
      if (IsWord("preserve")) {
        s.flag = true;
        Next();
      }
      return Declaration(std::move(s), StmtKind::ReDim, nullptr);
    }
    if (w == "set") {
      Next();
      s.kind = StmtKind::Set;
      s.flag = true;
      s.target = NameChain();
      Expect(Tok::Eq, kErrExpectedEquals);
      s.value = Expression();
      return s;
    }
    if (w == "call") {
      Next();
      s.kind = StmtKind::Call;
      s.target = CallTarget();
      return s;
    }
    if (w == "if") return IfStatement(std::move(s));
    if (w == "for") return ForStatement(std::move(s));
    if (w == "do") return DoStatement(std::move(s));
    if (w == "while") {
      Next();
      s.kind = StmtKind::Do;
      s.cond = Expression();
      ++loop_do_;
      s.body = BlockUntil({"wend"}, kErrExpectedWend);
      --loop_do_;
      Next();
      return s;
    }
    if (w == "select") return SelectStatement(std::move(s));
    if (w == "exit") {
      Next();
      s.kind = StmtKind::Exit;
      if (IsWord("do") && loop_do_ > 0) s.exit = ExitKind::Do;
      else if (IsWord("for") && loop_for_ > 0) s.exit = ExitKind::For;
      else if (IsWord("function") && proc && !proc->is_sub) s.exit = ExitKind::Function;
      else if (IsWord("sub") && proc && proc->is_sub && proc->property == PropertyKind::None) s.exit = ExitKind::Sub;
      else if (IsWord("property") && proc && proc->property != PropertyKind::None) s.exit = ExitKind::Sub;
      else Fail(kErrInvalidExit, s.pos);
      Next();
      return s;
    }
    if (w == "with") {
      Next();
      s.kind = StmtKind::With;
      s.value = Expression();
      s.body = BlockUntil({"end"}, kErrExpectedEnd);
      Next();
      ExpectWord("with", kErrExpectedWith);
      return s;
    }
    if (w == "on") {
      Next();
      ExpectWord("error", kErrSyntax);
      s.kind = StmtKind::OnError;
      if (IsWord("resume")) {
        Next();
        ExpectWord("next", kErrSyntax);
        s.flag = true;
      } else {
        ExpectWord("goto", kErrSyntax);
        if (!Is(Tok::Number) || Cur().text != "0") Fail(kErrSyntax, Cur().pos);
        Next();
      }
      return s;
    }
    if (w == "option") {
      Next();
      ExpectWord("explicit", kErrSyntax);
      if (program_) program_->option_explicit = true;
      return s;
    }
    if (w == "erase") {
      Next();
      s.kind = StmtKind::Erase;
      s.target = NameChain();
      while (Is(Tok::Comma)) {  // Erase a, b
        Next();
        s.args.push_back(NameChain());
      }
      return s;
    }
    if (w == "stop") {  // a breakpoint, for a debugger that is not there
      Next();
      return s;
    }
    if (IsReservedWord(w)) Fail(kErrExpectedStatement, s.pos);
    return AssignOrCall(std::move(s));
  }

  // Dim, ReDim and Const lists.
  Stmt Declaration(Stmt s, StmtKind kind, ProcDecl* proc) {
    s.kind = kind;
    for (;;) {
      DimItem item;
      const Pos at = Cur().pos;
      auto name = std::make_unique<Expr>();
      name->kind = ExprKind::Name;
      name->pos = at;
      name->name = Identifier();
      name->key = FoldCase(name->name);
      if (kind != StmtKind::Const && Is(Tok::LParen)) {
        item.is_array = true;
        Next();
        if (!Is(Tok::RParen)) {
          for (;;) {
            item.bounds.push_back(Expression());
            if (!Is(Tok::Comma)) break;
            Next();
          }
        }
        Expect(Tok::RParen, kErrExpectedRParen);
        if (kind == StmtKind::ReDim && item.bounds.empty()) Fail(kErrExpectedExpression, Cur().pos);
      }
      if (kind == StmtKind::Const) {
        Expect(Tok::Eq, kErrExpectedEquals);
        item.value = Expression();
      }
      if (proc && kind != StmtKind::ReDim) AddSlot(*proc, name->key, kind == StmtKind::Const, at);
      item.target = std::move(name);
      s.items.push_back(std::move(item));
      if (!Is(Tok::Comma)) break;
      Next();
    }
    return s;
  }

  Stmt AssignOrCall(Stmt s) {
    ExprPtr target = NameChain(true);
    if (Is(Tok::Eq)) {
      Next();
      s.kind = StmtKind::Assign;
      s.target = std::move(target);
      s.value = Expression();
      return s;
    }
    s.kind = StmtKind::Call;
    const bool method = target->kind == ExprKind::Member && target->has_args && !target->name.empty();
    if ((target->kind == ExprKind::Call || method) && target->args.size() == 1 && !AtEndOfStatement()) {
      // `Name (a), b` or `Name (a) + 1`: the parentheses belonged to the first
      // argument, which is then passed by value.
      ExprPtr first = std::move(target->args.front());
      first->parenthesized = true;
      target->args.clear();
      if (method) target->has_args = false;
      else target->kind = ExprKind::Name;
      s.target = std::move(target);
      s.args.push_back(ContinueExpression(std::move(first)));
      while (Is(Tok::Comma)) {
        Next();
        s.args.push_back(Argument());
      }
      return s;
    }
    if ((target->kind == ExprKind::Call || method) && target->args.size() == 1) {
      // `Name (x)` as a statement passes x by value.
      target->args.front()->parenthesized = true;
    }
    s.target = std::move(target);
    if (AtEndOfStatement() || WrittenWithArguments(*s.target)) return s;
    for (;;) {
      s.args.push_back(Argument());
      if (!Is(Tok::Comma)) break;
      Next();
    }
    return s;
  }

  // What Call names: a name chain, possibly inside parentheses of its own,
  // and then perhaps an argument list: Call (((s))) ((1)).
  ExprPtr CallTarget() {
    if (!Is(Tok::LParen)) return NameChain();
    NestingGuard guard(*this);
    Next();
    ExprPtr inner = IsWord("new") ? Postfix() : CallTarget();
    Expect(Tok::RParen, kErrExpectedRParen);
    if (Is(Tok::Dot)) return Chain(std::move(inner), false);  // Call (New C).Run
    if (!Is(Tok::LParen)) return inner;
    if (inner->kind == ExprKind::Name) {
      inner->kind = ExprKind::Call;
      inner->args = ArgumentList();
      inner->depth = MaxDepth(inner->args) + 1;
      return inner;
    }
    if (inner->kind == ExprKind::Member && !inner->has_args) {
      inner->has_args = true;
      inner->args = ArgumentList();
      inner->depth = std::max(inner->depth, MaxDepth(inner->args) + 1);
      return inner;
    }
    Fail(kErrExpectedEndOfStatement, Cur().pos);
  }

  static bool WrittenWithArguments(const Expr& e) {
    return e.kind == ExprKind::Call || (e.kind == ExprKind::Member && e.has_args);
  }

  Stmt IfStatement(Stmt s) {
    Next();
    s.kind = StmtKind::If;
    Arm first;
    first.cond = Expression();
    ExpectWord("then", kErrExpectedThen);
    std::size_t colons = 0;
    while (At(colons).kind == Tok::Colon) ++colons;
    if (colons > 0 && (At(colons).kind == Tok::Newline || At(colons).kind == Tok::End)) {
      // If c Then : with nothing after it is a single-line If without a body.
      for (; colons > 0; --colons) Next();
      s.arms.push_back(std::move(first));
      return s;
    }
    if (!Is(Tok::Newline) && !Is(Tok::Colon) && !Is(Tok::End)) {
      // Single-line form: If c Then a : b Else d : e
      ++single_line_;
      first.body = LineBlock();
      s.arms.push_back(std::move(first));
      if (IsWord("else")) {
        Next();
        Arm other;
        other.is_else = true;
        if (!Is(Tok::Newline) && !Is(Tok::End)) other.body = LineBlock();
        s.arms.push_back(std::move(other));
      }
      --single_line_;
      if (IsWord("end") && IsWordAt(1, "if")) {  // a closing End If on the same line
        Next();
        Next();
      }
      return s;
    }
    first.body = BlockUntil({"elseif", "else", "end"}, kErrExpectedEnd);
    s.arms.push_back(std::move(first));
    for (;;) {
      if (IsWord("elseif")) {
        Next();
        Arm arm;
        arm.cond = Expression();
        ExpectWord("then", kErrExpectedThen);
        arm.body = BlockUntil({"elseif", "else", "end"}, kErrExpectedEnd);
        s.arms.push_back(std::move(arm));
      } else if (IsWord("else")) {
        Next();
        Arm arm;
        arm.is_else = true;
        arm.body = BlockUntil({"end"}, kErrExpectedEnd);
        s.arms.push_back(std::move(arm));
      } else {
        Next();  // End
        ExpectWord("if", kErrExpectedEnd);
        return s;
      }
    }
  }

  Stmt ForStatement(Stmt s) {
    Next();
    if (IsWord("each")) {
      Next();
      s.kind = StmtKind::ForEach;
      s.target = SimpleName();
      ExpectWord("in", kErrExpectedIn);
      s.value = Expression();
    } else {
      s.kind = StmtKind::For;
      s.target = SimpleName();
      Expect(Tok::Eq, kErrExpectedEquals);
      s.from = Expression();
      ExpectWord("to", kErrExpectedTo);
      s.to = Expression();
      if (IsWord("step")) {
        Next();
        s.step = Expression();
      }
    }
    ++loop_for_;
    s.body = BlockUntil({"next"}, kErrExpectedNext);
    --loop_for_;
    Next();
    if (Is(Tok::Identifier) && !IsReservedWord(Cur().folded)) Next();  // Next i
    return s;
  }

  ExprPtr SimpleName() {
    auto e = std::make_unique<Expr>();
    e->kind = ExprKind::Name;
    e->pos = Cur().pos;
    if (!Is(Tok::Identifier) || IsReservedWord(Cur().folded)) Fail(kErrInvalidForVariable, Cur().pos);
    e->name = Cur().text;
    e->key = Cur().folded;
    Next();
    return e;
  }

  Stmt DoStatement(Stmt s) {
    Next();
    s.kind = StmtKind::Do;
    if (IsWord("while") || IsWord("until")) {
      s.flag = IsWord("until");
      Next();
      s.cond = Expression();
    }
    ++loop_do_;
    s.body = BlockUntil({"loop"}, kErrExpectedLoop);
    --loop_do_;
    Next();
    if (IsWord("while") || IsWord("until")) {
      if (s.cond) Fail(kErrExpectedEndOfStatement, Cur().pos);
      s.flag = IsWord("until");
      s.post = true;
      Next();
      s.cond = Expression();
    }
    return s;
  }

  Stmt SelectStatement(Stmt s) {
    Next();
    ExpectWord("case", kErrExpectedCase);
    s.kind = StmtKind::Select;
    s.value = Expression();
    EndOfStatement();
    SkipSeparators();
    while (IsWord("case")) {
      Next();
      Arm arm;
      if (IsWord("else")) {
        Next();
        arm.is_else = true;
      } else {
        for (;;) {
          CaseTest t;
          if (IsWord("is")) {
            Next();
            t.is_op = true;
            switch (Cur().kind) {
              case Tok::Eq: t.op = BinaryOp::Eq; break;
              case Tok::Ne: t.op = BinaryOp::Ne; break;
              case Tok::Lt: t.op = BinaryOp::Lt; break;
              case Tok::Gt: t.op = BinaryOp::Gt; break;
              case Tok::Le: t.op = BinaryOp::Le; break;
              case Tok::Ge: t.op = BinaryOp::Ge; break;
              default: Fail(kErrSyntax, Cur().pos);
            }
            Next();
            t.lo = ConcatLevel();
          } else {
            t.lo = Expression();
            if (IsWord("to")) {
              Next();
              t.hi = Expression();
            }
          }
          arm.tests.push_back(std::move(t));
          if (!Is(Tok::Comma)) break;
          Next();
        }
      }
      arm.body = BlockUntil({"case", "end"}, kErrExpectedEnd);
      s.arms.push_back(std::move(arm));
    }
    ExpectWord("end", kErrExpectedEnd);
    ExpectWord("select", kErrExpectedSelect);
    return s;
  }

  // ---- expressions, loosest binding first ----

  ExprPtr Node(ExprKind kind, Pos pos) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->pos = pos;
    return e;
  }

  ExprPtr MakeBinary(BinaryOp op, Pos pos, ExprPtr lhs, ExprPtr rhs) {
    ExprPtr e = Node(ExprKind::Binary, pos);
    e->op = static_cast<std::uint8_t>(op);
    e->depth = std::max(lhs->depth, rhs->depth) + 1;
    if (e->depth > kMaxTreeDepth) Fail(kErrOutOfStack, pos);
    e->lhs = std::move(lhs);
    e->rhs = std::move(rhs);
    return e;
  }

  ExprPtr MakeUnary(UnaryOp op, Pos pos, ExprPtr operand) {
    ExprPtr e = Node(ExprKind::Unary, pos);
    e->op = static_cast<std::uint8_t>(op);
    e->depth = operand->depth + 1;
    e->lhs = std::move(operand);
    return e;
  }

  // Keyword operators of one level, left to right.
  template <typename Sub>
  ExprPtr KeywordLevel(std::string_view kw, BinaryOp op, Sub sub, ExprPtr lhs) {
    if (!lhs) lhs = (this->*sub)();
    while (IsWord(kw)) {
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(op, at, std::move(lhs), (this->*sub)());
    }
    return lhs;
  }

  ExprPtr Expression() {
    NestingGuard guard(*this);
    return ImpLevel(nullptr);
  }

  // An expression whose first operand has been read already.
  ExprPtr ContinueExpression(ExprPtr first) {
    NestingGuard guard(*this);
    return ImpLevel(std::move(first));
  }

  // Each level passes an operand that was read already down to the level
  // that reads operands.
  ExprPtr ImpLevel(ExprPtr first) {
    return KeywordLevel("imp", BinaryOp::Imp, &Parser::EqvLevelFresh, EqvLevel(std::move(first)));
  }
  ExprPtr EqvLevelFresh() { return EqvLevel(nullptr); }
  ExprPtr EqvLevel(ExprPtr first) {
    return KeywordLevel("eqv", BinaryOp::Eqv, &Parser::XorLevelFresh, XorLevel(std::move(first)));
  }
  ExprPtr XorLevelFresh() { return XorLevel(nullptr); }
  ExprPtr XorLevel(ExprPtr first) {
    return KeywordLevel("xor", BinaryOp::Xor, &Parser::OrLevelFresh, OrLevel(std::move(first)));
  }
  ExprPtr OrLevelFresh() { return OrLevel(nullptr); }
  ExprPtr OrLevel(ExprPtr first) {
    return KeywordLevel("or", BinaryOp::Or, &Parser::AndLevelFresh, AndLevel(std::move(first)));
  }
  ExprPtr AndLevelFresh() { return AndLevel(nullptr); }
  ExprPtr AndLevel(ExprPtr first) {
    return KeywordLevel("and", BinaryOp::And, &Parser::NotLevelFresh, NotLevel(std::move(first)));
  }
  ExprPtr NotLevelFresh() { return NotLevel(nullptr); }

  ExprPtr NotLevel(ExprPtr first) {
    if (first || !IsWord("not")) return Comparison(std::move(first));
    NestingGuard guard(*this);
    const Pos at = Cur().pos;
    Next();
    return MakeUnary(UnaryOp::Not, at, NotLevel(nullptr));
  }

  ExprPtr Comparison(ExprPtr first) {
    ExprPtr lhs = ConcatLevel(std::move(first));
    for (;;) {
      BinaryOp op;
      switch (Cur().kind) {
        case Tok::Eq: op = BinaryOp::Eq; break;
        case Tok::Ne: op = BinaryOp::Ne; break;
        case Tok::Lt: op = BinaryOp::Lt; break;
        case Tok::Gt: op = BinaryOp::Gt; break;
        case Tok::Le: op = BinaryOp::Le; break;
        case Tok::Ge: op = BinaryOp::Ge; break;
        case Tok::Identifier:
          if (Cur().folded == "is") {
            op = BinaryOp::Is;
            break;
          }
          return lhs;
        default: return lhs;
      }
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(op, at, std::move(lhs), ConcatLevel(nullptr));
    }
  }

  ExprPtr ConcatLevel(ExprPtr first = nullptr) {
    ExprPtr lhs = AddLevel(std::move(first));
    while (Is(Tok::Ampersand)) {
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(BinaryOp::Concat, at, std::move(lhs), AddLevel(nullptr));
    }
    return lhs;
  }

  ExprPtr AddLevel(ExprPtr first) {
    ExprPtr lhs = ModLevel(std::move(first));
    while (Is(Tok::Plus) || Is(Tok::Minus)) {
      const BinaryOp op = Is(Tok::Plus) ? BinaryOp::Add : BinaryOp::Subtract;
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(op, at, std::move(lhs), ModLevel(nullptr));
    }
    return lhs;
  }

  ExprPtr ModLevel(ExprPtr first) {
    ExprPtr lhs = IntDivLevel(std::move(first));
    while (IsWord("mod")) {
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(BinaryOp::Modulo, at, std::move(lhs), IntDivLevel(nullptr));
    }
    return lhs;
  }

  ExprPtr IntDivLevel(ExprPtr first) {
    ExprPtr lhs = MulLevel(std::move(first));
    while (Is(Tok::Backslash)) {
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(BinaryOp::IntDivide, at, std::move(lhs), MulLevel(nullptr));
    }
    return lhs;
  }

  ExprPtr MulLevel(ExprPtr first) {
    ExprPtr lhs = PowerLevel(std::move(first));
    while (Is(Tok::Star) || Is(Tok::Slash)) {
      const BinaryOp op = Is(Tok::Star) ? BinaryOp::Multiply : BinaryOp::Divide;
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(op, at, std::move(lhs), PowerLevel(nullptr));
    }
    return lhs;
  }

  // A sign binds tighter than ^, so -3^2 is (-3)^2.
  ExprPtr PowerLevel(ExprPtr first) {
    ExprPtr lhs = first ? std::move(first) : PowerOperand();
    while (Is(Tok::Caret)) {
      const Pos at = Cur().pos;
      Next();
      lhs = MakeBinary(BinaryOp::Power, at, std::move(lhs), PowerOperand());
    }
    return lhs;
  }

  // An operand with its signs: -x, and the right side of ^ as in 2^-1.
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
    switch (t.kind) {
      case Tok::Number:
      case Tok::String: {
        ExprPtr e = Node(ExprKind::Literal, t.pos);
        e->value = t.value;
        Next();
        return e;
      }
      case Tok::LParen: {
        Next();
        ExprPtr inner = Expression();
        Expect(Tok::RParen, kErrExpectedRParen);
        inner->parenthesized = true;
        if (Is(Tok::LParen) && inner->kind == ExprKind::Name) {
          // (f)(x): the name in parentheses is called with the list after them.
          inner->kind = ExprKind::Call;
          inner->args = ArgumentList();
          inner->depth = MaxDepth(inner->args) + 1;
        }
        // (New C).p, (a)(1): a member or an element of what they gave.
        if (Is(Tok::Dot) || Is(Tok::LParen)) return Chain(std::move(inner), false);
        return inner;
      }
      case Tok::Dot: return NameChain();
      case Tok::Identifier:
        if (t.folded == "me") return NameChain();
        break;
      default: Fail(kErrExpectedExpression, t.pos);
    }
    ExprPtr e = Node(ExprKind::Literal, t.pos);
    if (t.folded == "true" || t.folded == "false") {
      e->value = Value::Boolean(t.folded == "true");
    } else if (t.folded == "empty") {
      e->value = Value();
    } else if (t.folded == "null") {
      e->value = Value::Null();
    } else if (t.folded == "nothing") {
      e->value = Value::Object(nullptr);
    } else if (t.folded == "new") {
      Next();
      e->kind = ExprKind::New;
      e->name = Identifier();
      e->key = FoldCase(e->name);
      return e;
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
      args.push_back(Argument());
      if (!Is(Tok::Comma)) break;
      Next();
    }
    Expect(Tok::RParen, kErrExpectedRParen);
    return args;
  }

  // An argument of a call, which may be left out between commas: f(a, , c).
  ExprPtr Argument() {
    if (Is(Tok::Comma) || Is(Tok::RParen)) return Node(ExprKind::Omitted, Cur().pos);
    return Expression();
  }

  static int MaxDepth(const std::vector<ExprPtr>& args) {
    int d = 0;
    for (const ExprPtr& a : args) d = std::max(d, a->depth);
    return d;
  }

  // name, name(args), .name inside With, and any .member or .member(args)
  // after them. At the head of a statement a '.' after a blank starts an
  // argument instead: LogIt .Name, "x" inside With passes .Name to LogIt.
  ExprPtr NameChain(bool head = false) {
    ExprPtr e;
    if (Is(Tok::Dot)) {
      e = Node(ExprKind::With, Cur().pos);
    } else if (IsWord("me")) {
      e = Node(ExprKind::Me, Cur().pos);
      Next();
    } else {
      e = Node(ExprKind::Name, Cur().pos);
      e->name = Identifier();
      e->key = FoldCase(e->name);
      if (Is(Tok::LParen)) {
        e->kind = ExprKind::Call;
        e->args = ArgumentList();
        e->depth = MaxDepth(e->args) + 1;
      }
    }
    return Chain(std::move(e), head);
  }

  // The members and argument lists that follow `e`.
  ExprPtr Chain(ExprPtr e, bool head) {
    for (;;) {
      if (Is(Tok::Dot) && !(head && Cur().spaced && e->kind != ExprKind::With)) {
        // A member's errors point at the start of the whole chain.
        const Pos at = e->pos;
        Next();
        if (!Is(Tok::Identifier)) Fail(kErrExpectedIdentifier, Cur().pos);
        ExprPtr m = Node(ExprKind::Member, at);
        m->name = Cur().text;
        m->key = Cur().folded;
        Next();
        if (Is(Tok::LParen)) {
          m->has_args = true;
          m->args = ArgumentList();
        }
        m->depth = std::max(e->depth, MaxDepth(m->args)) + 1;
        if (m->depth > kMaxTreeDepth) Fail(kErrOutOfStack, at);
        m->lhs = std::move(e);
        e = std::move(m);
      } else if (Is(Tok::LParen) && e->kind != ExprKind::With && e->kind != ExprKind::Name && e->kind != ExprKind::Me) {
        // a(1)(2), f()(0).x: index or call what the left side gave.
        ExprPtr c = Node(ExprKind::Member, Cur().pos);
        c->has_args = true;
        c->args = ArgumentList();
        c->depth = std::max(e->depth, MaxDepth(c->args)) + 1;
        if (c->depth > kMaxTreeDepth) Fail(kErrOutOfStack, c->pos);
        c->lhs = std::move(e);
        e = std::move(c);
      } else {
        break;
      }
    }
    return e;
  }

  std::string_view src_;
  std::vector<Token> toks_;
  std::size_t i_ = 0;
  int nesting_ = 0;
  int single_line_ = 0;
  int loop_do_ = 0;
  int loop_for_ = 0;
  Program* program_ = nullptr;
  ProcDecl* proc_ = nullptr;
};

}  // namespace

bool IsLiteral(const Expr& e) {
  if (e.kind == ExprKind::Literal) return true;
  if (e.kind == ExprKind::Unary) {
    return static_cast<UnaryOp>(e.op) != UnaryOp::Not && IsLiteral(*e.lhs);
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
