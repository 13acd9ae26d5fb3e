#include "window/gif/gif_recorder.h"

#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <unordered_map>

#include "engine/core/run_state.h"
#include "engine/log/log.h"
#include "platform/target_file.h"
#include "window/draw/back_buffer.h"

GifState sgGif;

namespace {

// One frame as colour indices and its colour map: exact for 256 colours or
// fewer, quantised otherwise.
struct IndexedFrame {
  std::vector<GifByteType> index;
  std::vector<GifColorType> colours;
};

bool Exact(const std::vector<uint32_t>& px, IndexedFrame& f) {
  std::unordered_map<uint32_t, GifByteType> seen;
  f.index.resize(px.size());
  for (size_t i = 0; i < px.size(); ++i) {
    auto it = seen.find(px[i]);
    if (it == seen.end()) {
      if (seen.size() == 256) return false;
      it = seen.emplace(px[i], static_cast<GifByteType>(seen.size())).first;
      f.colours.push_back({static_cast<GifByteType>(px[i] >> 16), static_cast<GifByteType>(px[i] >> 8),
                           static_cast<GifByteType>(px[i])});
    }
    f.index[i] = it->second;
  }
  return true;
}

bool Quantised(const std::vector<uint32_t>& px, int w, int h, IndexedFrame& f) {
  std::vector<GifByteType> r(px.size()), g(px.size()), b(px.size());
  for (size_t i = 0; i < px.size(); ++i) {
    r[i] = static_cast<GifByteType>(px[i] >> 16);
    g[i] = static_cast<GifByteType>(px[i] >> 8);
    b[i] = static_cast<GifByteType>(px[i]);
  }
  int size = 256;
  f.colours.assign(256, GifColorType{0, 0, 0});
  f.index.assign(px.size(), 0);
  if (GifQuantizeBuffer(static_cast<unsigned>(w), static_cast<unsigned>(h), &size, r.data(), g.data(),
                        b.data(), f.index.data(), f.colours.data()) == GIF_ERROR)
    return false;
  f.colours.resize(static_cast<size_t>(std::clamp(size, 1, 256)));
  return true;
}

bool PutLoop(GifFileType* gif, uint16_t loops) {
  const GifByteType sub[3] = {1, static_cast<GifByteType>(loops & 0xFF), static_cast<GifByteType>(loops >> 8)};
  return EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") == GIF_OK &&
         EGifPutExtensionBlock(gif, 3, sub) == GIF_OK && EGifPutExtensionTrailer(gif) == GIF_OK;
}

bool PutFrame(GifFileType* gif, const std::vector<uint32_t>& px, int w, int h, int32_t tenths) {
  IndexedFrame f;
  if (!Exact(px, f)) {
    f = {};
    if (!Quantised(px, w, h, f)) return false;
  }
  // The map's size is a power of two, at least 2.
  int mapSize = 2;
  while (mapSize < static_cast<int>(f.colours.size())) mapSize *= 2;
  f.colours.resize(static_cast<size_t>(mapSize), GifColorType{0, 0, 0});
  ColorMapObject* map = GifMakeMapObject(mapSize, f.colours.data());
  if (map == nullptr) return false;
  GraphicsControlBlock gcb = {};
  gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
  gcb.TransparentColor = NO_TRANSPARENT_COLOR;
  // The GIF field holds 0..65535 hundredths.
  gcb.DelayTime = static_cast<int>(std::clamp<int64_t>(static_cast<int64_t>(tenths) * 10, 0, 65535));
  GifByteType ext[4];
  EGifGCBToExtension(&gcb, ext);
  bool ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, w, h, false, map) == GIF_OK;
  GifFreeMapObject(map);
  for (int y = 0; ok && y < h; ++y)
    ok = EGifPutLine(gif, f.index.data() + static_cast<size_t>(y) * static_cast<size_t>(w), w) == GIF_OK;
  return ok;
}

// The library writes through the target file, which carries out every
// write whole and renames the GIF into place only once it is.
int PutBytes(GifFileType* gif, const GifByteType* bytes, int n) {
  return static_cast<TargetFile*>(gif->UserData)->Write(bytes, static_cast<size_t>(n)) ? n : 0;
}

bool WriteGif(const char* path, std::string* why) {
  int err = 0;
  TargetFile file;
  GifFileType* gif = file.Open(path, TargetWrite::kReplace) ? EGifOpen(&file, PutBytes, &err) : nullptr;
  bool ok = gif != nullptr;
  if (ok) {
    EGifSetGifVersion(gif, true);
    ok = EGifPutScreenDesc(gif, sgGif.width, sgGif.height, 8, 0, nullptr) == GIF_OK && PutLoop(gif, sgGif.loopCount);
    for (int32_t k = 1; ok && k <= sgGif.frameCount; ++k)
      if (!sgGif.frames[k].empty())
        ok = PutFrame(gif, sgGif.frames[k], sgGif.width, sgGif.height, sgGif.delays[k]);
    if (EGifCloseFile(gif, &err) != GIF_OK) ok = false;
  }
  // A failure removes only the new file: an old GIF stays as it was.
  ok = ok && file.Finish();
  if (!ok && why != nullptr) *why = file.Why();
  return ok;
}

}  // namespace

void GifReleaseFrames() {
  for (auto& f : sgGif.frames) std::vector<uint32_t>().swap(f);
  sgGif.frameCount = 0;
}

int GifSetCaptureRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  GifReleaseFrames();
  sgGif.x1 = x1;
  sgGif.y1 = y1;
  sgGif.x2 = x2;
  sgGif.y2 = y2;
  sgGif.width = x2 - x1;
  sgGif.height = y2 - y1;
  sgGif.loopCount = 0;
  return 0;
}

int GifAddFrame(int32_t delay) {
  if (sgRun.RunMode == RUNMODE_HIDE) return 0;
  if (sgGif.frameCount >= GIF_MAX_FRAMES) return TarvReturn(-1, "Gif 文件帧数太多=%d!", sgGif.frameCount);
  if (sgGif.width <= 0 || sgGif.height <= 0)
    return TarvReturn(-2, "Gif frame size %dx%d is empty !", sgGif.width, sgGif.height);
  const int32_t k = sgGif.frameCount + 1;
  // No buffer to copy from leaves a black frame, as pixels outside it read.
  if (!BackBufferReadRegion(sgGif.x1, sgGif.y1, sgGif.width, sgGif.height, sgGif.frames[k]))
    sgGif.frames[k].assign(static_cast<size_t>(sgGif.width) * static_cast<size_t>(sgGif.height), 0);
  sgGif.delays[k] = delay;
  sgGif.frameCount = k;
  return 0;
}

int GifSaveToFile(const char* path, std::string* why) {
  if (sgRun.RunMode == RUNMODE_HIDE) return 0;
  if (sgGif.frameCount == 0) return -1;
  const bool ok = WriteGif(path, why);
  GifReleaseFrames();
  return ok ? 0 : -2;
}
