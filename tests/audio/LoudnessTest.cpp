#include <gtest/gtest.h>

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "AudioTestSignals.h"
#include "audio/LoudnessMeter.h"
#include "audio/ProcessingChain.h"
#include "support/AllocationCounter.h"

// Loudness mode and the true-peak limiter, judged by libebur128's own measurement of
// what leaves the chain, not by the chain's view of itself.

namespace {

constexpr uint32_t kRate = 48000;
constexpr size_t kBlock = 480; // 10 ms, as the engine's blocks

int16_t SaturateSample(double v)
{
    return static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
}

struct Ebur128Deleter {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
using Measure = std::unique_ptr<ebur128_state, Ebur128Deleter>;

Measure NewMeasure(int mode = EBUR128_MODE_S | EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK)
{
    return Measure(ebur128_init(2, kRate, mode));
}

double IntegratedLufs(const std::vector<float>& stereo)
{
    Measure m = NewMeasure();
    ebur128_add_frames_float(m.get(), stereo.data(), stereo.size() / 2);
    double lufs = 0.0;
    ebur128_loudness_global(m.get(), &lufs);
    return lufs;
}

double TruePeakDb(const std::vector<int16_t>& stereo)
{
    Measure m = NewMeasure();
    ebur128_add_frames_short(m.get(), stereo.data(), stereo.size() / 2);
    double peak = 0.0;
    for (unsigned c = 0; c < 2; ++c) {
        double p = 0.0;
        ebur128_true_peak(m.get(), c, &p);
        peak = std::max(peak, p);
    }
    return 20.0 * std::log10(peak);
}

// Stereo pink noise (Paul Kellet's refined filter over white noise), scaled so that
// libebur128 measures it at lufs.
std::vector<int16_t> PinkNoise(size_t frames, double lufs, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> white(-1.0f, 1.0f);
    std::vector<float> x(frames * 2);
    for (size_t c = 0; c < 2; ++c) {
        float b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
        for (size_t f = 0; f < frames; ++f) {
            const float w = white(random);
            b0 = 0.99886f * b0 + w * 0.0555179f;
            b1 = 0.99332f * b1 + w * 0.0750759f;
            b2 = 0.96900f * b2 + w * 0.1538520f;
            b3 = 0.86650f * b3 + w * 0.3104856f;
            b4 = 0.55000f * b4 + w * 0.5329522f;
            b5 = -0.7616f * b5 - w * 0.0168980f;
            x[f * 2 + c] = (b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362f) * 0.11f;
            b6 = w * 0.115926f;
        }
    }
    const double scale = std::pow(10.0, (lufs - IntegratedLufs(x)) / 20.0);
    std::vector<int16_t> out(x.size());
    for (size_t i = 0; i < x.size(); ++i)
        out[i] = SaturateSample(x[i] * scale * 32768.0);
    return out;
}

void LoudnessOn(ProcessingChain& chain, float maxGainDb = 18.0f)
{
    ConfigureChain(chain, kRate, 2, [maxGainDb](ProcessingParams& p) {
        p.loudnessEnabled = true;
        p.loudnessMaxGainDb = maxGainDb;
        p.truePeakEnabled = true;
    });
}

// Short-term loudness of the output every 100 ms from `from` seconds on: lowest, highest.
std::pair<double, double> ShortTermRange(const std::vector<int16_t>& out, double from)
{
    Measure m = NewMeasure(EBUR128_MODE_S);
    double low = 1e9, high = -1e9;
    const size_t step = kRate / 10;
    for (size_t f = 0; f + step <= out.size() / 2; f += step) {
        ebur128_add_frames_short(m.get(), out.data() + f * 2, step);
        double st = 0.0;
        if (static_cast<double>(f + step) / kRate >= from && ebur128_loudness_shortterm(m.get(), &st) == 0) {
            low = std::min(low, st);
            high = std::max(high, st);
        }
    }
    return {low, high};
}

// Pink noise at -36, -26 and -10 LUFS: after 10 s the output's short-term loudness stays
// within -16 +-1 LU. -36 LUFS needs 20 dB, more than the default 18 dB allow.
TEST(LoudnessModeTest, PinkNoiseSettlesAtTheTarget)
{
    const struct {
        double lufs;
        float maxGainDb;
    } cases[] = {{-36.0, 24.0f}, {-26.0, 18.0f}, {-10.0, 18.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lufs);
        ProcessingChain chain;
        LoudnessOn(chain, c.maxGainDb);
        std::vector<int16_t> samples = PinkNoise(kRate * 25, c.lufs, 7);
        RunChain(chain, samples, kBlock);
        const auto [low, high] = ShortTermRange(samples, 10.0);
        EXPECT_GE(low, -17.0);
        EXPECT_LE(high, -15.0);
    }
}

// The gain never passes loudnessMaxGainDb: -30 LUFS allowed 6 dB leaves at -24.
TEST(LoudnessModeTest, GainStaysWithinItsRange)
{
    ProcessingChain chain;
    LoudnessOn(chain, 6.0f);
    std::vector<int16_t> samples = PinkNoise(kRate * 15, -30.0, 3);
    RunChain(chain, samples, kBlock);
    EXPECT_NEAR(chain.LoudnessGainDb(), 6.0f, 1e-3f);
    const auto [low, high] = ShortTermRange(samples, 10.0);
    EXPECT_NEAR(low, -24.0, 0.7);
    EXPECT_NEAR(high, -24.0, 0.7);
}

// A 20 s pause of -60 dBFS noise after program: the noise leaves at most 3 dB louder at
// the end of the pause than at its start (the gain measured from the samples).
TEST(LoudnessModeTest, GainDoesNotClimbInAPause)
{
    for (bool gate : {false, true}) {
        SCOPED_TRACE(gate ? "gate on" : "gate off");
        ProcessingChain chain;
        LoudnessOn(chain);
        chain.params.gateEnabled = gate;
        std::vector<int16_t> samples = PinkNoise(kRate * 10, -26.0, 11);
        std::mt19937 random(5);
        std::normal_distribution<double> noise(0.0, 32768.0 * 0.001); // RMS -60 dBFS
        std::vector<int16_t> pause(kRate * 20 * 2);
        for (int16_t& s : pause)
            s = SaturateSample(noise(random));
        samples.insert(samples.end(), pause.begin(), pause.end());
        const std::vector<int16_t> input = samples;
        RunChain(chain, samples, kBlock);

        // Gain of each second of the pause, as output RMS over input RMS.
        double first = 0.0, highest = -1e9;
        for (size_t second = 11; second < 30; ++second) {
            double in = 0.0, out = 0.0;
            for (size_t i = second * kRate * 2; i < (second + 1) * kRate * 2; ++i) {
                in += static_cast<double>(input[i]) * input[i];
                out += static_cast<double>(samples[i]) * samples[i];
            }
            const double gainDb = 10.0 * std::log10((out + 1.0) / in);
            if (second == 11)
                first = gainDb;
            highest = std::max(highest, gainDb);
        }
        EXPECT_LE(highest - first, 3.0);
        if (!gate) {
            EXPECT_GT(first, 5.0); // the program's own gain, held through the pause
        }
    }
}

// A 20 s introduction at -30 LUFS, then a tutti 20 LU louder: after the first 10 s the
// output's short-term loudness stays within the target + 4 LU, and a quiet passage 12 LU
// below the program it follows is not lifted towards the target.
TEST(LoudnessModeTest, QuietIntroductionDoesNotBlastTheTutti)
{
    ProcessingChain chain;
    LoudnessOn(chain);
    chain.params.truePeakEnabled = false;
    std::vector<int16_t> samples = PinkNoise(kRate * 20, -30.0, 21);
    const std::vector<int16_t> tutti = PinkNoise(kRate * 15, -10.0, 22);
    samples.insert(samples.end(), tutti.begin(), tutti.end());
    RunChain(chain, samples, kBlock);
    EXPECT_LE(ShortTermRange(samples, 10.0).second, -12.0);
    EXPECT_NEAR(IntegratedLufs(std::vector<float>(samples.begin(), samples.end())) - 20.0 * std::log10(32768.0),
                -16.0, 1.0);

    std::vector<int16_t> passage = PinkNoise(kRate * 12, -22.0, 23); // the tutti's program at -16
    RunChain(chain, passage, kBlock);
    EXPECT_LE(ShortTermRange(passage, 3.0).second, -16.0 - 8.0);
}

// Switched on mid-stream, loudness mode starts from unity gain and the true-peak
// limiter's look-ahead holds silence, not the sound of when it was last on; the same
// when the owner let blocks pass by the chain.
TEST(LoudnessModeTest, SwitchedOnAgainStartsClean)
{
    for (bool passedBy : {false, true}) {
        SCOPED_TRACE(passedBy ? "blocks passed by" : "blocks processed");
        ProcessingChain chain;
        LoudnessOn(chain);
        std::vector<int16_t> quiet = PinkNoise(kRate * 8, -30.0, 31);
        RunChain(chain, quiet, kBlock);
        ASSERT_GT(chain.LoudnessGainDb(), 10.0f);
        chain.params.loudnessEnabled = chain.params.truePeakEnabled = false;
        chain.params.gainEnabled = !passedBy;
        std::vector<int16_t> between = PinkNoise(kRate, -20.0, 32);
        if (passedBy)
            chain.Pass();
        else
            RunChain(chain, between, kBlock);
        chain.params.loudnessEnabled = chain.params.truePeakEnabled = true;
        std::vector<int16_t> block(kBlock * 2, 1000);
        chain.Process(block.data(), block.size() * 2);
        EXPECT_NEAR(chain.LoudnessGainDb(), 0.0f, 0.5f);
        EXPECT_EQ(block[0], 0); // the look-ahead starts empty
        EXPECT_EQ(block[chain.TruePeakLatencyFrames() * 2 + 2], 1000);
    }
}

// A gain change is spread over the block: no step at the joins of 10 ms blocks. The
// largest sample-to-sample step of a low sine stays that of the sine itself, scaled.
TEST(LoudnessModeTest, GainChangesDoNotClickAtBlockJoins)
{
    ProcessingChain chain;
    LoudnessOn(chain);
    chain.params.truePeakEnabled = false;
    std::vector<int16_t> samples = Sines(kRate, kRate * 6, {200.0, 200.0}, {1000.0, 1000.0});
    RunChain(chain, samples, kBlock);
    ASSERT_GT(chain.LoudnessGainDb(), 10.0f); // it rose a lot in these 6 s, never above the last
    const double gain = std::pow(10.0, chain.LoudnessGainDb() / 20.0);
    const double sineStep = 1000.0 * gain * 2.0 * kPi * 200.0 / kRate;
    int worst = 0;
    for (size_t f = kRate / 2; f < kRate * 2; ++f) // while the gain rises
        worst = std::max(worst, std::abs(samples[(f + 1) * 2] - samples[f * 2]));
    EXPECT_LE(worst, sineStep * 1.05 + 2.0);
}

// Intersample peaks: a sine at a quarter of the rate with a 45 degree phase offset (its
// samples at full scale, its true peak +3 dBTP) and hard-clipped squares leave at or
// below the ceiling, whatever the block size.
TEST(TruePeakLimiterTest, IntersamplePeaksStayBelowTheCeiling)
{
    const size_t frames = kRate * 3;
    std::vector<std::vector<int16_t>> signals;
    {
        std::vector<int16_t> quarter(frames * 2);
        for (size_t f = 0; f < frames; ++f)
            quarter[f * 2] = quarter[f * 2 + 1] =
                SaturateSample(46340.95 * std::sin(kPi / 2.0 * static_cast<double>(f) + kPi / 4.0));
        signals.push_back(quarter);
    }
    for (double freq : {997.0, 3150.0, 7000.0}) {
        std::vector<int16_t> square(frames * 2);
        for (size_t f = 0; f < frames; ++f)
            square[f * 2] = square[f * 2 + 1] =
                SaturateSample(4.0 * 32767.0 * std::sin(2.0 * kPi * freq * static_cast<double>(f) / kRate));
        signals.push_back(square);
    }
    for (float ceiling : {-1.0f, -3.0f}) {
        for (size_t s = 0; s < signals.size(); ++s) {
            for (size_t block : {kBlock, size_t{127}}) {
                SCOPED_TRACE(testing::Message() << "signal " << s << ", ceiling " << ceiling << ", block " << block);
                ProcessingChain chain;
                ConfigureChain(chain, kRate, 2, [ceiling](ProcessingParams& p) {
                    p.truePeakEnabled = true;
                    p.truePeakCeilingDb = ceiling;
                });
                std::vector<int16_t> out = signals[s];
                EXPECT_GT(TruePeakDb(out), 0.0);
                RunChain(chain, out, block);
                EXPECT_LE(TruePeakDb(out), ceiling);
                // Reduced to the ceiling, not far below it.
                EXPECT_GT(TruePeakDb(out), ceiling - CodecOvershootDb(1, 64000) - 1.5f);
            }
        }
    }
}

// The limiter delays the sound by its look-ahead and half its interpolator: a click
// comes out exactly LatencyFrames later, and a quiet signal passes otherwise unchanged.
TEST(TruePeakLimiterTest, QuietSoundPassesDelayedAndUnchanged)
{
    ProcessingChain chain;
    ConfigureChain(chain, kRate, 2, [](ProcessingParams& p) { p.truePeakEnabled = true; });
    const size_t latency = chain.TruePeakLatencyFrames();
    EXPECT_LE(latency, kRate * 5 / 1000);
    std::vector<int16_t> in = Sines(kRate, kRate, {440.0, 1000.0}, {8000.0, 5000.0});
    std::vector<int16_t> out = in;
    RunChain(chain, out, 127);
    for (size_t f = latency; f < kRate; ++f) {
        ASSERT_EQ(out[f * 2], in[(f - latency) * 2]) << f;
        ASSERT_EQ(out[f * 2 + 1], in[(f - latency) * 2 + 1]) << f;
    }
}

// The meter agrees with a separate libebur128 measurement of the same sound and fills
// nothing on the audio path.
TEST(LoudnessMeterTest, ReadsAsTheLibraryMeasures)
{
    std::vector<int16_t> samples = PinkNoise(kRate * 6, -20.0, 9);
    LoudnessMeter meter;
    ASSERT_TRUE(meter.Configure(kRate, 2));
    EXPECT_EQ(FormatLoudness(meter.Reading().shortTermLufs), "-inf");
    meter.Add(samples.data(), kBlock); // the first block of a stream may size things
    StartCountingAllocations();
    for (size_t f = kBlock; f + kBlock <= samples.size() / 2; f += kBlock)
        meter.Add(samples.data() + f * 2, kBlock);
    EXPECT_EQ(StopCountingAllocations(), 0);
    meter.Flush();
    const LoudnessReading r = meter.Reading();
    EXPECT_NEAR(r.integratedLufs, -20.0, 0.2);
    EXPECT_NEAR(r.shortTermLufs, -20.0, 0.5);
    EXPECT_NEAR(r.momentaryLufs, -20.0, 1.5);
    EXPECT_NEAR(r.maxTruePeakDb, TruePeakDb(samples), 0.05); // our interpolator, not the library's
    EXPECT_LE(r.truePeakDb, r.maxTruePeakDb);
    EXPECT_EQ(FormatLoudness(-16.04f), "-16.0");
    EXPECT_EQ(FormatLoudness(-80.0f), "-inf");

    // Across a step from -30 to -14 LUFS, whose windows hold both levels, momentary and
    // short-term loudness read as the library's own at every 100 ms mark.
    std::vector<int16_t> step = PinkNoise(kRate * 2, -30.0, 5);
    const std::vector<int16_t> loud = PinkNoise(kRate * 6 / 5, -14.0, 6);
    step.insert(step.end(), loud.begin(), loud.end());
    LoudnessMeter stepMeter;
    ASSERT_TRUE(stepMeter.Configure(kRate, 2));
    stepMeter.Watch();
    Measure reference = NewMeasure(EBUR128_MODE_S);
    for (size_t f = 0; f + kBlock <= step.size() / 2; f += kBlock) {
        stepMeter.Add(step.data() + f * 2, kBlock);
        ebur128_add_frames_short(reference.get(), step.data() + f * 2, kBlock);
        if ((f + kBlock) % (kRate / 10) != 0)
            continue;
        double momentary = 0.0, shortTerm = 0.0;
        ebur128_loudness_momentary(reference.get(), &momentary);
        ebur128_loudness_shortterm(reference.get(), &shortTerm);
        ASSERT_NEAR(stepMeter.Reading().momentaryLufs, momentary, 0.01) << f;
        ASSERT_NEAR(stepMeter.Reading().shortTermLufs, shortTerm, 0.01) << f;
    }
}

// Nobody reads, nothing is measured; a mono stream reads as dual mono, as loud as the
// same program in stereo, and loudness mode brings both to the same level.
TEST(LoudnessMeterTest, MeasuresOnlyWhenReadAndMonoAsDualMono)
{
    const std::vector<int16_t> stereo = PinkNoise(kRate * 12, -24.0, 41);
    std::vector<int16_t> mono(stereo.size() / 2);
    for (size_t f = 0; f < mono.size(); ++f)
        mono[f] = stereo[f * 2];
    LoudnessMeter unread;
    ASSERT_TRUE(unread.Configure(kRate, 2));
    unread.Add(stereo.data(), stereo.size() / 2);
    EXPECT_EQ(FormatLoudness(unread.Reading().integratedLufs), "-inf");

    float lufs[2] = {};
    float gains[2] = {};
    for (uint16_t channels : {1, 2}) {
        std::vector<int16_t> samples = channels == 1 ? mono : stereo;
        LoudnessMeter meter;
        ASSERT_TRUE(meter.Configure(kRate, channels));
        meter.Watch();
        meter.Add(samples.data(), samples.size() / channels);
        meter.Flush();
        lufs[channels - 1] = meter.Reading().integratedLufs;
        ProcessingChain chain;
        ConfigureChain(chain, kRate, channels, [](ProcessingParams& p) { p.loudnessEnabled = true; });
        RunChain(chain, samples, kBlock);
        gains[channels - 1] = chain.LoudnessGainDb();
    }
    EXPECT_NEAR(lufs[1], -24.0, 0.3);
    EXPECT_NEAR(lufs[0], lufs[1], 0.5);
    EXPECT_NEAR(gains[0], gains[1], 0.5);
}

} // namespace
