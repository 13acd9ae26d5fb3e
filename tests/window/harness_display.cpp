#include "tests/window/harness_display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/e2e/harness_binary.h"

namespace tarvtest {
namespace {

constexpr int kWindowX = 10;
constexpr int kWindowY = 10;

std::string Xdotool(const std::vector<std::string>& args) {
  return RunProgram("/usr/bin/xdotool", args, "", MachineSeconds()).output;
}

}  // namespace

VirtualDisplay::VirtualDisplay() {
  // Xvfb writes its display number into the pipe's write end, which it
  // inherits.
  int fds[2];
  if (pipe(fds) != 0) return;
  xvfb_.Start({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x800x24",
               "-nolisten", "tcp"},
              "/dev/null");
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  char buf[32];
  while (number.find('\n') == std::string::npos && poll(&p, 1, MachineSeconds() * 1000) > 0) {
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    number.append(buf, n);
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) return;
  setenv("DISPLAY", (":" + number.substr(0, number.find('\n'))).c_str(), 1);
  ready_ = true;
}

VirtualDisplay::~VirtualDisplay() { unsetenv("DISPLAY"); }

uint32_t Screenshot::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFFFFu;
  return pixels[static_cast<size_t>(y) * width + x];
}

Screenshot TakeScreenshot() {
  Screenshot shot;
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return shot;
  XWindowAttributes a;
  XGetWindowAttributes(d, DefaultRootWindow(d), &a);
  XImage* image = XGetImage(d, DefaultRootWindow(d), 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (image != nullptr) {
    shot.width = a.width;
    shot.height = a.height;
    for (int y = 0; y < a.height; y++)
      for (int x = 0; x < a.width; x++) shot.pixels.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
    XDestroyImage(image);
  }
  XCloseDisplay(d);
  return shot;
}

bool WindowRun::WaitShown() {
  // The banner bar's blue at its left end and the screen's black frame.
  return WaitFor([this] { return Running() && Pixel(800, 500) == 0x6495ED && Pixel(0, 240) == 0; });
}

void WindowRun::Click(int x, int y) {
  Xdotool({"mousemove", std::to_string(x + kWindowX), std::to_string(y + kWindowY), "click", "1"});
}

void WindowRun::Key(const std::string& name) { Xdotool({"key", name}); }

uint32_t WindowRun::Pixel(int x, int y) const { return TakeScreenshot().At(x + kWindowX, y + kWindowY); }

std::string WindowRun::PaneText() {
  Click(320, 600);
  Key("ctrl+a");
  SleepMs(100);
  return RunProgram("/usr/bin/xclip", {"-o", "-selection", "primary"}, "", MachineSeconds()).output;
}

bool WindowRun::Close() {
  const Window w = std::strtoul(Xdotool({"search", "--name", "^tarv$"}).c_str(), nullptr, 10);
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr || w == 0) return false;
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(d, w, False, NoEventMask, &e) != 0;
  XCloseDisplay(d);
  return sent;
}

std::string BinaryWithLog(const std::string& dir) {
  const std::string program = CopyProgram(dir);
  std::filesystem::create_directory(dir + "/log");
  return program;
}

std::string PngClaiming(uint32_t width, uint32_t height) {
  auto crc = [](const std::string& bytes) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
      c ^= b;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
  };
  auto be32 = [](uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
  };
  auto chunk = [&](const std::string& type, const std::string& data) {
    return be32(static_cast<uint32_t>(data.size())) + type + data + be32(crc(type + data));
  };
  const std::string ihdr = be32(width) + be32(height) + std::string("\x08\x02\x00\x00\x00", 5);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) +
         chunk("IDAT", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + chunk("IEND", "");
}

bool WritePngOfOneColour(const std::string& path, uint32_t width, uint32_t height, uint32_t rgb) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  std::vector<png_byte> row((width + 7) / 8, 0);
  bool ok = false;
  if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 1, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color colour{static_cast<png_byte>(rgb >> 16), static_cast<png_byte>(rgb >> 8), static_cast<png_byte>(rgb)};
    png_set_PLTE(png, info, &colour, 1);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) png_write_row(png, row.data());
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  return std::fclose(f) == 0 && ok;
}

}  // namespace tarvtest
