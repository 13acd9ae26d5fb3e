// How a statement family joins the engine.  The engine owns the statement
// table (ids, patterns, status); a family fills the handler column of its
// rows and hooks into the engine's initialisation and the end of a run.
// Rows no family claims answer through StatementNotCompleted.
#pragma once
#include <cstdint>
#include <span>

#include "engine/core/statement_table.h"

struct FamilyHandler {
  int32_t Id;   // the row of the statement table
  Handler Fun;
};

struct Family {
  const char* Name;
  std::span<const FamilyHandler> Handlers;
  // Called by the engine's initialisation: what it zeroes for the family.
  // May be null.
  void (*Reset)();
  // Called once a run has ended, before the end-of-run report: what the
  // family closes.  May be null.
  void (*EndOfRun)();
};

inline constexpr int MAX_FAMILIES = 32;

// Puts the family's handlers into the table and keeps its hooks.  Registering
// the same family again changes nothing.  0, or -1 when a handler's id is
// outside the table or no room for another family is left.
int TarvRegisterFamily(const Family* family);
// The hooks of every registered family, in the order they registered.
void TarvFamiliesReset();
void TarvFamiliesEndOfRun();
