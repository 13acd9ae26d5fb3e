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

// A family kept in a shared module (engine/core/module_loader.h) because it
// needs libraries of its own: the program declares it with the rows it
// claims, so those rows reach the loader and never answer as not completed.
// The first call of one of them loads the module, registers the family
// (handlers and hooks, its reset hook run once then) and runs the statement
// as if the family had been there from the start.  A module that cannot be
// loaded fails the statement with a counted run error naming it.
struct LazyFamily {
  const char* Name;                 // the Family record's name
  const char* Module;               // the module holding it: tarv_<Module>.so
  std::span<const int32_t> Ids;     // the rows it claims
  // The family, when it is linked into the program itself (the test
  // binary): then nothing is loaded.  Null: ask the module.
  const Family* (*Linked)();
};

// Points the family's rows at the loader.  Declaring the same record again
// changes nothing.  0, or -1 when an id is outside the table or no room for
// another family is left.
int TarvDeclareLazyFamily(const LazyFamily* family);
// Loads and registers the declared family `name` unless it is loaded.
// 0, or -1 with the reason in error (room bytes).
int TarvLoadLazyFamily(const char* name, char* error, int room);
// TarvLoadLazyFamily from inside a statement: a failure is reported as the
// current statement's run error, whose code (negative) it returns.
int TarvLoadLazyFamilyInStep(const char* name);
// The handler of every row of a declared family not yet loaded.
int LazyFamilyStep();
