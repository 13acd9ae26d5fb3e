#include "window/draw/png_scaled.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

struct PngReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReader() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
};

void Quiet(png_structp, png_const_charp) {}

// How the file's rows hold their pixels, read once from its header.
struct Layout {
  int colourType = 0;
  int depth = 8;
  png_colorp palette = nullptr;
  int paletteSize = 0;
  png_bytep paletteAlpha = nullptr;
  int paletteAlphaSize = 0;
  png_color_16p transparent = nullptr;  // grey or RGB value shown clear
};

// Sample `k` of pixel x (channels samples a pixel), at the file's depth.
uint32_t Sample(const png_byte* row, uint64_t x, int channels, int k, int depth) {
  const uint64_t index = x * static_cast<uint64_t>(channels) + static_cast<uint64_t>(k);
  if (depth == 8) return row[index];
  if (depth == 16) return static_cast<uint32_t>(row[index * 2]) << 8 | row[index * 2 + 1];
  const uint64_t bit = index * static_cast<uint64_t>(depth);
  const int shift = 8 - depth - static_cast<int>(bit % 8);
  return (row[bit / 8] >> shift) & ((1u << depth) - 1);
}

// The pixel as cairo's premultiplied ARGB.
uint32_t Pixel(const png_byte* row, uint64_t x, const Layout& l) {
  const int d = l.depth;
  auto to8 = [d](uint32_t v) { return d == 16 ? v >> 8 : d == 8 ? v : v * 255 / ((1u << d) - 1); };
  uint32_t r = 0, g = 0, b = 0, a = 255;
  switch (l.colourType) {
    case PNG_COLOR_TYPE_PALETTE: {
      const int i = static_cast<int>(Sample(row, x, 1, 0, d));
      if (i < l.paletteSize) r = l.palette[i].red, g = l.palette[i].green, b = l.palette[i].blue;
      if (i < l.paletteAlphaSize) a = l.paletteAlpha[i];
      break;
    }
    case PNG_COLOR_TYPE_GRAY: {
      const uint32_t v = Sample(row, x, 1, 0, d);
      r = g = b = to8(v);
      if (l.transparent != nullptr && v == l.transparent->gray) a = 0;
      break;
    }
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      r = g = b = to8(Sample(row, x, 2, 0, d));
      a = to8(Sample(row, x, 2, 1, d));
      break;
    case PNG_COLOR_TYPE_RGB: {
      const uint32_t vr = Sample(row, x, 3, 0, d), vg = Sample(row, x, 3, 1, d), vb = Sample(row, x, 3, 2, d);
      r = to8(vr), g = to8(vg), b = to8(vb);
      if (l.transparent != nullptr && vr == l.transparent->red && vg == l.transparent->green &&
          vb == l.transparent->blue)
        a = 0;
      break;
    }
    default:  // RGBA
      r = to8(Sample(row, x, 4, 0, d)), g = to8(Sample(row, x, 4, 1, d));
      b = to8(Sample(row, x, 4, 2, d)), a = to8(Sample(row, x, 4, 3, d));
  }
  // As images read whole are premultiplied.
  auto premul = [a](uint32_t c) { return c * a / 255; };
  return a << 24 | premul(r) << 16 | premul(g) << 8 | premul(b);
}

// The centre of part i of n parts of `size`.
uint64_t Centre(uint64_t i, uint64_t n, uint64_t size) { return (2 * i + 1) * size / (2 * n); }

// Reads rows up to the last one sampled into the image; false on a damaged
// file (libpng jumps back here).  Only plain data lives across the jump.
bool ReadRows(PngReader& r, const Layout& l, uint32_t fileWidth, uint32_t fileHeight, png_byte* row,
              cairo_surface_t* image) {
  if (setjmp(png_jmpbuf(r.png)) != 0) return false;
  const int width = cairo_image_surface_get_width(image);
  const int height = cairo_image_surface_get_height(image);
  unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  uint64_t y = 0;
  for (int ty = 0; ty < height; ++ty) {
    const uint64_t wanted = Centre(static_cast<uint64_t>(ty), static_cast<uint64_t>(height), fileHeight);
    for (; y <= wanted; ++y) png_read_row(r.png, row, nullptr);
    auto* out = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(ty) * static_cast<size_t>(stride));
    for (int tx = 0; tx < width; ++tx)
      out[tx] = Pixel(row, Centre(static_cast<uint64_t>(tx), static_cast<uint64_t>(width), fileWidth), l);
  }
  return true;
}

}  // namespace

cairo_surface_t* PngReadScaled(const char* file, int32_t width, int32_t height, int64_t rowBytes) {
  if (file == nullptr || width < 1 || height < 1) return nullptr;
  std::unique_ptr<FILE, FileCloser> f(std::fopen(file, "rb"));
  if (!f) return nullptr;
  png_byte signature[8];
  if (std::fread(signature, 1, 8, f.get()) != 8 || png_sig_cmp(signature, 0, 8) != 0) return nullptr;
  PngReader r;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Quiet, Quiet);
  if (r.png == nullptr) return nullptr;
  r.info = png_create_info_struct(r.png);
  if (r.info == nullptr) return nullptr;
  if (setjmp(png_jmpbuf(r.png)) != 0) return nullptr;
  png_init_io(r.png, f.get());
  png_set_sig_bytes(r.png, 8);
  // The caller has checked the declared size; libpng's own cap would refuse
  // what is read here a row at a time.
  png_set_user_limits(r.png, 0x7fffffff, 0x7fffffff);
  // The rows' checksum costs as much as reading them; a damaged row shows
  // as damaged pixels, as in any image.
  png_set_option(r.png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
  png_read_info(r.png, r.info);
  const uint32_t fileWidth = png_get_image_width(r.png, r.info);
  const uint32_t fileHeight = png_get_image_height(r.png, r.info);
  if (png_get_interlace_type(r.png, r.info) != PNG_INTERLACE_NONE) return nullptr;
  if (fileWidth == 0 || fileHeight == 0) return nullptr;
  if (static_cast<int64_t>(png_get_rowbytes(r.png, r.info)) * fileHeight > rowBytes) return nullptr;
  Layout l;
  l.colourType = png_get_color_type(r.png, r.info);
  l.depth = png_get_bit_depth(r.png, r.info);
  if (l.colourType == PNG_COLOR_TYPE_PALETTE &&
      png_get_PLTE(r.png, r.info, &l.palette, &l.paletteSize) != PNG_INFO_PLTE)
    return nullptr;
  if (png_get_valid(r.png, r.info, PNG_INFO_tRNS) != 0)
    png_get_tRNS(r.png, r.info, &l.paletteAlpha, &l.paletteAlphaSize, &l.transparent);
  if (l.colourType != PNG_COLOR_TYPE_PALETTE) l.paletteAlpha = nullptr, l.paletteAlphaSize = 0;

  const int w = static_cast<int>(std::min<uint32_t>(static_cast<uint32_t>(width), fileWidth));
  const int h = static_cast<int>(std::min<uint32_t>(static_cast<uint32_t>(height), fileHeight));
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(image);
    return nullptr;
  }
  cairo_surface_flush(image);
  std::vector<png_byte> row(png_get_rowbytes(r.png, r.info));
  if (!ReadRows(r, l, fileWidth, fileHeight, row.data(), image)) {
    cairo_surface_destroy(image);
    return nullptr;
  }
  cairo_surface_mark_dirty(image);
  return image;
}
