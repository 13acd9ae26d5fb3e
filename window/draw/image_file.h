// Image files for screen.image: the raster formats told by their first
// bytes and read by that format's loader alone.  Other formats the image
// library knows (SVG above all, whose filters can take minutes to draw) are
// refused as an unreadable file is.
#pragma once
#include <gdk-pixbuf/gdk-pixbuf.h>

// "png", "jpeg", "gif", "bmp", "tiff" or "ico" (the image library's names),
// or nullptr for any other file.
const char* ImageRasterKind(const char* file);
// The size the file's header declares, read by the loader of `kind` without
// decoding the pixels (a TIFF is held whole first); false when none.
bool ImageFileSize(const char* file, const char* kind, int& width, int& height);
// The image decoded by the loader of `kind`, at width x height when both are
// above 0; nullptr when the file is not whole and readable.
GdkPixbuf* ImageFileRead(const char* file, const char* kind, int width = 0, int height = 0);
