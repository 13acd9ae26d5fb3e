// Ink that runs out of the status panel's boxes and the banner bar: a long
// variable line, text bytes holding line breaks, a step's line wider than
// the bar.  Drawing each step's panel and banner once left every such text's
// ink beside the boxes, shade over shade, where nothing painted it over.
// Frames are drawn at the display's pace and kept within the boxes; what
// runs out is drawn here by the runner, at each step as it always was.
#pragma once
#include "window/draw/draw.h"

// The boxes the panel paints over whole each time it is drawn, and the bar.
inline constexpr DrawBox kPanelBoxes[] = {
    {643, 1, 723, 410},    // the script's map
    {725, 1, 841, 213},    // the variables
    {725, 215, 841, 410},  // the text buffer
    {643, 412, 841, 480},  // the Go and step glyphs
};
inline constexpr int kPanelBoxCount = 4;
inline constexpr DrawBox kBannerBox = {1, 482, 841, 510};
// The bar and the panel's boxes together: where the banner's text is not
// drawn here (the panel paints over its boxes after each step).
inline constexpr DrawBox kBannerAndPanelBoxes[] = {
    kPanelBoxes[0], kPanelBoxes[1], kPanelBoxes[2], kPanelBoxes[3], kBannerBox,
};

// Forgets what earlier runs measured.
void SpillReset();
// Runner thread, as a step's line goes on the bar: its ink beyond the bar.
void SpillBanner(const char* text, int len);
// Runner thread, after each step and after the run's end: the ink beyond
// the boxes of the panel as the run's state is now.
void SpillPanel();
// Runner thread, before its own drawing reads or draws on the buffer: the
// panel within its boxes as the last SpillPanel found it, once, so that
// what a step draws or saves meets the panel of the step before, as it
// always did.  Nothing on other threads.
void SpillDrawPanelWithin();
// Runner thread: the panel has just been drawn from the run's state.
void SpillPanelShown();
// True on the thread drawing ink out of the boxes here, while it does.
bool SpillDrawingOut();
