#include "window/screen/screen_statements.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/log/log.h"
#include "engine/statements/arg_checks.h"
#include "engine/util/util.h"
#include "services/mail/mail_statements.h"
#include "window/draw/draw.h"
#include "window/draw/screen_state.h"
#include "window/midi/midi_player.h"
#include "window/screen/screen_args.h"

namespace {

constexpr auto W = ArgFailure::Warn;

int Done(const char* name) { return TarvReturn(0, "%s return.", name); }

// Checks in order; the code of the first that fails, else 0.
template <typename... Checks>
int FirstFailure(Checks... codes) {
  int rc = 0;
  ((rc == 0 ? rc = codes() : 0), ...);
  return rc;
}

// Word w: an integer of at least lo (a warning otherwise).
auto AtLeast(int w, int lo) {
  return [=] { return ScreenIntArg(w, lo, -1, W); };
}
auto Length(int w, int hi) {
  return [=] { return ScreenLengthArg(w, 1, hi, W); };
}

// Words a, b, c, d: integers of at least 0, checked in order.
int FourPoints(int a, int b, int c, int d) {
  return FirstFailure(AtLeast(a, 0), AtLeast(b, 0), AtLeast(c, 0), AtLeast(d, 0));
}

// Statements that do nothing yet: no begin entry.
int Unfinished(const char* name) {
  sgRun.StepRunState = ENDOK;
  return NmsRunError(-99, "%s:This statement is not yet completed.", name);
}

}  // namespace

int tarvScreenSend(const char*, ...) { return 0; }

int screen_set_color_red_a4_green_a6_blue_a8() {
  HandlerBegin();
  uint8_t* parts[3] = {&sgScreen.red, &sgScreen.green, &sgScreen.blue};
  for (int i = 0; i < 3; ++i) {
    const int w = 4 + 2 * i;
    // A word that is not a clean integer is still read the way atoi reads it.
    if (!ArgReadInteger(w)) {
      TarvReturn(-w, "Arg:%d is not integer !", w);
      igV[w] = TarvAtoi(agA[w]);
    }
    *parts[i] = static_cast<uint8_t>(std::clamp(igV[w], 0, 255));
  }
  return Done("screen_set_color_red_a4_green_a6_blue_a8");
}

int screen_set_mode_a3() {
  HandlerBegin();
  sgScreen.fillMode = (igL[3] >= 4 && std::memcmp(agA[3], "fill", 4) == 0) ? 1 : 0;
  return Done("screen_set_mode_a3");
}

int screen_set_mode_stroke() {
  HandlerBegin();
  sgScreen.fillMode = 0;
  return Done("screen_set_mode_stroke");
}

int screen_set_font_a3_size_a5() {
  HandlerBegin();
  if (int rc = ScreenLengthArg(3, 1, 100, W)) return rc;
  char request[101];
  std::memcpy(request, agA[3], static_cast<size_t>(igL[3]));
  request[igL[3]] = '\0';
  std::memcpy(sgScreen.fontName.data(), request, static_cast<size_t>(igL[3]) + 1);
  if (int rc = ScreenIntArg(5, 1, 100, W)) return rc;
  sgScreen.fontSize = igV[5];
  FindInstalledFont(request, sgScreen.fontName.data());
  TarvDebugLog("\nscreen.set font={%s} size={%d}", sgScreen.fontName.data(), sgScreen.fontSize);
  return Done("screen_set_font_a3_size_a5");
}

int screen_text_at_point_a4_a5_string_a7() {
  HandlerBegin();
  if (int rc = FirstFailure(AtLeast(4, 0), AtLeast(5, 0), Length(7, ARG_ROOM))) return rc;
  DrawTextCurrent(igV[4], igV[5], agA[7], igL[7]);
  tarvScreenSend("text,%d,%d,%d,%s", igV[4], igV[5], igL[7], agA[7]);
  return Done("screen_text_at_point_a4_a5_string_a7");
}

int screen_line_from_point_a4_a5_to_point_a8_a9() {
  HandlerBegin();
  if (int rc = FourPoints(4, 5, 8, 9)) return rc;
  sgScreen.lastCommand = 2;
  DrawLineCurrent(igV[4], igV[5], igV[8], igV[9]);
  tarvScreenSend("line,%d,%d,%d,%d", igV[4], igV[5], igV[8], igV[9]);
  return Done("screen_line_from_point_a4_a5_to_point_a8_a9");
}

int screen_rect_from_point_a4_a5_to_point_a8_a9() {
  HandlerBegin();
  if (int rc = FourPoints(4, 5, 8, 9)) return rc;
  DrawRect(igV[4], igV[5], igV[8], igV[9], sgScreen.red, sgScreen.green, sgScreen.blue,
           sgScreen.fillMode);
  tarvScreenSend("rectangle,%d,%d,%d,%d", igV[4], igV[5], igV[8], igV[9]);
  return Done("screen_rect_from_point_a4_a5_to_point_a8_a9");
}

int screen_arc_at_point_a4_a5_radius_a7_from_a9_to_a11() {
  HandlerBegin();
  if (int rc = FirstFailure(AtLeast(4, 0), AtLeast(5, 0), AtLeast(7, 1), AtLeast(9, 0), AtLeast(11, 0)))
    return rc;
  DrawArcCurrent(igV[4], igV[5], igV[7], igV[9], igV[11]);
  tarvScreenSend("arc,%d,%d,%d,%d,%d", igV[4], igV[5], igV[7], igV[9], igV[11]);
  return Done("screen_arc_at_point_a4_a5_radius_a7_from_a9_to_a11");
}

int screen_image_url_a3_from_point_a6_a7_to_point_a10_a11() {
  HandlerBegin();
  if (int rc = FirstFailure(Length(3, ARG_ROOM), [] { return FourPoints(6, 7, 10, 11); })) return rc;
  DrawImageFile(agA[3], igV[6], igV[7], igV[10], igV[11]);
  tarvScreenSend("image,%d,%d,%d,%d,%s", igV[6], igV[7], igV[10], igV[11], agA[3]);
  return Done("screen_image_url_a3_from_point_a6_a7_to_point_a10_a11");
}

int screen_copy_from_point_a4_a5_to_point_a8_a9() {
  HandlerBegin();
  if (int rc = FourPoints(4, 5, 8, 9)) return rc;
  ScreenCopy(igV[4], igV[5], igV[8], igV[9]);
  return Done("screen_copy_from_point_a4_a5_to_point_a8_a9");
}

int screen_paste_from_point_a4_a5_to_point_a8_a9_rotate_a11() {
  HandlerBegin();
  if (int rc = FirstFailure([] { return FourPoints(4, 5, 8, 9); }, AtLeast(11, 0))) return rc;
  ScreenPaste(igV[4], igV[5], igV[8], igV[9], igV[11]);
  return Done("screen_paste_from_point_a4_a5_to_point_a8_a9_rotate_a11");
}

int screen_save_to_file_a4_from_point_a7_a8_to_point_a11_a12() {
  HandlerBegin();
  constexpr auto C = ArgFailure::Count;
  auto within = [](int w, int hi) { return [=] { return ScreenIntArg(w, 0, hi, C); }; };
  if (int rc = FirstFailure([] { return ScreenLengthArg(4, 1, 1020, C); }, within(7, 850), within(8, 720),
                            within(11, 850), within(12, 720)))
    return rc;
  std::string why;
  if (!WinSaveScreen(agA[4], igV[7], igV[8], igV[11], igV[12], &why))
    return NmsRunError(-3, "screen_save_to_file_a4_from_point_a7_a8_to_point_a11_a12: cannot write file {%s} !%s",
                       agA[4], why.c_str());
  return TarvReturn(0, "screen_save_to_file_a4_from_point_a7_a8_to_point_a11_a12 return, call WinSaveScreen().");
}

int screen_clear() { return Unfinished("screen_clear"); }
int screen_close() { return Unfinished("screen_close"); }
int screen_log_a2() { return Unfinished("screen_log_a2"); }
int screen_open_ip_a3_port_a5() { return Unfinished("screen_open_ip_a3_port_a5"); }
int screen_play_music_a3() { return Unfinished("screen_play_music_a3"); }

int screen_meter_at_point_a4_a5_range_a7_to_a9_min_a11_max_a13_value_a15() {
  sgRun.StepRunState = ENDOK;
  return TarvReturn(-99,
                    "screen_meter_at_point_a4_a5_range_a7_to_a9_min_a11_max_a13_value_a15:This statement is not yet completed.");
}

int screen_play_midi_a3() {
  HandlerBegin();
  if (int rc = ScreenLengthArg(3, 1, ARG_ROOM, W)) return rc;
  sgScreen.lastCommand = 53;
  tarvScreenSend("midi,%d,%s", igL[3], agA[3]);
  TarvPlayMidi(agA[3]);
  return Done("screen_play_midi_a3");
}

int screen_speak_a2() {
  HandlerBegin();
  // The text's length error carries -3, not -2, as scripts have always seen it.
  if (igL[2] < 1) return TarvReturn(-3, "Length of Arg 2 is :%d  < 1 !", igL[2]);
  if (igL[2] > ARG_ROOM) return TarvReturn(-3, "Length of Arg 2 is :%d > 1022 !", igL[2]);
  sgScreen.lastCommand = 52;
  // The text lands in a string literal of the speech script.
  std::string text(agA[2], igL[2]);
  std::replace(text.begin(), text.end(), '"', ' ');
  tarvScreenSend("speak,%d,%s", igL[2], text.c_str());
  vbscript_speak(text.c_str());
  return Done("screen_speak_a2");
}
