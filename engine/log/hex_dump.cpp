// Hex dumps of received and sent data into the debug log.
#include "engine/log/hex_dump.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/log/log_sink.h"

namespace {

constexpr int kChunk = 120;        // HexLog: bytes per chunk
constexpr int kChunkRow = 120;     // HexLog: row width for chunks that fit it
constexpr int kSentMax = 64;       // HexLogSent: bytes shown
constexpr int kSentRow = 80;       // HexLogSent: row width
constexpr int kLabelMax = 24;      // a label with a 10-digit offset
constexpr int kRowMax = kLabelMax + kChunk + 2;
constexpr char kDigits[] = "0123456789ABCDEF";
constexpr char kLowerDigits[] = "0123456789abcdef";

// Three blank-filled rows of one width, each ending in a newline, laid out
// so that byte k of the data stands in the same column in every row.
struct DumpArea {
  char text[3 * kRowMax + 1];
  int width = 0;
  int label = 0;  // column of the first data byte

  char* Row(int r) { return text + r * width; }

  // offsetOpen/offsetClose frame the third row's label ("[" "]" or "<" ">"),
  // digitsOpen/digitsClose the first two rows' data.
  void Begin(int offset, int count, int minWidth, char offsetOpen, char offsetClose,
             char digitsOpen) {
    // The count shows as its first two characters, so 120 reads "12".
    char number[16];
    std::snprintf(number, sizeof number, "%02d", count);
    char label3[kLabelMax + 1];
    label = std::snprintf(label3, sizeof label3, "%c%04d/%.2s%c [", offsetOpen, offset, number,
                          offsetClose);
    width = std::max(minWidth, label + count + 2);
    std::memset(text, ' ', 3 * width);
    for (int r = 0; r < 3; r++) Row(r)[width - 1] = '\n';
    text[3 * width] = 0;
    std::memcpy(Row(0), "Hight4Bit", 9);
    std::memcpy(Row(1), "Low  4Bit", 9);
    // A wide offset widens all three labels alike.
    Row(0)[label - 1] = digitsOpen;
    Row(1)[label - 1] = digitsOpen;
    std::memcpy(Row(2), label3, label);
  }

  void Put(int k, char high, char low, char shown) {
    Row(0)[label + k] = high;
    Row(1)[label + k] = low;
    Row(2)[label + k] = shown;
  }

  void End(int count, char digitsClose) {
    Row(0)[label + count] = digitsClose;
    Row(1)[label + count] = digitsClose;
    Row(2)[label + count] = ']';
  }

  // The shown bytes are data: escaped before they reach the log.
  void Write() {
    char escaped[sizeof text * 5];
    const int n = HtmlEscape(text, 3 * width, escaped, sizeof escaped - 1);
    if (n < 0) return;
    escaped[n] = 0;
    TarvDebugLog("\n%s", escaped);
  }
};

bool Printable(unsigned char b) { return b >= 0x20 && b <= 0x7E; }
bool Gb2312Byte(unsigned char b) { return b >= 0xA1 && b <= 0xF7; }

}  // namespace

int HexLog(const char* data, int len) {
  if (TarvLogLevel() < 4) return 0;
  TarvDebugLog("\nHexLog DataLen=%d", len);
  for (int offset = 0; offset < len;) {
    int n = std::min(kChunk, len - offset);
    const char* chunk = data + offset;
    if (const void* nl = std::memchr(chunk, '\n', n))
      n = static_cast<int>(static_cast<const char*>(nl) - chunk) + 1;
    DumpArea area;
    area.Begin(offset, n, kChunkRow, '[', ']', '[');
    for (int k = 0; k < n; k++) {
      const auto b = static_cast<unsigned char>(chunk[k]);
      area.Put(k, kDigits[b >> 4], kDigits[b & 15], Printable(b) ? static_cast<char>(b) : '.');
    }
    area.End(n, ']');
    area.Write();
    offset += n;
  }
  TarvDebugLog("\nHexLog Data End.");
  return 0;
}

void HexLogSent(const char* data, int offset, int len) {
  if (TarvLogLevel() < 4) return;
  const auto* p = reinterpret_cast<const unsigned char*>(data) + offset;
  int n = std::clamp(len, 0, kSentMax);
  // A newline among the first 65 bytes ends the dump after it; only bytes
  // that were handed in are looked at.
  const int scan = std::clamp(len, 0, kSentMax + 1);
  if (const void* nl = std::memchr(p, '\n', scan))
    n = static_cast<int>(static_cast<const unsigned char*>(nl) - p) + 1;
  DumpArea area;
  area.Begin(offset, n, kSentRow, '<', '>', '<');
  for (int k = 0; k < n; k++) {
    const unsigned char b = p[k];
    if (Printable(b)) {
      area.Put(k, kDigits[b >> 4], kDigits[b & 15], static_cast<char>(b));
    } else if (Gb2312Byte(b) && k + 1 < n && Gb2312Byte(p[k + 1])) {
      // A GB2312 character stays whole; its second byte's digits are lower case.
      const unsigned char b2 = p[k + 1];
      area.Put(k, kDigits[b >> 4], kDigits[b & 15], static_cast<char>(b));
      area.Put(k + 1, kLowerDigits[b2 >> 4], kLowerDigits[b2 & 15], static_cast<char>(b2));
      k++;
    } else {
      area.Put(k, kDigits[b >> 4], kDigits[b & 15], '.');
    }
  }
  area.End(n, '>');
  area.Write();
}
