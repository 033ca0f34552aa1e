#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// The dead-air rule: while a stream is on air, the alarm sounds once the last block
// above the threshold lies silenceSeconds or more in the past, and ends with the first
// block above it again. Off the air, or with silenceSeconds 0, it never sounds; a
// sounding alarm then ends without a "back" (the silence no longer goes out).
class DeadAirAlarm {
public:
    using Clock = std::chrono::steady_clock;
    enum class Change { None, Started, Ended };

    Change Update(Clock::time_point now, Clock::time_point lastSound, bool onAir, int32_t silenceSeconds);

    bool Sounding() const { return sounding; }
    // Whole seconds from the last sound before the alarm to the first sound after it;
    // meaningful after Ended.
    int64_t SilenceSeconds() const { return silenceLength; }

private:
    bool sounding = false;
    Clock::time_point silenceStart;
    int64_t silenceLength = 0;
};

// Linear peak (0..1 of full scale) of a whole-dBFS threshold.
float DeadAirThreshold(int32_t thresholdDb);

// "Dead air: no sound above -50 dBFS for 20 s"
std::string DeadAirStartedText(int32_t thresholdDb, int32_t silenceSeconds);
// "Dead air on MOUNT" (the mount point as configured, with a leading "/")
std::string DeadAirOnText(const std::string& mountPoint);
// "Sound is back after N s"
std::string DeadAirEndedText(int64_t seconds);
