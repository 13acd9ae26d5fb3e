#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "engine/log/log_sink.h"
#include "engine/util/util.h"

namespace {
std::string_view View(const char* p, int len) {
  return {p, static_cast<size_t>(std::max(len, 0))};
}
}  // namespace

int TarvMemFind4(const char* buf, int len, const char* pat, int patLen) {
  const auto b = View(buf, len);
  const auto p = View(pat, patLen);
  if (p.size() > b.size()) return -1;
  const size_t at = b.find(p);
  return at == std::string_view::npos ? -2 : static_cast<int>(at);
}

int TarvMemFindLast4(const char* buf, int len, const char* pat, int patLen) {
  const auto b = View(buf, len);
  const auto p = View(pat, patLen);
  if (p.size() > b.size()) return -1;
  const size_t at = b.rfind(p);
  return at == std::string_view::npos ? -2 : static_cast<int>(at);
}

int TarvMemReplace6(char* text, int* textLen, const char* key, int keyLen, const char* rep,
                    int repLen) {
  constexpr int kOutMax = 1022;
  const int len = *textLen;
  // An empty key would match everywhere without advancing.
  if (keyLen > len || keyLen < 1) return -1;
  if (repLen < 0) repLen = 0;
  const std::string_view k(key, keyLen);
  char work[1024];
  int out = 0;
  int count = 0;
  for (int i = 0; i < len;) {
    if (i + keyLen <= len && std::string_view(text + i, keyLen) == k) {
      if (static_cast<int64_t>(out) + repLen > kOutMax)
        return TarvReturn(-2, "TarvMemReplace6, Find Key, out len > 1022,err!");
      std::memcpy(work + out, rep, repLen);
      out += repLen;
      i += keyLen;
      count++;
    } else {
      if (out >= kOutMax) return TarvReturn(-2, "TarvMemReplace6,copy char, out len > 1022,err!");
      work[out++] = text[i++];
    }
  }
  if (count == 0) return TarvReturn(0, "TarvMemReplace6, Not find key");
  std::memcpy(text, work, out);
  *textLen = out;
  return TarvReturn(count, "TarvMemReplace6, find %d keys,ok", count);
}
