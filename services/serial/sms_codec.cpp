#include "services/serial/sms_codec.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/log/log.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr uint32_t kReplacement = 0xFFFD;
constexpr int kUcs2Read = 128;  // units converted before the cut
constexpr uint8_t kValidityOneDay = 0xA7;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsHigh(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// UTF-8 of one code point into out (4 bytes): its length.
int Utf8Put(uint32_t c, char* out) {
  auto b = [](uint32_t v) { return static_cast<char>(v); };
  if (c < 0x80) {
    out[0] = b(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = b(0xC0 | (c >> 6));
    out[1] = b(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = b(0xE0 | (c >> 12));
    out[1] = b(0x80 | ((c >> 6) & 0x3F));
    out[2] = b(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = b(0xF0 | (c >> 18));
  out[1] = b(0x80 | ((c >> 12) & 0x3F));
  out[2] = b(0x80 | ((c >> 6) & 0x3F));
  out[3] = b(0x80 | (c & 0x3F));
  return 4;
}

// Copies at most `room` bytes of s into dest, ending on a whole UTF-8
// character, NUL-terminated: the bytes copied.
int CopyWhole(const char* s, int len, char* dest, int room) {
  int n = std::min(len, room);
  if (n < len)
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) n--;
  std::memcpy(dest, s, static_cast<size_t>(n));
  dest[n] = 0;
  return n;
}

int FindIn(std::string_view s, std::string_view key, size_t from = 0) {
  const size_t p = s.find(key, from);
  return p == std::string_view::npos ? -1 : static_cast<int>(p);
}

}  // namespace

int SmsBytesToHex(const uint8_t* bytes, int n, char* out) {
  for (int i = 0; i < n; i++) {
    out[2 * i] = kHexDigits[bytes[i] >> 4];
    out[2 * i + 1] = kHexDigits[bytes[i] & 0x0F];
  }
  out[2 * std::max(n, 0)] = 0;
  return 2 * std::max(n, 0);
}

int SmsHexToBytes(const char* hex, uint8_t* out, int length) {
  const int pairs = std::max(length, 0) / 2;
  for (int i = 0; i < pairs; i++) {
    const int hi = HexValue(hex[2 * i]);
    const int lo = HexValue(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return -1;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return pairs;
}

int SmsIsHexString(const char* text, int n) {
  for (int i = 0; i < n; i++)
    if (HexValue(text[i]) < 0) return 0;
  return 1;
}

int SmsEncode7bit(const char* src, int n, uint8_t* out) {
  const int octets = (7 * std::max(n, 0) + 7) / 8;
  std::memset(out, 0, static_cast<size_t>(octets));
  for (int i = 0; i < n; i++) {
    const unsigned septet = static_cast<unsigned char>(src[i]) & 0x7F;
    const int bit = 7 * i;
    const int at = bit / 8;
    const int shift = bit % 8;
    out[at] = static_cast<uint8_t>(out[at] | (septet << shift));
    if (shift > 1) out[at + 1] = static_cast<uint8_t>(out[at + 1] | (septet >> (8 - shift)));
  }
  return octets;
}

int SmsDecode7bit(const uint8_t* src, int n, char* out) {
  const int chars = 8 * std::max(n, 0) / 7;
  for (int j = 0; j < chars; j++) {
    const int bit = 7 * j;
    const int at = bit / 8;
    const int shift = bit % 8;
    unsigned v = src[at] >> shift;
    if (shift > 1 && at + 1 < n) v |= static_cast<unsigned>(src[at + 1]) << (8 - shift);
    out[j] = static_cast<char>(v & 0x7F);
  }
  out[chars] = 0;
  return chars;
}

int SmsEncode8bit(const char* src, int n, uint8_t* out) {
  if (n <= 0) return 0;
  std::memcpy(out, src, static_cast<size_t>(n));
  return n;
}

int SmsDecode8bit(const uint8_t* src, int n, char* out) {
  const int k = std::max(n, 0);
  std::memcpy(out, src, static_cast<size_t>(k));
  out[k] = 0;
  return k;
}

int SmsUtf8Next(const char* s, int len, uint32_t* code) {
  const auto* u = reinterpret_cast<const unsigned char*>(s);
  *code = kReplacement;
  const unsigned c = u[0];
  if (c < 0x80) {
    *code = c;
    return 1;
  }
  int more;
  uint32_t v;
  uint32_t least;
  if ((c & 0xE0) == 0xC0) {
    more = 1, v = c & 0x1F, least = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    more = 2, v = c & 0x0F, least = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    more = 3, v = c & 0x07, least = 0x10000;
  } else {
    return 1;
  }
  if (len < more + 1) return 1;
  for (int i = 1; i <= more; i++) {
    if ((u[i] & 0xC0) != 0x80) return 1;
    v = v << 6 | (u[i] & 0x3F);
  }
  if (v < least || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 1;
  *code = v;
  return more + 1;
}

int EncodeUcs2(const char* src, int n, uint8_t* out) {
  uint16_t units[kUcs2Read];
  int count = 0;
  for (int i = 0; i < n;) {
    uint32_t c;
    const int step = SmsUtf8Next(src + i, n - i, &c);
    const int need = c >= 0x10000 ? 2 : 1;
    if (count + need > kUcs2Read) break;
    if (need == 2) {
      c -= 0x10000;
      units[count++] = static_cast<uint16_t>(0xD800 | (c >> 10));
      units[count++] = static_cast<uint16_t>(0xDC00 | (c & 0x3FF));
    } else {
      units[count++] = static_cast<uint16_t>(c);
    }
    i += step;
  }
  TarvDebugLog("\n\r\nEncodeUcs2 len=%d", count);
  if (count > SMS_UCS2_MAX) {
    TarvDebugLog("\nEncodeUcs2 len=%d, change to 68(Max Sms Length.)", count);
    count = SMS_UCS2_MAX;
    if (IsHigh(units[count - 1])) count--;  // never half a pair
  }
  for (int k = 0; k < count; k++) {
    out[2 * k] = static_cast<uint8_t>(units[k] >> 8);
    out[2 * k + 1] = static_cast<uint8_t>(units[k] & 0xFF);
  }
  return 2 * count;
}

int DecodeUcs2(const uint8_t* src, int n, char* out) {
  int len = 0;
  for (int k = 0; k + 1 < n; k += 2) {
    uint32_t c = static_cast<uint32_t>(src[k]) << 8 | src[k + 1];
    if (IsHigh(c) && k + 3 < n) {
      const uint32_t low = static_cast<uint32_t>(src[k + 2]) << 8 | src[k + 3];
      if (IsLow(low)) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        k += 2;
      }
    }
    if (IsHigh(c) || IsLow(c)) c = kReplacement;
    char bytes[4];
    const int w = Utf8Put(c, bytes);
    if (len + w > SMS_TEXT_MAX) break;
    std::memcpy(out + len, bytes, static_cast<size_t>(w));
    len += w;
  }
  out[len] = 0;
  return len;
}

int SmsInvertNumbers(const char* src, char* out, int n) {
  int k = 0;
  for (int i = 0; i < n; i += 2) {
    out[k++] = i + 1 < n ? src[i + 1] : 'F';
    out[k++] = src[i];
  }
  out[k] = 0;
  return k;
}

int SmsSerializeNumbers(const char* src, char* out, int n) {
  int k = 0;
  for (int i = 0; i + 1 < n; i += 2) {
    out[k++] = src[i + 1];
    out[k++] = src[i];
  }
  if (k > 0 && (out[k - 1] == 'F' || out[k - 1] == 'f')) k--;
  out[k] = 0;
  return k;
}

int SmsEncodePdu(const SmsRecord& r, char* out) {
  // No service centre (the modem's own), SMS-SUBMIT with a relative validity
  // period and a status report, message reference 0.
  std::memcpy(out, "003100", 6);
  int len = 6;
  const int digits = static_cast<int>(strnlen(r.Tpa, SMS_NUMBER_MAX));
  const uint8_t count = static_cast<uint8_t>(digits);
  len += SmsBytesToHex(&count, 1, out + len);
  std::memcpy(out + len, "A1", 2);
  len += 2;
  len += SmsInvertNumbers(r.Tpa, out + len, digits);

  const int dataLen = static_cast<int>(strnlen(r.Data, SMS_DATA_MAX));
  uint8_t ud[SMS_DATA_MAX + 1];
  int udLen;
  int udl;
  if (r.Dcs == SMS_DCS_7BIT) {
    udLen = SmsEncode7bit(r.Data, dataLen, ud);
    udl = dataLen;
  } else if (r.Dcs == SMS_DCS_UCS2) {
    udLen = EncodeUcs2(r.Data, dataLen, ud);
    udl = udLen;
  } else {
    udLen = SmsEncode8bit(r.Data, dataLen, ud);
    udl = udLen;
  }
  const uint8_t head[4] = {r.Pid, r.Dcs, kValidityOneDay, static_cast<uint8_t>(udl)};
  len += SmsBytesToHex(head, 4, out + len);
  len += SmsBytesToHex(ud, udLen, out + len);
  return len;
}

int SmsDecodeListEntry(const char* text, int len, SmsRecord* record) {
  *record = SmsRecord{};
  std::memcpy(record->Sca, "00", 3);
  const std::string_view entry(text, static_cast<size_t>(std::max(len, 0)));
  const int lineEnd = FindIn(entry, "\n");
  if (lineEnd < 0) return -1;
  const std::string_view head = entry.substr(0, static_cast<size_t>(lineEnd));
  const int quote = FindIn(head, "\"");
  if (quote < 0 || quote > SMS_NUMBER_MAX) return -1;
  std::memcpy(record->Tpa, text, static_cast<size_t>(quote));

  // The time stamp: from two bytes before the first '/' up to the next '+'
  // (or the end of its field).
  const int slash = FindIn(head, "/", static_cast<size_t>(quote));
  if (slash >= quote + 2) {
    int end = FindIn(head, "+", static_cast<size_t>(slash));
    if (end < 0) end = FindIn(head, "\"", static_cast<size_t>(slash));
    if (end < 0) end = static_cast<int>(head.size());
    const int n = std::min<int>(end - (slash - 2), sizeof record->Scts - 1);
    std::memcpy(record->Scts, text + slash - 2, static_cast<size_t>(n));
  }

  std::string_view body = entry.substr(static_cast<size_t>(lineEnd) + 1);
  const int bodyEnd = FindIn(body, "\n");
  if (bodyEnd >= 0) body = body.substr(0, static_cast<size_t>(bodyEnd));
  if (!body.empty() && body.back() == '\r') body.remove_suffix(1);
  const int bodyLen = static_cast<int>(body.size());
  if (bodyLen > 0 && bodyLen % 4 == 0 && SmsIsHexString(body.data(), bodyLen) == 1) {
    uint8_t units[SMS_PDU_ROOM];
    const int octets = SmsHexToBytes(body.data(), units, std::min(bodyLen, 2 * SMS_PDU_ROOM));
    DecodeUcs2(units, octets, record->Data);
  } else {
    CopyWhole(body.data(), bodyLen, record->Data, SMS_DATA_MAX);
  }
  return 0;
}
