#include "audio/BlockLevel.h"

#include <cmath>

float LevelFromSum(double sumAbs, size_t n)
{
    if (n == 0)
        return 0.0f;
    const float mean = static_cast<float>(sumAbs / static_cast<double>(n)) * kInvFullScale;
    return std::sqrt(std::sqrt(mean));
}

float BlockLevel(const float* samples, size_t n)
{
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i)
        sum += std::fabs(samples[i]);
    return LevelFromSum(sum, n);
}

float BlockLevel(const int16_t* samples, size_t n)
{
    int64_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += samples[i] < 0 ? -static_cast<int64_t>(samples[i]) : samples[i];
    return LevelFromSum(static_cast<double>(sum), n);
}
