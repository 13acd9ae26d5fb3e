#include "engine/core/family.h"

#include <array>

namespace {
std::array<const Family*, MAX_FAMILIES> gFamilies{};
int gFamilyCount = 0;
}  // namespace

int TarvRegisterFamily(const Family* family) {
  for (int i = 0; i < gFamilyCount; i++)
    if (gFamilies[i] == family) return 0;
  if (gFamilyCount >= MAX_FAMILIES) return -1;
  for (const FamilyHandler& h : family->Handlers)
    if (h.Id < 1 || h.Id >= MAX_FUN || h.Fun == nullptr) return -1;
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
