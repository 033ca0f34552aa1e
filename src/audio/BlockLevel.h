#pragma once

#include <cstddef>
#include <cstdint>

// 1 / 32768: converts the chain's integer-scale samples to fractions of full scale.
constexpr float kInvFullScale = 3.0517578e-5f;

// Display curve of a block: the mean absolute level as a fraction of full scale,
// raised to the power 1/4 (-40 dBFS shows as 0.316, -20 dBFS as 0.562). 0 for n = 0.
float BlockLevel(const float* samples, size_t n);
float BlockLevel(const int16_t* samples, size_t n);

// The same curve from a sum of absolute values already taken over n samples.
float LevelFromSum(double sumAbs, size_t n);

// A peak meter after one block: the block's peak, or the stored level fallen by fall
// when that is higher. A steady peak therefore reads steady (comparing the peak with
// the stored level alone would read every other block of it as a fall).
inline float FallingPeak(float stored, float peak, float fall)
{
    const float fallen = stored * fall;
    return peak > fallen ? peak : fallen;
}

// min(1, max(0, v)), the range of every meter.
inline float Clamp01(float v)
{
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}
