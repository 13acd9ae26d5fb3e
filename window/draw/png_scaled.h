// A PNG too large to read whole, read a row at a time into a smaller image:
// each pixel of the result is the file's pixel at the centre of the part of
// the file it stands for.  Memory stays one file row plus the result, and
// only the rows sampled are turned into colours, whatever size the file
// claims; a file whose rows take too long to read draws nothing.
#pragma once
#include <cairo.h>

#include <cstdint>

// The most bytes of rows read for one image: about a second of reading.
inline constexpr int64_t kPngRowBytesRead = int64_t{512} << 20;

// A premultiplied image of at most width x height (each at least 1, no
// larger than the file's) from the PNG file, interlaced or not; nullptr
// when the file is no PNG, holds more than `rowBytes` bytes of rows, is
// damaged before the last row sampled, or the result cannot be made.
cairo_surface_t* PngReadScaled(const char* file, int32_t width, int32_t height,
                               int64_t rowBytes = kPngRowBytesRead);
