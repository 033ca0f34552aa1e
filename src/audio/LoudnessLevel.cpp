#include "audio/LoudnessLevel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFullScaleSquared = 32768.0 * 32768.0;
constexpr double kSilenceLufs = -45.0; // no rise below this
constexpr double kPartGateLufs = -50.0; // parts below this do not count
constexpr double kRelativeGateLu = -10.0; // nor parts this far below the program
constexpr float kRiseDbPerSecond = 1.0f;
constexpr float kAcquireDbPerSecond = 20.0f;
constexpr float kFallDbPerSecond = 3.0f;
constexpr float kDuckedFallDbPerSecond = 20.0f;
constexpr float kDuckReleaseDbPerSecond = 10.0f;
constexpr double kDuckTriggerLu = 8.0; // the fast level this far above the target ducks
constexpr double kDuckHoldLu = 2.0;    // and is held this far above it
constexpr double kFastSeconds = 0.1;
constexpr size_t kMinParts = 4; // 400 ms before the first move

double EnergyToLufs(double energy)
{
    return energy > 0.0 ? -0.691 + 10.0 * std::log10(energy) : -std::numeric_limits<double>::infinity();
}

double LufsToEnergy(double lufs)
{
    return std::pow(10.0, (lufs + 0.691) / 10.0);
}

float DbToFactor(float db)
{
    return static_cast<float>(std::pow(10.0, static_cast<double>(db) / 20.0));
}

} // namespace

void LoudnessLevel::Reset()
{
    for (auto& channel : state)
        for (BiquadState& section : channel)
            section = BiquadState{};
    designRate = 0;
    filledFrames = 0;
    partEnergy = 0.0;
    energies.fill(0.0);
    nextPart = 0;
    parts = 0;
    lastPartLufs = -std::numeric_limits<double>::infinity();
    fastEnergy = 0.0;
    programDb = 0.0f;
    duckDb = 0.0f;
    ducking = false;
    gainDb = 0.0f;
    acquired = false;
}

// The K-weighting of loudness measurement: a high shelf of about +4 dB above 1.7 kHz
// (the head's effect) and a high-pass at about 38 Hz, from their analogue prototypes by
// the bilinear transform, so any rate gets the same curve.
void LoudnessLevel::Design(uint32_t sampleRate)
{
    const double rate = static_cast<double>(sampleRate);
    {
        const double f0 = 1681.974450955533;
        const double shelfDb = 3.999843853973347;
        const double q = 0.7071752369554196;
        const double k = std::tan(kPi * f0 / rate);
        const double vh = std::pow(10.0, shelfDb / 20.0);
        const double vb = std::pow(vh, 0.4996667741545416);
        const double a0 = 1.0 + k / q + k * k;
        shelf.b0 = static_cast<float>((vh + vb * k / q + k * k) / a0);
        shelf.b1 = static_cast<float>(2.0 * (k * k - vh) / a0);
        shelf.b2 = static_cast<float>((vh - vb * k / q + k * k) / a0);
        shelf.a1 = static_cast<float>(2.0 * (k * k - 1.0) / a0);
        shelf.a2 = static_cast<float>((1.0 - k / q + k * k) / a0);
    }
    {
        const double f0 = 38.13547087602444;
        const double q = 0.5003270373238773;
        const double k = std::tan(kPi * f0 / rate);
        const double a0 = 1.0 + k / q + k * k;
        highPass.b0 = 1.0f;
        highPass.b1 = -2.0f;
        highPass.b2 = 1.0f;
        highPass.a1 = static_cast<float>(2.0 * (k * k - 1.0) / a0);
        highPass.a2 = static_cast<float>((1.0 - k / q + k * k) / a0);
    }
    designRate = sampleRate;
    partFrames = std::max<uint32_t>(1, sampleRate / 10);
    fastCoefficient = 1.0 - std::exp(-1.0 / (kFastSeconds * rate));
}

// The last kShortParts parts' mean energy, over those filled.
double LoudnessLevel::ShortTermEnergy() const
{
    const size_t counted = std::min(parts, kShortParts);
    double sum = 0.0;
    for (size_t i = 1; i <= counted; ++i)
        sum += energies[(nextPart + kParts - i) % kParts];
    return counted > 0 ? sum / static_cast<double>(counted) : 0.0;
}

float LoudnessLevel::WindowLufs() const
{
    if (parts == 0)
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(EnergyToLufs(ShortTermEnergy()));
}

void LoudnessLevel::Measure(const float* samples, size_t frames, uint16_t channels)
{
    const uint16_t measured = std::min<uint16_t>(channels, 2);
    const double weight = channels == 1 ? 2.0 : 1.0; // dual mono
    for (size_t f = 0; f < frames; ++f) {
        const float* frame = samples + f * channels;
        double sum = 0.0;
        for (uint16_t c = 0; c < measured; ++c) {
            const float y = state[c][1].Process(highPass, state[c][0].Process(shelf, frame[c]));
            sum += static_cast<double>(y) * static_cast<double>(y);
        }
        sum *= weight;
        partEnergy += sum;
        fastEnergy += (sum - fastEnergy) * fastCoefficient;
        if (++filledFrames < partFrames)
            continue;
        const double energy = partEnergy / kFullScaleSquared / static_cast<double>(partFrames);
        energies[nextPart] = energy;
        nextPart = (nextPart + 1) % kParts;
        parts = std::min(parts + 1, kParts);
        lastPartLufs = EnergyToLufs(energy);
        partEnergy = 0.0;
        filledFrames = 0;
    }
}

// Gated as an integrated reading is: over 400 ms blocks of four parts each (a new one
// every part), those above the absolute gate, then those within 10 LU of their mean.
// -inf when nothing passes.
double LoudnessLevel::ProgramLufs() const
{
    constexpr size_t kBlockParts = 4;
    const size_t oldest = parts < kParts ? 0 : nextPart;
    double blocks[2] = {0.0, 0.0}; // sum and count over the first gate
    double gates[2] = {LufsToEnergy(kPartGateLufs), 0.0};
    double passed = 0.0;
    size_t counted = 0;
    for (int pass = 0; pass < 2; ++pass) {
        passed = 0.0;
        counted = 0;
        double window = 0.0;
        for (size_t k = 0; k < parts; ++k) {
            window += energies[(oldest + k) % kParts];
            if (k >= kBlockParts)
                window -= energies[(oldest + k - kBlockParts) % kParts];
            const double block = window / kBlockParts;
            if (k + 1 >= kBlockParts && block >= gates[pass]) {
                passed += block;
                ++counted;
            }
        }
        if (counted == 0)
            return -std::numeric_limits<double>::infinity();
        if (pass == 0) {
            blocks[0] = passed;
            blocks[1] = static_cast<double>(counted);
            gates[1] = std::max(gates[0], blocks[0] / blocks[1] * std::pow(10.0, kRelativeGateLu / 10.0));
        }
    }
    return EnergyToLufs(passed / static_cast<double>(counted));
}

void LoudnessLevel::Steer(double seconds, const LoudnessSettings& s)
{
    if (parts < kMinParts)
        return;
    const double programLufs = ProgramLufs();
    if (!std::isfinite(programLufs))
        return; // nothing but pause in the window: hold
    const double shortTermLufs = EnergyToLufs(ShortTermEnergy());
    const float limit = std::max(0.0f, s.maxGainDb);
    const float wanted = std::clamp(static_cast<float>(s.targetLufs - programLufs), -limit, limit);
    const float error = wanted - programDb;
    // First order towards the aim (time constant 1 s, 0.3 s until first reached), its
    // speed held to the limits.
    const float dt = static_cast<float>(seconds);
    const float tau = acquired ? 1.0f : 0.3f;
    if (error > 0.0f) {
        // Not in a pause, between words or below the program's quiet passages.
        const bool heard = lastPartLufs >= std::max(kPartGateLufs, programLufs + kRelativeGateLu);
        if (s.gateClosed || !heard || shortTermLufs < kSilenceLufs)
            return;
        const float rate = acquired ? kRiseDbPerSecond : kAcquireDbPerSecond;
        programDb += std::min(error, std::min(error / tau, rate) * dt);
    } else {
        const float rate = ducking ? kDuckedFallDbPerSecond : acquired ? kFallDbPerSecond : kAcquireDbPerSecond;
        programDb += std::max(error, std::max(error / (ducking ? 0.1f : tau), -rate) * dt);
    }
    if (!acquired && std::fabs(wanted - programDb) < 1.0f)
        acquired = true;
}

// The output's fast level is the input's plus the program gain; the duck takes off what
// passes the hold level once the trigger was passed, and lets go when nothing does.
void LoudnessLevel::Duck(double seconds, const LoudnessSettings& s)
{
    const double fastLufs = EnergyToLufs(fastEnergy / kFullScaleSquared) + programDb;
    if (!ducking && fastLufs > s.targetLufs + kDuckTriggerLu)
        ducking = true;
    if (ducking) {
        duckDb = static_cast<float>(std::min(0.0, s.targetLufs + kDuckHoldLu - fastLufs));
        if (duckDb == 0.0f)
            ducking = false;
    } else {
        duckDb = std::min(0.0f, duckDb + kDuckReleaseDbPerSecond * static_cast<float>(seconds));
    }
}

float LoudnessLevel::Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate,
                             const LoudnessSettings& s)
{
    const size_t frames = n / channels;
    if (designRate != sampleRate)
        Design(sampleRate);
    const float before = gainDb;
    if (frames > 0) {
        const double seconds = static_cast<double>(frames) / sampleRate;
        Measure(samples, frames, channels);
        Steer(seconds, s);
        Duck(seconds, s);
        gainDb = programDb + duckDb;
    }
    // A straight ramp of the factor from the last block's gain to this one's.
    const float from = DbToFactor(before);
    const float to = DbToFactor(gainDb);
    const float step = frames > 0 ? (to - from) / static_cast<float>(frames) : 0.0f;
    for (size_t f = 0; f < frames; ++f) {
        const float g = from + step * static_cast<float>(f + 1);
        float* frame = samples + f * channels;
        for (uint16_t c = 0; c < channels; ++c)
            frame[c] *= g;
    }
    return 0.5f - std::clamp(gainDb / 24.0f, -0.5f, 0.5f);
}
