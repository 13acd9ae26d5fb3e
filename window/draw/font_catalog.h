// The installed font families as the drawing code sees them: fontconfig's
// families, plus the common Windows names whose metric-compatible
// replacements are installed ("Arial" drawn with Liberation Sans).
#pragma once
#include <string>
#include <vector>

// Sorted by name; read once, on first use.
const std::vector<std::string>& InstalledFontFamilies();

// The family to hand to pango for a requested name (case-insensitive, as
// font family names are), or empty when no installed family has that name.
std::string FontFaceFor(const char* requested);

// The plain font of the meter's numbers.
inline constexpr const char* kMeterFont = "Arial";
inline constexpr int kMeterFontSize = 13;
