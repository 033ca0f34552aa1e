#include <gtest/gtest.h>

#include <cmath>

#include "AudioTestSignals.h"
#include "audio/ProcessingChain.h"
#include "audio/SampleConversion.h"

namespace {

void Process(ProcessingChain& chain, std::vector<int16_t>& samples)
{
    chain.Process(samples.data(), samples.size() * sizeof(int16_t));
}

TEST(ProcessingChainTest, ConversionPairKeepsEveryValue)
{
    ProcessingChain chain;
    chain.Configure(48000, 2);
    std::vector<int16_t> samples = {32767, -32768, 0, 1, -1, 12345, -12345, 32766};
    const std::vector<int16_t> input = samples;
    Process(chain, samples);
    EXPECT_EQ(samples, input);
}

TEST(ProcessingChainTest, SaturationInsteadOfWrapping)
{
    struct Case {
        float in;
        int16_t out;
    };
    const Case cases[] = {
        {32767.0f, 32767}, {32767.9f, 32767}, {40000.0f, 32767},   {1e30f, 32767},   {-32768.0f, -32768},
        {-32768.9f, -32768}, {-1e30f, -32768}, {1.9f, 1},          {-1.9f, -1},      {-0.5f, 0},
        {std::nanf(""), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SaturateToInt16(c.in), c.out) << c.in;
}

TEST(ProcessingChainTest, MonoFoldAveragesTheFirstTwoChannels)
{
    ProcessingChain chain;
    ConfigureChain(chain, 48000, 2, [](ProcessingParams& p) { p.mono = true; });
    std::vector<int16_t> samples = {1000, 3000, -32768, -32767, 1, 2, 32767, 32767};
    Process(chain, samples);
    EXPECT_EQ(samples, (std::vector<int16_t>{2000, 2000, -32767, -32767, 1, 1, 32767, 32767}));
    EXPECT_GT(chain.Meters().inputLevel, 0.0f);
    EXPECT_GT(chain.Meters().outputLevel, 0.0f);
    EXPECT_EQ(chain.Meters().hpfActivity, 0.0f); // stages that did not run keep their meters
}

TEST(ProcessingChainTest, MonoFoldIsSkippedOnAMonoChain)
{
    ProcessingChain chain;
    ConfigureChain(chain, 48000, 1, [](ProcessingParams& p) { p.mono = true; });
    std::vector<int16_t> samples = {1000, 3000, -5, 7};
    Process(chain, samples);
    EXPECT_EQ(samples, (std::vector<int16_t>{1000, 3000, -5, 7}));
}

// The level curve: a mean absolute level of -40 dBFS shows as 0.316, -20 dBFS as 0.562.
TEST(ProcessingChainTest, LevelMetersFollowTheDisplayCurve)
{
    struct Case {
        int16_t value;
        float level;
    };
    for (const Case c : {Case{328, 0.3163f}, Case{-3277, 0.5623f}, Case{0, 0.0f}, Case{-32768, 1.0f}}) {
        ProcessingChain chain;
        ConfigureChain(chain, 48000, 2, [](ProcessingParams& p) { p.mono = true; });
        std::vector<int16_t> samples(960, c.value);
        Process(chain, samples);
        EXPECT_NEAR(chain.Meters().inputLevel, c.level, 1e-4) << c.value;
        EXPECT_NEAR(chain.Meters().outputLevel, c.level, 1e-4) << c.value;
    }
}

TEST(ProcessingChainTest, EmptyInputDoesNothing)
{
    ProcessingChain chain;
    ConfigureChain(chain, 48000, 2, [](ProcessingParams& p) { p.gainEnabled = true; });
    int16_t sample = 1000;
    chain.Process(&sample, 1);
    chain.Process(nullptr, 64);
    EXPECT_EQ(sample, 1000);
    EXPECT_EQ(chain.Meters().gainPosition, 0.0f);
}

TEST(ProcessingChainTest, ConfigureFillsInDefaultsAndResetsState)
{
    ProcessingChain chain;
    chain.params.limiterEnabled = true;
    chain.Configure(0, 0);
    EXPECT_EQ(chain.SampleRate(), 44100u);
    EXPECT_EQ(chain.Channels(), 2u);
    std::vector<int16_t> loud(882, 32767);
    Process(chain, loud);
    EXPECT_LT(chain.LimiterGain(), 1.0f);
    const float meter = chain.Meters().limiterActivity;
    chain.Configure(48000, 1);
    EXPECT_EQ(chain.LimiterGain(), 1.0f);
    EXPECT_EQ(chain.Meters().limiterActivity, meter); // meters and params stay
    EXPECT_TRUE(chain.params.limiterEnabled);
}

// Every stage on, loud and quiet noise, several block sizes: the meters stay in [0, 1]
// and the limiter still bounds the output. A gain far past any sane setting (800 dB)
// must neither turn a meter into NaN nor the sound into silence.
TEST(ProcessingChainTest, AllStagesKeepMetersInRange)
{
    for (const float gainDb : {6.0f, 800.0f})
    for (size_t blockFrames : {1u, 64u, 480u}) {
        SCOPED_TRACE(testing::Message() << blockFrames << " frames, gain " << gainDb << " dB");
        ProcessingChain chain;
        ConfigureChain(chain, 48000, 2, [gainDb](ProcessingParams& p) {
            p.hpfEnabled = p.gateEnabled = p.gainEnabled = p.agcEnabled = p.compEnabled = true;
            p.boostEnabled = p.bassEnabled = p.stereoWidthEnabled = p.limiterEnabled = p.codecPreEnabled = true;
            p.gainDb = gainDb;
            p.compMakeupDb = 6.0f;
            p.codecHeVersion = 2;
        });
        std::vector<int16_t> samples(2 * 48000);
        uint32_t seed = 99;
        for (size_t i = 0; i < samples.size(); ++i) {
            seed = seed * 1664525u + 1013904223u;
            const int scale = (i / 9600) % 2 ? 1 : 64; // alternating quiet and loud stretches
            samples[i] = static_cast<int16_t>(static_cast<int16_t>(seed >> 16) / scale);
        }
        for (size_t at = 0; at < samples.size(); at += 2 * blockFrames) {
            chain.Process(samples.data() + at, std::min(2 * blockFrames, samples.size() - at) * sizeof(int16_t));
            const ProcessingMeters meters = chain.Meters();
            for (const MeterField& field : kMeterFields) {
                const float v = meters.*field.member;
                ASSERT_TRUE(v >= 0.0f && v <= 1.0f) << field.name << "=" << v;
            }
        }
        EXPECT_LE(MaxAbs(samples), 29204);
        EXPECT_GT(MaxAbs(samples), 20000);
        EXPECT_GT(chain.Meters().outputLevel, 0.5f);
    }
}

// Each meter's value for one known signal, with only its stage on (and mid-scale
// readings, so that a changed meter scale or offset shows): 1 s of 48 kHz stereo, a
// 50 Hz hum under 1 kHz left and 3 kHz right, fed in 10 ms blocks; the last block's
// readings.
TEST(ProcessingChainTest, StageMetersReadTheirKnownValues)
{
    const struct {
        Meter meter;
        double hum, tone; // amplitudes
        void (*enable)(ProcessingParams&);
        float expected;
    } cases[] = {
        {Meter::InputLevel, 3000, 2000, [](ProcessingParams& p) { p.mono = true; }, 0.50485f},
        {Meter::HpfActivity, 3000, 2000, [](ProcessingParams& p) { p.hpfEnabled = true; }, 0.68116f},
        {Meter::GateActivity, 3000, 2000, [](ProcessingParams& p) { p.gateEnabled = true; }, 0.24311f},
        {Meter::GainPosition, 3000, 2000, [](ProcessingParams& p) { p.gainEnabled = true; p.gainDb = 2.5f; }, 0.70833f},
        {Meter::AgcActivity, 3000, 2000, [](ProcessingParams& p) { p.agcEnabled = true; }, 0.36097f},
        {Meter::CompActivity, 6000, 8000, [](ProcessingParams& p) { p.compEnabled = true; p.compThreshDb = -20.0f; }, 0.79994f},
        {Meter::BoostActivity, 3000, 2000, [](ProcessingParams& p) { p.boostEnabled = true; }, 0.17819f},
        {Meter::BassActivity, 3000, 2000, [](ProcessingParams& p) { p.bassEnabled = true; }, 0.49385f},
        {Meter::WidthActivity, 3000, 2000, [](ProcessingParams& p) { p.stereoWidthEnabled = true; }, 0.03223f},
        {Meter::LimiterActivity, 12000, 20000, [](ProcessingParams& p) { p.limiterEnabled = true; }, 0.59854f},
        {Meter::CodecPreActivity, 3000, 2000, [](ProcessingParams& p) { p.codecPreEnabled = true; }, 0.22526f},
        {Meter::OutputLevel, 3000, 2000, [](ProcessingParams& p) { p.gainEnabled = true; p.gainDb = -6.0f; }, 0.42472f},
    };
    for (const auto& c : cases) {
        const char* name = kMeterFields[static_cast<size_t>(c.meter)].name;
        ProcessingChain chain;
        ConfigureChain(chain, 48000, 2, c.enable);
        std::vector<int16_t> samples(2 * 48000);
        for (size_t f = 0; f < 48000; ++f) {
            const double t = static_cast<double>(f) / 48000.0;
            const double hum = c.hum * std::sin(2.0 * kPi * 50.0 * t);
            samples[2 * f] = static_cast<int16_t>(std::lround(hum + c.tone * std::sin(2.0 * kPi * 1000.0 * t)));
            samples[2 * f + 1] = static_cast<int16_t>(std::lround(hum + c.tone * std::sin(2.0 * kPi * 3000.0 * t)));
        }
        RunChain(chain, samples, 480);
        const float value = chain.MeterValue(c.meter);
        EXPECT_NEAR(value, c.expected, 2e-4) << name;
    }
}

TEST(ProcessingChainTest, ProcessingNeededWhenAnySwitchIsSet)
{
    EXPECT_FALSE(ProcessingNeeded(ProcessingParams{}));
    bool ProcessingParams::*switches[] = {
        &ProcessingParams::hpfEnabled,      &ProcessingParams::gateEnabled,     &ProcessingParams::gainEnabled,
        &ProcessingParams::agcEnabled,      &ProcessingParams::compEnabled,     &ProcessingParams::boostEnabled,
        &ProcessingParams::bassEnabled,     &ProcessingParams::stereoWidthEnabled,
        &ProcessingParams::limiterEnabled,  &ProcessingParams::codecPreEnabled, &ProcessingParams::mono,
    };
    for (bool ProcessingParams::*member : switches) {
        ProcessingParams params;
        params.*member = true;
        EXPECT_TRUE(ProcessingNeeded(params));
    }
}

TEST(ProcessingChainTest, MapChannels)
{
    struct Case {
        uint16_t from, to;
        std::vector<int16_t> in, out;
    };
    const Case cases[] = {
        {1, 2, {1, -2, 3}, {1, 1, -2, -2, 3, 3}},
        {2, 1, {1, 2, 3, 4}, {1, 3}},
        {2, 2, {1, 2, 3, 4}, {1, 2, 3, 4}},
        {4, 2, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 5, 6}},
        {1, 1, {32767, -32768}, {32767, -32768}},
    };
    for (const Case& c : cases) {
        std::vector<int16_t> out(c.in.size() / c.from * c.to, 99);
        MapChannels(c.in.data(), c.in.size() / c.from, c.from, out.data(), c.to);
        EXPECT_EQ(out, c.out) << c.from << " -> " << c.to;
    }
}

} // namespace
