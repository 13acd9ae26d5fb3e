// SQL text built from script values: formatting without a size limit, the
// filling of "?" marks with quoted values, the check of numbers that go into
// SQL unquoted, and the run-log row that both databases keep.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// printf into a string of whatever length the result has.
std::string SqlFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Script values for the "?" marks of an SQL text, in order.  Values go by
// their length: a NUL byte is part of the value.
using SqlValues = std::vector<std::string_view>;

// The text with each "?" replaced by the literal of the next value; marks
// past the last value stay, and the values' own bytes are never scanned.
std::string SqlFill(std::string_view sql, const SqlValues& values,
                    const std::function<std::string(std::string_view)>& literal);

// A value as an SQLite literal: between single quotes, each quote doubled.
// SQLite takes values bound; this is how the debug log shows them.
std::string SqliteLiteral(std::string_view value);

// True when text is a plain decimal number ("12", "-3.5", " 7 ") that SQL can
// take unquoted: nothing but blanks around an optional minus, digits and at
// most one point with a digit somewhere.
bool SqlIsNumber(std::string_view text);

// Local time as the tables keep it, "YYYY-MM-DD hh:mm:ss".
std::string SqlNow();

// The INSERT of the run-log row into tarv_log, with the run's counters; the
// script path and the text are its two "?" marks.
std::string LogRowSql();
