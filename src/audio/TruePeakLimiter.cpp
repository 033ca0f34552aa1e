#include "audio/TruePeakLimiter.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Modified Bessel function of the first kind, order 0, by its series.
double BesselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 30; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

} // namespace

void TruePeakLimiter::Configure(uint32_t sampleRate, uint16_t channels)
{
    rate = sampleRate == 0 ? 44100 : sampleRate;
    channelCount = channels == 0 ? 1 : channels;
    lookahead = std::max<uint32_t>(1, static_cast<uint32_t>(std::lround(rate * 0.003)));
    delayFrames = kTaps / 2 + lookahead - 1;
    release = static_cast<float>(std::exp(-1.0 / (static_cast<double>(rate) * 0.08)));

    // Kaiser-windowed sinc, cut at the original Nyquist frequency; phase p sits p/4 of
    // a sample after the centre tap kTaps/2 - 1. Each phase passes DC at exactly 1.
    const double beta = 6.0;
    const double half = kTaps / 2.0;
    for (int p = 1; p < kPhases; ++p) {
        double sum = 0.0;
        for (int j = 0; j < kTaps; ++j) {
            const double t = j - (kTaps / 2 - 1) - static_cast<double>(p) / kPhases;
            const double sinc = std::sin(kPi * t) / (kPi * t);
            const double r = t / half;
            const double window = r * r < 1.0 ? BesselI0(beta * std::sqrt(1.0 - r * r)) / BesselI0(beta) : 0.0;
            coefficients[p - 1][j] = static_cast<float>(sinc * window);
            sum += sinc * window;
        }
        for (int j = 0; j < kTaps; ++j)
            coefficients[p - 1][j] = static_cast<float>(coefficients[p - 1][j] / sum);
    }

    history.assign(static_cast<size_t>(channelCount) * 2 * kTaps, 0.0f);
    delay.assign(static_cast<size_t>(delayFrames + 1) * channelCount, 0.0f);
    minValues.assign(lookahead + 2, 1.0f);
    minIndices.assign(lookahead + 2, 0);
    averaged.assign(lookahead, 1.0f);
    Reset();
}

void TruePeakLimiter::Reset()
{
    std::fill(history.begin(), history.end(), 0.0f);
    std::fill(delay.begin(), delay.end(), 0.0f);
    std::fill(averaged.begin(), averaged.end(), 1.0f);
    historyPos = 0;
    delayPos = 0;
    minHead = 0;
    minCount = 0;
    step = 0;
    smoothed = 1.0f;
    averagePos = 0;
    averageSum = static_cast<double>(averaged.size());
    gain = 1.0f;
}

// The largest magnitude of the sample kTaps/2 frames back and of the three points
// between it and the next one, over all channels.
float TruePeakLimiter::DetectPeak(const float* frame)
{
    float peak = 0.0f;
    for (uint16_t c = 0; c < channelCount; ++c) {
        float* h = history.data() + static_cast<size_t>(c) * 2 * kTaps;
        h[historyPos] = frame[c];
        h[historyPos + kTaps] = frame[c];
        const float* window = h + historyPos + 1; // the last kTaps inputs, oldest first
        peak = std::max(peak, std::fabs(window[kTaps / 2 - 1]));
        for (int p = 0; p < kPhases - 1; ++p) {
            float y = 0.0f;
            for (int j = 0; j < kTaps; ++j)
                y += coefficients[p][j] * window[j];
            peak = std::max(peak, std::fabs(y));
        }
    }
    historyPos = (historyPos + 1) % kTaps;
    return peak;
}

float TruePeakLimiter::HoldMinimum(float required)
{
    const size_t capacity = minValues.size();
    // Drop the values the new one undercuts, then those that left the window.
    while (minCount > 0 && minValues[(minHead + minCount - 1) % capacity] >= required)
        --minCount;
    const size_t tail = (minHead + minCount) % capacity;
    minValues[tail] = required;
    minIndices[tail] = step;
    ++minCount;
    while (minIndices[minHead] + lookahead < step) {
        minHead = (minHead + 1) % capacity;
        --minCount;
    }
    return minValues[minHead];
}

float TruePeakLimiter::Average(float value)
{
    averageSum += static_cast<double>(value) - static_cast<double>(averaged[averagePos]);
    averaged[averagePos] = value;
    averagePos = (averagePos + 1) % averaged.size();
    return static_cast<float>(averageSum / static_cast<double>(averaged.size()));
}

float TruePeakLimiter::Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate, float ceiling)
{
    if (sampleRate != rate || channels != channelCount)
        Configure(sampleRate, channels); // only when the chain was configured otherwise
    const size_t frames = n / channels;
    const size_t delayLength = delayFrames + 1;
    float deepest = 1.0f;
    for (size_t f = 0; f < frames; ++f) {
        float* frame = samples + f * channels;
        const float peak = DetectPeak(frame);
        const float required = peak > ceiling ? ceiling / peak : 1.0f;
        const float held = HoldMinimum(required);
        // Down at once (the average spreads it over the look-ahead), up slowly; never
        // above the held minimum, so no peak in the window escapes.
        smoothed = held < smoothed ? held : held + (smoothed - held) * release;
        gain = Average(smoothed);
        ++step;
        deepest = std::min(deepest, gain);

        float* slot = delay.data() + delayPos * channels;
        const float* oldest = delay.data() + ((delayPos + 1) % delayLength) * channels;
        for (uint16_t c = 0; c < channels; ++c) {
            slot[c] = frame[c];
            frame[c] = std::clamp(oldest[c] * gain, -ceiling, ceiling);
        }
        delayPos = (delayPos + 1) % delayLength;
    }
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
