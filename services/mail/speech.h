// Speaking a text with espeak-ng: on the sound device, or into a WAV file
// named by an environment setting (for machines without one, and for tests).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tarv::speech {

// When set, speech goes into this WAV file (16-bit mono); each text spoken
// is appended to what the file already holds.
inline constexpr const char* kWavEnv = "TARV_SPEECH_WAV";

// Speaks UTF-8 text and returns when the speech has ended. Empty on success,
// else what went wrong. Stops at `deadline`.
std::string Speak(std::string_view text,
                  std::optional<std::chrono::steady_clock::time_point> deadline);

}  // namespace tarv::speech
