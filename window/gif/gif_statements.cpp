// The gif statements: fix a rectangle, add frames with their display
// times, save the recording.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>

#include "engine/core/handler.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/log/log.h"
#include "window/gif/gif_recorder.h"
#include "window/screen/screen_args.h"

int gif_create_from_a3_a4_to_a6_a7() {
  HandlerBegin();
  for (const auto& [w, hi] : {std::pair{3, 800}, std::pair{4, 600}, std::pair{6, 800}, std::pair{7, 600}})
    if (int rc = ScreenIntArg(w, 0, hi, ArgFailure::Count)) return rc;
  GifSetCaptureRect(igV[3], igV[4], igV[6], igV[7]);
  return TarvReturn(0, "gif_create_from_a3_a4_to_a6_a7 return.");
}

int gif_add_frame_delay_a4_seconds() {
  HandlerBegin();
  // Seconds as a decimal number, kept as whole tenths (truncated); a huge
  // value stays within the 32-bit slot.
  const double tenths = std::strtod(agA[4], nullptr) * 10.0;
  const double bounded = std::isnan(tenths) ? 0.0 : std::clamp(tenths, -2147483648.0, 2147483647.0);
  GifAddFrame(static_cast<int32_t>(bounded));
  return TarvReturn(0, "gif_add_frame_delay_a4_seconds return.");
}

int gif_save_to_file_a4() {
  HandlerBegin();
  if (int rc = ScreenLengthArg(4, 0, 512, ArgFailure::Count)) return rc;
  std::string why;
  const int rc = GifSaveToFile(agA[4], &why);
  if (rc == -1) return NmsRunError(-1, "gif_save_to_file_a4: no frame to save !");
  if (rc == -2) return NmsRunError(-2, "gif_save_to_file_a4: cannot write file {%s} !%s", agA[4], why.c_str());
  return TarvReturn(0, "gif_save_to_file_a4 return.");
}
