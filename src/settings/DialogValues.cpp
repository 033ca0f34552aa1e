#include "settings/DialogValues.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

size_t NearestBitrateChoice(uint32_t kbps)
{
    size_t best = 0;
    for (size_t i = 1; i < kBitrateChoices.size(); ++i) {
        const int64_t distance = std::llabs(int64_t{kBitrateChoices[i]} - kbps);
        if (distance < std::llabs(int64_t{kBitrateChoices[best]} - kbps))
            best = i;
    }
    return best;
}

uint32_t HeVersionForBitrate(uint32_t kbps)
{
    if (kbps <= 48)
        return 2;
    return kbps <= 96 ? 1 : 0;
}

uint32_t SampleRateForBitrate(uint32_t kbps)
{
    return kbps > 32 ? 44100 : 32000;
}

std::string FormatLineForBitrate(uint32_t kbps)
{
    const char* codec = "AAC-LC";
    if (kbps <= 48)
        codec = "HE-AAC v2 (aacPlus v2)";
    else if (kbps <= 96)
        codec = "HE-AAC v1 (aacPlus)";
    return std::string(codec) + " @ " + (kbps < 33 ? "32,000 Hz" : "44,100 Hz");
}

double SliderPositionAt(int x, int width)
{
    if (width <= 18)
        return 0.0;
    return std::clamp(static_cast<double>(x - 9) / (width - 18), 0.0, 1.0);
}

int SliderKnobX(double position, int width)
{
    return static_cast<int>(position * (width - 18)) + 9;
}

float GainFromPosition(double position)
{
    double g = 12.0 * position - 6.0;
    if (g > -1.0 && g < 1.0)
        g = 0.0;
    const double sign = g > 0.0 ? 1.0 : (g < 0.0 ? -1.0 : 0.0);
    g = std::trunc(2.0 * g + 0.5 * sign) * 0.5;
    return static_cast<float>(std::clamp(g, -6.0, 6.0));
}

double GainPosition(float gainDb)
{
    return (gainDb + 6.0) / 12.0;
}

std::string GainLabel(float gainDb)
{
    return Format("%+.1f dB", gainDb);
}

double AgcSpeedFromPosition(double position)
{
    const double s = 0.002 + 0.00795 * std::clamp(position, 0.0, 1.0);
    return std::clamp(s, kAgcSpeedMin, kAgcSpeedMax);
}

double AgcSpeedPosition(double speed)
{
    return (speed - 0.002) / 0.00795;
}

std::string AgcSpeedLabel(double speed)
{
    // In single precision, as the speed is stored: the slow end then reads 5.00s (the
    // exact time constant, 4.995 s, would round to 4.99s).
    const float s = std::max(static_cast<float>(speed), 0.001f);
    const float seconds = -10.0f / std::log(1.0f - s) / 1000.0f;
    return Format("%.2fs", seconds);
}

CompressorSetting CompressorFromStrength(double strength)
{
    const double c = std::clamp(strength, 0.0, 1.0);
    const double ratio = 1.33 + 2.67 * c;
    return {static_cast<float>(-10.0 - 20.0 * c), static_cast<float>(ratio),
            static_cast<float>((1.0 - 1.0 / ratio) * (10.0 + 20.0 * c) * 0.7)};
}

double CompressorStrength(float threshDb)
{
    return std::clamp((threshDb + 10.0) / -20.0, 0.0, 1.0);
}

std::string CompressorLabel(double strength)
{
    return Format("%.0f ms", 300.0 - 250.0 * strength);
}

std::string OneDecimal(double value)
{
    return Format("%.1f", value);
}

std::string FourDecimals(double value)
{
    return Format("%.4f", value);
}
