#pragma once

#include <cstdint>

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
    bool mono = false;
};
