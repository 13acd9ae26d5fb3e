// The tune player: the messages and pauses of a tune, and a tune rendered by
// FluidSynth into a WAV file measured with sox.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/engine/harness.h"
#include "window/midi/midi_player.h"

namespace {

// What the player sent: "on 60", "off 60", "wait 430", "prog 0", "cc 3 123".
class Recorder : public MidiOutput {
 public:
  std::vector<std::string> log;
  void Send(uint32_t m) override {
    const int st = m & 0xF0, ch = m & 0x0F, d1 = (m >> 8) & 0xFF, d2 = (m >> 16) & 0xFF;
    if (st == 0x90) log.push_back("on " + std::to_string(d1) + " v" + std::to_string(d2));
    else if (st == 0x80) log.push_back("off " + std::to_string(d1));
    else if (st == 0xC0) log.push_back("prog " + std::to_string(d1));
    else if (st == 0xB0) log.push_back("cc " + std::to_string(ch) + " " + std::to_string(d1) + " " + std::to_string(d2));
    else log.push_back("other");
  }
  void Wait(int ms) override { log.push_back("wait " + std::to_string(ms)); }
};

TEST(Midi, TunePlaysNotesAndRestsThenSilencesEveryChannel) {
  for (const auto& [tune, notes] : {std::pair<std::string, std::vector<int>>{"", {}}, {"C c7", {48, -1, 60, 75}}}) {
    Recorder r;
    MidiPlayTune(tune.c_str(), r);
    std::vector<std::string> want = {"prog 0"};
    for (int n : notes) {
      const std::string k = std::to_string(n);
      if (n < 0) want.push_back("wait 440");
      else want.insert(want.end(), {"on " + k + " v64", "wait 430", "off " + k, "wait 10"});
    }
    for (int ch = 0; ch < 16; ++ch) want.push_back("cc " + std::to_string(ch) + " 123 0");
    EXPECT_EQ(r.log, want) << tune;
  }
}

// sox's statistics of a sound file: "Length (seconds)" and "RMS amplitude".
double SoxStat(const std::string& file, const std::string& key) {
  const std::string cmd = "sox '" + file + "' -n stat 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  char line[256];
  double value = -1;
  while (fgets(line, sizeof line, p) != nullptr) {
    const std::string s(line);
    if (s.rfind(key, 0) == 0) value = std::atof(s.substr(s.find(':') + 1).c_str());
  }
  pclose(p);
  return value;
}

TEST(Midi, FluidSynthRendersTheTuneIntoAWavFile) {
  tarvtest::TempDir dir;
  const std::string wav = dir.File("tune.wav");
  setenv("TARV_MIDI_WAV", wav.c_str(), 1);
  const int rc = TarvPlayMidi("cdefgab");
  unsetenv("TARV_MIDI_WAV");
  ASSERT_EQ(rc, 0);
  EXPECT_NEAR(SoxStat(wav, "Length (seconds)"), 3.08, 0.05);
  EXPECT_GT(SoxStat(wav, "RMS     amplitude"), 0.001);

  const std::string quiet = dir.File("rest.wav");
  setenv("TARV_MIDI_WAV", quiet.c_str(), 1);
  ASSERT_EQ(TarvPlayMidi("  "), 0);
  unsetenv("TARV_MIDI_WAV");
  EXPECT_NEAR(SoxStat(quiet, "Length (seconds)"), 0.88, 0.05);
  EXPECT_LT(SoxStat(quiet, "RMS     amplitude"), 0.0001);
}

}  // namespace
