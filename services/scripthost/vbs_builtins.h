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
  std::string_view name;  // lower case
  std::uint8_t min_args;
  std::uint8_t max_args;
  BuiltinFn fn;
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
