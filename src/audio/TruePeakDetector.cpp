#include "audio/TruePeakDetector.h"

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

// Cut at the original Nyquist frequency; phase p sits p/4 of a sample after the centre
// tap kTaps/2 - 1. Each phase passes DC at exactly 1.
TruePeakDetector::TruePeakDetector()
{
    const double beta = 6.0;
    const double half = kTaps / 2.0;
    for (int p = 1; p < kPhases; ++p) {
        double sum = 0.0;
        double taps[kTaps];
        for (int j = 0; j < kTaps; ++j) {
            const double t = j - (kTaps / 2 - 1) - static_cast<double>(p) / kPhases;
            const double sinc = std::sin(kPi * t) / (kPi * t);
            const double r = t / half;
            const double window = r * r < 1.0 ? BesselI0(beta * std::sqrt(1.0 - r * r)) / BesselI0(beta) : 0.0;
            taps[j] = sinc * window;
            sum += taps[j];
        }
        for (int j = 0; j < kTaps; ++j)
            coefficients[p - 1][j] = static_cast<float>(taps[j] / sum);
    }
    Configure(1);
}

void TruePeakDetector::Configure(uint16_t channels)
{
    channelCount = channels == 0 ? 1 : channels;
    history.assign(static_cast<size_t>(channelCount) * 2 * kTaps, 0.0f);
    historyPos = 0;
}

void TruePeakDetector::Reset()
{
    std::fill(history.begin(), history.end(), 0.0f);
    historyPos = 0;
}

float TruePeakDetector::Detect(const float* frame)
{
    float peak = 0.0f;
    for (uint16_t c = 0; c < channelCount; ++c) {
        float* h = history.data() + static_cast<size_t>(c) * 2 * kTaps;
        h[historyPos] = frame[c];
        h[historyPos + kTaps] = frame[c];
        const float* window = h + historyPos + 1; // the last kTaps inputs, oldest first
        // The three phases side by side: three independent sums instead of one chain.
        float y[kPhases - 1] = {};
        for (int j = 0; j < kTaps; ++j) {
            const float v = window[j];
            for (int p = 0; p < kPhases - 1; ++p)
                y[p] += coefficients[p][j] * v;
        }
        peak = std::max(peak, std::fabs(window[kTaps / 2 - 1]));
        for (float point : y)
            peak = std::max(peak, std::fabs(point));
    }
    historyPos = historyPos + 1 == kTaps ? 0 : historyPos + 1;
    return peak;
}
