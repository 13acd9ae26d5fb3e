#include "window/output_pane.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/core/observer.h"
#include "engine/core/run_state.h"
#include "engine/core/var_store.h"
#include "engine/tools/listings.h"
#include "window/window_state.h"

namespace {

std::atomic<const EditTarget*> gTarget{nullptr};

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at s (n bytes left) and its code
// point, or 0 when the bytes there are no valid sequence.
int DecodeUtf8(const unsigned char* s, int n, uint32_t* cp) {
  const unsigned char c = s[0];
  int len;
  uint32_t v;
  uint32_t min;
  if (c < 0x80) {
    *cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    len = 2, v = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, v = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, v = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (len > n) return 0;
  for (int i = 1; i < len; i++) {
    if (!IsContinuation(s[i])) return 0;
    v = (v << 6) | (s[i] & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return len;
}

// Appends the masked text in the edit's form; counts and clears as the
// pane does for every append.
void AppendMasked(const char* masked) {
  const EditTarget* target = gTarget.load();
  if (target == nullptr) return;
  if (sgWin.editChars.load() > EDIT_CLEAR_UNITS) {
    target->Clear();
    sgWin.editChars = 0;
  }
  // Kept between appends: each thread that appends reuses its room.
  thread_local std::string text;
  sgWin.editChars += EditText(masked, text);
  if (!text.empty()) target->Append(text.data(), static_cast<int>(text.size()));
}

void AppendBytes(const char* bytes, int len) {
  char masked[EDIT_BUFFER];
  EditMaskBytes(bytes, len, masked);
  AppendMasked(masked);
}

bool Hidden() {
  return gTarget.load() == nullptr ||
         std::atomic_ref<int32_t>(sgRun.RunMode).load(std::memory_order_relaxed) == RUNMODE_HIDE;
}

// An entry's bytes cut to what the page shows, read within the pool.
void CopyPoolText(const PageSource& from, int32_t offset, int32_t length, char* dest, int room) {
  std::memset(dest, 0, room);
  const int64_t off = std::clamp<int64_t>(offset, 0, from.poolSize);
  const int64_t len = std::clamp<int64_t>(length, 0, std::min<int64_t>(room - 1, from.poolSize - off));
  std::memcpy(dest, from.pool + off, static_cast<size_t>(len));
}

void DisplayVarPage(const PageSource& from) {
  constexpr int kEntry = 1124;
  const int32_t count = std::clamp(from.varCount, 0, VAR_SLOTS - 1);
  const PageRange r = ComputePageRange(sgWin.displayPage.load(), count, VAR_PAGE_SIZE);
  sgWin.displayPage = r.page;
  ScreenPrintf("Var: Count=%d,Total %d bytes. Page = %d, Range:  %d - %d .", count, from.varFill,
               r.page, r.start, r.last);
  ScreenPrintf("\r\nindex  Name      Value");
  ScreenPrintf("\r\n----- ------------------ ---------------------------------------------");
  char text[kEntry];
  for (int32_t i = std::max(r.start, 0); i <= r.last; i++) {
    CopyPoolText(from, from.nameOff[i], from.nameLen[i], text, kEntry);
    ScreenPrintf("\r\n%4d %s=", i, text);
    CopyPoolText(from, from.valOff[i], from.valLen[i], text, kEntry);
    ScreenPrintf("[%s]", text);
  }
}

}  // namespace

void EditSetTarget(const EditTarget* target) { gTarget = target; }

int EditMaskBytes(const char* text, int len, char* dest) {
  std::memset(dest, 0, EDIT_BUFFER);
  const int n = (text == nullptr || len <= 0) ? 0 : std::min(len, EDIT_APPEND_MAX);
  for (int i = 0; i < n; i++) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool kept = c >= 0x80 || c == '\r' || c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7F);
    dest[i] = kept ? static_cast<char>(c) : '*';
  }
  return n;
}

int EditText(const char* masked, std::string& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(masked);
  const int n = static_cast<int>(std::strlen(masked));
  int units = 1;
  out.clear();
  for (int i = 0; i < n;) {
    // Plain ASCII but CR goes over as it is, a unit a byte.
    int run = i;
    while (run < n && s[run] < 0x80 && s[run] != '\r') run++;
    if (run > i) {
      out.append(masked + i, static_cast<size_t>(run - i));
      units += run - i;
      i = run;
      continue;
    }
    uint32_t cp = 0;
    const int len = DecodeUtf8(s + i, n - i, &cp);
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      units++;
      i++;
      continue;
    }
    units += cp >= 0x10000 ? 2 : 1;
    if (cp == '\r') {
      out += '\n';
      if (i + 1 < n && s[i + 1] == '\n') {
        units++;
        i++;
      }
    } else {
      out.append(masked + i, len);
    }
    i += len;
  }
  return units;
}

void EditAppend(const char* text, int len) {
  if (Hidden()) return;
  AppendBytes(text, len);
}

void EditLog(const char* text, int len) {
  if (sgWin.displayType.load() == ID_SHOW_LOG) EditAppend(text, len);
}

void EditClear() {
  const EditTarget* target = gTarget.load();
  if (target != nullptr) target->Clear();
}

PageRange ComputePageRange(int32_t page, int32_t count, int32_t size) {
  int64_t first;
  int64_t last;
  if (page < 1) {
    page = 0;
    first = 1;
    last = size;
  } else if (page == PAGE_LAST) {
    first = static_cast<int64_t>(count) - size;
    last = count;
    page = count / size;
  } else {
    first = static_cast<int64_t>(page) * size;
    last = first + size;
  }
  first = std::max<int64_t>(first, 1);
  last = std::min<int64_t>(last, count);
  const int64_t start = std::min(first, last);
  return {static_cast<int32_t>(std::min<int64_t>(first, INT32_MAX)), static_cast<int32_t>(last),
          static_cast<int32_t>(start), page};
}

PageSource LivePageSource() {
  return {sgVar.Count,          sgVar.Fill,          sgVar.NameOff.data(), sgVar.NameLen.data(),
          sgVar.ValOff.data(),  sgVar.ValLen.data(), sgVar.Pool.data(),    VAR_POOL_SIZE,
          sgRun.TextLen,        sgRun.Text.data()};
}

void DisplayTextPage(const PageSource& from) {
  const int32_t textLen = std::clamp(from.textLen, 0, TEXT_SIZE);
  const PageRange r = ComputePageRange(sgWin.displayPage.load(), textLen, TEXT_PAGE_SIZE);
  sgWin.displayPage = r.page;
  ScreenPrintf("Text : Total %d bytes. Page = %d, Bytes:  %d - %d .\r\n", textLen, r.page, r.start,
               r.last);
  // Position 0 holds no data; an empty text thus shows its single zero byte.
  for (int64_t pos = std::max(r.start, 0); pos <= r.last; pos += TEXT_PAGE_CHUNK) {
    const int64_t take = std::min<int64_t>(TEXT_PAGE_CHUNK, r.last - pos + 1);
    AppendBytes(from.text + pos, static_cast<int>(take));
  }
}

void DisplayPage(const PageSource& from) {
  if (Hidden()) return;
  EditClear();
  const int32_t type = sgWin.displayType.load();
  const int32_t page = sgWin.displayPage.load();
  switch (type) {
    case ID_SHOW_SENTENCE:
      ScreenPrintf("Display Function List,Type = %d , Byte = %d .\r\n", type, page);
      NmsShowStatements();
      break;
    case ID_SHOW_TEXT:
      ScreenPrintf("Display Text: Type = %d, Page = %d .\r\n", type, page);
      DisplayTextPage(from);
      break;
    case ID_SHOW_VAR:
      ScreenPrintf("Display Var: Type = %d, Page = %d .\r\n", type, page);
      DisplayVarPage(from);
      break;
    case ID_SHOW_LOG:
      ScreenPrintf("Display Log,Type = %d, Byte = %d .\r\n", type, page);
      break;
    case ID_SHOW_SCRIPT:
      ScreenPrintf("Display Script,Type = %d, Byte = %d .\r\n", type, page);
      NmsShowScript();
      break;
    default:
      break;
  }
}

void PageCommand(int id, const PageSource& from) {
  switch (id) {
    case ID_PAGE_FIRST: sgWin.displayPage = 0; break;
    case ID_PAGE_NEXT: sgWin.displayPage++; break;
    case ID_PAGE_PREV: sgWin.displayPage--; break;
    case ID_PAGE_LAST: sgWin.displayPage = PAGE_LAST; break;
    case ID_SHOW_CLEAR:
      EditClear();
      sgWin.displayType = ID_SHOW_CLEAR;
      sgWin.displayPage = 0;
      return;
    default:
      if (id < ID_SHOW_SENTENCE || id > ID_SHOW_SCRIPT) return;
      sgWin.displayPage = 0;
      sgWin.displayType = id;
      break;
  }
  DisplayPage(from);
}
