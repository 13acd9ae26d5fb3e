#include "engine/core/family.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "engine/core/handler.h"
#include "engine/core/handlers.h"
#include "engine/core/module_loader.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/log/reporters.h"

namespace {
std::array<const Family*, MAX_FAMILIES> gFamilies{};
int gFamilyCount = 0;

struct Declared {
  const LazyFamily* Lazy;
  const Family* Loaded;  // null until loaded
};
std::array<Declared, MAX_FAMILIES> gLazy{};
int gLazyCount = 0;

// The code of a statement whose module cannot be loaded.
constexpr int kModuleMissing = -98;
// The reason a module failed, short enough for a run error's message.
constexpr int kReasonRoom = 900;

bool IdsFit(std::span<const FamilyHandler> handlers) {
  for (const FamilyHandler& h : handlers)
    if (h.Id < 1 || h.Id >= MAX_FUN || h.Fun == nullptr) return false;
  return true;
}

bool Registered(const Family* family) {
  for (int i = 0; i < gFamilyCount; i++)
    if (gFamilies[i] == family) return true;
  return false;
}

Declared* FindLazy(const char* name) {
  for (int i = 0; i < gLazyCount; i++)
    if (std::strcmp(gLazy[i].Lazy->Name, name) == 0) return &gLazy[i];
  return nullptr;
}

Declared* LazyOfRow(int id) {
  for (int i = 0; i < gLazyCount; i++)
    for (int32_t row : gLazy[i].Lazy->Ids)
      if (row == id) return &gLazy[i];
  return nullptr;
}

// The family of a declared record: linked in, or from its module.
const Family* Fetch(const LazyFamily& lazy, char* error, int room) {
  if (lazy.Linked) return lazy.Linked();
  char why[700];
  void* module = TarvOpenModule(lazy.Module, why, sizeof why);
  const auto entry =
      module ? reinterpret_cast<const Family* (*)()>(TarvModuleSymbol(module, "TarvModuleFamily")) : nullptr;
  const Family* family = entry ? entry() : nullptr;
  if (!module) {
    std::snprintf(error, room, "The module [tarv_%s.so] cannot be loaded: %s", lazy.Module, why);
  } else if (!family || std::strcmp(family->Name, lazy.Name) != 0) {
    std::snprintf(error, room, "The module [tarv_%s.so] does not hold the family [%s].", lazy.Module,
                  lazy.Name);
    return nullptr;
  }
  return family;
}

// The statement row of the current line, or -1.
int CurrentRow() {
  const int line = sgRun.CurLine;
  const int id = line >= 0 && line < MAXWORDS ? sgNms.FunID[line] : -1;
  return id >= 0 && id < MAX_FUN ? id : -1;
}
}  // namespace

int TarvRegisterFamily(const Family* family) {
  if (Registered(family)) return 0;
  if (gFamilyCount >= MAX_FAMILIES || !IdsFit(family->Handlers)) return -1;
  for (const FamilyHandler& h : family->Handlers) sgFun[h.Id].Fun = h.Fun;
  gFamilies[gFamilyCount++] = family;
  return 0;
}

void TarvFamiliesReset() {
  for (int i = 0; i < gFamilyCount; i++)
    if (gFamilies[i]->Reset) gFamilies[i]->Reset();
}

void TarvFamiliesEndOfRun() {
  for (int i = 0; i < gFamilyCount; i++)
    if (gFamilies[i]->EndOfRun) gFamilies[i]->EndOfRun();
}

int TarvDeclareLazyFamily(const LazyFamily* family) {
  for (int i = 0; i < gLazyCount; i++)
    if (gLazy[i].Lazy == family) return 0;
  if (gLazyCount >= MAX_FAMILIES) return -1;
  for (int32_t id : family->Ids)
    if (id < 1 || id >= MAX_FUN) return -1;
  for (int32_t id : family->Ids) sgFun[id].Fun = LazyFamilyStep;
  gLazy[gLazyCount++] = {family, nullptr};
  return 0;
}

int TarvLoadLazyFamily(const char* name, char* error, int room) {
  Declared* d = FindLazy(name);
  if (!d) {
    std::snprintf(error, room, "No family [%s] is declared.", name);
    return -1;
  }
  if (d->Loaded) return 0;
  const Family* family = Fetch(*d->Lazy, error, room);
  if (!family) return -1;
  if (gFamilyCount >= MAX_FAMILIES || !IdsFit(family->Handlers)) {
    std::snprintf(error, room, "The family [%s] cannot be registered.", name);
    return -1;
  }
  // Only rows still waiting for the family take its handlers: a row given
  // another handler meanwhile keeps it.
  for (const FamilyHandler& h : family->Handlers)
    if (sgFun[h.Id].Fun == LazyFamilyStep) sgFun[h.Id].Fun = h.Fun;
  if (!Registered(family)) {
    gFamilies[gFamilyCount++] = family;
    // What the engine's initialisation would have done had it been there.
    if (family->Reset) family->Reset();
  }
  d->Loaded = family;
  return 0;
}

int TarvLoadLazyFamilyInStep(const char* name) {
  char error[kReasonRoom];
  if (TarvLoadLazyFamily(name, error, sizeof error) == 0) return 0;
  const int id = CurrentRow();
  return NmsRunError(kModuleMissing, "%s:%s", id >= 0 ? sgFun[id].Name : "statement", error);
}

int LazyFamilyStep() {
  const int id = CurrentRow();
  const Declared* d = LazyOfRow(id);
  if (!d) return StatementNotCompleted();
  char error[kReasonRoom];
  if (TarvLoadLazyFamily(d->Lazy->Name, error, sizeof error) < 0) {
    HandlerBegin();
    return NmsRunError(kModuleMissing, "%s:%s", HandlerName(), error);
  }
  for (const FamilyHandler& h : d->Loaded->Handlers)
    if (h.Id == id) return h.Fun();
  return StatementNotCompleted();
}
