#include "app/Log.h"

#include <cstdio>
#include <string>

void LogLine(std::string_view tag, std::string_view text)
{
    std::string line;
    line.reserve(tag.size() + text.size() + 4);
    line += '[';
    line += tag;
    line += "] ";
    line += text;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}
