// The output pane: the read-only edit below the screen.  Every text goes
// through EditAppend (cut, control bytes masked, UTF-8 made valid, the
// automatic clear); the page buttons replace the content by a page.
#pragma once
#include <cstdint>
#include <string>

inline constexpr int EDIT_APPEND_MAX = 1020;     // bytes of one append
inline constexpr int EDIT_BUFFER = 1024;
inline constexpr int EDIT_CLEAR_UNITS = 20000;   // UTF-16 units before the automatic clear
inline constexpr int VAR_PAGE_SIZE = 50;
inline constexpr int TEXT_PAGE_SIZE = 4096;
inline constexpr int TEXT_PAGE_CHUNK = 1000;

// Where the pane's text goes: the edit widget, or a test's fake.  Both
// calls come from one thread at a time.
struct EditTarget {
  void (*Clear)();
  void (*Append)(const char* utf8, int len);
};

// nullptr (the hide mode): every pane call does nothing.
void EditSetTarget(const EditTarget* target);

// Copies at most EDIT_APPEND_MAX bytes into dest (EDIT_BUFFER bytes, zeroed
// past the copy), each byte below 0x20 but CR, LF and tab, and 0x7F, as '*'.
// Returns the bytes copied (0 for a length of 0 or less).
int EditMaskBytes(const char* text, int len, char* dest);

// The edit's form of masked text: valid UTF-8 (each invalid byte U+FFFD),
// "\r\n" and a lone "\r" as "\n".  Returns the UTF-16 units the text counts,
// the terminating NUL included, as the pane's clear threshold measures them.
int EditText(const char* masked, std::string& out);

void EditAppend(const char* text, int len);
// The log page's text: appended only while that page shows.
void EditLog(const char* text, int len);
void EditClear();

// First, last and first shown entry of a page of `size` entries out of
// `count`, and the page number stored back (the last page's for PAGE_LAST).
struct PageRange {
  int32_t first;
  int32_t last;
  int32_t start;
  int32_t page;
};
PageRange ComputePageRange(int32_t page, int32_t count, int32_t size);

// What the variable and text pages read: the run's own records, or a copy
// of them the runner published (see page_copy.h).
struct PageSource {
  int32_t varCount;  // entries 1..varCount
  int32_t varFill;
  const int32_t* nameOff;
  const int32_t* nameLen;
  const int32_t* valOff;
  const int32_t* valLen;
  const char* pool;
  int64_t poolSize;
  int32_t textLen;
  const char* text;  // positions 0..textLen
};
// The run's records as they are: for the thread running the steps, or
// when no step runs.
PageSource LivePageSource();

// Empties the edit and shows the page of sgWin.displayType/displayPage.
void DisplayPage(const PageSource& from);
void DisplayTextPage(const PageSource& from);
inline void DisplayPage() { DisplayPage(LivePageSource()); }
inline void DisplayTextPage() { DisplayTextPage(LivePageSource()); }

// A page button (80..83, 90..95) pressed.
void PageCommand(int id, const PageSource& from);
inline void PageCommand(int id) { PageCommand(id, LivePageSource()); }
