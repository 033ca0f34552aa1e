#include "audio/TruePeakLimiter.h"

#include <algorithm>
#include <cmath>

void TruePeakLimiter::Configure(uint32_t sampleRate, uint16_t channels)
{
    rate = sampleRate == 0 ? 44100 : sampleRate;
    channelCount = channels == 0 ? 1 : channels;
    lookahead = std::max<uint32_t>(1, static_cast<uint32_t>(std::lround(rate * 0.003)));
    delayFrames = kTaps / 2 + lookahead - 1;
    release = static_cast<float>(std::exp(-1.0 / (static_cast<double>(rate) * 0.08)));

    detector.Configure(channelCount);
    peaks.assign(lookahead, 0.0f);
    delay.assign(static_cast<size_t>(delayFrames + 1) * channelCount, 0.0f);
    minValues.assign(lookahead + 2, 1.0f);
    minIndices.assign(lookahead + 2, 0);
    averaged.assign(lookahead, 1.0f);
    Reset();
}

void TruePeakLimiter::Reset()
{
    detector.Reset();
    std::fill(peaks.begin(), peaks.end(), 0.0f);
    peakPos = 0;
    std::fill(delay.begin(), delay.end(), 0.0f);
    std::fill(averaged.begin(), averaged.end(), 1.0f);
    delayPos = 0;
    minHead = 0;
    minCount = 0;
    step = 0;
    smoothed = 1.0f;
    averagePos = 0;
    averageSum = static_cast<double>(averaged.size());
    gain = 1.0f;
    outputPeak = 0.0f;
}

float TruePeakLimiter::HoldMinimum(float required)
{
    const size_t capacity = minValues.size();
    const auto wrap = [capacity](size_t i) { return i >= capacity ? i - capacity : i; }; // i < 2 capacity
    // Drop the values the new one undercuts, then those that left the window.
    while (minCount > 0 && minValues[wrap(minHead + minCount - 1)] >= required)
        --minCount;
    const size_t tail = wrap(minHead + minCount);
    minValues[tail] = required;
    minIndices[tail] = step;
    ++minCount;
    while (minIndices[minHead] + lookahead < step) {
        minHead = wrap(minHead + 1);
        --minCount;
    }
    return minValues[minHead];
}

float TruePeakLimiter::Average(float value)
{
    averageSum += static_cast<double>(value) - static_cast<double>(averaged[averagePos]);
    averaged[averagePos] = value;
    averagePos = averagePos + 1 == averaged.size() ? 0 : averagePos + 1;
    return static_cast<float>(averageSum / static_cast<double>(averaged.size()));
}

float TruePeakLimiter::Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate, float ceiling)
{
    if (sampleRate != rate || channels != channelCount)
        Configure(sampleRate, channels); // only when the chain was configured otherwise
    const size_t frames = n / channels;
    const size_t delayLength = delayFrames + 1;
    float deepest = 1.0f;
    float loudest = 0.0f;
    for (size_t f = 0; f < frames; ++f) {
        float* frame = samples + f * channels;
        const float peak = detector.Detect(frame);
        const float required = peak > ceiling ? ceiling / peak : 1.0f;
        const float held = HoldMinimum(required);
        // Down at once (the average spreads it over the look-ahead), up slowly; never
        // above the held minimum, so no peak in the window escapes.
        smoothed = held < smoothed ? held : held + (smoothed - held) * release;
        gain = Average(smoothed);
        // The frame leaving now had its peak found lookahead - 1 frames ago.
        const size_t nextPeak = peakPos + 1 == lookahead ? 0 : peakPos + 1;
        peaks[peakPos] = peak;
        loudest = std::max(loudest, peaks[nextPeak] * gain);
        peakPos = nextPeak;
        ++step;
        deepest = std::min(deepest, gain);

        const size_t nextDelay = delayPos + 1 == delayLength ? 0 : delayPos + 1;
        float* slot = delay.data() + delayPos * channels;
        const float* oldest = delay.data() + nextDelay * channels;
        for (uint16_t c = 0; c < channels; ++c) {
            slot[c] = frame[c];
            frame[c] = std::clamp(oldest[c] * gain, -ceiling, ceiling);
        }
        delayPos = nextDelay;
    }
    outputPeak = std::min(loudest, ceiling);
    const float reductionDb = -20.0f * std::log10(std::max(deepest, 1e-6f));
    return std::clamp(reductionDb, 0.0f, 1.0f);
}

// Measured by encoding and decoding (ffmpeg's ebur128 filter) speech and music through
// the limiter: AAC-LC at 128 kbit/s adds up to about 0.7 dB to the true peak, HE-AAC's
// spectral band replication up to about 1.5 dB (v1, 64 kbit/s) and 2.5 dB (v2, 48
// kbit/s, parametric stereo), a little more at lower rates. Pure tones and squares above the SBR crossover
// overshoot far more (several dB); no margin that keeps programs loud covers them.
float CodecOvershootDb(uint32_t heVersion, uint32_t bitrate)
{
    const bool low = bitrate < 64000;
    if (heVersion == 2)
        return low ? 3.0f : 2.5f;
    if (heVersion == 1)
        return low ? 2.5f : 2.0f;
    return bitrate < 128000 ? 1.5f : 1.0f;
}

// Measured the same way (MP3 through LAME, Opus through libopus at 20 ms frames): MP3
// adds about 0.5 dB at 128 kbit/s and more at low rates; Opus adds about 1.5 dB at 96
// kbit/s, where the margin keeps half a decibel beyond that, more at low rates.
float CodecOvershootDb(uint32_t family, uint32_t heVersion, uint32_t bitrate)
{
    if (family == 1)
        return bitrate < 128000 ? 1.5f : 1.0f;
    if (family == 2)
        return bitrate < 64000 ? 2.5f : 2.0f;
    return CodecOvershootDb(heVersion, bitrate);
}
