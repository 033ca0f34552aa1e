#pragma once

#include <string>
#include <string_view>

// One diagnostic line with a bracketed tag ("[Audio] ", "[Encoder] ", "[Engine] ",
// "[Icecast] "): the debugger output on Windows, standard error elsewhere.
void LogLine(std::string_view tag, std::string_view text);

// "[tag] text\n"
std::string FormatLogLine(std::string_view tag, std::string_view text);
