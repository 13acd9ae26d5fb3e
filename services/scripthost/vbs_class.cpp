#include "services/scripthost/vbs_class.h"

#include "services/scripthost/vbs_eval.h"

namespace tarv::vbs {

void ClassReaper::operator()(ClassInstance* p) const {
  ClassRuntime& rt = *runtime;
  if (!p->terminated && p->cls().terminate && rt.in) {
    rt.pending.push_back(p);
    return;
  }
  // Freeing one instance may release others: they are queued and freed by
  // this loop, so that a long chain of instances does not recurse.
  rt.dying.push_back(p);
  if (rt.reaping) return;
  rt.reaping = true;
  while (!rt.dying.empty()) {
    ClassInstance* q = rt.dying.back();
    rt.dying.pop_back();
    rt.live.erase(q);
    delete q;
  }
  rt.reaping = false;
}

std::shared_ptr<ClassRuntime> NewClassRuntime(Interpreter* in) {
  auto rt = std::make_shared<ClassRuntime>();
  rt->in = in;
  return rt;
}

void CloseClassRuntime(const std::shared_ptr<ClassRuntime>& runtime) {
  ClassRuntime& rt = *runtime;
  rt.in = nullptr;
  std::vector<Value> held;
  for (ClassInstance* q : rt.live) {
    for (Value& f : q->fields) held.push_back(std::move(f));
  }
  held.clear();
  const std::vector<ClassInstance*> pending = std::move(rt.pending);
  rt.pending.clear();
  for (ClassInstance* q : pending) ClassReaper{runtime}(q);
}

ClassInstance* AsInstance(const Value& v) {
  if (v.kind() != Kind::Object || !v.object()) return nullptr;
  return dynamic_cast<ClassInstance*>(v.object().get());
}

bool WithoutDefault(const Value& v) {
  const ClassInstance* inst = AsInstance(v);
  return inst && inst->cls().default_key.empty();
}

Interpreter& ClassInstance::In() const {
  if (!runtime_->in) ThrowRuntime(kErrObjectNotSet);
  return *runtime_->in;
}

Value ClassInstance::GetProperty(std::string_view name, std::span<const Value> args) {
  return In().MemberGet(*this, name, args);
}

Value ClassInstance::Call(std::string_view name, std::span<const Value> args) {
  return In().MemberGet(*this, name, args);
}

void ClassInstance::SetProperty(std::string_view name, std::span<const Value> args, const Value& value) {
  In().MemberAssign(*this, name, args, value, value.kind() == Kind::Object);
}

// ---- the interpreter's side ----------------------------------------------

namespace {

// obj.Items(2) where Items takes no arguments: the index applies to what it
// gives (an array, or an object's default member).
bool IndexesResult(const ProcDecl& p, std::size_t arg_count) {
  return arg_count > 0 && p.params.empty() && !p.is_sub;
}

}  // namespace

void Interpreter::RegisterClasses(Program& p) {
  for (const auto& cls : p.classes) {
    if (classes_.contains(cls->key)) ThrowRuntime(kErrNameRedefined);
  }
  for (auto& cls : p.classes) {
    classes_[cls->key] = cls.get();
    for (DimItem& f : cls->fields) {
      for (ExprPtr& b : f.bounds) BindExpr(*b, nullptr, nullptr, p.option_explicit);
    }
    for (auto& m : cls->methods) BindBlock(m->body, m.get(), nullptr, p.option_explicit);
  }
}

Value Interpreter::NewInstance(const ClassDecl& cls) {
  std::shared_ptr<ClassInstance> inst(new ClassInstance(cls, class_runtime_), ClassReaper{class_runtime_});
  inst->fields.resize(cls.fields.size());
  for (std::size_t i = 0; i < cls.fields.size(); ++i) {
    const DimItem& f = cls.fields[i];
    if (!f.is_array) continue;
    const std::vector<Value> bounds = EvalArgs(f.bounds);
    inst->fields[i] = Value::Array(NewArray(bounds, !bounds.empty()));
  }
  if (cls.initialize) CallProcedure(*cls.initialize, std::span<Arg>(), inst);
  return Value::Object(std::move(inst));
}

// A member the running code may use: Private ones only from the instance's
// own methods.
const ClassMember& Interpreter::FindMember(const ClassInstance& inst, std::string_view name) const {
  const ClassDecl& cls = inst.cls();
  const std::string key = name.empty() ? cls.default_key : FoldCase(name);
  const auto it = cls.members.find(key);
  if (key.empty() || it == cls.members.end()) ThrowRuntime(kErrNoSuchMember);
  if (!it->second.is_public && !(frame_ && frame_->me.get() == &inst)) ThrowRuntime(kErrNoSuchMember);
  return it->second;
}

Value Interpreter::MemberGet(ClassInstance& inst, std::string_view name, std::span<const Value> args) {
  const ClassMember& m = FindMember(inst, name);
  if (m.field >= 0) {
    const Value field = inst.fields[static_cast<std::size_t>(m.field)];
    return args.empty() ? field : Index(field, args);
  }
  if (!m.get) ThrowRuntime(kErrNoSuchMember);
  if (IndexesResult(*m.get, args.size())) {
    // Taken before the getter runs: an argument may be read where it lies,
    // in a variable the getter could change.
    const std::vector<Value> held(args.begin(), args.end());
    return Index(CallProcedure(*m.get, std::span<Arg>(), inst.shared_from_this()), held);
  }
  std::vector<Arg> a(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) a[i].value = args[i];
  return CallProcedure(*m.get, a, inst.shared_from_this());
}

Value Interpreter::MemberCall(ClassInstance& inst, const Expr& e, const std::vector<ExprPtr>& args, std::size_t from) {
  const ClassMember& m = e.ref.member ? *e.ref.member : FindMember(inst, e.name);
  if (m.field >= 0) {
    const Value field = inst.fields[static_cast<std::size_t>(m.field)];
    if (args.size() == from) return field;
    const std::vector<Value> values = EvalArgs(args, from);
    return Index(field, values);
  }
  if (!m.get) ThrowRuntime(kErrNoSuchMember);
  if (IndexesResult(*m.get, args.size() - from)) {
    const Value result = CallProcedure(*m.get, std::span<Arg>(), inst.shared_from_this());
    const std::vector<Value> values = EvalArgs(args, from);
    return Index(result, values);
  }
  return CallProcedure(*m.get, args, from, inst.shared_from_this());
}

void Interpreter::MemberAssign(ClassInstance& inst, std::string_view name, std::span<const Value> args,
                               const Value& v, bool set) {
  const ClassMember& m = FindMember(inst, name);
  if (m.field >= 0) {
    Value& field = inst.fields[static_cast<std::size_t>(m.field)];
    if (args.empty()) {
      field = v;
    } else if (field.kind() == Kind::Array) {
      Array& a = Writable(field);
      a.items[a.Offset(args)] = v;
    } else {
      if (field.kind() != Kind::Object) ThrowRuntime(kErrTypeMismatch);
      if (!field.object()) ThrowRuntime(kErrObjectNotSet);
      const std::shared_ptr<Object> obj = field.object();
      obj->SetProperty("", args, v);
    }
    return;
  }
  const ProcDecl* p = set ? m.set : m.let;
  if (!p) ThrowRuntime(m.get && !m.get->is_sub && m.get->property == PropertyKind::None ? kErrIllegalAssignment
                                                                                      : kErrNoSuchMember);
  std::vector<Arg> a(args.size() + 1);
  for (std::size_t i = 0; i < args.size(); ++i) a[i].value = args[i];
  a.back().value = v;
  CallProcedure(*p, a, inst.shared_from_this());
}

void Interpreter::RunTerminations() {
  ClassRuntime& rt = *class_runtime_;
  while (!rt.pending.empty()) {
    std::vector<ClassInstance*> batch;
    batch.swap(rt.pending);
    for (std::size_t i = 0; i < batch.size(); ++i) {
      ClassInstance* p = batch[i];
      p->terminated = true;
      // A new owner for the instance while its Class_Terminate runs as Me.
      const std::shared_ptr<ClassInstance> me(p, ClassReaper{class_runtime_});
      try {
        CallProcedure(*p->cls().terminate, std::span<Arg>(), me);
      } catch (ScriptError& err) {
        if (!err.error().time_limit) continue;
        rt.pending.insert(rt.pending.begin(), batch.begin() + static_cast<std::ptrdiff_t>(i) + 1, batch.end());
        throw;
      }
    }
  }
}

}  // namespace tarv::vbs
