// The statement table.
#pragma once
#include <array>
#include <cstdint>

inline constexpr int MAX_FUN = 181;

using Handler = int (*)();

struct FunRow {
  int32_t Id;
  int32_t Status;   // 1 finished, 0 not completed, -1 in development
  int32_t Group;
  int32_t Words;    // derived from the pattern at compile time
  int32_t Length;   // pattern bytes, likewise
  Handler Fun;
  const char* Pattern;
  const char* Name;  // the handler's name, as its begin and return lines show it
};

// Not const: tests put probe handlers into rows.
extern std::array<FunRow, MAX_FUN> sgFun;
