// Shared by the script host's tests: scripts as statement arguments, and a
// run of many sys.vbscript scripts whose results are collected.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "services/scripthost/script_host.h"
#include "tests/engine/harness.h"
#include "tests/services/binary_run.h"
#include "tests/services/case_rows.h"

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

// The rows of scripts/NAME (see case_rows.h).
inline std::vector<std::vector<std::string>> LoadRows(const std::string& file) {
  return tarvtest::LoadRows("services/scripthost/scripts/" + file);
}

// Script cases kept as data in scripts/NAME.cases. A case opens with "@ name"
// (the lines are the body of TarvMain) or "@@ name" (the lines are a whole
// script) and closes with "= expected" (a bare "=" for an empty result): the
// result text, or "#n line l" for a failure with error number n on line l
// ("#n line l column c" where the column counts too).
struct ScriptCase {
  std::string name, script, expected;
};

inline std::vector<ScriptCase> LoadCases(const std::string& file) {
  std::istringstream in(tarvtest::ReadFile(std::string(TARV_SOURCE_DIR) + "/tests/services/scripthost/scripts/" + file));
  std::vector<ScriptCase> cases;
  std::string line, body;
  bool whole = false;
  while (std::getline(in, line)) {
    if (line.starts_with("@")) {
      whole = line.starts_with("@@");
      cases.push_back({line.substr(std::min(line.find_first_not_of("@ "), line.size())), "", ""});
      body.clear();
    } else if (line.starts_with("=") && !cases.empty()) {
      cases.back().script = whole ? body : "Function TarvMain()\n" + body + "End Function\n";
      cases.back().expected = line.size() > 2 ? line.substr(2) : "";
    } else {
      body += line + "\n";
    }
  }
  return cases;
}

// The script with every "@DIR" made the folder.
inline std::string InFolder(std::string script, const tarvtest::TempDir& dir) {
  for (std::size_t at = script.find("@DIR"); at != std::string::npos; at = script.find("@DIR", at))
    script.replace(at, 4, dir.path().string());
  return script;
}

// Runs every case of a file through the host and then as sys.vbscript
// statements of one run, where a failure leaves "#" in vbscript.return; each
// of the two has a folder of its own for "@DIR".
inline void CheckCases(const std::string& file) {
  const std::vector<ScriptCase> cases = LoadCases(file);
  ASSERT_FALSE(cases.empty()) << file;
  const tarvtest::TempDir host_dir, run_dir;
  std::vector<std::string> scripts;
  std::size_t failures = 0;
  for (const ScriptCase& c : cases) {
    SCOPED_TRACE(c.name + "\n" + c.script);
    const tarv::scripthost::UserOutcome out = tarv::scripthost::RunUserScript(InFolder(c.script, host_dir), std::nullopt);
    std::string got = out.ok ? out.text : "#" + std::to_string(out.error.number) + " line " + std::to_string(out.error.line);
    if (!out.ok && c.expected.find(" column ") != std::string::npos) got += " column " + std::to_string(out.error.column);
    // Only the 1000s are found before the script runs.
    if (!out.ok) {
      EXPECT_EQ(out.error.compile, out.error.number >= 1000 && out.error.number < 2000);
    }
    EXPECT_EQ(got, c.expected);
    scripts.push_back(InFolder(c.script, run_dir));
    failures += c.expected.starts_with("#");
  }
  std::size_t errors = 0;
  const std::vector<std::string> got = RunAll(scripts, &errors);
  EXPECT_EQ(errors, failures);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(got[i], cases[i].expected.starts_with("#") ? "#" : cases[i].expected) << cases[i].name << "\n" << scripts[i];
  }
}

// The cases of a file whose name starts with `topic`, each run as a
// sys.vbscript statement of one run of the built program. A failure is read
// from the run error the statement reports ("#n line l"); one found before
// TarvMain runs is left to the step's guard, which names no number: it reads
// as a bare "#", and so does such a case's expected failure.
inline void CheckCasesInBinary(const std::string& file, const std::string& topic) {
  std::vector<ScriptCase> cases;
  for (ScriptCase& c : LoadCases(file)) {
    if (c.name.starts_with(topic)) cases.push_back(std::move(c));
  }
  ASSERT_FALSE(cases.empty()) << file << ": " << topic;
  const tarvtest::TempDir dir;
  constexpr char kEnd = '\x1e';  // between the records of the cases
  std::string nms;
  std::size_t failures = 0;
  for (const ScriptCase& c : cases) {
    nms += "var {vbscript.return} value {#}\nsys.vbscript {" + AsArgument(InFolder(c.script, dir)) + "}\n";
    nms += "text.add {~run.errors~|~vbscript.return~%1E}\n";
    failures += c.expected.starts_with("#");
  }
  for (std::size_t k = 1; k <= failures; ++k) nms += "text.add {~run.error." + std::to_string(k) + "~%1E}\n";
  std::vector<std::string> records;
  std::istringstream saved(tarvtest::RunSaved(dir, "cases.nms", nms));
  for (std::string r; std::getline(saved, r, kEnd);) records.push_back(r);
  ASSERT_EQ(records.size(), cases.size() + failures) << "every case and every error is saved";
  std::size_t errors = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const ScriptCase& c = cases[i];
    const std::string& r = records[i];
    const std::size_t bar = r.find('|');
    ASSERT_NE(bar, std::string::npos) << r;
    std::string got = r.substr(bar + 1);
    if (std::stoul(r.substr(0, bar)) > errors) {
      // "... COM Error:{ Line 3,Column 14,... GetNumber:13}."
      errors = std::stoul(r.substr(0, bar));
      const std::string e = errors <= failures ? records[cases.size() + errors - 1] : "";
      const std::size_t line = e.find("COM Error:{ Line "), column = e.find(",Column "), number = e.find("GetNumber:");
      got = "#";
      if (line != std::string::npos && column != std::string::npos && number != std::string::npos) {
        got += std::to_string(std::stol(e.substr(number + 10))) + " line " + std::to_string(std::stol(e.substr(line + 17)));
        if (c.expected.find(" column ") != std::string::npos) got += " column " + std::to_string(std::stol(e.substr(column + 8)));
      }
    }
    const bool before_main = c.expected.starts_with("#1") && c.expected.size() > 5 && c.expected[5] == ' ';
    EXPECT_EQ(got, before_main ? "#" : c.expected) << c.name << "\n" << c.script;
  }
  EXPECT_EQ(errors, failures);
}

}  // namespace vbstest
