#include "services/database/row_vars.h"

#include <algorithm>
#include <cstdint>

#include "engine/core/var_store.h"
#include "engine/log/log.h"

namespace {
// A length as the store takes it: anything past its limits stays past them.
int Len(std::string_view s) { return static_cast<int>(std::min<uint64_t>(s.size(), INT32_MAX)); }
}  // namespace

void RowVars::Set(std::string_view name, std::string_view value) {
  if (TarvSetVar4(name.data(), Len(name), value.data(), Len(value)) < 0 && refused_.empty())
    refused_ = name;
}

bool RowVars::EndRow() {
  if (refused_.empty()) {
    kept_++;
    return true;
  }
  NmsRunError(-10, "%s%s%s %d rows kept, later rows dropped.", before_, refused_.c_str(), after_,
              kept_);
  return false;
}
