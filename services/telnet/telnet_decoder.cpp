// The telnet decoder: two small state machines, the telnet layer first, then
// the terminal layer over the data the telnet layer lets through.
#include "services/telnet/telnet_decoder.h"

#include <cstring>

#include "engine/log/log.h"

namespace {

constexpr uint8_t kEsc = 27;
constexpr uint8_t kSubnegIs = 0;

void Answer(TelnetReplyFn reply, uint8_t verb, uint8_t option) {
  reply(TELNET_IAC);
  reply(verb);
  reply(option);
}

// The answer of a plain terminal to one option request: it lets the peer
// echo and suppress go-ahead, tells its terminal type and window size, and
// refuses everything else.
void Negotiate(TelnetReplyFn reply, uint8_t verb, uint8_t option) {
  const bool known = option == TELOPT_ECHO || option == TELOPT_SGA || option == TELOPT_TTYPE ||
                     option == TELOPT_NAWS;
  switch (verb) {
    case TELNET_WILL:
      Answer(reply, known ? TELNET_DO : TELNET_DONT, option);
      return;
    case TELNET_WONT:
      Answer(reply, TELNET_DONT, option);
      return;
    case TELNET_DO:
      if (!known || option == TELOPT_ECHO) {
        Answer(reply, TELNET_WONT, option);
        return;
      }
      Answer(reply, TELNET_WILL, option);
      if (option == TELOPT_NAWS) {
        static constexpr uint8_t kSize[] = {TELNET_IAC, TELNET_SB, TELOPT_NAWS, 0,  160,
                                            0,          50,        TELNET_IAC,  TELNET_SE};
        for (uint8_t b : kSize) reply(b);
      }
      return;
    default:  // DONT
      Answer(reply, TELNET_WONT, option);
      return;
  }
}

void SubnegotiationEnd(TelnetReplyFn reply, uint8_t option) {
  if (option != TELOPT_TTYPE) return;  // other subnegotiations need no answer
  static constexpr uint8_t kType[] = {TELNET_IAC, TELNET_SB, TELOPT_TTYPE, kSubnegIs, 'A',
                                      'N',        'S',       'I',          TELNET_IAC, TELNET_SE};
  for (uint8_t b : kType) reply(b);
}

// A data byte that both layers pass on as it is.
bool PlainText(uint8_t b) { return b > 8 && b != kEsc && b != TELNET_IAC; }

// Whether all eight bytes at p are plain text, tested together: a byte
// below 9, an ESC or an IAC sets its top bit in one of the three masks.
bool PlainWord(const char* p) {
  constexpr uint64_t kOnes = 0x0101010101010101;
  constexpr uint64_t kHighs = 0x8080808080808080;
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  const auto below = [](uint64_t v, uint64_t n) { return (v - kOnes * n) & ~v & kHighs; };
  return (below(w, 9) | below(w ^ (kOnes * kEsc), 1) | below(~w, 1)) == 0;
}

// The terminal layer: one data byte in, the bytes that stay written at *out.
char* Terminal(TelnetDecoder* d, uint8_t b, char* out) {
  switch (d->Ansi) {
    case AnsiState::Csi:
      if (b >= 'A' && b <= 'z') {
        d->Ansi = AnsiState::Text;
      } else if (++d->CsiLen >= TELNET_CSI_MAX) {
        TarvDebugLog("\nTelnet ESC [ without its final byte after %d bytes, dropped", d->CsiLen);
        d->Ansi = AnsiState::Text;
      }
      return out;
    case AnsiState::Esc:
      if (b == '[') {
        d->Ansi = AnsiState::Csi;
        d->CsiLen = 0;
        return out;
      }
      // A lone ESC stays; the byte after it is looked at afresh.
      *out++ = static_cast<char>(kEsc);
      d->Ansi = AnsiState::Text;
      break;
    case AnsiState::Text:
      break;
  }
  if (b == kEsc) {
    d->Ansi = AnsiState::Esc;
  } else if (b > 8) {
    *out++ = static_cast<char>(b);
  }
  return out;
}

}  // namespace

void TelnetDecoderClear(TelnetDecoder* d) { *d = TelnetDecoder{}; }

int TelnetDecode(TelnetDecoder* d, const char* in, int n, char* out, TelnetReplyFn reply) {
  char* const start = out;
  for (int i = 0; i < n; i++) {
    // A run of plain text goes through unchanged, without the state machines.
    if (d->State == TelnetPhase::Data && d->Ansi == AnsiState::Text) {
      const int from = i;
      while (i + 8 <= n && PlainWord(in + i)) i += 8;
      while (i < n && PlainText(static_cast<uint8_t>(in[i]))) i++;
      std::memcpy(out, in + from, i - from);
      out += i - from;
      if (i == n) break;
    }
    const auto b = static_cast<uint8_t>(in[i]);
    switch (d->State) {
      case TelnetPhase::Data:
        if (b == TELNET_IAC)
          d->State = TelnetPhase::Iac;
        else
          out = Terminal(d, b, out);
        break;
      case TelnetPhase::Iac:
        if (b == TELNET_IAC) {
          // IAC IAC is one data byte 255.
          out = Terminal(d, b, out);
          d->State = TelnetPhase::Data;
        } else if (b == TELNET_SB) {
          d->State = TelnetPhase::Sb;
          d->SbLen = 0;
        } else if (b >= TELNET_WILL) {
          d->Verb = b;
          d->State = TelnetPhase::Verb;
        } else {
          d->State = TelnetPhase::Data;  // a one-byte command: nothing to answer
        }
        break;
      case TelnetPhase::Verb:
        Negotiate(reply, d->Verb, b);
        d->State = TelnetPhase::Data;
        break;
      case TelnetPhase::Sb:
      case TelnetPhase::SbData:
      case TelnetPhase::SbIac:
        if (d->State == TelnetPhase::SbIac && b == TELNET_SE) {
          SubnegotiationEnd(reply, d->SbOption);
          d->State = TelnetPhase::Data;
          break;
        }
        if (d->State == TelnetPhase::Sb) d->SbOption = b;
        d->State = b == TELNET_IAC && d->State != TelnetPhase::SbIac ? TelnetPhase::SbIac
                                                                      : TelnetPhase::SbData;
        if (++d->SbLen >= TELNET_SB_MAX) {
          TarvDebugLog("\nTelnet SB option %d without IAC SE after %d bytes, dropped",
                       d->SbOption, d->SbLen);
          d->State = TelnetPhase::Data;
        }
        break;
    }
  }
  return static_cast<int>(out - start);
}
