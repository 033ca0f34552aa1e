#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "audio/OfflineProcessor.h"
#include "encoder/AacEncoder.h"

// The AAC encoder alone and the whole offline stream path (channel mapping, processing
// chain with every stage on, resampler, encoder), as multiples of real time: the
// counter xRealtime is seconds of audio per second of work.
namespace {

constexpr uint32_t kCaptureRate = 48000;
constexpr size_t kBlockFrames = 480; // 10 ms, the size the capture delivers

// One second of busy stereo: two tones and pseudo-random noise, about -10 dBFS.
std::vector<int16_t> MakeProgramme(uint32_t rate)
{
    std::vector<int16_t> pcm(static_cast<size_t>(rate) * 2);
    uint32_t noise = 12345;
    for (size_t i = 0; i < rate; ++i) {
        const double t = static_cast<double>(i) / rate;
        for (size_t c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double n = (static_cast<int32_t>(noise >> 16) - 32768) / 32768.0;
            const double v = 6000.0 * std::sin(2.0 * std::numbers::pi * (c == 0 ? 220.0 : 330.0) * t) +
                             3000.0 * std::sin(2.0 * std::numbers::pi * 2500.0 * t) + 1500.0 * n;
            pcm[i * 2 + c] = static_cast<int16_t>(v);
        }
    }
    return pcm;
}

EncoderConfig StreamConfig(uint32_t rate, AacProfile profile)
{
    EncoderConfig config;
    config.sampleRate = rate;
    config.channels = 2;
    config.bitsPerSample = 16;
    config.bitrate = 64000;
    config.profile = profile;
    return config;
}

void SetRealtimeCounter(benchmark::State& state)
{
    state.counters["xRealtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Arguments: profile (0 AAC-LC, 1 HE-AAC v1, 2 HE-AAC v2), stream rate.
void BM_EncoderAlone(benchmark::State& state)
{
    const AacProfile profile = static_cast<AacProfile>(state.range(0));
    const uint32_t rate = static_cast<uint32_t>(state.range(1));
    AacEncoder encoder;
    if (!encoder.Open(StreamConfig(rate, profile))) {
        state.SkipWithError("encoder refused the configuration");
        return;
    }
    const std::vector<int16_t> second = MakeProgramme(rate);
    uint64_t bytes = 0;
    const FrameSink sink = [&bytes](const uint8_t*, uint64_t size) { bytes += size; };
    const size_t block = rate / 100 * 2;
    for (auto _ : state) {
        for (size_t at = 0; at + block <= second.size(); at += block)
            encoder.Encode(second.data() + at, block * sizeof(int16_t), sink);
        benchmark::DoNotOptimize(bytes);
    }
    SetRealtimeCounter(state);
    state.SetLabel(ProfileName(profile));
}
BENCHMARK(BM_EncoderAlone)
    ->Args({0, 48000})
    ->Args({1, 48000})
    ->Args({2, 48000})
    ->Args({1, 44100})
    ->Unit(benchmark::kMillisecond);

ProcessingParams EveryStageOn()
{
    ProcessingParams p;
    p.hpfEnabled = p.gateEnabled = p.gainEnabled = p.agcEnabled = p.compEnabled = true;
    p.boostEnabled = p.bassEnabled = p.stereoWidthEnabled = p.limiterEnabled = p.codecPreEnabled = true;
    p.gainDb = 3.0f;
    p.agcTargetDb = -16.0f;
    p.agcMaxGainDb = 12.0f;
    p.codecBitrate = 64000;
    p.codecHeVersion = 1;
    return p;
}

// Capture at 48 kHz stereo, every stage on, resampled to 44.1 kHz.
OfflineSetup WholePathSetup()
{
    OfflineSetup setup;
    setup.inputRate = kCaptureRate;
    setup.inputChannels = 2;
    setup.streamRate = 44100;
    setup.streamChannels = 2;
    setup.processing = EveryStageOn();
    return setup;
}

// The whole path, then HE-AAC v1 at 64 kbit/s.
void BM_WholeOfflinePath(benchmark::State& state)
{
    OfflineProcessor processor(WholePathSetup());
    AacEncoder encoder;
    if (!processor.Processing() || !encoder.Open(StreamConfig(processor.OutputRate(), AacProfile::HeV1))) {
        state.SkipWithError("pipeline not configured");
        return;
    }
    const std::vector<int16_t> second = MakeProgramme(kCaptureRate);
    uint64_t bytes = 0;
    const FrameSink frameSink = [&bytes](const uint8_t*, uint64_t size) { bytes += size; };
    const OfflineBlockSink blockSink = [&](const int16_t* samples, size_t count) {
        return encoder.Encode(samples, count * sizeof(int16_t), frameSink);
    };
    for (auto _ : state) {
        for (size_t at = 0; at + kBlockFrames * 2 <= second.size(); at += kBlockFrames * 2)
            processor.Push(second.data() + at, kBlockFrames, blockSink);
        benchmark::DoNotOptimize(bytes);
    }
    SetRealtimeCounter(state);
}
BENCHMARK(BM_WholeOfflinePath)->Unit(benchmark::kMillisecond);

// The same path without the encoder, to show where the difference goes.
void BM_OfflinePathBeforeEncoder(benchmark::State& state)
{
    OfflineProcessor processor(WholePathSetup());
    const std::vector<int16_t> second = MakeProgramme(kCaptureRate);
    int64_t checksum = 0;
    const OfflineBlockSink blockSink = [&checksum](const int16_t* samples, size_t count) {
        checksum += count > 0 ? samples[count - 1] : 0;
        return true;
    };
    for (auto _ : state) {
        for (size_t at = 0; at + kBlockFrames * 2 <= second.size(); at += kBlockFrames * 2)
            processor.Push(second.data() + at, kBlockFrames, blockSink);
        benchmark::DoNotOptimize(checksum);
    }
    SetRealtimeCounter(state);
}
BENCHMARK(BM_OfflinePathBeforeEncoder)->Unit(benchmark::kMillisecond);

} // namespace
