// Texts about the loaded script and the statement language: the indented
// script (debug log and output pane) and the list of finished statements.
#pragma once

inline constexpr int LISTING_LINE = 1024;  // a listing line with its terminator

// Receives the listing text piece by piece (one line per call).
using ListingSink = void (*)(void* context, const char* text, int len);

// The indentation level that line `line` of the script is printed at, given
// the level before it; *level becomes the level for the next line.  Openers
// (if.va, if.te, if.st, loop.beg, macro.beg) deepen the lines after them,
// closers (if.en, loop.end, macro.end) lower the level before their own line.
int NmsLineLevel(int line, int* level);

// One listing line into dest (LISTING_LINE bytes, NUL-terminated): the line
// number, the statement id, the indentation, each word followed by a blank
// (a secret word masked), then `tail`.  A line that would not fit is cut at a character boundary,
// the tail kept.  Returns the length.
int NmsListingLine(int line, int* level, const char* tail, char* dest);

// The whole indented script, each line ending in " \r\n".
void NmsListScript(ListingSink sink, void* context);
// The finished statements (status above 0), numbered from 1.
void NmsListStatements(ListingSink sink, void* context);

// The same two listings on the output pane.
int NmsShowScript();
int NmsShowStatements();

// The parser's word report, on demand (debug log).
int NmsWordReport();
