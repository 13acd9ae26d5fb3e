// What the variable and text pages show while the run goes on: the runner
// copies the variable store and the text buffer after its steps and before
// it waits, and the window's thread shows a page from the copy at once,
// however long the step in progress takes.  The script listing and the
// statement list do not change during a run and are read as they are.
#pragma once
#include <functional>

#include "window/output_pane.h"

// Runner thread (or the window's before the runner starts): brings the copy
// up to date, after each step of a continuous run and before each wait.  It
// waits only while the window's thread is showing a page from the copy, so
// that a step that then takes long leaves the pages with its state.  The
// variables are copied whole and the text from its first byte edited since
// the last copy (text_buffer.h), so that steps that append to or only read a
// large text copy little of it.
void PagesPublish();
// Forgets the copy: pages read the run's records again.
void PagesReset();
// Calls `show` with the copy (the run's records when none was published),
// which stays unchanged meanwhile.
void PagesShow(const std::function<void(const PageSource&)>& show);
