// Instances of the classes a script declares. An instance lives as long as a
// variable refers to it; when the last reference goes, its Class_Terminate
// runs at the next statement boundary, never in the middle of one.
#pragma once

#include <memory>
#include <unordered_set>
#include <vector>

#include "services/scripthost/vbs_object.h"
#include "services/scripthost/vbs_parser.h"

namespace tarv::vbs {

class Interpreter;
class ClassInstance;

// Shared by an interpreter and every instance it made, so that an instance
// freed after its interpreter is gone finds that out instead of calling it.
struct ClassRuntime {
  Interpreter* in = nullptr;
  std::vector<ClassInstance*> pending;  // released; Class_Terminate still to run
  std::vector<ClassInstance*> dying;    // to be freed by the outermost release
  std::unordered_set<ClassInstance*> live;
  bool reaping = false;
};

// The deleter of every instance's shared_ptr.
struct ClassReaper {
  std::shared_ptr<ClassRuntime> runtime;
  void operator()(ClassInstance* p) const;
};

class ClassInstance final : public Object, public std::enable_shared_from_this<ClassInstance> {
 public:
  ClassInstance(const ClassDecl& cls, std::shared_ptr<ClassRuntime> runtime)
      : cls_(cls), runtime_(std::move(runtime)) {
    runtime_->live.insert(this);
  }
  ~ClassInstance() override {
    for (Value& f : fields) ReleaseLater(f);
    ReleaseNow();
  }
  std::string TypeName() const override { return cls_.name; }
  Value GetProperty(std::string_view name, std::span<const Value> args) override;
  void SetProperty(std::string_view name, std::span<const Value> args, const Value& value) override;
  Value Call(std::string_view name, std::span<const Value> args) override;

  const ClassDecl& cls() const { return cls_; }
  std::vector<Value> fields;
  bool terminated = false;  // Class_Terminate has run or is running

 private:
  Interpreter& In() const;
  const ClassDecl& cls_;
  std::shared_ptr<ClassRuntime> runtime_;
};

// The instance a value refers to, or null when it is no script class's.
ClassInstance* AsInstance(const Value& v);
// An instance of a class without a Default member: it has no plain value,
// so it is neither a number nor a date.
bool WithoutDefault(const Value& v);

// A new runtime for an interpreter, and its end: every instance left loses
// what it holds (so that cycles of references are freed too).
std::shared_ptr<ClassRuntime> NewClassRuntime(Interpreter* in);
void CloseClassRuntime(const std::shared_ptr<ClassRuntime>& runtime);

}  // namespace tarv::vbs
