#include "engine/StreamSupervisor.h"

#include "base/LocalTime.h"

#include <cstdio>
#include <ctime>

std::string LocalTimeText()
{
    const std::time_t now = std::time(nullptr);
    const std::tm local = LocalCalendarTime(now);
    char text[64];
    std::snprintf(text, sizeof(text), "%04d.%02d.%02d.%02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

const char* PhaseCaption(StreamPhase phase)
{
    switch (phase) {
    case StreamPhase::Online:
        return "Online";
    case StreamPhase::Reconnecting:
        return "Reconnecting";
    case StreamPhase::Disconnected:
        return "Disconnected";
    case StreamPhase::Offline:
        return "Offline";
    case StreamPhase::Idle:
        break;
    }
    return "Start";
}

std::string ReconnectCountdownText(int32_t ticksLeft)
{
    return "Reconnecting in " + std::to_string((ticksLeft + 9) / 10) + "s...";
}
