#include "audio/DynamicsStages.h"

#include <algorithm>
#include <cmath>

#include "audio/BlockLevel.h"
#include "audio/ProcessingParams.h"

namespace {

constexpr double kMaxGainDb = 120.0;

// One-pole smoothing coefficient for a time constant in seconds.
float Smoothing(uint32_t sampleRate, double seconds)
{
    return static_cast<float>(std::exp(-1.0 / (static_cast<double>(sampleRate) * seconds)));
}

float FramePeak(const float* frame, uint16_t channels)
{
    float peak = 0.0f;
    for (uint16_t c = 0; c < channels; ++c)
        peak = std::max(peak, std::fabs(frame[c]));
    return peak;
}

void Scale(float* samples, size_t n, float factor)
{
    for (size_t i = 0; i < n; ++i)
        samples[i] *= factor;
}

// 20 log10(x) and 10^(db / 20) through the natural functions, which are cheaper.
constexpr float kDbPerNeper = 8.685889638f;
constexpr float kNeperPerDb = 0.1151292546f;

} // namespace

float NoiseGate::Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate)
{
    const float attack = Smoothing(sampleRate, 0.005);
    const float release = Smoothing(sampleRate, 0.05);
    const size_t frames = n / channels;
    float blockPeak = 0.0f;
    for (size_t f = 0; f < frames; ++f) {
        float* frame = samples + f * channels;
        const float peak = FramePeak(frame, channels);
        blockPeak = std::max(blockPeak, peak);
        const float target = peak > 103.54688f ? 1.0f : 0.0f; // about -50 dBFS
        gain += (target - gain) * (target > gain ? 1.0f - attack : 1.0f - release);
        if (gain < 0.999f) {
            for (uint16_t c = 0; c < channels; ++c)
                frame[c] *= gain;
        }
    }
    const float peak = blockPeak * kInvFullScale;
    if (gain < 0.99f)
        return (1.0f - gain) * 0.5f + 0.5f;
    if (peak > 0.0001f)
        return Clamp01(peak / 0.316f) * 0.4f + 0.05f;
    return 0.05f;
}

float ApplyGain(float* samples, size_t n, float gainDb)
{
    const float position = Clamp01((gainDb + 6.0f) / 12.0f);
    // Beyond 120 dB a factor only overflows the floats (inf, then NaN in the following
    // stages, which silences the sound); every such gain already clips at full scale.
    const double held = std::clamp(static_cast<double>(gainDb), -kMaxGainDb, kMaxGainDb);
    if (gainDb != 0.0f)
        Scale(samples, n, static_cast<float>(std::pow(10.0, held / 20.0)));
    return position;
}

void AutoGainControl::Reset()
{
    gainDb = 0.0f;
    level = 0.0f;
}

float AutoGainControl::Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate, float speed)
{
    const size_t frames = n / channels;
    if (frames == 0)
        return 0.5f - std::clamp(gainDb / 24.0f, -0.5f, 0.5f);
    double sumL = 0.0;
    double sumR = 0.0;
    for (size_t f = 0; f < frames; ++f) {
        const double l = static_cast<double>(samples[f * channels]) / 32768.0;
        sumL += l * l;
        if (channels > 1) {
            const double r = static_cast<double>(samples[f * channels + 1]) / 32768.0;
            sumR += r * r;
        }
    }
    const double rmsL = std::sqrt(sumL / static_cast<double>(frames));
    const double rmsR = channels > 1 ? std::sqrt(sumR / static_cast<double>(frames)) : rmsL;
    const float blockLevel = static_cast<float>(std::max(rmsL, rmsR));

    // The block's share of 300 ms sets how far the level follows.
    const float share = static_cast<float>(static_cast<double>(frames) / sampleRate / 0.3);
    level += (blockLevel - level) * std::clamp(share, 0.01f, 1.0f);
    const float wanted = std::clamp(kAgcTargetDb - 20.0f * std::log10(level + 1e-30f), -kAgcMaxGainDb, kAgcMaxGainDb);
    gainDb += (wanted - gainDb) * std::clamp(speed, 0.002f, 0.01f);

    const float g = static_cast<float>(std::pow(10.0, static_cast<double>(gainDb) / 20.0));
    if (std::fabs(g - 1.0f) > 0.001f)
        Scale(samples, n, g);
    return 0.5f - std::clamp(gainDb / 24.0f, -0.5f, 0.5f);
}

float Compressor::Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate,
                          const CompressorSettings& s)
{
    const float ratio = std::max(1.0f, s.ratio);
    const float slope = 1.0f / ratio - 1.0f;
    const float makeup = static_cast<float>(std::pow(10.0, static_cast<double>(s.makeupDb) / 20.0));
    const float attack = s.attackMs > 0.0f ? Smoothing(sampleRate, static_cast<double>(s.attackMs) * 0.001) : 0.0f;
    const float release = s.releaseMs > 0.0f ? Smoothing(sampleRate, static_cast<double>(s.releaseMs) * 0.001) : 0.0f;
    const size_t frames = n / channels;
    float reduction = 0.0f;
    for (size_t f = 0; f < frames; ++f) {
        float* frame = samples + f * channels;
        const float peak = FramePeak(frame, channels) * kInvFullScale;
        const float levelDb = kDbPerNeper * std::log(peak + 1e-30f);
        const float coeff = levelDb > envelopeDb ? attack : release;
        envelopeDb = (1.0f - coeff) * levelDb + coeff * envelopeDb;
        reduction = envelopeDb > s.threshDb ? (envelopeDb - s.threshDb) * slope : 0.0f;
        const float gain = reduction < 0.0f ? std::exp(reduction * kNeperPerDb) * makeup : makeup;
        for (uint16_t c = 0; c < channels; ++c)
            frame[c] *= gain;
    }
    return 0.5f - std::clamp((reduction + s.makeupDb) / 24.0f, -0.5f, 0.5f);
}

float ApplyBoost(float* samples, size_t n)
{
    const float factor = static_cast<float>(std::pow(10.0, 0.075));
    double sumBefore = 0.0;
    double sumAfter = 0.0;
    for (size_t i = 0; i < n; ++i) {
        sumBefore += std::fabs(samples[i]);
        samples[i] *= factor;
        sumAfter += std::fabs(samples[i]);
    }
    const float before = LevelFromSum(sumBefore, n);
    const float after = LevelFromSum(sumAfter, n);
    return std::max(Clamp01((after - before) * 8.0f), before > 0.01f ? 0.15f : 0.0f);
}

float Limiter::Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate)
{
    const float ceiling = kLimiterCeiling;
    const float attack = Smoothing(sampleRate, 0.001);
    const float release = Smoothing(sampleRate, 0.1);
    const size_t frames = n / channels;
    for (size_t f = 0; f < frames; ++f) {
        float* frame = samples + f * channels;
        const float peak = FramePeak(frame, channels);
        const float target = peak > ceiling ? ceiling / peak : 1.0f;
        gain += (target - gain) * (gain > target ? 1.0f - attack : 1.0f - release);
        for (uint16_t c = 0; c < channels; ++c)
            frame[c] = std::clamp(frame[c] * gain, -ceiling, ceiling);
    }
    return Clamp01((1.0f - gain) * 10.0f);
}
