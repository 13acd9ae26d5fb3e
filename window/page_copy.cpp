#include "window/page_copy.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/core/run_state.h"
#include "engine/core/text_buffer.h"
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

void PagesPublish() {
  std::lock_guard lock(gCopy.mutex);
  if (sgVar.Pending != 0) VarStoreWritePending();
  gCopy.varCount = std::clamp(sgVar.Count, 0, VAR_SLOTS - 1);
  gCopy.varFill = std::clamp(sgVar.Fill, 0, VAR_POOL_SIZE);
  const size_t entries = static_cast<size_t>(gCopy.varCount) + 1;
  Take(gCopy.nameOff, sgVar.NameOff, entries);
  Take(gCopy.nameLen, sgVar.NameLen, entries);
  Take(gCopy.valOff, sgVar.ValOff, entries);
  Take(gCopy.valLen, sgVar.ValLen, entries);
  Take(gCopy.pool, sgVar.Pool, static_cast<size_t>(gCopy.varFill));
  // Bytes 0..len of the text.  What the copy holds stays below the first
  // byte an edit changed and below both lengths: only the rest is copied,
  // so that appending to a text of megabytes costs what is appended.
  const int32_t len = std::clamp(sgRun.TextLen, 0, TEXT_SIZE);
  const int32_t edited = TextTakeEdited();
  const int64_t kept =
      gCopy.published ? std::min({int64_t{edited}, int64_t{gCopy.textLen} + 1, int64_t{len} + 1}) : 0;
  gCopy.text.resize(static_cast<size_t>(len) + 1);
  std::copy(sgRun.Text.begin() + kept, sgRun.Text.begin() + len + 1, gCopy.text.begin() + kept);
  gCopy.textLen = len;
  gCopy.published = true;
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
