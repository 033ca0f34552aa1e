#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/TruePeakDetector.h"

// True-peak limiter, the last stage before the encoder. It finds the peaks between the
// samples with a 4x oversampling interpolator (TruePeakDetector), looks 3 ms ahead and
// lowers the gain smoothly enough that every peak, sampled or between samples, leaves
// at or below the ceiling; then it recovers in about 80 ms. The sound is delayed by the
// look-ahead and half the interpolator (LatencyFrames). Buffers are sized by Configure,
// so Process never allocates for the configured format.
class TruePeakLimiter {
public:
    void Configure(uint32_t sampleRate, uint16_t channels);
    void Reset();
    // ceiling on the integer scale (32768 is full scale). Returns the activity meter:
    // full at 1 dB of reduction.
    float Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate, float ceiling);
    float Gain() const { return gain; }
    uint32_t LatencyFrames() const { return delayFrames; }
    // The true peak of what the last Process let out, on the integer scale: the peak
    // found on the way in times the gain it left with, so a meter need not look again.
    float OutputPeak() const { return outputPeak; }

    static constexpr int kTaps = TruePeakDetector::kTaps;

private:
    float HoldMinimum(float required);
    float Average(float smoothed);

    uint32_t rate = 0;
    uint16_t channelCount = 0;
    uint32_t lookahead = 1;
    uint32_t delayFrames = 0;
    float release = 0.0f;
    TruePeakDetector detector;
    std::vector<float> peaks; // the last lookahead frames' peaks, to meet their frames leaving
    size_t peakPos = 0;
    std::vector<float> delay; // delayFrames + 1 frames
    size_t delayPos = 0;
    // Sliding minimum of the required gain over lookahead + 1 frames (a monotonic queue).
    std::vector<float> minValues;
    std::vector<uint64_t> minIndices;
    size_t minHead = 0;
    size_t minCount = 0;
    uint64_t step = 0;
    float smoothed = 1.0f;
    // Moving average of the smoothed gain over lookahead frames.
    std::vector<float> averaged;
    size_t averagePos = 0;
    double averageSum = 0.0;
    float gain = 1.0f;
    float outputPeak = 0.0f;
};

// How far the decoded stream's true peak rises above the encoder's input for a profile
// (codecHeVersion 0 AAC-LC, 1 HE-AAC v1, 2 HE-AAC v2) and bitrate: the limiter aims
// that much below the configured ceiling.
float CodecOvershootDb(uint32_t heVersion, uint32_t bitrate);
// The same for any codec family (ProcessingParams::codecFamily: 0 AAC as above, 1 MP3,
// 2 Opus).
float CodecOvershootDb(uint32_t family, uint32_t heVersion, uint32_t bitrate);
