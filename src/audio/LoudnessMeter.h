#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Loudness of the processed sound as the encoder receives it, measured by libebur128
// (ITU-R BS.1770 / EBU R128): momentary (400 ms), short-term (3 s) and integrated
// (gated, from the start of measuring) loudness in LUFS, and true peak in dBTP. A mono
// stream is measured as dual mono, as two speakers play it. A silent measure reads -inf.
struct LoudnessReading {
    float momentaryLufs;
    float shortTermLufs;
    float integratedLufs;
    float truePeakDb; // over the last 3 s
    float maxTruePeakDb; // since the start
};

// A reading as the front ends show it: one decimal ("-16.2"), "-inf" for silence
// (anything below -70, the measurement's absolute gate).
std::string FormatLoudness(float value);

// Add runs on the audio thread and never allocates (the measurement keeps its blocks in
// a histogram); Reading may be called from any thread and sees values at most 100 ms of
// sound old. Nothing is measured until someone reads or calls Watch: a meter nobody
// looks at costs the audio thread one flag.
class LoudnessMeter {
public:
    LoudnessMeter();
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Starts a new measurement; false when the library refuses the format.
    bool Configure(uint32_t sampleRate, uint16_t channels);
    // Measures from now on, whether or not anyone reads (a file's loudness at its end).
    void Watch() { watched.store(true, std::memory_order_relaxed); }
    // knownPeak: the block's true peak on the integer scale when a stage before found it
    // already (the true-peak limiter); negative, and the meter finds it itself.
    void Add(const int16_t* samples, size_t frames, float knownPeak = -1.0f);
    // Publishes what was added since the last 100 ms mark too (at the end of a file): in
    // the integrated loudness and the true peaks; momentary and short-term loudness
    // stay as of that mark.
    void Flush();
    // Starts the measuring too, so the first reading of a stream may be -inf.
    LoudnessReading Reading() const;

private:
    void Publish();

    struct Impl;
    std::unique_ptr<Impl> impl;
    std::atomic<float> momentary;
    std::atomic<float> shortTerm;
    std::atomic<float> integrated;
    std::atomic<float> truePeak;
    std::atomic<float> maxTruePeak;
    mutable std::atomic<bool> watched{false};
};
