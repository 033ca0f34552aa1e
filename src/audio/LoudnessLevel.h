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

// Loudness mode, in the automatic gain control's place. It measures the K-weighted
// loudness of its input in 100 ms parts (a mono input as dual mono, as two speakers play
// it) and steers two gains:
// - the program gain, towards target - program loudness within plus or minus
//   maxGainDb. The program loudness is gated as a loudness meter's integrated reading
//   is, over the 400 ms blocks of the last 30 s: blocks below -50 LUFS (pauses) and
//   blocks more than 10 LU below the rest (a quiet passage in music) do not count, so
//   neither is pumped up. It rises
//   by at most 1 dB/s and falls by at most 3 dB/s (20 dB/s both ways until it first
//   reaches its aim, so a program is not 20 s off the target after a start); it never
//   rises while the last part is below -50 LUFS or 10 LU below the program, while the
//   last 3 s are below -45 LUFS or while the gate is closed;
// - a fast duck for the moment loud sound arrives on a raised gain (a tutti after a quiet
//   introduction): when the output's 100 ms level passes the target by 8 LU, the duck
//   holds it at 2 LU above the target, and the program gain falls at 20 dB/s until the
//   duck is no longer needed; then the duck lets go at 10 dB/s.
// The gain is ramped across each block, so block joins never click.
class LoudnessLevel {
public:
    void Reset();
    // Returns the meter of the stage it replaces (0.5 at unity, 1.0 at -12 dB, 0 at +12 dB).
    float Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate, const LoudnessSettings& s);
    float GainDb() const { return gainDb; }
    // Ungated loudness of the input over the filled part of the last 3 s, LUFS (-inf: silence).
    float WindowLufs() const;

    static constexpr size_t kParts = 300;       // 30 s of 100 ms parts: the program
    static constexpr size_t kShortParts = 30;   // 3 s: the short-term window

private:
    void Design(uint32_t sampleRate);
    void Measure(const float* samples, size_t frames, uint16_t channels);
    double ProgramLufs() const;
    double ShortTermEnergy() const;
    void Steer(double seconds, const LoudnessSettings& s);
    void Duck(double seconds, const LoudnessSettings& s);

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
    double lastPartLufs = 0.0;
    double fastEnergy = 0.0; // one-pole, 100 ms, of the K-weighted power
    double fastCoefficient = 0.0;
    float programDb = 0.0f;
    float duckDb = 0.0f;
    bool ducking = false;
    float gainDb = 0.0f; // programDb + duckDb, as applied
    bool acquired = false;
};
