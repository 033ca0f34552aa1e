#include "engine/StreamSupervisor.h"

#include <cstdio>
#include <ctime>

std::string LocalTimeText()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[64];
    std::snprintf(text, sizeof(text), "%04d.%02d.%02d.%02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string ReconnectCountdownText(int32_t ticksLeft)
{
    return "Reconnecting in " + std::to_string((ticksLeft + 9) / 10) + "s...";
}
