#pragma once

#include <algorithm>
#include <cstdint>

// The automatic gain control's fixed aim: this RMS level, reached within plus or minus
// this much gain.
inline constexpr float kAgcTargetDb = -16.0f;
inline constexpr float kAgcMaxGainDb = 12.0f;

// Switches and values of one processing chain (engine, input level monitor, preview).
struct ProcessingParams {
    bool hpfEnabled = false;
    bool gateEnabled = false;
    bool gainEnabled = false;
    float gainDb = 0.0f;
    bool agcEnabled = false;
    float agcTargetDb = -14.0f;
    float agcMaxGainDb = 18.0f;
    float agcSpeed = 0.005f;
    bool compEnabled = false;
    float compThreshDb = -12.0f;
    float compRatio = 4.0f;
    float compAttackMs = 30.0f;
    float compReleaseMs = 270.0f;
    float compMakeupDb = 0.0f;
    bool boostEnabled = false;
    bool bassEnabled = false;
    bool stereoWidthEnabled = false;
    bool limiterEnabled = false;
    bool codecPreEnabled = false;
    uint32_t codecBitrate = 64000;
    uint32_t codecHeVersion = 1;
    // The stream's codec: 0 AAC (codecHeVersion names the profile), 1 MP3, 2 Opus.
    uint32_t codecFamily = 0;
    bool mono = false;
    // Loudness mode (in the AGC's place) and the true-peak limiter (the last stage).
    bool loudnessEnabled = false;
    float loudnessTarget = -16.0f; // LUFS
    float loudnessMaxGainDb = 18.0f;
    bool truePeakEnabled = false;
    float truePeakCeilingDb = -1.0f; // dBTP of the decoded stream
};

// Compressor attack and release derived from its threshold: a deeper threshold acts
// faster, from 30/270 ms at -10 dB down to 5/45 ms at -30 dB and below.
inline void DeriveCompressorTiming(ProcessingParams& params)
{
    const float t = std::clamp((params.compThreshDb + 10.0f) / -20.0f, 0.0f, 1.0f);
    const float x = 300.0f - 250.0f * t;
    params.compAttackMs = 0.1f * x;
    params.compReleaseMs = 0.9f * x;
}
