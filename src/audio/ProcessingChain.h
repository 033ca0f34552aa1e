#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/DynamicsStages.h"
#include "audio/FilterStages.h"
#include "audio/LoudnessLevel.h"
#include "audio/ProcessingMeters.h"
#include "audio/ProcessingParams.h"
#include "audio/TruePeakLimiter.h"

// The broadcast processor: works in place on blocks of interleaved 16-bit samples,
// converts them to float on the integer scale, runs the enabled stages in a fixed order
// (high-pass, gate, gain, AGC, compressor, boost, bass, stereo width, codec
// pre-conditioning, limiter), folds to mono when asked, converts back with saturation
// and publishes twelve meters. Loudness mode takes the AGC's place when on; the
// true-peak limiter, when on, runs after the mono fold, last before the conversion.
//
// The owner serialises Process and every change of params (one lock of its own);
// meters may be read from any thread at any time and may be one block old.
class ProcessingChain {
public:
    ProcessingChain();
    ProcessingChain(const ProcessingChain&) = delete;
    ProcessingChain& operator=(const ProcessingChain&) = delete;

    // sampleRate 0 becomes 44100, channels 0 becomes 2. Resets all stage state and
    // filter designs; params and meters stay.
    void Configure(uint32_t sampleRate, uint16_t channels);

    // Processes byteCount / 2 samples in place. Null or fewer than 2 bytes: nothing.
    void Process(int16_t* samples, size_t byteCount);
    // A block went by without the chain (the owner skips it while nothing is on): the
    // level stages and the limiters start clean when next switched on, as they do when
    // switched on between two processed blocks.
    void Pass() { ran = {}; }
    // The true peak of the last processed block on the integer scale, when the
    // true-peak limiter was on; -1 otherwise.
    float OutputTruePeak() const { return outputTruePeak; }

    ProcessingMeters Meters() const;
    float MeterValue(Meter meter) const { return meters[static_cast<size_t>(meter)].load(std::memory_order_relaxed); }

    uint32_t SampleRate() const { return sampleRate; }
    uint16_t Channels() const { return channels; }

    // Stage state, for display and tests.
    float GateGain() const { return gate.Gain(); }
    float AgcGainDb() const { return agc.GainDb(); }
    float AgcLevel() const { return agc.Level(); }
    float CompEnvelopeDb() const { return compressor.EnvelopeDb(); }
    float LimiterGain() const { return limiter.Gain(); }
    float CodecCutoffHz() const { return codecPre.CutoffHz(); }
    float LoudnessGainDb() const { return loudness.GainDb(); }
    float LoudnessWindowLufs() const { return loudness.WindowLufs(); }
    float TruePeakGain() const { return truePeak.Gain(); }
    uint32_t TruePeakLatencyFrames() const { return truePeak.LatencyFrames(); }

    ProcessingParams params;

private:
    // Every meter stays within [0, 1], whatever a stage computed from extreme settings
    // (a NaN reads as 0).
    void SetMeter(Meter meter, float value)
    {
        const float held = value >= 0.0f ? (value <= 1.0f ? value : 1.0f) : 0.0f;
        meters[static_cast<size_t>(meter)].store(held, std::memory_order_relaxed);
    }
    void RunStages(float* x, size_t n);
    void StartCleanWhenSwitchedOn();
    void ConvertBack(int16_t* samples, size_t n);

    std::array<std::atomic<float>, kMeterCount> meters;
    uint32_t sampleRate = 44100;
    uint16_t channels = 2;
    HighPassFilter highPass;
    NoiseGate gate;
    AutoGainControl agc;
    Compressor compressor;
    BassShelf bass;
    StereoWidth width;
    CodecPreconditioner codecPre;
    Limiter limiter;
    LoudnessLevel loudness;
    TruePeakLimiter truePeak;
    std::vector<float> work;
    // Which stateful stages ran on the last processed block.
    struct Ran {
        bool agc = false;
        bool loudness = false;
        bool truePeak = false;
    } ran;
    float outputTruePeak = -1.0f;
};

// The engine's rule: a block goes through the chain only when at least one stage switch
// or mono is set; otherwise it passes untouched and the meters keep their values.
bool ProcessingNeeded(const ProcessingParams& params);

// The true-peak limiter's aim on the integer scale: the configured ceiling less the
// codec's overshoot for the stream's profile and bitrate.
float TruePeakTarget(const ProcessingParams& params);

// The highest sample the chain lets out on the integer scale (the resampler holds it at
// the stream rate), or 0 when neither limiter is on.
float OutputCeiling(const ProcessingParams& params);
