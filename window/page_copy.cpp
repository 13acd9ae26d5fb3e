#include "window/page_copy.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/core/run_state.h"
#include "engine/core/var_store.h"

namespace {

// Sized by what the run uses, within the store's and the buffer's limits.
struct Copy {
  std::mutex mutex;
  bool published = false;
  int32_t varCount = 0, varFill = 0, textLen = 0;
  std::vector<int32_t> nameOff, nameLen, valOff, valLen;
  std::vector<char> pool, text;
};
Copy gCopy;

template <typename T, size_t N>
void Take(std::vector<T>& to, const std::array<T, N>& from, size_t n) {
  to.assign(from.begin(), from.begin() + static_cast<std::ptrdiff_t>(std::min(n, N)));
}

}  // namespace

void PagesPublish(bool mayWait) {
  std::unique_lock lock(gCopy.mutex, std::defer_lock);
  if (mayWait)
    lock.lock();
  else if (!lock.try_lock())
    return;
  if (sgVar.Pending != 0) VarStoreWritePending();
  gCopy.varCount = std::clamp(sgVar.Count, 0, VAR_SLOTS - 1);
  gCopy.varFill = std::clamp(sgVar.Fill, 0, VAR_POOL_SIZE);
  const size_t entries = static_cast<size_t>(gCopy.varCount) + 1;
  Take(gCopy.nameOff, sgVar.NameOff, entries);
  Take(gCopy.nameLen, sgVar.NameLen, entries);
  Take(gCopy.valOff, sgVar.ValOff, entries);
  Take(gCopy.valLen, sgVar.ValLen, entries);
  Take(gCopy.pool, sgVar.Pool, static_cast<size_t>(gCopy.varFill));
  gCopy.textLen = std::clamp(sgRun.TextLen, 0, TEXT_SIZE);
  Take(gCopy.text, sgRun.Text, static_cast<size_t>(gCopy.textLen) + 1);
  gCopy.published = true;
}

void PagesAfterStep(bool frame) {
  constexpr int64_t kSmallCopy = 64 * 1024;
  const int64_t bytes = int64_t{std::clamp(sgVar.Count, 0, VAR_SLOTS - 1)} * 16 +
                        std::clamp(sgVar.Fill, 0, VAR_POOL_SIZE) + std::clamp(sgRun.TextLen, 0, TEXT_SIZE);
  if (frame || bytes <= kSmallCopy) PagesPublish(false);
}

void PagesReset() {
  std::lock_guard lock(gCopy.mutex);
  gCopy.published = false;
  gCopy.nameOff.clear(), gCopy.nameLen.clear(), gCopy.valOff.clear(), gCopy.valLen.clear();
  gCopy.pool.clear(), gCopy.text.clear();
  gCopy.pool.shrink_to_fit(), gCopy.text.shrink_to_fit();
}

void PagesShow(const std::function<void(const PageSource&)>& show) {
  std::lock_guard lock(gCopy.mutex);
  if (!gCopy.published) {
    show(LivePageSource());
    return;
  }
  show({gCopy.varCount, gCopy.varFill, gCopy.nameOff.data(), gCopy.nameLen.data(), gCopy.valOff.data(),
        gCopy.valLen.data(), gCopy.pool.data(), static_cast<int64_t>(gCopy.pool.size()), gCopy.textLen,
        gCopy.text.data()});
}
