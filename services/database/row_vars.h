// Result rows turned into script variables.  A row whose variable the store
// refuses (full, or a name or value too long) is finished, and then it is the
// statement's one run error: no later row becomes variables, so a select of
// many rows cannot meet thousands of refusals, each a counted error and a
// pause.
#pragma once
#include <string>
#include <string_view>

class RowVars {
 public:
  // The run error reads `before` NAME `after`, then how many rows were kept.
  RowVars(const char* before, const char* after) : before_(before), after_(after) {}

  // Sets one variable of the current row.
  void Set(std::string_view name, std::string_view value);
  // Ends the row: false when a variable of it was refused (the run error is
  // recorded then) and no further row is to be turned into variables.
  bool EndRow();
  // Rows whose every variable was set.
  int Kept() const { return kept_; }
  bool Stopped() const { return !refused_.empty(); }

 private:
  const char* before_;
  const char* after_;
  std::string refused_;  // the first refused name of the current row
  int kept_ = 0;
};
