#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/Biquad.h"

// Streaming linear-interpolation rate converter for interleaved 16-bit blocks, with a
// second-order anti-alias low-pass per channel when the rate goes down. The fractional
// read position and the last source frame carry over between blocks, so the output
// does not depend on how the input was cut into blocks.
class Resampler {
public:
    // channels 0 becomes 2. Resets position, history and filter state.
    void Configure(uint32_t inRate, uint32_t outRate, uint16_t channels);

    // Keeps every output sample within +-ceiling (0: full scale). The anti-alias
    // filter and the interpolation can raise peaks a little above the input's, so a
    // limited signal needs its ceiling enforced again at the output rate.
    void SetCeiling(float value) { ceiling = value; }

    // Converts count input samples (all channels counted; a partial frame at the end is
    // ignored) into out, which is resized. Returns the number of output samples.
    size_t Process(const int16_t* input, size_t count, std::vector<int16_t>& out);

    uint32_t InRate() const { return inRate; }
    uint32_t OutRate() const { return outRate; }
    uint16_t Channels() const { return channels; }
    double Ratio() const { return ratio; }
    double Position() const { return position; }
    bool FilterEnabled() const { return filterEnabled; }
    const BiquadCoefficients& Coefficients() const { return coefficients; }

private:
    void DesignAntiAlias();
    void FilterBlock(const int16_t* input, size_t frames);

    uint32_t inRate = 0;
    uint32_t outRate = 0;
    uint16_t channels = 2;
    double ratio = 1.0;
    double step = 1.0; // input frames per output frame, 1 / ratio
    double position = 0.0;
    // The previous block's last source frame (after the anti-alias filter when it runs),
    // standing as frame -1 of the next block.
    std::vector<float> history;
    BiquadState filterState[2];
    BiquadCoefficients coefficients;
    bool filterEnabled = false;
    float ceiling = 0.0f;
    std::vector<float> filtered;
};
