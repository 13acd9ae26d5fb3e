// The objects a user's script can create: Scripting.Dictionary,
// Scripting.FileSystemObject (text files and folders) and VBScript.RegExp.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "services/scripthost/vbs_object.h"

namespace tarv::vbs {

class Interpreter;

// Base of the built-in objects: a property read with arguments, or with
// none, is the member of that name; setting is refused unless overridden.
class BuiltinObject : public Object {
 public:
  Value GetProperty(std::string_view name, std::span<const Value> args) override {
    return Call(name, args);
  }
  void SetProperty(std::string_view, std::span<const Value>, const Value&) override {
    ThrowRuntime(kErrNoSuchMember);
  }
};

// Throws "Wrong number of arguments" unless lo <= args.size() <= hi.
void ArgCount(std::span<const Value> args, std::size_t lo, std::size_t hi);

// A read-only list that For Each walks, with Count and Item(i) from 0 (Item
// the default member); `type_name` is what TypeName shows.
std::shared_ptr<Object> NewCollection(std::string type_name, std::vector<Value> items);

std::shared_ptr<Object> NewDictionary();
std::shared_ptr<Object> NewFileSystem(const Interpreter* in);
std::shared_ptr<Object> NewRegExp(const Interpreter* in);

class StandardObjects : public ObjectFactory {
 public:
  // `in` is asked for the time limit inside long operations; may be null.
  explicit StandardObjects(const Interpreter* in = nullptr) : in_(in) {}
  void SetInterpreter(const Interpreter* in) { in_ = in; }
  std::shared_ptr<Object> Create(std::string_view prog_id) override;

 private:
  const Interpreter* in_;
};

}  // namespace tarv::vbs
