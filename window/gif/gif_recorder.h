// The GIF recorder: frames copied from a rectangle of the back buffer, each
// with its display time, written as one looping animated GIF.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int GIF_MAX_FRAMES = 999;

struct GifState {
  int32_t width;
  int32_t height;
  uint16_t loopCount;  // 0: repeat forever
  int32_t x1, x2, y1, y2;
  int32_t frameCount;
  // Slots 1..999: 0xRRGGBB pixels of width x height, row after row.
  std::array<std::vector<uint32_t>, GIF_MAX_FRAMES + 1> frames;
  std::array<int32_t, GIF_MAX_FRAMES + 1> delays;  // tenths of a second
};

extern GifState sgGif;

// Fixes the rectangle and starts a new recording (frames still held are
// dropped); 0.
int GifSetCaptureRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// 0 added (or nothing to do in the hide mode), -1 the recording is full,
// -2 the rectangle is empty.
int GifAddFrame(int32_t delay);
// Writes the frames and forgets them: 0 written (or the hide mode), -1 no
// frame recorded, -2 the file was refused or not written whole (a target
// file of kReplace: an old file stays as it was), with what went wrong
// (TargetFile::Why) in *why.
int GifSaveToFile(const char* path, std::string* why = nullptr);
// Forgets every frame.
void GifReleaseFrames();

int gif_create_from_a3_a4_to_a6_a7();
int gif_add_frame_delay_a4_seconds();
int gif_save_to_file_a4();
