// SQL text built from script values: formatting without a size limit, the
// quoting of a value for each database, the check of numbers that go into
// SQL unquoted, and the run-log row that both databases keep.
#pragma once
#include <string>
#include <string_view>

// printf into a string of whatever length the result has.
std::string SqlFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// A value to stand between single quotes in SQLite: each quote doubled.
std::string SqliteQuote(std::string_view value);
// A value to stand between single quotes in MySQL: backslash, single quote and
// double quote each get a backslash in front, the rule of TarvEscapeQuotes,
// but over the whole value.
std::string MySqlQuote(std::string_view value);

// True when text is a plain decimal number ("12", "-3.5", " 7 ") that SQL can
// take unquoted: nothing but blanks around an optional minus, digits and at
// most one point with a digit somewhere.
bool SqlIsNumber(std::string_view text);

// Local time as the tables keep it, "YYYY-MM-DD hh:mm:ss".
std::string SqlNow();

// The INSERT of the run-log row into tarv_log, with the run's counters; the
// script path and the text come already quoted for the database at hand.
std::string LogRowSql(std::string_view quotedPath, std::string_view quotedText);
