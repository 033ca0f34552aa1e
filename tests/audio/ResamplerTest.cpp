#include <gtest/gtest.h>

#include <complex>

#include "AudioTestSignals.h"
#include "audio/Resampler.h"

namespace {

struct RatePair {
    uint32_t in, out;
};
const RatePair kRatePairs[] = {{48000, 44100}, {48000, 32000}, {44100, 48000}, {44100, 32000}, {48000, 48000}};
const size_t kBlockSizes[] = {1, 7, 127, 441, 480};

// Runs input through a fresh resampler in blocks of blockFrames frames, checking each
// block's output length, and returns everything it produced.
std::vector<int16_t> Resample(const RatePair& rates, uint16_t channels, const std::vector<int16_t>& input,
                              size_t blockFrames)
{
    Resampler resampler;
    resampler.Configure(rates.in, rates.out, channels);
    std::vector<int16_t> all;
    std::vector<int16_t> out;
    for (size_t at = 0; at < input.size(); at += blockFrames * channels) {
        const size_t count = std::min(blockFrames * channels, input.size() - at);
        const size_t produced = resampler.Process(input.data() + at, count, out);
        EXPECT_EQ(produced, out.size());
        const size_t frames = count / channels;
        EXPECT_LE(produced / channels, static_cast<size_t>(frames * resampler.Ratio()) + 2);
        all.insert(all.end(), out.begin(), out.end());
    }
    return all;
}

// Magnitude of a biquad at frequency f.
double Magnitude(const BiquadCoefficients& k, double f, double rate)
{
    const std::complex<double> z = std::polar(1.0, -2.0 * kPi * f / rate);
    const double b0 = k.b0, b1 = k.b1, b2 = k.b2, a1 = k.a1, a2 = k.a2;
    return std::abs((b0 + b1 * z + b2 * z * z) / (1.0 + a1 * z + a2 * z * z));
}

// The output does not depend on how the input is cut into blocks: the same samples as
// one large block, within one step of rounding from the carried position.
TEST(ResamplerTest, BlockSizeLeavesNoTrace)
{
    for (const RatePair& rates : kRatePairs) {
        const std::vector<int16_t> input = Sines(rates.in, rates.in, {1000, 1000}, {20000, -12000});
        const std::vector<int16_t> whole = Resample(rates, 2, input, input.size());
        for (size_t blockFrames : kBlockSizes) {
            SCOPED_TRACE(testing::Message() << rates.in << " -> " << rates.out << ", blocks of " << blockFrames);
            const std::vector<int16_t> blocked = Resample(rates, 2, input, blockFrames);
            // Only the last output can come or go: it falls exactly on the end of the input.
            ASSERT_NEAR(static_cast<double>(blocked.size()), static_cast<double>(whole.size()), 2.0);
            const size_t common = std::min(blocked.size(), whole.size());
            ASSERT_GT(common, size_t{rates.out} * 2 - 4);
            int worst = 0;
            for (size_t i = 0; i < common; ++i)
                worst = std::max(worst, std::abs(blocked[i] - whole[i]));
            EXPECT_LE(worst, 1);
        }
    }
}

// Over many blocks the output length is the input length times the ratio.
TEST(ResamplerTest, OutputLengthFollowsTheRatio)
{
    for (const RatePair& rates : kRatePairs) {
        for (size_t blockFrames : kBlockSizes) {
            for (uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
                SCOPED_TRACE(testing::Message() << rates.in << " -> " << rates.out << ", blocks of " << blockFrames
                                                << ", " << channels << " ch");
                const std::vector<int16_t> input(size_t{rates.in} * channels * 2, 100); // 2 s
                const std::vector<int16_t> out = Resample(rates, channels, input, blockFrames);
                EXPECT_NEAR(static_cast<double>(out.size() / channels), 2.0 * rates.out, 2.0);
                EXPECT_EQ(out.size() % channels, 0u);
            }
        }
    }
}

TEST(ResamplerTest, AntiAliasFilterOnlyWhenGoingDown)
{
    struct Case {
        RatePair rates;
        bool filter;
        double cutoff;
    };
    const Case cases[] = {
        {{48000, 44100}, true, 19845}, {{48000, 32000}, true, 14400}, {{44100, 32000}, true, 14400},
        {{44100, 48000}, false, 0},    {{32000, 48000}, false, 0},    {{48000, 48000}, false, 0},
        {{0, 44100}, false, 0},        {{48000, 0}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rates.in << " -> " << c.rates.out);
        Resampler resampler;
        resampler.Configure(c.rates.in, c.rates.out, 2);
        ASSERT_EQ(resampler.FilterEnabled(), c.filter);
        if (c.filter) {
            EXPECT_NEAR(Db(Magnitude(resampler.Coefficients(), c.cutoff, c.rates.in)), -3.01, 0.02);
            EXPECT_NEAR(Db(Magnitude(resampler.Coefficients(), 1000, c.rates.in)), 0.0, 0.01);
        }
    }
}

// A tone above the new Nyquist frequency is attenuated on the way down; the same tone
// going up is not filtered.
TEST(ResamplerTest, AliasingToneIsAttenuated)
{
    const std::vector<int16_t> high = Sines(48000, 48000, {20000, 1000}, {10000, 10000});
    const std::vector<int16_t> down = Resample({48000, 32000}, 2, high, 480);
    EXPECT_LT(Db(ChannelRms(down, 2, 0, 3200) / ChannelRms(high, 2, 0, 4800)), -17.0);
    EXPECT_NEAR(Db(ChannelRms(down, 2, 1, 3200) / ChannelRms(high, 2, 1, 4800)), 0.0, 0.1);
}

TEST(ResamplerTest, EqualRatesCopy)
{
    const std::vector<int16_t> input = Sines(48000, 1000, {440, 880}, {30000, -32768});
    const std::vector<int16_t> out = Resample({48000, 48000}, 2, input, 127);
    EXPECT_EQ(out, input);
}

// One-frame blocks still yield output while the position is below 1 (interpolating
// from the previous block's frame) and move the position on by one frame.
TEST(ResamplerTest, SingleFrameBlocks)
{
    Resampler resampler;
    resampler.Configure(44100, 48000, 2);
    const double step = 44100.0 / 48000.0;
    std::vector<int16_t> out;
    const int16_t frame[2] = {1000, -1000};
    ASSERT_EQ(resampler.Process(frame, 2, out), 4u); // positions 0 and 0.91875
    EXPECT_EQ(out, (std::vector<int16_t>{0, 0, 918, -918}));
    EXPECT_NEAR(resampler.Position(), 2 * step - 1.0, 1e-12);
    ASSERT_EQ(resampler.Process(frame, 2, out), 2u);
    EXPECT_EQ(out, (std::vector<int16_t>{1000, -1000}));
    EXPECT_NEAR(resampler.Position(), 3 * step - 2.0, 1e-12);
}

TEST(ResamplerTest, EmptyOrShortInputGivesNothing)
{
    Resampler resampler;
    resampler.Configure(48000, 44100, 2);
    std::vector<int16_t> out = {1, 2, 3};
    const int16_t sample = 5;
    EXPECT_EQ(resampler.Process(nullptr, 10, out), 0u);
    EXPECT_TRUE(out.empty());
    out = {1};
    EXPECT_EQ(resampler.Process(&sample, 1, out), 0u); // shorter than one frame
    EXPECT_TRUE(out.empty());
}

// The anti-alias filter rings past full scale on a square wave; the output saturates
// instead of wrapping around.
TEST(ResamplerTest, OvershootSaturates)
{
    std::vector<int16_t> square(2 * 4800);
    for (size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 2 / 24) % 2 ? -32768 : 32767;
    const std::vector<int16_t> out = Resample({48000, 32000}, 2, square, 480);
    int highest = 0;
    int lowest = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        highest = std::max<int>(highest, out[i]);
        lowest = std::min<int>(lowest, out[i]);
    }
    EXPECT_EQ(highest, 32767);
    EXPECT_EQ(lowest, -32768);
    // Where the input is at its positive peak the output must not have wrapped negative.
    for (size_t f = 8; f < out.size() / 2; ++f) {
        const size_t source = f * 3 / 2; // input frame at the same time
        if ((source / 24) % 2 == 0 && source % 24 > 6 && source % 24 < 18) {
            ASSERT_GT(out[2 * f], 0) << "frame " << f;
        }
    }
}

} // namespace
