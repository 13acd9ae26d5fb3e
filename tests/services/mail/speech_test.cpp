// Speech through the voice script into a WAV file, measured with sox.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "services/mail/mail_statements.h"
#include "services/mail/speech.h"
#include "tests/engine/harness.h"

namespace {

// The length of a sound file in seconds, as sox reads it; -1 when unreadable.
double Seconds(const std::string& wav) {
  std::FILE* p = popen(("soxi -D '" + wav + "' 2>/dev/null").c_str(), "r");
  if (!p) return -1;
  double s = -1;
  if (std::fscanf(p, "%lf", &s) != 1) s = -1;
  pclose(p);
  return s;
}

TEST(Speech, SpeaksIntoTheWavFileAndAppends) {
  tarvtest::TempDir dir;
  const std::string wav = dir.File("speech.wav");
  setenv(tarv::speech::kWavEnv, wav.c_str(), 1);
  tarvtest::Start(dir, "run.end\n");
  vbscript_speak("Hello, this is a \"test\" of the speech output.");
  const double first = Seconds(wav);
  EXPECT_GT(first, 1.0);
  EXPECT_LT(first, 10.0);
  vbscript_speak("And a second sentence.");
  const double both = Seconds(wav);
  EXPECT_GT(both, first + 0.5);
  EXPECT_EQ(tarvtest::RunErrors(), std::vector<std::string>{});
  unsetenv(tarv::speech::kWavEnv);
}

}  // namespace
