// Tables of cases kept as data: tab-separated rows of a file under tests/,
// "#" lines and blank lines left out.  In a field "\n", "\r", "\t", "\\" and
// "\xHH" stand for the bytes they name.
#pragma once
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/engine/harness.h"

namespace tarvtest {

inline std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    if (c == 'x' && i + 2 < s.size()) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
  }
  return out;
}

inline std::vector<std::vector<std::string>> LoadRows(const std::string& file) {
  std::istringstream in(ReadFile(std::string(TARV_SOURCE_DIR) + "/tests/" + file));
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line.starts_with("#")) continue;
    rows.emplace_back();
    std::istringstream fields(line);
    for (std::string f; std::getline(fields, f, '\t');) rows.back().push_back(Unescape(f));
    if (line.ends_with('\t')) rows.back().push_back("");
  }
  EXPECT_FALSE(rows.empty()) << file;
  return rows;
}

}  // namespace tarvtest
