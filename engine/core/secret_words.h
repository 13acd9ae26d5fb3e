// Values that no log entry and no line of the output pane may show: the
// argument after the key word `password`, and the value of a web request
// header that carries credentials.  Every place that prints script words or
// argument values asks here, so that one rule decides what is masked.
#pragma once
#include <string>
#include <string_view>

inline constexpr std::string_view kMaskedValue = "********";
inline constexpr std::string_view kMaskedWord = "{********}";

// True for the names of headers that carry credentials: Authorization,
// Proxy-Authorization, Cookie and Set-Cookie, in any case, blanks around
// the name ignored.
bool SecretHeaderName(std::string_view name);

// True when word w of the loaded script (1..WordCount) is an argument whose
// value is a secret: the word after `password`, or the value word of
// `web.add header {NAME} value {VALUE}` when NAME is a credential header or
// is only known at run time (it holds a variable or an escape).
bool SecretWord(int w);

// Appends one header line ("Name: value", without its line end) to out,
// its value masked when the name is a credential header's.
void AppendHeaderMasked(std::string& out, std::string_view line);

// A block of header lines (each ended by LF or CR LF) with the value of each
// credential header masked; the line ends are kept.
std::string HeaderBlockMasked(std::string_view block);
