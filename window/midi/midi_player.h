// The tune player: a string of note characters played on the first MIDI
// output (an ALSA sequencer port, else FluidSynth with a General MIDI sound
// font).  With TARV_MIDI_WAV set to a file name, FluidSynth renders the tune
// into that WAV file instead of sounding it.
#pragma once
#include <cstdint>

// MIDI short messages: status in bits 0..7, data bytes in bits 8..15 and
// 16..23.
uint32_t MidiMsg(uint8_t status, uint8_t data1, uint8_t data2);
uint32_t MidiNoteOn(uint8_t channel, int octave, int semitone, uint8_t velocity);
uint32_t MidiNoteOff(uint8_t channel, int octave, int semitone);
uint32_t MidiProgramChange(uint8_t channel, uint8_t program);
uint32_t MidiPitchBend(uint8_t channel, uint16_t value);  // 14-bit value

// The MIDI note a character plays, or -1 for a rest.
int MidiNoteOf(unsigned char c);

struct MidiState {
  int32_t device;
  uint8_t channel;
  uint8_t program;
  uint8_t velocity;
};
extern MidiState sgMidi;

// Where a tune goes: short messages and pauses.
class MidiOutput {
 public:
  virtual ~MidiOutput() = default;
  virtual void Send(uint32_t message) = 0;
  virtual void Wait(int milliseconds) = 0;
};

// Plays the tune on an opened output: program change, each character (note
// on 430 ms, note off 10 ms; a rest 440 ms), then all notes off on every
// channel.
void MidiPlayTune(const char* text, MidiOutput& out);

// Plays the tune on the first output: 0 played, -1 no MIDI output device,
// -2 the device cannot be opened (each reported as a warning).
int TarvPlayMidi(const char* text);
