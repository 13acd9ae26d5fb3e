#include "window/draw/png_scaled.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <utility>
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

// Where the image's pixels come from in the file: the row of each image row
// and the column of each image column.
struct Samples {
  std::vector<uint64_t> rows, cols;
  // For an interlaced file, by pass: the image's columns whose pixels the
  // pass holds, and where in the pass's rows.
  std::array<std::vector<std::pair<size_t, uint64_t>>, 7> passCols;
};

Samples SamplesFor(const uint32_t fileWidth, const uint32_t fileHeight, cairo_surface_t* image) {
  Samples s;
  const int width = cairo_image_surface_get_width(image);
  const int height = cairo_image_surface_get_height(image);
  for (int ty = 0; ty < height; ++ty) s.rows.push_back(Centre(static_cast<uint64_t>(ty), static_cast<uint64_t>(height), fileHeight));
  for (int tx = 0; tx < width; ++tx) s.cols.push_back(Centre(static_cast<uint64_t>(tx), static_cast<uint64_t>(width), fileWidth));
  for (int pass = 0; pass < 7; ++pass)
    for (size_t tx = 0; tx < s.cols.size(); ++tx)
      if (PNG_COL_IN_INTERLACE_PASS(s.cols[tx], pass))
        s.passCols[pass].emplace_back(tx, (s.cols[tx] - PNG_PASS_START_COL(pass)) >> PNG_PASS_COL_SHIFT(pass));
  return s;
}

uint32_t* ImageRow(cairo_surface_t* image, size_t ty) {
  return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(image) +
                                     ty * static_cast<size_t>(cairo_image_surface_get_stride(image)));
}

// Reads rows up to the last one sampled into the image; false on a damaged
// file (libpng jumps back here).  Only plain data lives across the jump.
bool ReadRows(PngReader& r, const Layout& l, const Samples& s, png_byte* row, cairo_surface_t* image) {
  if (setjmp(png_jmpbuf(r.png)) != 0) return false;
  uint64_t y = 0;
  for (size_t ty = 0; ty < s.rows.size(); ++ty) {
    for (; y <= s.rows[ty]; ++y) png_read_row(r.png, row, nullptr);
    uint32_t* out = ImageRow(image, ty);
    for (size_t tx = 0; tx < s.cols.size(); ++tx) out[tx] = Pixel(row, s.cols[tx], l);
  }
  return true;
}

// The same for an interlaced file, whose rows come as seven smaller images
// (passes) one after the other, each holding every pixel of some columns
// of some rows: each pixel sampled is taken from the pass that holds it.
bool ReadPasses(PngReader& r, const Layout& l, uint32_t fileWidth, uint32_t fileHeight, const Samples& s,
                png_byte* row, cairo_surface_t* image) {
  if (setjmp(png_jmpbuf(r.png)) != 0) return false;
  for (int pass = 0; pass < 7; ++pass) {
    const uint64_t passRows = PNG_PASS_ROWS(uint64_t{fileHeight}, pass);
    if (PNG_PASS_COLS(uint64_t{fileWidth}, pass) == 0 || passRows == 0) continue;
    size_t ty = 0;
    for (uint64_t passRow = 0; passRow < passRows; ++passRow) {
      png_read_row(r.png, row, nullptr);
      const uint64_t y = PNG_ROW_FROM_PASS_ROW(passRow, pass);
      while (ty < s.rows.size() && s.rows[ty] < y) ++ty;
      for (size_t t = ty; t < s.rows.size() && s.rows[t] == y; ++t) {
        uint32_t* out = ImageRow(image, t);
        for (const auto& [tx, x] : s.passCols[pass]) out[tx] = Pixel(row, x, l);
      }
    }
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
  const bool interlaced = png_get_interlace_type(r.png, r.info) != PNG_INTERLACE_NONE;
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
  const Samples samples = SamplesFor(fileWidth, fileHeight, image);
  const bool read = interlaced ? ReadPasses(r, l, fileWidth, fileHeight, samples, row.data(), image)
                               : ReadRows(r, l, samples, row.data(), image);
  if (!read) {
    cairo_surface_destroy(image);
    return nullptr;
  }
  cairo_surface_mark_dirty(image);
  return image;
}
