// The functions a script can call without defining them, in tables by topic.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "services/scripthost/vbs_value.h"

namespace tarv::vbs {

class Interpreter;

using BuiltinFn = Value (*)(Interpreter&, std::span<const Value>);

struct Builtin {
  // Where a call may stand: a Sub gives no value to use (Type mismatch), a
  // conversion is no statement (an Automation type not supported).
  enum class Use : std::uint8_t { Any, Statement, Value };
  std::string_view name;  // lower case
  std::uint8_t min_args;
  std::uint8_t max_args;
  BuiltinFn fn;
  Use use = Use::Any;
};

std::span<const Builtin> TextBuiltins();
std::span<const Builtin> MathBuiltins();
std::span<const Builtin> DateBuiltins();
std::span<const Builtin> ScriptBuiltins();
std::span<const Builtin> ByteBuiltins();

// Null when no built-in has that (lower-case) name.
const Builtin* FindBuiltin(std::string_view key);

// The optional start of InStr and InStrB, read into *start (1 when absent);
// the index of the text searched.
std::size_t SearchStart(std::span<const Value> a, std::int64_t* start);

// An optional argument: absent, or written but left empty by the caller.
inline bool HasArg(std::span<const Value> a, std::size_t i) { return a.size() > i && !IsMissing(a[i]); }

}  // namespace tarv::vbs
