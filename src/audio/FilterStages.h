#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/Biquad.h"

// The filtering stages of the processing chain. Each works in place on the chain's
// float block (integer scale, interleaved), filters the first two channels of every
// frame, designs its filter on first use and again when the rate changes (keeping the
// filter state), and returns its meter value in [0, 1]. channels is at least 1.

// Rumble filter: 70 Hz second-order high-pass (Q 0.7071).
class HighPassFilter {
public:
    void Reset();
    float Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate);
    const BiquadCoefficients& Coefficients() const { return k; }

private:
    BiquadCoefficients k;
    BiquadState state[2];
    bool designed = false;
    uint32_t designRate = 0;
};

// Fixed low shelf, +3 dB below about 100 Hz (Q 0.7).
class BassShelf {
public:
    void Reset();
    float Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate);

private:
    BiquadCoefficients k;
    BiquadState state[2];
    bool designed = false;
    uint32_t designRate = 0;
};

// Puts the bass below about 200 Hz in the middle: the side signal goes through a
// low-pass and its low part is taken out. It never widens. Needs channels >= 2.
class StereoWidth {
public:
    void Reset();
    float Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate);

private:
    BiquadCoefficients k;
    BiquadState side;
    bool designed = false;
    uint32_t designRate = 0;
};

// Cutoff of the codec band limit for a profile (2 HE-AAC v2, 1 HE-AAC v1, otherwise
// AAC-LC) and bitrate, before the limit to 95 % of the Nyquist frequency.
uint32_t CodecTableCutoffHz(uint32_t heVersion, uint32_t bitrate);
// The same for any codec family (0 AAC as above, 1 MP3, 2 Opus): near the band each
// encoder keeps at that bit rate.
uint32_t CodecTableCutoffHz(uint32_t family, uint32_t heVersion, uint32_t bitrate);

// Prepares the sound for the codec: a band limit matching the profile and bitrate, a
// softening of sharp transients by up to 2 dB, and for HE-AAC v2 on stereo a narrower
// side signal (the parametric stereo copes better with it).
class CodecPreconditioner {
public:
    void Reset();
    float Process(float* samples, size_t n, uint16_t channels, uint32_t sampleRate, uint32_t bitrate,
                  uint32_t heVersion, uint32_t family = 0);
    float CutoffHz() const { return cutoffHz; }

private:
    void Design(uint32_t sampleRate, uint32_t bitrate, uint32_t heVersion, uint32_t family);

    BiquadCoefficients k;
    BiquadState state[2];
    bool designed = false;
    uint32_t designBitrate = 0;
    int32_t designProfile = -1;
    uint32_t designRate = 0;
    float cutoffHz = 0.0f;
    float envelope = 0.0f;
};
