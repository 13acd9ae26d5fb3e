// What the variable and text pages show while the run goes on: the runner
// copies the variable store and the text buffer after its steps and before
// it waits, and the window's thread shows a page from the copy at once,
// however long the step in progress takes.  The script listing and the
// statement list do not change during a run and are read as they are.
#pragma once
#include <functional>

#include "window/output_pane.h"

// Runner thread (or the window's before the runner starts): copies the
// records the pages read.  With `mayWait` false the copy is skipped while
// the window's thread is showing a page from the last one.
void PagesPublish(bool mayWait);
// Runner thread, after a step of a continuous run: the copy made again
// when it is small (a few tens of kilobytes, as most runs' are); a larger
// one only with a frame (`frame`), so that copying a big text buffer never
// costs more than once a frame.
void PagesAfterStep(bool frame);
// Forgets the copy: pages read the run's records again.
void PagesReset();
// Calls `show` with the copy (the run's records when none was published),
// which stays unchanged meanwhile.
void PagesShow(const std::function<void(const PageSource&)>& show);
