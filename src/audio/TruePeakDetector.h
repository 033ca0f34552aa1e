#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Finds the peaks between the samples, as a true-peak meter does: a 4x oversampling
// interpolator (a Kaiser-windowed sinc, 12 taps per phase) per channel. The true-peak
// limiter steers by it and the loudness meter reads by it, so both agree.
class TruePeakDetector {
public:
    static constexpr int kTaps = 12;
    static constexpr int kPhases = 4;

    TruePeakDetector();
    // Sizes the history for channels (0 becomes 1) and clears it.
    void Configure(uint16_t channels);
    void Reset();
    // Takes one frame; returns the largest magnitude, over all channels, of the sample
    // kTaps / 2 frames back and of the three points between it and the next one.
    float Detect(const float* frame);
    uint16_t Channels() const { return channelCount; }

private:
    float coefficients[kPhases - 1][kTaps] = {};
    uint16_t channelCount = 0;
    std::vector<float> history; // per channel, kTaps twice over, so a window is contiguous
    size_t historyPos = 0;
};
