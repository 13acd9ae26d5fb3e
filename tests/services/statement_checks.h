// Statement lines and what each answers, kept as data beside a family's
// tests and run by one runner: every case in a fresh run of its own.
//
// A case is a block of script lines ended by a blank line, followed by
//   "= N"      the result of the case's last line (left out: not checked)
//   "! text"   each run error in order (none: the run must have none)
// "# ..." lines are comments.  "<<N*abc>>" stands for abc repeated to N
// bytes, and an error is unescaped as a field of case_rows.h is.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/engine/harness.h"
#include "tests/services/case_rows.h"

namespace tarvtest {

// The text with each "<<N*abc>>" expanded.
inline std::string ExpandCheckText(std::string s) {
  static const std::regex repeat("<<([0-9]+)\\*([^>]+)>>");
  std::smatch m;
  while (std::regex_search(s, m, repeat)) {
    std::string run;
    for (size_t i = 0; i < std::stoul(m[1]); i++) run += m[2].str()[i % m[2].length()];
    s.replace(m.position(0), m.length(0), run);
  }
  return s;
}

// The values of script variables, joined by "|".
inline std::string Vars(std::initializer_list<const char*> names) {
  std::string out;
  for (const char* n : names) out += Var(n) + "|";
  return out.substr(0, out.size() - 1);
}

// Runs the cases of tests/<file>; `after` checks what each run left.
inline void RunChecks(const std::string& file, const std::function<void()>& after = {},
                      const std::string& mode = "hide") {
  struct Case {
    std::string script;
    int lines = 0;
    bool coded = false;
    int code = 0;
    std::vector<std::string> errors;
  };
  std::vector<Case> cases(1);
  std::istringstream in(ReadFile(std::string(TARV_SOURCE_DIR) + "/tests/" + file));
  for (std::string line; std::getline(in, line);) {
    Case& c = cases.back();
    if (line.empty()) {
      if (c.lines > 0) cases.emplace_back();
    } else if (line.starts_with("= ")) {
      c.coded = true;
      c.code = std::stoi(line.substr(2));
    } else if (line.starts_with("! ")) {
      c.errors.push_back(Unescape(ExpandCheckText(line.substr(2))));
    } else if (!line.starts_with("#")) {
      c.script += ExpandCheckText(line) + "\n";
      c.lines++;
    }
  }
  if (cases.back().lines == 0) cases.pop_back();
  ASSERT_FALSE(cases.empty()) << file;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script.substr(0, 200));
    TempDir dir;
    const Outcome o = RunCase(dir, c.script, {}, mode);
    if (c.coded) {
      EXPECT_EQ(o.Code(c.lines), c.code);
    }
    EXPECT_EQ(o.errors, c.errors);
    if (after) after();
  }
}

}  // namespace tarvtest
