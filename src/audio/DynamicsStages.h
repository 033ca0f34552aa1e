#pragma once

#include <cstddef>
#include <cstdint>

// The level stages of the processing chain. Each works in place on the chain's float
// block (integer scale, interleaved), keeps its state between blocks, computes its
// time constants once per block and returns its meter value in [0, 1]. channels is at
// least 1; a trailing partial frame is left alone by the per-frame stages.

// Noise gate without hold or hysteresis: opens in 5 ms above about -50 dBFS, closes in
// 50 ms below it.
class NoiseGate {
public:
    void Reset() { gain = 1.0f; }
    float Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate);
    float Gain() const { return gain; }

private:
    float gain = 1.0f;
};

// Fixed gain in dB; returns the position of gainDb on the -6 to +6 dB scale. A gain of
// exactly 0 dB leaves the samples bit-exact.
float ApplyGain(float* samples, size_t n, float gainDb);

// Block-rate automatic gain control toward -16 dBFS RMS within -12 to +12 dB; speed is
// the fraction of the remaining distance closed per block (limited to 0.002 to 0.01).
class AutoGainControl {
public:
    void Reset();
    float Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate, float speed);
    float GainDb() const { return gainDb; }
    float Level() const { return level; }

private:
    float gainDb = 0.0f;
    float level = 0.0f;
};

struct CompressorSettings {
    float threshDb;
    float ratio;
    float attackMs;
    float releaseMs;
    float makeupDb;
};

// Feed-forward compressor: peak detection in the dB domain, hard knee, makeup gain.
class Compressor {
public:
    void Reset() { envelopeDb = 0.0f; }
    float Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate, const CompressorSettings& s);
    float EnvelopeDb() const { return envelopeDb; }

private:
    float envelopeDb = 0.0f;
};

// Fixed +1.5 dB.
float ApplyBoost(float* samples, size_t n);

// Peak limiter with its ceiling fixed at -1 dBFS: 1 ms attack, 100 ms release, and a
// hard clip at the ceiling, so no sample leaves above it.
class Limiter {
public:
    void Reset() { gain = 1.0f; }
    float Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate);
    float Gain() const { return gain; }

private:
    float gain = 1.0f;
};

// The limiter's ceiling on the integer scale, 10^-0.05 x 32768 (-1 dBFS).
constexpr float kLimiterCeiling = 29204.5107f;
