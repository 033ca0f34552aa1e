#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/ProcessingChain.h"

// Signals and measurements shared by the audio tests.

constexpr double kPi = 3.14159265358979323846;

// Interleaved block with a sine per channel (amplitude 0 gives silence).
inline std::vector<int16_t> Sines(uint32_t rate, size_t frames, std::vector<double> freqs, std::vector<double> amps)
{
    const size_t channels = freqs.size();
    std::vector<int16_t> out(frames * channels);
    for (size_t f = 0; f < frames; ++f) {
        for (size_t c = 0; c < channels; ++c) {
            const double v = amps[c] * std::sin(2.0 * kPi * freqs[c] * static_cast<double>(f) / rate);
            out[f * channels + c] = static_cast<int16_t>(std::lround(v));
        }
    }
    return out;
}

// Runs samples through the chain in blocks of blockFrames frames (the last may be short).
inline void RunChain(ProcessingChain& chain, std::vector<int16_t>& samples, size_t blockFrames)
{
    const size_t step = blockFrames * chain.Channels();
    for (size_t at = 0; at < samples.size(); at += step) {
        const size_t count = std::min(step, samples.size() - at);
        chain.Process(samples.data() + at, count * sizeof(int16_t));
    }
}

// RMS of one channel from frame `from` on.
inline double ChannelRms(const std::vector<int16_t>& samples, size_t channels, size_t channel, size_t from)
{
    double sum = 0.0;
    size_t n = 0;
    for (size_t i = from * channels + channel; i < samples.size(); i += channels, ++n)
        sum += static_cast<double>(samples[i]) * samples[i];
    return n == 0 ? 0.0 : std::sqrt(sum / static_cast<double>(n));
}

inline double Db(double ratio)
{
    return 20.0 * std::log10(ratio);
}

inline int MaxAbs(const std::vector<int16_t>& samples)
{
    int peak = 0;
    for (int16_t s : samples)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    return peak;
}

// A chain configured at rate and channels with only the switches set by enable.
template <typename Enable>
void ConfigureChain(ProcessingChain& chain, uint32_t rate, uint16_t channels, Enable enable)
{
    chain.params = ProcessingParams{};
    enable(chain.params);
    chain.Configure(rate, channels);
}
