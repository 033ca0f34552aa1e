#include "audio/FilterStages.h"

#include <algorithm>
#include <cmath>

#include "audio/BlockLevel.h"

namespace {

size_t FilteredChannels(uint16_t channels)
{
    return channels < 2 ? 1 : 2;
}

// Runs the first min(channels, 2) channels of every frame through their filter states
// (both channels in one loop, so the two recursions overlap) and calls
// visit(channel, before, after) for each filtered sample.
template <typename Visit>
void FilterFrames(float* samples, size_t frames, uint16_t channels, const BiquadCoefficients& k, BiquadState* state,
                  Visit&& visit)
{
    if (channels == 1) {
        for (size_t f = 0; f < frames; ++f) {
            const float x = samples[f];
            samples[f] = state[0].Process(k, x);
            visit(0, x, samples[f]);
        }
        return;
    }
    for (size_t f = 0; f < frames; ++f) {
        float* frame = samples + f * channels;
        const float l = frame[0];
        const float r = frame[1];
        frame[0] = state[0].Process(k, l);
        frame[1] = state[1].Process(k, r);
        visit(0, l, frame[0]);
        visit(1, r, frame[1]);
    }
}

// Sum of |x| over the samples the filters did not touch: channels past the second and
// a trailing partial frame.
float UnfilteredSum(const float* samples, size_t n, uint16_t channels)
{
    float sum = 0.0f;
    const size_t frames = n / channels;
    for (size_t f = 0; channels > 2 && f < frames; ++f) {
        for (size_t c = 2; c < channels; ++c)
            sum += std::fabs(samples[f * channels + c]);
    }
    for (size_t i = frames * channels; i < n; ++i)
        sum += std::fabs(samples[i]);
    return sum;
}

} // namespace

void HighPassFilter::Reset()
{
    state[0] = {};
    state[1] = {};
    designed = false;
    designRate = 0;
}

float HighPassFilter::Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate)
{
    if (!designed || designRate != sampleRate) {
        k = DesignHighPass(70.0f, static_cast<float>(sampleRate), 1.4142f);
        designRate = sampleRate;
        designed = true;
    }
    // Per-channel float sums keep the additions off the filters' critical path; the
    // meter needs no more precision.
    float sum[2] = {0.0f, 0.0f};
    FilterFrames(samples, n / channels, channels, k, state,
                 [&sum](size_t c, float, float after) { sum[c] += std::fabs(after); });
    const float total = sum[0] + sum[1] + UnfilteredSum(samples, n, channels);
    return Clamp01(LevelFromSum(total, n) * 1.5f);
}

void BassShelf::Reset()
{
    state[0] = {};
    state[1] = {};
    designed = false;
    designRate = 0;
}

float BassShelf::Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate)
{
    if (!designed || designRate != sampleRate) {
        const float amplitude = static_cast<float>(std::pow(10.0, 0.075)); // +3 dB shelf
        k = DesignLowShelf(100.0f, static_cast<float>(sampleRate), amplitude, 1.4f);
        designRate = sampleRate;
        designed = true;
    }
    float change[2] = {0.0f, 0.0f};
    FilterFrames(samples, n / channels, channels, k, state,
                 [&change](size_t c, float before, float after) { change[c] += std::fabs(after - before); });
    const float amount = (change[0] + change[1]) / static_cast<float>(n) * kInvFullScale * 10.0f;
    return std::sqrt(Clamp01(amount));
}

void StereoWidth::Reset()
{
    side = {};
    designed = false;
    designRate = 0;
}

float StereoWidth::Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate)
{
    if (channels < 2 || n < 2)
        return 0.0f;
    if (!designed || designRate != sampleRate) {
        k = DesignLowPass(200.0f, static_cast<float>(sampleRate), 1.4142f);
        designRate = sampleRate;
        designed = true;
    }
    const size_t frames = n / channels;
    float sumLow = 0.0f;
    float sumSide = 0.0f;
    for (size_t f = 0; f < frames; ++f) {
        float* frame = samples + f * channels;
        const float s = (frame[0] - frame[1]) * 0.5f;
        const float m = (frame[0] + frame[1]) * 0.5f;
        const float low = side.Process(k, s);
        const float highSide = s - low;
        frame[0] = m + highSide;
        frame[1] = m - highSide;
        sumLow += std::fabs(low);
        sumSide += std::fabs(s);
    }
    if (sumSide <= 1.0f)
        return 0.0f;
    return std::min(1.0f, sumLow / sumSide);
}

uint32_t CodecTableCutoffHz(uint32_t heVersion, uint32_t bitrate)
{
    if (heVersion == 2) {
        if (bitrate <= 24000)
            return 11000;
        if (bitrate <= 32000)
            return 12500;
        return bitrate <= 48000 ? 14000 : 15000;
    }
    if (heVersion == 1) {
        if (bitrate <= 48000)
            return 13000;
        if (bitrate <= 64000)
            return 15000;
        return bitrate <= 80000 ? 16500 : 18000;
    }
    if (bitrate <= 128000)
        return 16000;
    return bitrate <= 160000 ? 18000 : 20000;
}

uint32_t CodecTableCutoffHz(uint32_t family, uint32_t heVersion, uint32_t bitrate)
{
    if (family == 1) {
        if (bitrate <= 96000)
            return 15000;
        if (bitrate <= 128000)
            return 17000;
        return bitrate <= 192000 ? 19000 : 20000;
    }
    if (family == 2) {
        if (bitrate <= 12000)
            return 8000;
        if (bitrate <= 16000)
            return 12000;
        return bitrate <= 24000 ? 16000 : 20000;
    }
    return CodecTableCutoffHz(heVersion, bitrate);
}

void CodecPreconditioner::Reset()
{
    state[0] = {};
    state[1] = {};
    designed = false;
    designBitrate = 0;
    designProfile = -1;
    designRate = 0;
    envelope = 0.0f;
}

void CodecPreconditioner::Design(uint32_t sampleRate, uint32_t bitrate, uint32_t heVersion, uint32_t family)
{
    const float nyquistLimit = static_cast<float>(sampleRate) * 0.5f * 0.95f;
    cutoffHz = std::min(nyquistLimit, static_cast<float>(CodecTableCutoffHz(family, heVersion, bitrate)));
    k = DesignLowPass(cutoffHz, static_cast<float>(sampleRate), 1.414f);
    designRate = sampleRate;
    designBitrate = bitrate;
    designProfile = static_cast<int32_t>(family * 16 + heVersion);
    designed = true;
}

float CodecPreconditioner::Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate,
                                   uint32_t bitrate, uint32_t heVersion, uint32_t family)
{
    if (!designed || designRate != sampleRate || designBitrate != bitrate ||
        designProfile != static_cast<int32_t>(family * 16 + heVersion))
        Design(sampleRate, bitrate, heVersion, family);

    // Envelope follower: 0.5 ms attack, 10 ms release; transients are softened toward
    // a floor of -2 dB.
    const float attack = static_cast<float>(std::exp(-1.0 / (static_cast<double>(sampleRate) * 0.0005)));
    const float release = static_cast<float>(std::exp(-1.0 / (static_cast<double>(sampleRate) * 0.01)));
    const float floorGain = static_cast<float>(std::pow(10.0, -0.1));
    const bool narrow = family == 0 && heVersion == 2 && channels > 1;
    const size_t filteredChannels = FilteredChannels(channels);
    const size_t frames = n / channels;

    float sumIn[2] = {0.0f, 0.0f};
    float sumDiff[2] = {0.0f, 0.0f};
    for (size_t f = 0; f < frames; ++f) {
        float* frame = samples + f * channels;
        const float in[2] = {frame[0], frame[filteredChannels - 1]};
        float peak = std::fabs(in[0]);
        if (filteredChannels > 1)
            peak = std::max(peak, std::fabs(in[1]));
        peak *= kInvFullScale;
        envelope += (peak - envelope) * (peak > envelope ? 1.0f - attack : 1.0f - release);
        float g = 1.0f;
        const float rise = peak - envelope;
        if (rise > 0.05f)
            g = 1.0f - Clamp01(rise * 4.0f) * (1.0f - floorGain);
        for (size_t c = 0; c < filteredChannels; ++c)
            frame[c] = state[c].Process(k, frame[c]) * g;
        if (narrow) {
            const float m = (frame[0] + frame[1]) * 0.5f;
            const float s = (frame[0] - frame[1]) * 0.5f * 0.707f;
            frame[0] = m + s;
            frame[1] = m - s;
        }
        for (size_t c = 0; c < filteredChannels; ++c) {
            sumIn[c] += std::fabs(in[c]);
            sumDiff[c] += std::fabs(in[c] - frame[c]);
        }
    }
    const float in = sumIn[0] + sumIn[1];
    const float diff = sumDiff[0] + sumDiff[1];
    const float v = in > 1.0f ? Clamp01(diff / in * 3.0f) : 0.0f;
    return in > 100.0f ? std::max(0.08f, v) : v;
}
