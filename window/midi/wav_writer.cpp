#include "window/midi/wav_writer.h"

#include <array>
#include <cstring>

namespace {

void Put16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char* p, uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

std::array<unsigned char, 44> Header(int rate, uint32_t dataBytes) {
  std::array<unsigned char, 44> h{};
  std::memcpy(h.data(), "RIFF", 4);
  Put32(h.data() + 4, 36 + dataBytes);
  std::memcpy(h.data() + 8, "WAVEfmt ", 8);
  Put32(h.data() + 16, 16);
  Put16(h.data() + 20, 1);  // PCM
  Put16(h.data() + 22, 2);  // stereo
  Put32(h.data() + 24, static_cast<uint32_t>(rate));
  Put32(h.data() + 28, static_cast<uint32_t>(rate) * 4);
  Put16(h.data() + 32, 4);
  Put16(h.data() + 34, 16);
  std::memcpy(h.data() + 36, "data", 4);
  Put32(h.data() + 40, dataBytes);
  return h;
}

}  // namespace

WavWriter::~WavWriter() {
  if (file_ != nullptr) Close();
}

bool WavWriter::Open(const char* path, int sampleRate) {
  file_ = std::fopen(path, "wb");
  if (file_ == nullptr) return false;
  rate_ = sampleRate;
  const auto h = Header(sampleRate, 0);
  failed_ = std::fwrite(h.data(), 1, h.size(), file_) != h.size();
  return !failed_;
}

void WavWriter::Write(const int16_t* samples, int frames) {
  if (file_ == nullptr || frames <= 0) return;
  // Samples are written little-endian whatever the host.
  std::array<unsigned char, 4 * 512> bytes;
  while (frames > 0) {
    const int n = frames < 512 ? frames : 512;
    for (int i = 0; i < 2 * n; ++i) Put16(bytes.data() + 2 * i, static_cast<uint16_t>(samples[i]));
    if (std::fwrite(bytes.data(), 1, static_cast<size_t>(4 * n), file_) != static_cast<size_t>(4 * n))
      failed_ = true;
    dataBytes_ += static_cast<uint64_t>(4 * n);
    samples += 2 * n;
    frames -= n;
  }
}

bool WavWriter::Close() {
  if (file_ == nullptr) return false;
  // A WAV file's sizes are 32-bit; a longer take keeps its first 4 GiB.
  const uint32_t size = dataBytes_ > 0xFFFFFFD0u ? 0xFFFFFFD0u : static_cast<uint32_t>(dataBytes_);
  const auto h = Header(rate_, size);
  if (std::fseek(file_, 0, SEEK_SET) != 0 || std::fwrite(h.data(), 1, h.size(), file_) != h.size())
    failed_ = true;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}
