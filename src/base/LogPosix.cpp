#include "base/Log.h"

#include <cstdio>

void LogLine(std::string_view tag, std::string_view text)
{
    const std::string line = FormatLogLine(tag, text);
    std::fwrite(line.data(), 1, line.size(), stderr);
}
