// The face that objects show to scripts (CDO.Message, Excel.Application and the
// like), and the factory through which CreateObject makes them.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "services/scripthost/vbs_value.h"

namespace tarv::vbs {

// Member names arrive as the script spelled them; objects compare them without
// regard to case (EqualsNoCase). An empty name is the default member. A member
// an object lacks is answered by throwing a ScriptError built with
// ThrowRuntime(kErrNoSuchMember).
class Object {
 public:
  virtual ~Object() = default;

  // The class name that TypeName shows.
  virtual std::string TypeName() const = 0;

  // obj.Name, written without an argument list.
  virtual Value GetProperty(std::string_view name, std::span<const Value> args) = 0;

  // obj.Name = value, and obj.Name(args) = value.
  virtual void SetProperty(std::string_view name, std::span<const Value> args,
                           const Value& value) = 0;

  // obj.Name(args): a method, or a property that takes arguments.
  virtual Value Call(std::string_view name, std::span<const Value> args) = 0;

  // The elements For Each walks; false when the object is no collection.
  virtual bool Enumerate(std::vector<Value>& out) {
    (void)out;
    return false;
  }

  // True when no member of the object runs script code: a caller may then
  // reach it through the variable that holds it, without a reference of its
  // own, while nothing else runs.
  virtual bool Inert() const { return false; }

  // At the end of the run that made it: lets go of every script value the
  // object holds, so that objects holding one another (a cycle) no longer
  // keep each other alive.
  virtual void GiveUpValues() {}
};

// What CreateObject may make. A run without a factory can create nothing.
class ObjectFactory {
 public:
  virtual ~ObjectFactory() = default;
  // Null when no class of that name is known.
  virtual std::shared_ptr<Object> Create(std::string_view prog_id) = 0;
};

}  // namespace tarv::vbs
