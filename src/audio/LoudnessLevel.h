#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "audio/Biquad.h"

struct LoudnessSettings {
    float targetLufs;
    float maxGainDb;
    bool gateClosed; // the noise gate is shut: the gain must not rise
};

// Loudness mode, in the automatic gain control's place: measures the K-weighted
// loudness of its input over about 3 s in 100 ms parts and moves its gain towards
// target - loudness, within plus or minus maxGainDb. The gain rises by at most 1 dB/s
// and falls by at most 3 dB/s (both 10 dB/s until it first reaches its aim, so a program
// is not 20 s off the target after a start); it never rises while the last part or the
// whole window is below -45 LUFS (a pause, noise) or while the gate is closed. Parts
// below -50 LUFS do not count towards the window's loudness, so a pause does not make
// the program it follows look quieter. The gain is ramped across each block, so block
// joins never click.
class LoudnessLevel {
public:
    void Reset();
    // Returns the meter of the stage it replaces (0.5 at unity, 1.0 at -12 dB, 0 at +12 dB).
    float Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate, const LoudnessSettings& s);
    float GainDb() const { return gainDb; }
    // Ungated loudness of the input over the filled part of the window, LUFS (-inf: silence).
    float WindowLufs() const;

    static constexpr size_t kParts = 30; // 3 s of 100 ms parts

private:
    void Design(uint32_t sampleRate);
    void Measure(const float* samples, size_t frames, uint16_t channels);
    void Steer(double seconds, const LoudnessSettings& s);

    BiquadCoefficients shelf;
    BiquadCoefficients highPass;
    BiquadState state[2][2];
    uint32_t designRate = 0;
    uint32_t partFrames = 0; // frames of one 100 ms part
    uint32_t filledFrames = 0;
    double partEnergy = 0.0;
    std::array<double, kParts> energies{};
    size_t nextPart = 0;
    size_t parts = 0;
    bool lastPartHeard = false;
    float gainDb = 0.0f;
    bool acquired = false;
};
