#include "window/main_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/observer.h"
#include "engine/core/run_state.h"
#include "engine/log/log.h"
#include "window/draw/back_buffer.h"
#include "window/draw/draw.h"
#include "window/frame.h"
#include "window/output_pane.h"
#include "window/page_copy.h"
#include "window/screen_flush.h"
#include "window/script_thread.h"
#include "window/status_panel.h"
#include "window/window_state.h"

namespace {

struct ButtonRow {
  int id;
  int x;
  int y;
  bool radio;
  const char* text;
};
constexpr ButtonRow kButtons[] = {
    {ID_PAGE_FIRST, 750, 540, false, "first"},   {ID_PAGE_NEXT, 750, 570, false, "next"},
    {ID_PAGE_PREV, 750, 600, false, "prev"},     {ID_PAGE_LAST, 750, 630, false, "last"},
    {ID_RUN_STEP, 750, 510, false, "run by step"}, {ID_RUN, 650, 510, false, "run"},
    {ID_SHOW_SENTENCE, 650, 540, true, "sentence"}, {ID_SHOW_TEXT, 650, 570, true, "text"},
    {ID_SHOW_VAR, 650, 600, true, "var"},        {ID_SHOW_LOG, 650, 630, true, "log"},
    {ID_SHOW_SCRIPT, 650, 660, true, "script"},  {ID_SHOW_CLEAR, 650, 690, true, "clear"},
};
constexpr int kButtonW = 88;
constexpr int kButtonH = 25;

// The screen and panel: rows 0..507 of the back buffer.  A release of the
// left button over the Go or step glyph sets the run mode.
class ScreenView : public Fl_Widget {
 public:
  ScreenView() : Fl_Widget(0, 0, WIN_WIDTH, FLUSH_ROWS) {}
  void draw() override {
    // Copied out under the buffer's lock; drawn without it.
    const int rows = BackBufferReadRgb(rgb_, FLUSH_ROWS);
    const int width = BackBufferWidth();
    if (rows > 0 && width > 0) fl_draw_image(rgb_.data(), x(), y(), width, rows, 3);
  }
  int handle(int event) override {
    if (event == FL_PUSH) return Fl::event_button() == FL_LEFT_MOUSE ? 1 : 0;
    if (event == FL_RELEASE && Fl::event_button() == FL_LEFT_MOUSE) {
      const int mode = PanelClickMode(Fl::event_x(), Fl::event_y());
      if (mode >= 0) RunModeCommand(mode);
      return 1;
    }
    return Fl_Widget::handle(event);
  }

 private:
  std::vector<uint8_t> rgb_;
};

class MainWindow : public Fl_Window {
 public:
  MainWindow() : Fl_Window(WIN_X, WIN_Y, WIN_WIDTH, WIN_HEIGHT, "tarv") {}
  int handle(int event) override {
    // Alt+"?" and Alt+"/" (the characters, whatever keys make them).
    if (event == FL_SHORTCUT && (Fl::event_state() & FL_ALT) != 0 &&
        (Fl::event_text()[0] == '?' || Fl::event_text()[0] == '/' || Fl::event_key() == '/')) {
      fl_message_title("About tarv");
      fl_message("%s", "tarv 8.13\nvindelor-ipv6-20200205");
      return 1;
    }
    return Fl_Window::handle(event);
  }
};

MainWindow* gWindow = nullptr;
ScreenView* gScreen = nullptr;
Fl_Text_Display* gEdit = nullptr;
Fl_Text_Buffer* gEditText = nullptr;
std::thread::id gWindowThread;

// The pane's text reaches the edit here, on the window thread.
void EditClearWidget() {
  if (gEditText != nullptr) gEditText->text("");
}
void EditAppendWidget(const char* text, int len) {
  if (gEditText == nullptr) return;
  gEditText->append(std::string(text, static_cast<size_t>(len)).c_str());
  gEdit->insert_position(gEditText->length());
  gEdit->show_insert_position();
}
constexpr EditTarget kEditWidget = {EditClearWidget, EditAppendWidget};

std::atomic<bool> gRepaintPending{false};
std::atomic<bool> gFrameWoken{false};

void RepaintOnWindowThread(void*) {
  gRepaintPending = false;
  if (gScreen != nullptr) gScreen->redraw();
}

void RequestRepaint() {
  if (std::this_thread::get_id() == gWindowThread) {
    if (gScreen != nullptr) gScreen->redraw();
    return;
  }
  // One request in flight is enough: the repaint copies the latest rows.
  if (!gRepaintPending.exchange(true)) Fl::awake(RepaintOnWindowThread, nullptr);
}

// A frame: what the runner published drawn, the pane's new text shown.
void ShowFrame() {
  FrameDraw();
  FrameTakePane(kEditWidget);
}

void FrameOnWindowThread(void*) {
  gFrameWoken = false;
  ShowFrame();
}

void WakeForFrame() {
  if (!gFrameWoken.exchange(true)) Fl::awake(FrameOnWindowThread, nullptr);
}

constexpr double kFrameSeconds = 1.0 / 60;
void FrameTimer(void*) {
  ShowFrame();
  Fl::repeat_timeout(kFrameSeconds, FrameTimer);
}

void OnButton(Fl_Widget*, void* data) {
  const int id = static_cast<int>(reinterpret_cast<intptr_t>(data));
  if (id == ID_RUN_STEP) {
    RunModeCommand(RUNMODE_STEP);
  } else if (id == ID_RUN) {
    RunModeCommand(RUNMODE_RUN);
  } else {
    PageRequest(id);
    ShowFrame();
  }
}

void OnClose(Fl_Widget* w, void*) {
  // Escape does not close the window; its close box and Alt+F4 do.
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  w->hide();
}

void Build() {
  gWindow = new MainWindow();
  gWindow->xclass("TARV");
  gWindow->color(FL_WHITE);
  gScreen = new ScreenView();
  gEditText = new Fl_Text_Buffer();
  gEdit = new Fl_Text_Display(0, 510, 640, 205);
  gEdit->buffer(gEditText);
  gEdit->box(FL_DOWN_BOX);
  gEdit->textsize(12);
  for (const ButtonRow& row : kButtons) {
    Fl_Button* b = row.radio ? new Fl_Round_Button(row.x, row.y, kButtonW, kButtonH, row.text)
                             : new Fl_Button(row.x, row.y, kButtonW, kButtonH, row.text);
    if (row.radio) b->type(FL_RADIO_BUTTON);
    b->labelsize(12);
    b->callback(OnButton, reinterpret_cast<void*>(static_cast<intptr_t>(row.id)));
  }
  gWindow->end();
  gWindow->size_range(WIN_WIDTH, WIN_HEIGHT, WIN_WIDTH, WIN_HEIGHT);
  gWindow->callback(OnClose);
}

// The runner thread's life: the script's run, then nothing more.
void RunnerMain() { ScriptThread(); }

// However the program ends, its log ends as a whole file: `message` where
// the window was closed, then the closing lines.  The runner may still be
// inside a step: the process ends here, before static destructors could
// tear down what it uses, and by the signal that stopped it, if any.
[[noreturn]] void EndProcess(const char* message, int signal, int code) {
  TarvFinishLog(message);
  std::fflush(nullptr);
  if (signal != 0) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
  }
  std::_Exit(code);
}

// SIGTERM, SIGHUP and SIGINT reach the window's thread through a pipe: the
// log's end takes a lock a signal handler must not take.
constexpr int kStopSignals[] = {SIGTERM, SIGHUP, SIGINT};
int gSignalPipe[2] = {-1, -1};
volatile std::sig_atomic_t gStopSignal = 0;

void OnStopSignal(int signal) {
  gStopSignal = signal;
  const char byte = 0;
  const int saved = errno;
  [[maybe_unused]] const ssize_t n = write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

void StopSignalArrived(FL_SOCKET, void*) { EndProcess(nullptr, gStopSignal, 1); }

void CatchStopSignals() {
  if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

// The X server has gone: nothing more can be shown, the run ends with it.
int OnDisplayLost(Display*) { EndProcess(nullptr, 0, 1); }

}  // namespace

int WindowMain() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    const char* name = std::getenv("DISPLAY");
    std::fprintf(stderr,
                 "tarv: cannot open the display \"%s\"; the window modes need one (the mode "
                 "hide runs without a window)\n",
                 name != nullptr ? name : "");
    return 1;
  }
  fl_open_display(display);
  XSetIOErrorHandler(OnDisplayLost);
  CatchStopSignals();
  if (gSignalPipe[0] >= 0) Fl::add_fd(gSignalPipe[0], FL_READ, StopSignalArrived);
  Fl::lock();  // the runner wakes the window thread through Fl::awake
  gWindowThread = std::this_thread::get_id();
  WindowStateReset();
  StepEventInit();
  Build();
  gWindow->show();
  // Without a window manager the first mapping can land off the asked
  // place: read where it went, then move it back.
  XSync(fl_display, False);
  Fl::check();
  if (gWindow->x() != WIN_X || gWindow->y() != WIN_Y) gWindow->position(WIN_X, WIN_Y);

  if (!BackBufferCreate(WIN_WIDTH, WIN_HEIGHT)) {
    fl_message_title("Failed");
    fl_message("%s", "CreateCompatibleBitmap Failed");
    return 0;
  }
  ScreenFlushSetRepaint(RequestRepaint);
  FrameReset();
  FrameSetWake(WakeForFrame);
  EditSetTarget(FramePaneTarget());
  TarvSetObserver(WindowObserver());

  DrawRect(0, 0, WIN_WIDTH, WIN_HEIGHT, 255, 255, 255, 1);
  DrawRect(1, 482, 841, 510, 100, 149, 237, 1);
  DrawTextAt(2, 487, BANNER_START_TEXT, sizeof BANNER_START_TEXT - 1, 255, 255, 255, "Arial", 14);
  DrawStatusPanel();

  // Pages asked for before the runner's first wait read this.
  PagesPublish();
  std::thread runner(RunnerMain);
  sgWin.threadStarted = 1;
  Fl::add_timeout(kFrameSeconds, FrameTimer);
  Fl::run();

  StepEventClose();
  if (sgWin.threadEnded.load()) runner.join();
  else runner.detach();
  EndProcess("\ntarv windows is closed.", 0, 0);
}
