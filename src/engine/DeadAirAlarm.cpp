#include "engine/DeadAirAlarm.h"

#include <cmath>

DeadAirAlarm::Change DeadAirAlarm::Update(Clock::time_point now, Clock::time_point lastSound, bool onAir,
                                          int32_t silenceSeconds)
{
    if (!onAir || silenceSeconds <= 0) {
        sounding = false;
        return Change::None;
    }
    if (sounding) {
        if (lastSound <= silenceStart)
            return Change::None;
        sounding = false;
        silenceLength = std::chrono::duration_cast<std::chrono::seconds>(lastSound - silenceStart).count();
        return Change::Ended;
    }
    if (now - lastSound < std::chrono::seconds(silenceSeconds))
        return Change::None;
    sounding = true;
    silenceStart = lastSound;
    return Change::Started;
}

float DeadAirThreshold(int32_t thresholdDb)
{
    return std::pow(10.0f, static_cast<float>(thresholdDb) / 20.0f);
}

std::string DeadAirStartedText(int32_t thresholdDb, int32_t silenceSeconds)
{
    return "Dead air: no sound above " + std::to_string(thresholdDb) + " dBFS for " + std::to_string(silenceSeconds) +
           " s";
}

std::string DeadAirEndedText(int64_t seconds)
{
    return "Sound is back after " + std::to_string(seconds) + " s";
}

std::string DeadAirOnText(const std::string& mountPoint)
{
    return "Dead air on " + std::string(mountPoint.rfind('/', 0) == 0 ? "" : "/") + mountPoint;
}
