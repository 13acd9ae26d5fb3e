// Shared by the script host's tests: scripts as statement arguments, and a
// run of many sys.vbscript scripts whose results are collected.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tests/engine/harness.h"

namespace vbstest {

// A script as the argument of a statement line: bytes a line or an argument
// cannot hold are written as %hh.
inline std::string AsArgument(const std::string& script) {
  std::string out;
  for (char c : script) {
    if (c == '\n' || c == '\r' || c == '%' || c == '{' || c == '}' || c == '~') {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

// Runs every script as one sys.vbscript statement of a single run; result i
// is vbscript.return after script i, or "#" when the script failed.
inline std::vector<std::string> RunAll(const std::vector<std::string>& scripts, std::size_t* errors) {
  tarvtest::TempDir dir;
  std::string nms;
  for (std::size_t i = 0; i < scripts.size(); ++i) {
    // A failing script leaves vbscript.return as it was: mark it first.
    nms += "var {vbscript.return} value {#}\nsys.vbscript {" + AsArgument(scripts[i]) + "}\n";
    nms += "var {r." + std::to_string(i) + "} value {~vbscript.return~}\n";
  }
  tarvtest::Run(dir, nms);
  *errors = tarvtest::RunErrors().size();
  std::vector<std::string> out;
  for (std::size_t i = 0; i < scripts.size(); ++i) out.push_back(tarvtest::Var("r." + std::to_string(i)));
  return out;
}

}  // namespace vbstest
