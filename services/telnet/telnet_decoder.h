// The streaming decoder between a telnet connection and the text buffer.
//
// Every received byte is seen once, in order, whatever the chunks it came
// in: telnet commands are taken out and option negotiation is answered as a
// plain terminal (type "ANSI", window 160 x 50) would; of the data that
// remains, ESC '[' ... sequences up to their first letter and the bytes 0
// to 8 are taken out as well.  A sequence cut by the end of a chunk is
// completed by the next one, so none of its bytes reach the text.
#pragma once
#include <cstdint>

inline constexpr uint8_t TELNET_IAC = 255;
inline constexpr uint8_t TELNET_DONT = 254;
inline constexpr uint8_t TELNET_DO = 253;
inline constexpr uint8_t TELNET_WONT = 252;
inline constexpr uint8_t TELNET_WILL = 251;
inline constexpr uint8_t TELNET_SB = 250;
inline constexpr uint8_t TELNET_SE = 240;
inline constexpr uint8_t TELOPT_ECHO = 1;
inline constexpr uint8_t TELOPT_SGA = 3;
inline constexpr uint8_t TELOPT_TTYPE = 24;
inline constexpr uint8_t TELOPT_NAWS = 31;

// A subnegotiation that has not ended after this many bytes is given up, so
// that a peer that never sends IAC SE cannot swallow the session's output.
inline constexpr int TELNET_SB_MAX = 2048;
// The same bound for an ESC '[' sequence that never reaches its final byte.
inline constexpr int TELNET_CSI_MAX = 2048;

enum class TelnetPhase : uint8_t {
  Data,   // plain data
  Iac,    // after IAC
  Verb,   // after IAC WILL/WONT/DO/DONT, waiting for the option
  Sb,     // inside IAC SB ..., the option byte not yet seen
  SbData, // inside IAC SB option ...
  SbIac,  // IAC inside a subnegotiation
};

enum class AnsiState : uint8_t {
  Text,  // plain text
  Esc,   // an ESC whose next byte decides whether it starts a sequence
  Csi,   // inside ESC '[' ..., up to the first byte in 'A'..'z'
};

struct TelnetDecoder {
  TelnetPhase State;
  AnsiState Ansi;
  uint8_t Verb;      // the verb waiting for its option
  uint8_t SbOption;  // the option of the open subnegotiation
  int32_t SbLen;     // bytes of the open subnegotiation so far
  int32_t CsiLen;    // bytes of the open ESC '[' sequence after its '['
};

// Back to plain data, nothing held.
void TelnetDecoderClear(TelnetDecoder* d);

// Where the decoder queues its answers, one byte at a time.
using TelnetReplyFn = void (*)(uint8_t byte);

// Decodes n received bytes.  The data that remains goes to out, which needs
// room for n + 1 bytes (an ESC held from the previous chunk comes out in
// front of a byte that shows it starts no sequence); its count is returned.
// The answers to the commands found go to reply.
int TelnetDecode(TelnetDecoder* d, const char* in, int n, char* out, TelnetReplyFn reply);
