// Shared modules: the parts of the program whose libraries are loaded only
// when a script first needs them.  Module NAME is the file tarv_NAME.so in
// the folder `modules` beside the program, else in `../lib/tarv/modules`
// from the program's folder (an installed tree), else in the folder the build
// put it in; it takes the engine's symbols from the program.
#pragma once

// Opens module `name` (once; later calls return the same handle).  Null when
// it cannot be loaded, with the reason (the module's file and the loader's
// words) in error (room bytes).
void* TarvOpenModule(const char* name, char* error, int room);
// The address of `symbol` in an opened module, or null.
void* TarvModuleSymbol(void* module, const char* symbol);
