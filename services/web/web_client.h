// The web statements: HTTP and HTTPS requests with name=value pairs from
// script variables and extra headers; the answer's body goes straight into
// the text buffer.  One libcurl easy handle serves a session until web.close.
#pragma once
#include <array>
#include <cstdint>

struct Family;
const Family* WebFamily();

int web_open_a2();
int web_add_header_a3_value_a5();
int web_add_var_a3();
int web_get();
int web_post();
int web_close();

inline constexpr int WEB_BUF = 1024;
inline constexpr int WEB_HEADERS = 18;

struct WebState {
  std::array<char, WEB_BUF> HeadBuf;  // "name: value" entries back to back, NUL after the last
  int32_t HeadLen;                    // bytes used in HeadBuf
  std::array<int32_t, 20> HeadOff;    // entry k (from 1) starts at HeadOff[k]
  std::array<int32_t, 20> HeadSize;   // and is HeadSize[k] bytes long
  int32_t headCount;
  std::array<char, WEB_BUF> varBuf;   // "&name=value" pairs, NUL after the last
  int32_t varBufLen;
  std::array<char, WEB_BUF> url;      // NUL-terminated; a GET appends its pairs
};

extern WebState sgWeb;

// Ends the session (its connections too) and clears the record.
void WebStateClear();

// The URL with every byte up to 0x20 and from 0x7F percent-encoded: its
// length, or -1 when it does not fit room bytes with a NUL.
int WebEncodeUrl(const char* url, int len, char* dest, int room);
