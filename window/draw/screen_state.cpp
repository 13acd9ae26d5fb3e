#include "window/draw/screen_state.h"

#include <cstring>

ScreenState sgScreen = {0, 0, 0, 0, 0, {"Arial"}, 12};

void ScreenStateReset() {
  sgScreen = ScreenState{};
  std::memcpy(sgScreen.fontName.data(), "Arial", 6);
  sgScreen.fontSize = 12;
}
