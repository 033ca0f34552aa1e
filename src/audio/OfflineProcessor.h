#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "audio/LoudnessMeter.h"
#include "audio/ProcessingChain.h"
#include "audio/Resampler.h"
#include "audio/ProcessingParams.h"

// What an offline run needs: the recording's format and the stream's.
struct OfflineSetup {
    uint32_t inputRate = 0;
    uint16_t inputChannels = 0;
    uint32_t streamRate = 0;     // 0 keeps the input rate
    uint16_t streamChannels = 0; // 0 means 2
    ProcessingParams processing;
};

// Receives each finished block: interleaved 16-bit samples (all channels counted) at
// OutputRate() with OutputChannels() channels, valid only during the call. Returning
// false stops the run.
using OfflineBlockSink = std::function<bool(const int16_t* samples, size_t count)>;

// Runs recorded sound along the stream path, as the engine does with captured blocks:
// the capture's channel mapping to the stream's channel count, the processing chain in
// blocks of 10 ms at the recording's rate (only when a stage switch or mono is set),
// then the resampler to the stream rate when it differs. The loudness meter measures
// what leaves it.
class OfflineProcessor {
public:
    explicit OfflineProcessor(const OfflineSetup& setup);

    // Feeds frames in the recording's channel count. Whole 10 ms blocks go through at
    // once; a remainder waits for more input or for Finish.
    bool Push(const int16_t* samples, size_t frames, const OfflineBlockSink& sink);

    // Sends the last partial block through.
    bool Finish(const OfflineBlockSink& sink);

    uint32_t OutputRate() const { return outputRate; }
    uint16_t OutputChannels() const { return channels; }
    size_t BlockFrames() const { return blockFrames; }
    bool Processing() const { return processing; }
    ProcessingMeters Meters() const { return chain.Meters(); }
    // Of everything sent to the sink; complete after Finish.
    LoudnessReading Loudness() const { return meter.Reading(); }

private:
    bool RunBlock(const OfflineBlockSink& sink);

    uint16_t inputChannels;
    uint16_t channels;
    uint32_t inputRate;
    uint32_t outputRate;
    size_t blockFrames;
    bool processing;
    bool resampling;
    ProcessingChain chain;
    Resampler resampler;
    LoudnessMeter meter;
    std::vector<int16_t> block; // mapped to the stream's channels, up to blockFrames frames
    size_t blockFill = 0;       // frames in block
    std::vector<int16_t> resampled;
};
