#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Loudness of the processed sound as the encoder receives it, measured by libebur128
// (ITU-R BS.1770 / EBU R128): momentary (400 ms), short-term (3 s) and integrated
// (gated, from the start) loudness in LUFS, and true peak in dBTP. A silent measure
// reads -inf.
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
// sound old.
class LoudnessMeter {
public:
    LoudnessMeter();
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Starts a new measurement; false when the library refuses the format.
    bool Configure(uint32_t sampleRate, uint16_t channels);
    void Add(const int16_t* samples, size_t frames);
    // Publishes what was added since the last 100 ms mark too (at the end of a file).
    void Flush();
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
};
