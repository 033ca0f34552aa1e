#include "base/Log.h"

std::string FormatLogLine(std::string_view tag, std::string_view text)
{
    std::string line;
    line.reserve(tag.size() + text.size() + 4);
    line += '[';
    line += tag;
    line += "] ";
    line += text;
    line += '\n';
    return line;
}
