#include "base/Log.h"

#include <windows.h>

void LogLine(std::string_view tag, std::string_view text)
{
    OutputDebugStringA(FormatLogLine(tag, text).c_str());
}
