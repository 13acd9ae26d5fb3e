#include "engine/core/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/os_info.h"

namespace {
// The path of module `name` in `dir`; false when it does not fit.
bool ModulePath(const char* dir, const char* name, char* dest, int room) {
  const int n = std::snprintf(dest, room, "%s/tarv_%s.so", dir, name);
  return n > 0 && n < room;
}

// The folder of the running program, or "" when it cannot be read.
void ProgramDir(char* dest, int room) {
  dest[0] = 0;
  if (ProgramPath(dest, room) < 0) return;
  char* slash = std::strrchr(dest, '/');
  if (slash) *slash = 0;
}

void* Open(const char* path, char* error, int room) {
  // Every symbol now, so that a module missing one fails here and not in
  // the middle of a statement.
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    std::snprintf(error, room, "%s", why ? why : path);
  }
  return handle;
}
}  // namespace

void* TarvOpenModule(const char* name, char* error, int room) {
  char dir[1024];
  ProgramDir(dir, sizeof dir);
  // Only folders found from the program itself: a folder named at build time
  // may be gone, and then anyone who re-creates it would choose the code an
  // installed program runs.
  char beside[1024 + 64];
  std::snprintf(beside, sizeof beside, "%s/modules", dir);
  // Where `cmake --install` puts them: PREFIX/bin/tarv, PREFIX/lib/tarv/modules.
  char installed[1024 + 64];
  std::snprintf(installed, sizeof installed, "%s/../lib/tarv/modules", dir);
  const char* const dirs[] = {beside, installed};
  // The first folder that holds the module's file is the one used: a module
  // there that fails to load is reported, not passed over.
  char path[1024 + 128];
  for (const char* d : dirs)
    if (ModulePath(d, name, path, sizeof path) && access(path, F_OK) == 0) return Open(path, error, room);
  std::snprintf(error, room, "tarv_%s.so is in neither %s nor %s", name, beside, installed);
  return nullptr;
}

void* TarvModuleSymbol(void* module, const char* symbol) { return dlsym(module, symbol); }
