#include <gtest/gtest.h>

#include "AudioTestSignals.h"
#include "audio/ProcessingChain.h"

namespace {

void Gate(ProcessingParams& p) { p.gateEnabled = true; }
void Limit(ProcessingParams& p) { p.limiterEnabled = true; }

// Processes frames of a constant value on every channel, in blocks of blockFrames.
std::vector<int16_t> Constant(ProcessingChain& chain, size_t frames, int16_t value, size_t blockFrames)
{
    std::vector<int16_t> samples(frames * chain.Channels(), value);
    RunChain(chain, samples, blockFrames);
    return samples;
}

// From an open gate, 50 ms of silence bring the gain below 0.37 (e^-1) at any rate and
// block size; it is still above at 45 ms, and it never closes within one frame.
TEST(DynamicsStagesTest, GateClosesInAboutFiftyMilliseconds)
{
    for (uint32_t rate : {44100u, 48000u}) {
        for (size_t blockFrames : {1u, 7u, 480u}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, blocks of " << blockFrames);
            ProcessingChain chain;
            ConfigureChain(chain, rate, 2, Gate);
            Constant(chain, rate / 10, 5000, blockFrames); // open
            ASSERT_GT(chain.GateGain(), 0.999f);
            Constant(chain, 1, 0, 1);
            EXPECT_GT(chain.GateGain(), 0.999f);
            Constant(chain, rate * 45 / 1000 - 1, 0, blockFrames);
            EXPECT_GT(chain.GateGain(), 0.37f);
            Constant(chain, rate * 5 / 1000, 0, blockFrames);
            EXPECT_LT(chain.GateGain(), 0.37f);
            EXPECT_GT(chain.Meters().gateActivity, 0.8f);
        }
    }
}

// Below the threshold (about -50 dBFS) the gain falls on every channel; above it the
// gate opens again in about 5 ms.
TEST(DynamicsStagesTest, GateAttenuatesQuietSoundAndReopens)
{
    ProcessingChain chain;
    ConfigureChain(chain, 48000, 2, Gate);
    const std::vector<int16_t> quiet = Constant(chain, 4800, 100, 480); // 100 ms
    const size_t at50ms = 2400 - 1;
    EXPECT_NEAR(quiet[2 * at50ms], 36, 1);
    EXPECT_EQ(quiet[2 * at50ms], quiet[2 * at50ms + 1]);

    Constant(chain, 48000, 0, 480); // closed
    ASSERT_LT(chain.GateGain(), 0.01f);
    Constant(chain, 48 * 4, 5000, 480);
    EXPECT_LT(chain.GateGain(), 0.63f);
    Constant(chain, 72, 5000, 480); // 5.5 ms in all
    EXPECT_GT(chain.GateGain(), 0.63f);
}

// On silence the AGC heads for +12 dB, closing the fraction s of the remaining distance
// per block, with s the speed limited to [0.002, 0.01].
TEST(DynamicsStagesTest, AgcClosesItsFractionPerBlockOnSilence)
{
    struct Case {
        float speed;
        double fraction;
    };
    for (const Case c : {Case{0.0005f, 0.002}, Case{0.005f, 0.005}, Case{0.05f, 0.01}}) {
        for (uint32_t rate : {44100u, 48000u}) {
            SCOPED_TRACE(testing::Message() << "speed " << c.speed << " at " << rate);
            ProcessingChain chain;
            ConfigureChain(chain, rate, 2, [&](ProcessingParams& p) {
                p.agcEnabled = true;
                p.agcSpeed = c.speed;
            });
            const size_t block = rate / 100;
            Constant(chain, block, 0, block);
            EXPECT_NEAR(chain.AgcGainDb(), 12.0 * c.fraction, 1e-5);
            Constant(chain, 99 * block, 0, block);
            EXPECT_NEAR(chain.AgcGainDb(), 12.0 * (1.0 - std::pow(1.0 - c.fraction, 100)), 1e-3);
            EXPECT_NEAR(chain.Meters().agcActivity, 0.5 - chain.AgcGainDb() / 24.0, 1e-6);
        }
    }
}

// A steady tone at -28 dBFS RMS is brought to the -16 dBFS target (+12 dB, the limit).
TEST(DynamicsStagesTest, AgcBringsAQuietToneToTheTarget)
{
    ProcessingChain chain;
    ConfigureChain(chain, 48000, 2, [](ProcessingParams& p) {
        p.agcEnabled = true;
        p.agcSpeed = 0.01f;
    });
    const double amplitude = std::pow(10.0, -28.0 / 20.0) * 32768.0 * std::sqrt(2.0);
    std::vector<int16_t> samples = Sines(48000, 48000 * 12, {1000, 1000}, {amplitude, amplitude});
    RunChain(chain, samples, 480);
    EXPECT_NEAR(chain.AgcGainDb(), 12.0, 0.01);
    EXPECT_NEAR(Db(ChannelRms(samples, 2, 1, 48000 * 11) / 32768.0), -16.0, 0.1);
}

TEST(DynamicsStagesTest, GainZeroIsBitExactAndOtherGainsScale)
{
    struct Case {
        float gainDb;
        int16_t in, out;
        float position;
    };
    const Case cases[] = {
        {0.0f, 12345, 12345, 0.5f},   {6.0f, 10000, 19952, 1.0f},   {-6.0f, 10000, 5011, 0.0f},
        {6.0f, 20000, 32767, 1.0f},   {6.0f, -20000, -32768, 1.0f}, {3.0f, -1000, -1412, 0.75f},
        {-12.0f, 1000, 251, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gainDb);
        ProcessingChain chain;
        ConfigureChain(chain, 48000, 2, [&](ProcessingParams& p) {
            p.gainEnabled = true;
            p.gainDb = c.gainDb;
        });
        const std::vector<int16_t> out = Constant(chain, 10, c.in, 10);
        EXPECT_EQ(out[0], c.out);
        EXPECT_EQ(out[19], c.out);
        EXPECT_FLOAT_EQ(chain.Meters().gainPosition, c.position);
    }
}

// Static curve of the compressor on a square wave (a constant peak level): above the
// threshold the level rises by 1/ratio, below it only the makeup gain applies.
TEST(DynamicsStagesTest, CompressorStaticCurve)
{
    struct Case {
        float threshDb, ratio, makeupDb;
        double inDb, outDb;
    };
    const Case cases[] = {
        {-12, 4, 0, -4, -10},  {-12, 4, 0, -20, -20}, {-20, 2, 0, -4, -12},  {-12, 0.5f, 0, -4, -4},
        {-12, 4, 3, -20, -17}, {-12, 4, 3, -4, -7},   {-24, 8, 0, -0.0003, -21.0},
    };
    for (const Case& c : cases) {
        for (size_t blockFrames : {7u, 480u}) {
            SCOPED_TRACE(testing::Message() << c.threshDb << " dB, ratio " << c.ratio << ", makeup " << c.makeupDb
                                            << ", in " << c.inDb << ", blocks of " << blockFrames);
            ProcessingChain chain;
            ConfigureChain(chain, 48000, 2, [&](ProcessingParams& p) {
                p.compEnabled = true;
                p.compThreshDb = c.threshDb;
                p.compRatio = c.ratio;
                p.compMakeupDb = c.makeupDb;
            });
            const double amplitude = std::min(32767.0, std::pow(10.0, c.inDb / 20.0) * 32768.0);
            std::vector<int16_t> square(2 * 96000);
            for (size_t f = 0; f < 96000; ++f)
                square[2 * f] = square[2 * f + 1] = static_cast<int16_t>((f / 240) % 2 ? -amplitude : amplitude);
            RunChain(chain, square, blockFrames);
            const std::vector<int16_t> tail(square.end() - 960, square.end());
            EXPECT_NEAR(Db(MaxAbs(tail) / 32768.0), c.outDb, 0.02);
        }
    }
}

// Without attack or release time the envelope follows the level at once, both ways.
TEST(DynamicsStagesTest, CompressorWithoutTimeConstantsFollowsAtOnce)
{
    ProcessingChain chain;
    ConfigureChain(chain, 48000, 2, [](ProcessingParams& p) {
        p.compEnabled = true;
        p.compAttackMs = 0.0f;
        p.compReleaseMs = 0.0f;
    });
    Constant(chain, 1, 0, 1);
    EXPECT_NEAR(chain.CompEnvelopeDb(), -600.0, 0.01); // the 1e-30 floor
    EXPECT_FLOAT_EQ(chain.Meters().compActivity, 0.5f);
    Constant(chain, 1, 16423, 1); // -6 dBFS
    EXPECT_NEAR(chain.CompEnvelopeDb(), -6.0, 0.01);
    EXPECT_NEAR(chain.Meters().compActivity, 0.5 + 6.0 * 0.75 / 24.0, 0.001); // -12 dB, ratio 4
    chain.params.compReleaseMs = 270.0f;
    Constant(chain, 1, 0, 1);
    EXPECT_GT(chain.CompEnvelopeDb(), -6.1); // with release time it falls slowly
}

TEST(DynamicsStagesTest, BoostAddsOneAndAHalfDb)
{
    ProcessingChain chain;
    ConfigureChain(chain, 48000, 2, [](ProcessingParams& p) { p.boostEnabled = true; });
    const std::vector<int16_t> out = Constant(chain, 480, 10000, 480);
    EXPECT_EQ(out[0], 11885);
    EXPECT_EQ(out[959], 11885);
    EXPECT_GE(chain.Meters().boostActivity, 0.15f);
}

// A full-scale square wave leaves the limiter at exactly +-29204 (-1 dBFS), never above,
// whatever the block size, rate or channel count.
TEST(DynamicsStagesTest, LimiterHoldsTheCeilingOnAFullScaleSquare)
{
    for (uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
        for (uint32_t rate : {44100u, 48000u}) {
            for (size_t blockFrames : {1u, 7u, 127u, 441u, 480u}) {
                SCOPED_TRACE(testing::Message() << channels << " ch, " << rate << " Hz, blocks of " << blockFrames);
                ProcessingChain chain;
                ConfigureChain(chain, rate, channels, Limit);
                std::vector<int16_t> square(channels * size_t{rate});
                for (size_t i = 0; i < square.size(); ++i)
                    square[i] = (i / channels / 50) % 2 ? -32767 : 32767;
                const std::vector<int16_t> input = square;
                RunChain(chain, square, blockFrames);
                for (size_t i = 0; i < square.size(); ++i) {
                    ASSERT_EQ(square[i], input[i] > 0 ? 29204 : -29204) << "sample " << i;
                }
                EXPECT_EQ(chain.Meters().limiterActivity, 1.0f);
            }
        }
    }
}

TEST(DynamicsStagesTest, LimiterNeverExceedsTheCeilingOnLoudNoise)
{
    ProcessingChain chain;
    ConfigureChain(chain, 48000, 2, [](ProcessingParams& p) {
        p.limiterEnabled = true;
        p.gainEnabled = true;
        p.gainDb = 12.0f; // drives the float samples far past full scale into the limiter
    });
    std::vector<int16_t> noise(96000);
    uint32_t seed = 12345;
    for (int16_t& s : noise) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<int16_t>(seed >> 16);
    }
    RunChain(chain, noise, 480);
    EXPECT_LE(MaxAbs(noise), 29204);
}

} // namespace
