// The files scripts write, through the real binary: text.save, screen.save
// and gif.save onto a full disk, onto a device node and onto a FIFO, in a
// mount namespace of the test's own where a 64 KiB tmpfs holds them; and a
// file larger than the text read with text.add from file.
#include <cairo.h>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/window/harness_display.h"

namespace {

namespace fs = std::filesystem;
using tarvtest::ReadFile;
using tarvtest::TempDir;

// Lines of text.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
    out.push_back(text.substr(from, nl - from));
  if (from < text.size()) out.push_back(text.substr(from));
  return out;
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// Script lines that write run.errors and run.error.1..count, one a line, to
// dir/report.txt.
std::string ReportLines(const TempDir& dir, int count) {
  std::string s = "text.delete from {0} byte\ntext.add {~run.errors~%0a}\n";
  for (int k = 1; k <= count; ++k) s += "text.add {~run.error." + std::to_string(k) + "~%0a}\n";
  return s + "text.headpointer move to head\ntext.tailpointer move to tail\ntext.save to file {" +
         dir.File("report.txt") + "}\n";
}

// tarv MODE SCRIPT in a mount namespace of its own, where dir/small is a
// 64 KiB tmpfs holding "full" (a node of the device /dev/full is), "fifo"
// and "old.gif"; `bound` seconds at most (then it is killed: the watchdog of
// a run that must not block).  Once it has ended, dir/small.list holds what
// small holds ("NAME TYPE SIZE" a line, find's letters), dir/old.after the
// old GIF and dir/exit.txt tarv's exit code (137 when it was killed).
class SmallDisk {
 public:
  SmallDisk(const TempDir& dir, int bound) : dir_(dir) {
    fs::create_directory(dir.path() / "small");
    const std::string d = dir.path().string();
    dir.Write("inner.sh",
              "set -e\ncd '" + d + "'\n"
              "mount -t tmpfs -o size=64k,mode=0755 tarvtest small\n"
              "mknod small/full c 1 7\nmkfifo small/fifo\nprintf 'GIF89a old' > small/old.gif\n"
              "set +e\n"
              "timeout -s KILL " + std::to_string(bound) + " '" + tarvtest::TarvBinary() + "' \"$1\" \"$2\"\n"
              "echo $? > exit.txt\n"
              "(cd small && find . -mindepth 1 -printf '%P %y %s\\n' | sort) > small.list\n"
              "cp small/old.gif old.after\n");
    runner_ = dir.Write("run.sh",
                        "#!/bin/sh\nexec /usr/bin/unshare --mount /bin/sh '" + d + "/inner.sh' \"$1\" \"$2\"\n");
    fs::permissions(runner_, fs::perms::owner_all);
  }
  const std::string& Runner() const { return runner_; }
  std::string List() const { return ReadFile(dir_.File("small.list")); }
  std::string Exit() const { return ReadFile(dir_.File("exit.txt")); }
  std::string OldGif() const { return ReadFile(dir_.File("old.after")); }

 private:
  const TempDir& dir_;
  std::string runner_;
};

// What a run left in dir/report.txt: run.errors, then the errors' texts
// (the line each names has to be `lines[k]`).
std::vector<std::string> Report(const TempDir& dir, const std::vector<int>& lines) {
  std::vector<std::string> out = Lines(ReadFile(dir.File("report.txt")));
  const std::regex entry("run\\.steps \\[[0-9]+\\], Line No\\. \\[([0-9]+)\\], Error: \\[(.*)\\]");
  for (size_t k = 1; k < out.size(); ++k) {
    std::smatch m;
    if (!std::regex_match(out[k], m, entry)) continue;
    EXPECT_EQ(k - 1 < lines.size() ? lines[k - 1] : -1, std::stoi(m[1].str())) << out[k];
    out[k] = m[2].str();
  }
  return out;
}

// text.save onto a full disk, a device node and a FIFO counts each failure
// with what was written; appending to a regular file still works; and the
// hide mode writes no image, so the gif and screen statements touch nothing.
TEST(SavedFiles, TextSaveCountsShortWritesAndRefusesNodesAndFifos) {
  TempDir dir;
  const std::string selection(405000, 'q');
  const std::string big = dir.Write("big.txt", selection);
  const std::string d = dir.path().string();
  const std::string script = dir.Write(
      "s.nms", "text.add from file {" + big + "}\n"
               "text.headpointer move to head\ntext.tailpointer move to tail\n"
               "text.save to file {" + d + "/small/big.txt}\n"
               "text.save append to file {" + d + "/small/big.txt}\n"
               "text.save to file {" + d + "/small/full}\n"
               "text.save append to file {" + d + "/small/full}\n"
               "text.save to file {" + d + "/small/fifo}\n"
               "text.save append to file {" + d + "/small/fifo}\n"
               "text.save to file {" + d + "/out.txt}\n"
               "text.save append to file {" + d + "/out.txt}\n"
               "gif.create from {0} {0} to {40} {40}\ngif.add frame delay {1} seconds\n"
               "gif.save to file {" + d + "/small/full}\n"
               "screen.save to file {" + d + "/small/fifo} from point {0} {0} to point {40} {40}\n" +
               ReportLines(dir, 6));
  // Six errors of a second each, and the rest quick.
  SmallDisk disk(dir, tarvtest::MachineScaled(20));
  const auto r = tarvtest::RunProgram(disk.Runner(), {"hide", script}, d, tarvtest::MachineScaled(30));
  ASSERT_EQ(disk.Exit(), "0\n") << r.output;

  const std::vector<std::string> report = Report(dir, {4, 5, 6, 7, 8, 9});
  ASSERT_EQ(report.size(), 7u) << ReadFile(dir.File("report.txt"));
  EXPECT_EQ(report[0], "6");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(report[1], m,
                               std::regex("write file error! file=\\[" + d +
                                          "/small/big.txt\\]! written=\\[([0-9]+)\\] of \\[405000\\] bytes, "
                                          "No space left on device")))
      << report[1];
  const std::string written = m[1].str();
  EXPECT_GT(std::stoi(written), 0);
  EXPECT_EQ(report[2], "append file error! file=[" + d +
                           "/small/big.txt] written=[0] of [405000] bytes, No space left on device");
  EXPECT_EQ(report[3], "write file error! file=[" + d + "/small/full]! not a regular file");
  EXPECT_EQ(report[4], "append file error! file=[" + d + "/small/full] not a regular file");
  EXPECT_EQ(report[5], "write file error! file=[" + d + "/small/fifo]! not a regular file");
  EXPECT_EQ(report[6], "append file error! file=[" + d + "/small/fifo] not a regular file");
  // What was written stays; the node and the FIFO are as they were.
  EXPECT_EQ(disk.List(), "big.txt f " + written + "\nfifo p 0\nfull c 0\nold.gif f 10\n");
  EXPECT_EQ(disk.OldGif(), "GIF89a old");
  EXPECT_EQ(ReadFile(dir.File("out.txt")), selection + selection);
}

// screen.save and gif.save in a window: refused targets, a read-only file,
// a link into a missing folder and a full disk are counted errors; the node,
// the FIFO and an old GIF stay as they were; good targets are written whole.
TEST(SavedFiles, ScreenAndGifSavesCountFailuresAndKeepWhatWasThere) {
  tarvtest::VirtualDisplay display;
  ASSERT_TRUE(display.Ready());
  TempDir dir;
  const std::string d = dir.path().string();
  const std::string big = dir.Write("big.txt", std::string(405000, 'q'));
  const std::string ro = dir.Write("ro.png", "read-only");
  ASSERT_EQ(chmod(ro.c_str(), 0444), 0);
  fs::create_symlink(d + "/missing/x.png", dir.path() / "nowhere.png");
  auto screen = [](const std::string& file) {
    return "screen.save to file {" + file + "} from point {0} {0} to point {40} {40}\n";
  };
  const std::string frame = "gif.add frame delay {0.5} seconds\n";
  const std::string script = dir.Write(
      "s.nms", "screen.set color red {255} green {0} blue {0}\nscreen.set mode {fill}\n"
               "screen.rect from point {10} {10} to point {30} {30}\n"
               "gif.create from {0} {0} to {40} {40}\n" +
               frame + "gif.save to file {" + d + "/small/full}\n" +
               frame + "gif.save to file {" + d + "/small/fifo}\n" +
               screen(d + "/small/full") + screen(d + "/small/fifo") + screen(d + "/small") + screen(ro) +
               screen(d + "/nowhere.png") +
               // The disk filled up; then nothing more fits on it.
               "text.add from file {" + big + "}\ntext.headpointer move to head\ntext.tailpointer move to tail\n"
               "text.save to file {" + d + "/small/fill.txt}\n" +
               // More frames than the old GIF's room holds, were it freed.
               screen(d + "/small/s.png") + Repeat(frame, 48) + "gif.save to file {" + d + "/small/old.gif}\n" +
               // Where there is room both are written.
               screen(d + "/ok.png") + frame + frame + "gif.save to file {" + d + "/ok.gif}\n" + ReportLines(dir, 10));
  SmallDisk disk(dir, tarvtest::MachineScaled(60));
  tarvtest::WindowRun run(disk.Runner(), "nolog", script, d);
  ASSERT_TRUE(run.WaitShown());
  run.Click(tarvtest::kRunX, tarvtest::kRunY);
  // Ten errors of a second each: a save that blocked would not get here.
  ASSERT_TRUE(tarvtest::WaitFor([&] { return fs::exists(dir.File("report.txt")); },
                                std::chrono::seconds(tarvtest::MachineScaled(30))));
  tarvtest::SleepMs(200);
  ASSERT_TRUE(run.Close());
  EXPECT_EQ(run.WaitExit(), 0);
  EXPECT_EQ(disk.Exit(), "0\n");

  const std::vector<std::string> report = Report(dir, {6, 8, 9, 10, 11, 12, 13, 17, 18, 67});
  ASSERT_EQ(report.size(), 11u) << ReadFile(dir.File("report.txt"));
  EXPECT_EQ(report[0], "10");
  const std::string gif = "gif_save_to_file_a4: cannot write file {";
  const std::string png = "screen_save_to_file_a4_from_point_a7_a8_to_point_a11_a12: cannot write file {";
  EXPECT_EQ(report[1], gif + d + "/small/full} ! not a regular file");
  EXPECT_EQ(report[2], gif + d + "/small/fifo} ! not a regular file");
  EXPECT_EQ(report[3], png + d + "/small/full} ! not a regular file");
  EXPECT_EQ(report[4], png + d + "/small/fifo} ! not a regular file");
  EXPECT_EQ(report[5], png + d + "/small} ! not a regular file");
  EXPECT_EQ(report[6], png + ro + "} !");
  EXPECT_EQ(report[7], png + d + "/nowhere.png} !");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(report[8], m,
                               std::regex("write file error! file=\\[" + d +
                                          "/small/fill.txt\\]! written=\\[([0-9]+)\\] of \\[405000\\] bytes, "
                                          "No space left on device")))
      << report[8];
  EXPECT_EQ(report[9], png + d + "/small/s.png} ! written=[0] bytes, No space left on device");
  EXPECT_EQ(report[10], gif + d + "/small/old.gif} ! written=[0] bytes, No space left on device");
  // The node, the FIFO and the old GIF as they were; no new file left
  // behind by the failed GIF; the PNG saved in place is as far as it got.
  EXPECT_EQ(disk.List(), "fifo p 0\nfill.txt f " + m[1].str() + "\nfull c 0\nold.gif f 10\ns.png f 0\n");
  EXPECT_EQ(disk.OldGif(), "GIF89a old");
  EXPECT_EQ(ReadFile(ro), "read-only");
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));

  cairo_surface_t* s = cairo_image_surface_create_from_png(dir.File("ok.png").c_str());
  EXPECT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(s), 40);
  cairo_surface_destroy(s);
  int err = 0;
  GifFileType* g = DGifOpenFileName(dir.File("ok.gif").c_str(), &err);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(DGifSlurp(g), GIF_OK);
  EXPECT_EQ(g->ImageCount, 2);
  DGifCloseFile(g, &err);
}

// A file larger than the room the text has left: what fits is kept and one
// error names the bytes kept and the file's size; a file that just fits is
// no error.
TEST(SavedFiles, AFileLargerThanTheTextKeepsWhatFitsAndCountsAnError) {
  TempDir dir;
  const std::string d = dir.path().string();
  // A log whose last line holds ERROR, beyond what the text holds.
  std::string log;
  while (log.size() < 4400000) log += "2026-12-07 12:00:00 INFO all is well, nothing to report\n";
  log.resize(4400022);
  log += "ERROR\n";
  ASSERT_EQ(log.size(), 4400028u);
  const std::string big = dir.Write("big.log", log);
  const std::string fits = dir.Write("fits.bin", std::string(4194261, 'f'));
  const std::string over = dir.Write("over.bin", std::string(4194262, 'o'));
  const std::string script = dir.Write(
      "s.nms", "text.add from file {" + big + "}\n"
               "var {b1} value {~text.bytes~}\n"
               "text.delete from {0} byte\ntext.add {abc}\n"
               "text.add from file {" + fits + "}\n"
               "var {b2} value {~text.bytes~}\n"
               "text.delete from {3} byte\n"
               "text.add from file {" + over + "}\n"
               "var {b3} value {~text.bytes~}\n"
               "text.headpointer move to head\ntext.tailpointer move to tail\n"
               "text.get var {head} after {0} bytes length {5}\n" +
               ReportLines(dir, 2) +
               "text.delete from {0} byte\ntext.add {~b1~ ~b2~ ~b3~ ~head~}\n"
               "text.headpointer move to head\ntext.tailpointer move to tail\n"
               "text.save to file {" + d + "/bytes.txt}\n");
  const auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script}, d, tarvtest::MachineScaled(30));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::vector<std::string> report = Report(dir, {1, 8});
  ASSERT_EQ(report.size(), 3u) << ReadFile(dir.File("report.txt"));
  EXPECT_EQ(report[0], "2");
  EXPECT_EQ(report[1], "text_add_from_file_a4 : kept=[4194264] of [4400028] bytes of file [" + big +
                           "]: the text is full!");
  EXPECT_EQ(report[2], "text_add_from_file_a4 : kept=[4194261] of [4194262] bytes of file [" + over +
                           "]: the text is full!");
  EXPECT_EQ(ReadFile(dir.File("bytes.txt")), "4194264 4194264 4194264 abcoo");
}

}  // namespace
