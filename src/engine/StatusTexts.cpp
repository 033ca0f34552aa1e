#include "engine/StatusTexts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "encoder/StreamEncoder.h"

std::string QualityText(uint32_t bitrate, uint32_t sampleRate, uint16_t channels, AacProfile profile, Codec codec)
{
    sampleRate = CodecStreamRate(codec, sampleRate);
    char rate[32];
    if (sampleRate % 1000 == 0)
        std::snprintf(rate, sizeof(rate), "%u kHz", sampleRate / 1000);
    else
        std::snprintf(rate, sizeof(rate), "%.1f kHz", sampleRate / 1000.0);
    // Anything but the two named profiles is shown as HE-AAC v1, the default one.
    const char* name = profile == AacProfile::Lc ? "AAC-LC" : profile == AacProfile::HeV2 ? "aacPlus v2" : "aacPlus";
    if (codec != Codec::Aac)
        name = CodecName(codec);
    char text[128];
    std::snprintf(text, sizeof(text), "%u kbps | %s | %s | %s", bitrate / 1000, rate, channels > 1 ? "Stereo" : "Mono",
                  name);
    return text;
}

std::string ElapsedText(uint32_t seconds)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%u:%02u:%02u", seconds / 3600, (seconds / 60) % 60, seconds % 60);
    return text;
}

std::string DataSentText(uint64_t bytes)
{
    char text[48];
    std::snprintf(text, sizeof(text), "%.2f KB", static_cast<double>(bytes) * (1.0 / 1024.0));
    return text;
}

Indicator InternetIndicator(InternetState internetState)
{
    switch (internetState) {
    case InternetState::Reachable:
        return {"Stable", IndicatorColour::Green};
    case InternetState::Unreachable:
        return {"No Internet", IndicatorColour::Red};
    case InternetState::Unknown:
        break;
    }
    return {"Checking...", IndicatorColour::Neutral};
}

Indicator EncoderIndicator(bool hasEngine, EngineState state, int32_t consecutiveSendFailures)
{
    if (!hasEngine)
        return {"Offline", IndicatorColour::Red};
    if (state == EngineState::Streaming) {
        if (consecutiveSendFailures == 0)
            return {"Connected", IndicatorColour::Green};
        if (consecutiveSendFailures <= 4)
            return {"Buffering", IndicatorColour::Orange};
        return {"Dropped Frames", IndicatorColour::Red};
    }
    if (state == EngineState::Error)
        return {"Disconnected", IndicatorColour::Red};
    return {"Offline", IndicatorColour::Red};
}

int LitDots(float level)
{
    const float clamped = std::min(level, 1.0f);
    if (!(clamped > 0.0f))
        return 0;
    return std::min(kMeterDots, static_cast<int>(clamped * kMeterDots));
}

Indicator LiveEncoderIndicator(bool attemptRunning, bool hasEngine, EngineState state,
                               int32_t consecutiveSendFailures)
{
    if (attemptRunning)
        return {"Connecting...", IndicatorColour::Yellow};
    return EncoderIndicator(hasEngine, state, consecutiveSendFailures);
}

Indicator AudioQuality::Update(float leftLevel, float rightLevel)
{
    const float peak = leftLevel > rightLevel ? leftLevel : rightLevel;
    if (peak >= smoothedLevel) {
        smoothedLevel += (peak - smoothedLevel) * 0.14f;
        holdTicks = 30;
    } else if (holdTicks > 0) {
        holdTicks -= 1;
    } else {
        smoothedLevel *= 0.955f;
    }
    if (smoothedLevel < 0.001f)
        return {"Mute", IndicatorColour::Neutral};
    const float db = 20.0f * std::log10(smoothedLevel);
    if (db < -24.0f)
        return {"Mute", IndicatorColour::Neutral};
    if (db < -12.0f)
        return {"Quiet", IndicatorColour::Green};
    if (db < -3.0f)
        return {"Good", IndicatorColour::Yellow};
    if (db < -0.5f)
        return {"Excellent", IndicatorColour::Orange};
    return {"Overmod", IndicatorColour::Red};
}

uint32_t IndicatorPhase(uint32_t tickCount)
{
    return (tickCount / 20) % 6;
}

Indicator AudioIndicator(const Indicator& quality, bool deadAir)
{
    if (deadAir)
        return {"Dead air", IndicatorColour::Red};
    return quality;
}
