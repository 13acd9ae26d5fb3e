// The one list of the statement families the program is made of.
#pragma once

#include <span>

#include "engine/core/family.h"

// Registers the families built into the program and declares those kept in
// modules, loaded on first use; calling it again changes nothing.
void TarvRegisterFamilies();
// The families kept in modules, as declared.
std::span<const LazyFamily> TarvLazyFamilies();
// Loads the window's module and serves the window until it is closed (every
// mode but hide): the process's exit code, 1 when the window cannot be
// loaded or no display opened.
int TarvWindowMain();
