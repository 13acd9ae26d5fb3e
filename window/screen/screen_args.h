// Argument checks of the screen and gif statements.  A failure is either a
// logged warning (the statement simply ends) or a counted run error; the
// code is minus the word's number.
#pragma once

enum class ArgFailure { Warn, Count };

// Word w holds an integer, stored in igV[w], within lo..hi (hi is not
// checked when it is below lo): 0, else the failure's code -w.
int ScreenIntArg(int w, int lo, int hi, ArgFailure how);
// Word w holds lo..hi bytes: 0, else -w.
int ScreenLengthArg(int w, int lo, int hi, ArgFailure how);
