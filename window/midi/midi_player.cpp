#include "window/midi/midi_player.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "engine/log/log.h"
#include "window/midi/wav_writer.h"

MidiState sgMidi = {0, 0, 0, 64};

namespace {

struct Key {
  char c;
  int octave;
  int semitone;
};

constexpr std::array<Key, 21> kKeyboard = {{
    {'C', 4, 0}, {'D', 4, 2}, {'E', 4, 4}, {'F', 4, 5}, {'G', 4, 7}, {'A', 4, 9}, {'B', 4, 11},
    {'c', 5, 0}, {'d', 5, 2}, {'e', 5, 4}, {'f', 5, 5}, {'g', 5, 7}, {'a', 5, 9}, {'b', 5, 11},
    {'1', 5, 1}, {'2', 5, 3}, {'3', 5, 6}, {'4', 5, 8}, {'5', 5, 10}, {'6', 6, 1}, {'7', 6, 3},
}};

constexpr int kSampleRate = 44100;

// The General MIDI sound fonts Debian installs, in order of preference.
constexpr std::array<const char*, 3> kSoundFonts = {
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
};

void Quiet(int, const char*, void*) {}

// ALSA's library reports a missing sound card on stderr; the player reports
// it itself.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

// Short message into FluidSynth's calls.
void FluidSend(fluid_synth_t* synth, uint32_t m) {
  const int status = m & 0xF0, ch = m & 0x0F, d1 = (m >> 8) & 0x7F, d2 = (m >> 16) & 0x7F;
  switch (status) {
    case 0x90: fluid_synth_noteon(synth, ch, d1, d2); break;
    case 0x80: fluid_synth_noteoff(synth, ch, d1); break;
    case 0xB0: fluid_synth_cc(synth, ch, d1, d2); break;
    case 0xC0: fluid_synth_program_change(synth, ch, d1); break;
    case 0xE0: fluid_synth_pitch_bend(synth, ch, d1 | (d2 << 7)); break;
    default: break;
  }
}

// FluidSynth with a sound font; rendered into a WAV file, or sounded through
// an audio driver.
class FluidOutput : public MidiOutput {
 public:
  ~FluidOutput() override {
    if (driver_ != nullptr) delete_fluid_audio_driver(driver_);
    if (synth_ != nullptr) delete_fluid_synth(synth_);
    if (settings_ != nullptr) delete_fluid_settings(settings_);
  }
  // false when no sound font loads.
  bool Open() {
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
      fluid_set_log_function(level, Quiet, nullptr);
    settings_ = new_fluid_settings();
    if (settings_ == nullptr) return false;
    fluid_settings_setnum(settings_, "synth.sample-rate", kSampleRate);
    synth_ = new_fluid_synth(settings_);
    if (synth_ == nullptr) return false;
    for (const char* sf : kSoundFonts)
      if (fluid_is_soundfont(sf) && fluid_synth_sfload(synth_, sf, 1) != FLUID_FAILED) return true;
    return false;
  }
  // false when no audio driver starts.
  bool StartAudio() {
    for (const char* name : {"pulseaudio", "alsa"}) {
      fluid_settings_setstr(settings_, "audio.driver", name);
      driver_ = new_fluid_audio_driver(settings_, synth_);
      if (driver_ != nullptr) return true;
    }
    return false;
  }
  bool RenderTo(const char* path) { return wav_.Open(path, kSampleRate); }
  void Send(uint32_t m) override { FluidSend(synth_, m); }
  void Wait(int ms) override {
    if (driver_ != nullptr) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      return;
    }
    int64_t frames = static_cast<int64_t>(ms) * kSampleRate / 1000;
    std::array<int16_t, 2 * 512> block;
    while (frames > 0) {
      const int n = static_cast<int>(std::min<int64_t>(frames, 512));
      fluid_synth_write_s16(synth_, n, block.data(), 0, 2, block.data(), 1, 2);
      wav_.Write(block.data(), n);
      frames -= n;
    }
  }
  bool Finish() { return driver_ != nullptr || wav_.Close(); }

 private:
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  fluid_audio_driver_t* driver_ = nullptr;
  WavWriter wav_;
};

// The first ALSA sequencer port that takes MIDI: not the system client and
// not a through port, which would sound nothing.
bool FindSequencerPort(snd_seq_t* seq, int* client, int* port) {
  snd_seq_client_info_t* ci;
  snd_seq_port_info_t* pi;
  snd_seq_client_info_alloca(&ci);
  snd_seq_port_info_alloca(&pi);
  snd_seq_client_info_set_client(ci, -1);
  while (snd_seq_query_next_client(seq, ci) >= 0) {
    const int c = snd_seq_client_info_get_client(ci);
    if (c == SND_SEQ_CLIENT_SYSTEM || std::strcmp(snd_seq_client_info_get_name(ci), "Midi Through") == 0)
      continue;
    snd_seq_port_info_set_client(pi, c);
    snd_seq_port_info_set_port(pi, -1);
    while (snd_seq_query_next_port(seq, pi) >= 0) {
      const unsigned caps = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
      if ((snd_seq_port_info_get_capability(pi) & caps) == caps &&
          (snd_seq_port_info_get_type(pi) & SND_SEQ_PORT_TYPE_MIDI_GENERIC) != 0) {
        *client = c;
        *port = snd_seq_port_info_get_port(pi);
        return true;
      }
    }
  }
  return false;
}

class SequencerOutput : public MidiOutput {
 public:
  explicit SequencerOutput(snd_seq_t* seq) : seq_(seq) {}
  ~SequencerOutput() override { snd_seq_close(seq_); }
  // false when the port cannot be connected.
  bool Connect(int client, int port) {
    own_ = snd_seq_create_simple_port(seq_, "tarv", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                      SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    return own_ >= 0 && snd_seq_connect_to(seq_, own_, client, port) >= 0;
  }
  void Send(uint32_t m) override {
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    snd_seq_ev_set_source(&ev, own_);
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    const int status = m & 0xF0, ch = m & 0x0F, d1 = (m >> 8) & 0x7F, d2 = (m >> 16) & 0x7F;
    switch (status) {
      case 0x90: snd_seq_ev_set_noteon(&ev, ch, d1, d2); break;
      case 0x80: snd_seq_ev_set_noteoff(&ev, ch, d1, d2); break;
      case 0xB0: snd_seq_ev_set_controller(&ev, ch, d1, d2); break;
      case 0xC0: snd_seq_ev_set_pgmchange(&ev, ch, d1); break;
      case 0xE0: snd_seq_ev_set_pitchbend(&ev, ch, (d1 | (d2 << 7)) - 8192); break;
      default: return;
    }
    snd_seq_event_output_direct(seq_, &ev);
  }
  void Wait(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

 private:
  snd_seq_t* seq_;
  int own_ = -1;
};

int NoDevice() { return TarvReturn(-1, "No MIDI output devices!"); }
int CannotOpen() { return TarvReturn(-2, "Cannot open MIDI device"); }

}  // namespace

uint32_t MidiMsg(uint8_t status, uint8_t data1, uint8_t data2) {
  return static_cast<uint32_t>(status) | (static_cast<uint32_t>(data1) << 8) |
         (static_cast<uint32_t>(data2) << 16);
}
uint32_t MidiNoteOn(uint8_t channel, int octave, int semitone, uint8_t velocity) {
  return MidiMsg(0x90 | (channel & 0x0F), static_cast<uint8_t>((octave * 12 + semitone) & 0x7F), velocity);
}
uint32_t MidiNoteOff(uint8_t channel, int octave, int semitone) {
  return MidiMsg(0x80 | (channel & 0x0F), static_cast<uint8_t>((octave * 12 + semitone) & 0x7F), 0);
}
uint32_t MidiProgramChange(uint8_t channel, uint8_t program) {
  return MidiMsg(0xC0 | (channel & 0x0F), program & 0x7F, 0);
}
uint32_t MidiPitchBend(uint8_t channel, uint16_t value) {
  return MidiMsg(0xE0 | (channel & 0x0F), value & 0x7F, (value >> 7) & 0x7F);
}

int MidiNoteOf(unsigned char c) {
  for (const Key& k : kKeyboard)
    if (static_cast<unsigned char>(k.c) == c) return k.octave * 12 + k.semitone;
  return -1;
}

void MidiPlayTune(const char* text, MidiOutput& out) {
  out.Send(MidiProgramChange(sgMidi.channel, sgMidi.program));
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    const int note = MidiNoteOf(*p);
    if (note < 0) {
      out.Wait(440);
      continue;
    }
    out.Send(MidiMsg(0x90 | sgMidi.channel, static_cast<uint8_t>(note), sgMidi.velocity));
    out.Wait(430);
    out.Send(MidiMsg(0x80 | sgMidi.channel, static_cast<uint8_t>(note), 0));
    out.Wait(10);
  }
  for (uint8_t ch = 0; ch < 16; ++ch) out.Send(MidiMsg(0xB0 | ch, 0x7B, 0));
}

int TarvPlayMidi(const char* text) {
  sgMidi.device = 0;
  if (const char* wav = std::getenv("TARV_MIDI_WAV"); wav != nullptr && *wav != 0) {
    FluidOutput fluid;
    if (!fluid.Open()) return NoDevice();
    if (!fluid.RenderTo(wav)) return CannotOpen();
    MidiPlayTune(text, fluid);
    return fluid.Finish() ? 0 : CannotOpen();
  }
  snd_lib_error_set_handler(QuietAlsa);
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) >= 0) {
    int client = 0, port = 0;
    if (FindSequencerPort(seq, &client, &port)) {
      SequencerOutput out(seq);
      if (!out.Connect(client, port)) return CannotOpen();
      snd_seq_set_client_name(seq, "tarv");
      MidiPlayTune(text, out);
      return 0;
    }
    snd_seq_close(seq);
  }
  FluidOutput fluid;
  if (!fluid.Open() || !fluid.StartAudio()) return NoDevice();
  MidiPlayTune(text, fluid);
  // Let the last note's release sound before the synth goes.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  return 0;
}
