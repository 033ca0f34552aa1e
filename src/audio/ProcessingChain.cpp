#include "audio/ProcessingChain.h"

#include <algorithm>
#include <cmath>

#include "audio/BlockLevel.h"
#include "audio/SampleConversion.h"

ProcessingChain::ProcessingChain()
{
    for (std::atomic<float>& meter : meters)
        meter.store(0.0f, std::memory_order_relaxed);
    truePeak.Configure(sampleRate, channels);
}

void ProcessingChain::Configure(uint32_t rate, uint16_t channelCount)
{
    sampleRate = rate == 0 ? 44100 : rate;
    channels = channelCount == 0 ? 2 : channelCount;
    highPass.Reset();
    gate.Reset();
    agc.Reset();
    compressor.Reset();
    bass.Reset();
    width.Reset();
    codecPre.Reset();
    limiter.Reset();
    loudness.Reset();
    truePeak.Configure(sampleRate, channels);
    ran = {};
    outputTruePeak = -1.0f;
}

ProcessingMeters ProcessingChain::Meters() const
{
    ProcessingMeters values;
    for (size_t i = 0; i < kMeterFields.size(); ++i)
        values.*kMeterFields[i].member = meters[i].load(std::memory_order_relaxed);
    return values;
}

void ProcessingChain::Process(int16_t* samples, size_t byteCount)
{
    if (samples == nullptr || byteCount < 2)
        return;
    const size_t n = byteCount / 2;
    work.resize(n);
    float* x = work.data();
    int64_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const int32_t v = samples[i];
        x[i] = static_cast<float>(v);
        sum += v < 0 ? -v : v;
    }
    SetMeter(Meter::InputLevel, LevelFromSum(static_cast<double>(sum), n));
    RunStages(x, n);
    ConvertBack(samples, n);
}

// A stage switched on mid-stream would otherwise go on from where it stopped: the
// loudness gain of minutes ago, the limiter's look-ahead replaying old sound.
void ProcessingChain::StartCleanWhenSwitchedOn()
{
    const ProcessingParams& p = params;
    const Ran now{p.agcEnabled && !p.loudnessEnabled, p.loudnessEnabled, p.truePeakEnabled};
    if (now.agc && !ran.agc)
        agc.Reset();
    if (now.loudness && !ran.loudness)
        loudness.Reset();
    if (now.truePeak && !ran.truePeak)
        truePeak.Reset();
    ran = now;
}

void ProcessingChain::RunStages(float* x, size_t n)
{
    const ProcessingParams& p = params;
    StartCleanWhenSwitchedOn();
    if (p.hpfEnabled)
        SetMeter(Meter::HpfActivity, highPass.Process(x, n, channels, sampleRate));
    if (p.gateEnabled)
        SetMeter(Meter::GateActivity, gate.Process(x, n, channels, sampleRate));
    if (p.gainEnabled)
        SetMeter(Meter::GainPosition, ApplyGain(x, n, p.gainDb));
    if (p.loudnessEnabled) {
        const LoudnessSettings settings{p.loudnessTarget, p.loudnessMaxGainDb, p.gateEnabled && gate.Gain() < 0.5f};
        SetMeter(Meter::AgcActivity, loudness.Process(x, n, channels, sampleRate, settings));
    } else if (p.agcEnabled)
        SetMeter(Meter::AgcActivity, agc.Process(x, n, channels, sampleRate, p.agcSpeed));
    if (p.compEnabled) {
        const CompressorSettings settings{p.compThreshDb, p.compRatio, p.compAttackMs, p.compReleaseMs,
                                          p.compMakeupDb};
        SetMeter(Meter::CompActivity, compressor.Process(x, n, channels, sampleRate, settings));
    }
    if (p.boostEnabled)
        SetMeter(Meter::BoostActivity, ApplyBoost(x, n));
    if (p.bassEnabled)
        SetMeter(Meter::BassActivity, bass.Process(x, n, channels, sampleRate));
    if (p.stereoWidthEnabled && channels >= 2)
        SetMeter(Meter::WidthActivity, width.Process(x, n, channels, sampleRate));
    if (p.codecPreEnabled) {
        SetMeter(Meter::CodecPreActivity,
                 codecPre.Process(x, n, channels, sampleRate, p.codecBitrate, p.codecHeVersion, p.codecFamily));
    }
    if (p.limiterEnabled)
        SetMeter(Meter::LimiterActivity, limiter.Process(x, n, channels, sampleRate));
    if (p.truePeakEnabled) {
        if (p.mono && channels >= 2) {
            for (size_t f = 0; f < n / channels; ++f) {
                float* frame = x + f * channels;
                frame[0] = frame[1] = (frame[0] + frame[1]) * 0.5f;
            }
        }
        truePeak.Process(x, n, channels, sampleRate, TruePeakTarget(p));
        outputTruePeak = truePeak.OutputPeak();
    } else {
        outputTruePeak = -1.0f;
    }
}

// Mono fold, conversion back with saturation and the output level, in one pass.
void ProcessingChain::ConvertBack(int16_t* samples, size_t n)
{
    const float* x = work.data();
    const bool fold = params.mono && channels >= 2 && !params.truePeakEnabled; // else folded already
    const size_t frames = n / channels;
    int64_t sum = 0;
    for (size_t f = 0; f < frames; ++f) {
        const float* in = x + f * channels;
        int16_t* out = samples + f * channels;
        for (size_t c = 0; c < channels; ++c) {
            const float v = fold && c < 2 ? (in[0] + in[1]) * 0.5f : in[c];
            out[c] = SaturateToInt16(v);
            sum += out[c] < 0 ? -static_cast<int32_t>(out[c]) : out[c];
        }
    }
    for (size_t i = frames * channels; i < n; ++i) {
        samples[i] = SaturateToInt16(x[i]);
        sum += samples[i] < 0 ? -static_cast<int32_t>(samples[i]) : samples[i];
    }
    SetMeter(Meter::OutputLevel, LevelFromSum(static_cast<double>(sum), n));
}

bool ProcessingNeeded(const ProcessingParams& p)
{
    return p.hpfEnabled || p.gateEnabled || p.gainEnabled || p.agcEnabled || p.compEnabled || p.boostEnabled ||
           p.bassEnabled || p.stereoWidthEnabled || p.limiterEnabled || p.codecPreEnabled || p.mono ||
           p.loudnessEnabled || p.truePeakEnabled;
}

float TruePeakTarget(const ProcessingParams& p)
{
    const float db = p.truePeakCeilingDb - CodecOvershootDb(p.codecFamily, p.codecHeVersion, p.codecBitrate);
    return static_cast<float>(32768.0 * std::pow(10.0, static_cast<double>(std::min(db, 0.0f)) / 20.0));
}

float OutputCeiling(const ProcessingParams& p)
{
    float ceiling = 0.0f;
    if (p.limiterEnabled)
        ceiling = kLimiterCeiling;
    if (p.truePeakEnabled)
        ceiling = ceiling > 0.0f ? std::min(ceiling, TruePeakTarget(p)) : TruePeakTarget(p);
    return ceiling;
}
