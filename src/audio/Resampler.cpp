#include "audio/Resampler.h"

#include <algorithm>

#include "audio/SampleConversion.h"

void Resampler::Configure(uint32_t inputRate, uint32_t outputRate, uint16_t channelCount)
{
    inRate = inputRate;
    outRate = outputRate;
    channels = channelCount == 0 ? 2 : channelCount;
    ratio = inRate == 0 ? 1.0 : static_cast<double>(outRate) / static_cast<double>(inRate);
    step = 1.0 / ratio;
    position = 0.0;
    history.assign(channels, 0.0f);
    filterState[0] = {};
    filterState[1] = {};
    coefficients = {};
    filterEnabled = false;
    if (inRate > outRate && outRate != 0)
        DesignAntiAlias();
}

void Resampler::DesignAntiAlias()
{
    const float cutoff = static_cast<float>(outRate) * 0.45f;
    if (cutoff >= static_cast<float>(inRate) * 0.499f)
        return;
    coefficients = DesignLowPass(cutoff, static_cast<float>(inRate), 1.4142f);
    filterEnabled = true;
}

// Fills filtered with the block's source frames: the first two channels through the
// anti-alias filter when it runs, everything else as it came.
void Resampler::FilterBlock(const int16_t* input, size_t frames)
{
    const size_t count = frames * channels;
    filtered.resize(count);
    float* out = filtered.data();
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<float>(input[i]);
    if (!filterEnabled)
        return;
    if (channels == 1) {
        for (size_t f = 0; f < frames; ++f)
            out[f] = filterState[0].Process(coefficients, out[f]);
        return;
    }
    // Both channels in one loop, so that the two recursions overlap.
    for (size_t f = 0; f < frames; ++f) {
        float* frame = out + f * channels;
        frame[0] = filterState[0].Process(coefficients, frame[0]);
        frame[1] = filterState[1].Process(coefficients, frame[1]);
    }
}

size_t Resampler::Process(const int16_t* input, size_t count, std::vector<int16_t>& out)
{
    const size_t frames = channels == 0 ? 0 : count / channels;
    if (input == nullptr || frames == 0) {
        out.clear();
        return 0;
    }
    if (history.size() != channels)
        history.assign(channels, 0.0f);

    if (inRate == outRate) {
        out.assign(input, input + frames * channels);
        for (size_t c = 0; c < channels; ++c)
            history[c] = static_cast<float>(input[(frames - 1) * channels + c]);
        return out.size();
    }

    FilterBlock(input, frames);
    const float* source = filtered.data();
    const size_t maxFrames = static_cast<size_t>(static_cast<double>(frames) * ratio) + 2;
    out.resize(maxFrames * channels);

    // The output at position p lies between frame trunc(p) - 1 and frame trunc(p), with
    // the previous block's last frame as frame -1: the timeline runs on across blocks.
    const float high = ceiling > 0.0f ? ceiling : 32767.0f;
    const float low = ceiling > 0.0f ? -ceiling : -32768.0f;
    double p = position;
    size_t n = 0;
    const double end = static_cast<double>(frames);
    while (p < end && n < maxFrames) {
        const size_t i = static_cast<size_t>(p);
        const float frac = static_cast<float>(p - static_cast<double>(i));
        const float* s1 = source + i * channels;
        const float* s0 = i == 0 ? history.data() : s1 - channels;
        int16_t* o = out.data() + n * channels;
        for (size_t c = 0; c < channels; ++c)
            o[c] = SaturateToInt16(std::clamp(s0[c] + (s1[c] - s0[c]) * frac, low, high));
        ++n;
        p += step;
    }
    position = std::max(0.0, p - end);

    std::copy(source + (frames - 1) * channels, source + frames * channels, history.begin());
    out.resize(n * channels);
    return out.size();
}
