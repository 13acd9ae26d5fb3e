#include "services/mail/speech.h"

#include <espeak-ng/espeak_ng.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace tarv::speech {

namespace {

// The synthesiser is one per process; calls take turns.
std::mutex gMutex;
bool gReady = false;

struct Capture {
  std::vector<std::int16_t> samples;
  std::optional<std::chrono::steady_clock::time_point> deadline;
  bool timed_out = false;
};
Capture* gCapture = nullptr;

int OnSynth(short* wav, int count, espeak_EVENT* /*events*/) {
  if (!gCapture) return 0;
  if (gCapture->deadline && std::chrono::steady_clock::now() >= *gCapture->deadline) {
    gCapture->timed_out = true;
    return 1;  // stop synthesising
  }
  if (wav && count > 0) gCapture->samples.insert(gCapture->samples.end(), wav, wav + count);
  return 0;
}

std::string StatusText(espeak_ng_STATUS st) {
  char buf[256] = {};
  espeak_ng_GetStatusCodeMessage(st, buf, sizeof buf);
  return buf;
}

void PutLe(std::uint8_t* p, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t GetLe(const std::uint8_t* p) {
  return p[0] | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

void Header(std::uint8_t h[44], int rate, std::uint32_t data_bytes) {
  std::memcpy(h, "RIFF", 4);
  PutLe(h + 4, 36 + data_bytes, 4);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  PutLe(h + 16, 16, 4);
  PutLe(h + 20, 1, 2);  // PCM
  PutLe(h + 22, 1, 2);  // mono
  PutLe(h + 24, static_cast<std::uint32_t>(rate), 4);
  PutLe(h + 28, static_cast<std::uint32_t>(rate) * 2, 4);
  PutLe(h + 32, 2, 2);
  PutLe(h + 34, 16, 2);
  std::memcpy(h + 36, "data", 4);
  PutLe(h + 40, data_bytes, 4);
}

// Appends the samples to the WAV file, starting it when it does not hold
// speech of this format yet.
std::string AppendWav(const char* path, const std::vector<std::int16_t>& samples, int rate) {
  std::uint8_t h[44];
  std::uint32_t existing = 0;
  if (std::FILE* f = std::fopen(path, "rb")) {
    std::uint8_t old[44];
    std::uint8_t want[44];
    Header(want, rate, 0);
    if (std::fread(old, 1, 44, f) == 44 && std::memcmp(old, want, 4) == 0 &&
        std::memcmp(old + 8, want + 8, 28) == 0 && std::memcmp(old + 36, "data", 4) == 0)
      existing = GetLe(old + 40);
    std::fclose(f);
  }
  const std::uint64_t total = std::uint64_t(existing) + samples.size() * 2;
  if (total > 0xFFFFFFF0u - 36) return "WAV file full: " + std::string(path);
  std::FILE* f = std::fopen(path, existing ? "r+b" : "wb");
  if (!f) return "Cannot write " + std::string(path);
  Header(h, rate, static_cast<std::uint32_t>(total));
  bool ok = std::fwrite(h, 1, 44, f) == 44 && std::fseek(f, 44 + long(existing), SEEK_SET) == 0;
  for (const std::int16_t s : samples) {
    std::uint8_t b[2];
    PutLe(b, static_cast<std::uint16_t>(s), 2);
    ok = ok && std::fwrite(b, 1, 2, f) == 2;
  }
  ok = std::fclose(f) == 0 && ok;
  return ok ? std::string() : "Cannot write " + std::string(path);
}

}  // namespace

std::string Speak(std::string_view text,
                  std::optional<std::chrono::steady_clock::time_point> deadline) {
  std::lock_guard<std::mutex> lock(gMutex);
  if (!gReady) {
    espeak_ng_InitializePath(nullptr);
    espeak_ng_ERROR_CONTEXT ctx = nullptr;
    const espeak_ng_STATUS st = espeak_ng_Initialize(&ctx);
    espeak_ng_ClearErrorContext(&ctx);
    if (st != ENS_OK) return "Speech synthesiser unavailable: " + StatusText(st);
    espeak_SetSynthCallback(OnSynth);
    gReady = true;
  }
  const char* wav = std::getenv(kWavEnv);
  const bool to_file = wav && *wav;
  const auto mode = static_cast<espeak_ng_OUTPUT_MODE>(
      to_file ? ENOUTPUT_MODE_SYNCHRONOUS : ENOUTPUT_MODE_SYNCHRONOUS | ENOUTPUT_MODE_SPEAK_AUDIO);
  if (const espeak_ng_STATUS st = espeak_ng_InitializeOutput(mode, 0, nullptr); st != ENS_OK)
    return "No sound output: " + StatusText(st);
  if (const espeak_ng_STATUS st = espeak_ng_SetVoiceByName("en"); st != ENS_OK)
    return "No voice: " + StatusText(st);
  Capture capture;
  capture.deadline = deadline;
  gCapture = &capture;
  const std::string copy(text);  // the synthesiser reads up to a NUL
  const espeak_ng_STATUS st =
      espeak_ng_Synthesize(copy.c_str(), copy.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
  espeak_ng_Synchronize();
  gCapture = nullptr;
  if (capture.timed_out) return "Timed out";
  if (st != ENS_OK) return "Speech failed: " + StatusText(st);
  if (to_file) return AppendWav(wav, capture.samples, espeak_ng_GetSampleRate());
  return {};
}

}  // namespace tarv::speech
