// A 16-bit stereo PCM WAV file written as samples arrive; the header's sizes
// are filled in on Close.
#pragma once
#include <cstdint>
#include <cstdio>

class WavWriter {
 public:
  WavWriter() = default;
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;
  bool Open(const char* path, int sampleRate);
  // `frames` interleaved left/right pairs.
  void Write(const int16_t* samples, int frames);
  // Fixes the header and closes; false when a write failed.
  bool Close();

 private:
  std::FILE* file_ = nullptr;
  int rate_ = 0;
  uint64_t dataBytes_ = 0;
  bool failed_ = false;
};
