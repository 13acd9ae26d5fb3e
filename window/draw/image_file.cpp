#include "window/draw/image_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Signature {
  const char* kind;
  const char* bytes;
  size_t size;
};
constexpr Signature kSignatures[] = {
    {"png", "\x89PNG\r\n\x1a\n", 8}, {"jpeg", "\xff\xd8\xff", 3},  {"gif", "GIF8", 4},
    {"bmp", "BM", 2},                {"tiff", "II*\0", 4},         {"tiff", "MM\0*", 4},
    {"tiff", "II+\0", 4},            {"tiff", "MM\0+", 4},         {"ico", "\0\0\1\0", 4},
};

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

// What the loader reports of the size, and what it is asked for.
struct Load {
  bool sizeOnly = false;
  int wantWidth = 0, wantHeight = 0;
  int width = 0, height = 0;
};

void OnSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
  auto* load = static_cast<Load*>(data);
  load->width = width;
  load->height = height;
  // A size of 0 makes the loaders stop before they take memory for pixels.
  if (load->sizeOnly)
    gdk_pixbuf_loader_set_size(loader, 0, 0);
  else if (load->wantWidth > 0 && load->wantHeight > 0)
    gdk_pixbuf_loader_set_size(loader, load->wantWidth, load->wantHeight);
}

// Feeds the file to the loader of `kind` (with sizeOnly, until the size is
// known); the image when it was read whole.
GdkPixbuf* Run(const char* file, const char* kind, Load& load) {
  std::unique_ptr<FILE, FileCloser> f(std::fopen(file, "rb"));
  if (!f) return nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(kind, nullptr);
  if (loader == nullptr) return nullptr;
  g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &load);
  std::vector<guchar> chunk(64 * 1024);
  bool ok = true;
  while (ok && !(load.sizeOnly && load.width > 0)) {
    const size_t n = std::fread(chunk.data(), 1, chunk.size(), f.get());
    if (n == 0) break;
    ok = gdk_pixbuf_loader_write(loader, chunk.data(), n, nullptr) != FALSE;
  }
  ok = gdk_pixbuf_loader_close(loader, nullptr) != FALSE && ok && std::ferror(f.get()) == 0;
  GdkPixbuf* image = nullptr;
  if (ok && !load.sizeOnly) {
    image = gdk_pixbuf_loader_get_pixbuf(loader);
    if (image != nullptr) g_object_ref(image);
  }
  g_object_unref(loader);
  return image;
}

}  // namespace

const char* ImageRasterKind(const char* file) {
  std::unique_ptr<FILE, FileCloser> f(std::fopen(file, "rb"));
  if (!f) return nullptr;
  char head[8] = {};
  const size_t n = std::fread(head, 1, sizeof head, f.get());
  for (const Signature& s : kSignatures)
    if (n >= s.size && std::memcmp(head, s.bytes, s.size) == 0) return s.kind;
  return nullptr;
}

bool ImageFileSize(const char* file, const char* kind, int& width, int& height) {
  Load load;
  load.sizeOnly = true;
  Run(file, kind, load);
  width = load.width;
  height = load.height;
  return width > 0 && height > 0;
}

GdkPixbuf* ImageFileRead(const char* file, const char* kind, int width, int height) {
  Load load;
  load.wantWidth = width;
  load.wantHeight = height;
  return Run(file, kind, load);
}
