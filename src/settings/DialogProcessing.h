#pragma once

#include <cstdint>
#include <string>

#include "audio/ProcessingParams.h"

// What the settings dialog's processing controls hold: the module switches, the texts
// of the hidden value edits (as the slider labels write them) and the stream format.
struct DialogProcessingControls {
    bool hpf = false;
    bool gate = false;
    bool gain = false;
    bool agc = false;
    bool comp = false;
    bool boost = false;
    bool bass = false;
    bool width = false;
    bool limiter = false;
    bool codecPre = false;
    bool loudness = false;
    bool truePeak = false;
    float loudnessTarget = -16.0f;
    float loudnessMaxGainDb = 18.0f;
    float truePeakCeilingDb = -1.0f;
    std::string gainDb;
    std::string agcSpeed;
    std::string compThreshDb;
    std::string compRatio;
    std::string compMakeupDb;
    uint32_t bitrateKbps = 64;
    uint32_t heVersion = 1;
    bool mono = false;
};

// The processing chain the controls describe, as the live preview and the level monitor
// run it: a text that is not a number reads as 0, the AGC aims at -16 dB with at most
// 12 dB of gain, the compressor's timing follows its threshold, and loudness mode and the
// true-peak limiter take their target, gain range and ceiling as stored.
ProcessingParams ProcessingFromDialog(const DialogProcessingControls& controls);
