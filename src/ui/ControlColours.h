#pragma once

#include <algorithm>
#include <cstdint>

// The one colour table of the windows and the settings dialog's controls, free of any
// window type so the rules can be checked anywhere.
struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    constexpr bool operator==(const Rgb&) const = default;
};

namespace colours {
// The dark flat look of every window.
inline constexpr Rgb kWindow{32, 34, 40};
inline constexpr Rgb kEdit{22, 24, 30};
inline constexpr Rgb kPanel{44, 46, 54};
inline constexpr Rgb kPanelLine{55, 58, 68};
inline constexpr Rgb kGroove{60, 64, 74}; // also an unlit lamp and the windows' outline
inline constexpr Rgb kOutline = kGroove;
inline constexpr uint8_t kOutlineAlpha = 200;
inline constexpr Rgb kLabel{120, 130, 140};
inline constexpr Rgb kCaption{140, 148, 158};
inline constexpr Rgb kValue{200, 210, 220};
inline constexpr Rgb kNeutral{80, 85, 95};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kGreen{34, 197, 94};
inline constexpr Rgb kYellow{234, 179, 8};
inline constexpr Rgb kOrange{249, 115, 22};
inline constexpr Rgb kRed{239, 68, 68};
// The settings dialog's controls.
inline constexpr Rgb kDisabledKnob{120, 120, 120};
inline constexpr Rgb kSwitchOn{34, 160, 56};
inline constexpr Rgb kSwitchOff{180, 40, 40};
inline constexpr Rgb kSpectrum[5] = {{255, 40, 40}, {255, 160, 0}, {255, 255, 0}, {0, 220, 0}, {60, 140, 255}};
inline constexpr Rgb kReverse[5] = {{60, 140, 255}, {0, 220, 0}, {200, 200, 0}, {255, 160, 0}, {255, 40, 40}};
inline constexpr Rgb kMeterLit[4] = {kGreen, kYellow, kOrange, kRed};
inline constexpr Rgb kMeterUnlit[4] = {{10, 61, 30}, {74, 58, 3}, {74, 35, 6}, {74, 21, 21}};
inline constexpr Rgb kDot[3] = {kNeutral, kRed, kGreen};
} // namespace colours

// a + truncate((b - a) * t) per channel, t clamped to 0 ... 1.
constexpr Rgb Lerp(Rgb a, Rgb b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    auto mix = [t](uint8_t x, uint8_t y) { return static_cast<uint8_t>(x + static_cast<int>((y - x) * t)); };
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

// Four equal segments over five stops.
constexpr Rgb Gradient(const Rgb (&stops)[5], double t)
{
    t = std::clamp(t, 0.0, 1.0);
    if (t < 0.25)
        return Lerp(stops[0], stops[1], 4.0 * t);
    if (t < 0.5)
        return Lerp(stops[1], stops[2], 4.0 * (t - 0.25));
    if (t < 0.75)
        return Lerp(stops[2], stops[3], 4.0 * (t - 0.5));
    return Lerp(stops[3], stops[4], 4.0 * (t - 0.75));
}

// Red → orange → yellow → green → blue.
constexpr Rgb Spectrum(double t)
{
    return Gradient(colours::kSpectrum, t);
}

// Blue → green → olive → orange → red.
constexpr Rgb Reverse(double t)
{
    return Gradient(colours::kReverse, t);
}

// A module lamp: grey when off, dim green when idle, then green → yellow → red.
constexpr Rgb ActivityColour(double value, bool on)
{
    if (!on)
        return colours::kGroove;
    if (value < 0.01)
        return {60, 70, 60};
    if (value < 0.33)
        return {0, static_cast<uint8_t>(160 + static_cast<int>(95 * value / 0.33)), 0};
    if (value < 0.66)
        return {static_cast<uint8_t>(static_cast<int>((value - 0.33) / 0.33 * 255)), 255, 0};
    const double fall = std::clamp(1.0 - (value - 0.66) / 0.34, 0.0, 1.0);
    return {255, static_cast<uint8_t>(static_cast<int>(fall * 255)), 0};
}

// Colour band of a meter dot at fraction f of the row: green, yellow, orange, red.
constexpr int MeterBandAt(double f)
{
    if (f < 0.55)
        return 0;
    if (f < 0.71)
        return 1;
    return f < 0.87 ? 2 : 3;
}

// Colour band of MiniMeter dot i of 9.
constexpr int MeterBand(int dot)
{
    return MeterBandAt(dot / 9.0);
}

// Dots lit for a level: truncate(clamp(level, 0, 1) × 9).
constexpr int LitMeterDots(double level)
{
    return static_cast<int>(std::clamp(level, 0.0, 1.0) * 9.0);
}

constexpr Rgb DotColour(int state)
{
    return state == 1 || state == 2 ? colours::kDot[state] : colours::kDot[0];
}
