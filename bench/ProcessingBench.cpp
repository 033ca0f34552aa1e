// Processing chain and resampler throughput at 48 kHz stereo in 10 ms blocks, as the
// capture thread runs them. "xRealtime" is seconds of sound processed per second of
// CPU time on one core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "audio/ProcessingChain.h"
#include "audio/Resampler.h"

namespace {

constexpr uint32_t kRate = 48000;
constexpr size_t kBlockFrames = 480;
constexpr double kBlockSeconds = 0.01;

// One second of two tones and noise, loud enough for every stage to work.
const std::vector<int16_t>& Program()
{
    static const std::vector<int16_t> samples = [] {
        std::vector<int16_t> s(2 * kRate);
        uint32_t seed = 7;
        for (size_t f = 0; f < kRate; ++f) {
            for (size_t c = 0; c < 2; ++c) {
                seed = seed * 1664525u + 1013904223u;
                const double tone = 12000.0 * std::sin(2.0 * 3.14159265 * (110.0 + 550.0 * c) * f / kRate) +
                                    6000.0 * std::sin(2.0 * 3.14159265 * 3300.0 * f / kRate);
                s[2 * f + c] = static_cast<int16_t>(tone + static_cast<int16_t>(seed >> 16) / 8);
            }
        }
        return s;
    }();
    return samples;
}

void SetRealtimeCounter(benchmark::State& state)
{
    state.counters["xRealtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlockSeconds, benchmark::Counter::kIsRate);
}

void BM_Chain(benchmark::State& state, void (*enable)(ProcessingParams&))
{
    ProcessingChain chain;
    enable(chain.params);
    chain.Configure(kRate, 2);
    const std::vector<int16_t>& program = Program();
    std::vector<int16_t> block(2 * kBlockFrames);
    size_t at = 0;
    for (auto _ : state) {
        std::memcpy(block.data(), program.data() + at, block.size() * sizeof(int16_t));
        at = (at + block.size()) % program.size();
        chain.Process(block.data(), block.size() * sizeof(int16_t));
        benchmark::DoNotOptimize(block.data());
    }
    SetRealtimeCounter(state);
}

void AllStages(ProcessingParams& p)
{
    p.hpfEnabled = p.gateEnabled = p.gainEnabled = p.agcEnabled = p.compEnabled = true;
    p.boostEnabled = p.bassEnabled = p.stereoWidthEnabled = p.limiterEnabled = p.codecPreEnabled = true;
    p.gainDb = 3.0f;
}
// Every stage plus loudness mode (in the AGC's place) and the true-peak limiter: it must
// cost at most twice all_stages.
void AllStagesLoudness(ProcessingParams& p)
{
    AllStages(p);
    p.loudnessEnabled = p.truePeakEnabled = true;
}
void Loudness(ProcessingParams& p) { p.loudnessEnabled = true; }
void TruePeak(ProcessingParams& p) { p.truePeakEnabled = true; }
void ConversionOnly(ProcessingParams& p) { p.mono = true; }
void Hpf(ProcessingParams& p) { p.hpfEnabled = true; }
void Gate(ProcessingParams& p) { p.gateEnabled = true; }
void Gain(ProcessingParams& p)
{
    p.gainEnabled = true;
    p.gainDb = 3.0f;
}
void Agc(ProcessingParams& p) { p.agcEnabled = true; }
void Compressor(ProcessingParams& p) { p.compEnabled = true; }
void Boost(ProcessingParams& p) { p.boostEnabled = true; }
void Bass(ProcessingParams& p) { p.bassEnabled = true; }
void Width(ProcessingParams& p) { p.stereoWidthEnabled = true; }
void CodecPre(ProcessingParams& p) { p.codecPreEnabled = true; }
void Limiter(ProcessingParams& p) { p.limiterEnabled = true; }

BENCHMARK_CAPTURE(BM_Chain, all_stages, AllStages);
BENCHMARK_CAPTURE(BM_Chain, all_stages_loudness_true_peak, AllStagesLoudness);
BENCHMARK_CAPTURE(BM_Chain, conversion_and_mono, ConversionOnly);
BENCHMARK_CAPTURE(BM_Chain, hpf, Hpf);
BENCHMARK_CAPTURE(BM_Chain, gate, Gate);
BENCHMARK_CAPTURE(BM_Chain, gain, Gain);
BENCHMARK_CAPTURE(BM_Chain, agc, Agc);
BENCHMARK_CAPTURE(BM_Chain, compressor, Compressor);
BENCHMARK_CAPTURE(BM_Chain, boost, Boost);
BENCHMARK_CAPTURE(BM_Chain, bass, Bass);
BENCHMARK_CAPTURE(BM_Chain, stereo_width, Width);
BENCHMARK_CAPTURE(BM_Chain, codec_pre, CodecPre);
BENCHMARK_CAPTURE(BM_Chain, limiter, Limiter);
BENCHMARK_CAPTURE(BM_Chain, loudness, Loudness);
BENCHMARK_CAPTURE(BM_Chain, true_peak, TruePeak);

void BM_Resampler48000To44100(benchmark::State& state)
{
    Resampler resampler;
    resampler.Configure(kRate, 44100, 2);
    const std::vector<int16_t>& program = Program();
    std::vector<int16_t> out;
    size_t at = 0;
    for (auto _ : state) {
        resampler.Process(program.data() + at, 2 * kBlockFrames, out);
        at = (at + 2 * kBlockFrames) % program.size();
        benchmark::DoNotOptimize(out.data());
    }
    SetRealtimeCounter(state);
}
BENCHMARK(BM_Resampler48000To44100);

} // namespace
