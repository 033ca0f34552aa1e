#include "audio/Biquad.h"

#include <cmath>

// Designs run in double and store float coefficients: the rounding of sin and cos then
// does not depend on the platform's float library.
namespace {

constexpr double kTwoPi = 6.2831855;

struct Angle {
    double cosW0;
    double alpha;
};

Angle MakeAngle(float cutoffHz, float sampleRate, float q2)
{
    const double w0 = static_cast<double>(cutoffHz) * kTwoPi / static_cast<double>(sampleRate);
    return {std::cos(w0), std::sin(w0) / static_cast<double>(q2)};
}

} // namespace

BiquadCoefficients DesignLowPass(float cutoffHz, float sampleRate, float q2)
{
    const Angle a = MakeAngle(cutoffHz, sampleRate, q2);
    const double a0 = 1.0 + a.alpha;
    BiquadCoefficients k;
    k.b0 = static_cast<float>((1.0 - a.cosW0) * 0.5 / a0);
    k.b1 = static_cast<float>((1.0 - a.cosW0) / a0);
    k.b2 = k.b0;
    k.a1 = static_cast<float>(-2.0 * a.cosW0 / a0);
    k.a2 = static_cast<float>((1.0 - a.alpha) / a0);
    return k;
}

BiquadCoefficients DesignHighPass(float cutoffHz, float sampleRate, float q2)
{
    const Angle a = MakeAngle(cutoffHz, sampleRate, q2);
    const double a0 = 1.0 + a.alpha;
    BiquadCoefficients k;
    k.b0 = static_cast<float>((1.0 + a.cosW0) * 0.5 / a0);
    k.b1 = static_cast<float>(-(1.0 + a.cosW0) / a0);
    k.b2 = k.b0;
    k.a1 = static_cast<float>(-2.0 * a.cosW0 / a0);
    k.a2 = static_cast<float>((1.0 - a.alpha) / a0);
    return k;
}

BiquadCoefficients DesignLowShelf(float cutoffHz, float sampleRate, float amplitude, float q2)
{
    const Angle a = MakeAngle(cutoffHz, sampleRate, q2);
    const double A = amplitude;
    const double c = a.cosW0;
    const double s = 2.0 * std::sqrt(A) * a.alpha;
    const double a0 = (A + 1.0) + (A - 1.0) * c + s;
    BiquadCoefficients k;
    k.b0 = static_cast<float>(A * ((A + 1.0) - (A - 1.0) * c + s) / a0);
    k.b1 = static_cast<float>(2.0 * A * ((A - 1.0) - (A + 1.0) * c) / a0);
    k.b2 = static_cast<float>(A * ((A + 1.0) - (A - 1.0) * c - s) / a0);
    k.a1 = static_cast<float>(-2.0 * ((A - 1.0) + (A + 1.0) * c) / a0);
    k.a2 = static_cast<float>(((A + 1.0) + (A - 1.0) * c - s) / a0);
    return k;
}
