// The fixed head of every HTML log, written before its first entry.
#pragma once
#include <string_view>

std::string_view HtmlLogPrologue();
