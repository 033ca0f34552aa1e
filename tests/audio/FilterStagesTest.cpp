#include <gtest/gtest.h>

#include "AudioTestSignals.h"
#include "audio/FilterStages.h"
#include "audio/ProcessingChain.h"

namespace {

struct FilterCase {
    const char* name;
    void (*enable)(ProcessingParams&);
    uint32_t rate;
    double freqL, ampL, freqR, ampR; // a negative amplitude inverts the channel
    double expectDbL, expectDbR;
    double toleranceDb;
};

void Hpf(ProcessingParams& p) { p.hpfEnabled = true; }
void Bass(ProcessingParams& p) { p.bassEnabled = true; }
void Width(ProcessingParams& p) { p.stereoWidthEnabled = true; }
void CodecLc128(ProcessingParams& p)
{
    p.codecPreEnabled = true;
    p.codecHeVersion = 0;
    p.codecBitrate = 128000;
}

// Each channel carries its own tone, so a stage that mixes up channels or frames shows
// in the other channel's figure. Amplitudes of the codec cases stay below the level at
// which its transient softening acts.
const FilterCase kFilterCases[] = {
    {"hpf 20 Hz / 1 kHz at 48000", Hpf, 48000, 20, 8000, 1000, 8000, -21.79, 0.0, 0.15},
    {"hpf 70 Hz / 1 kHz at 44100", Hpf, 44100, 70, 8000, 1000, 8000, -3.01, 0.0, 0.1},
    {"hpf 1 kHz / 70 Hz at 48000", Hpf, 48000, 1000, 8000, 70, 8000, 0.0, -3.01, 0.1},
    {"bass 20 Hz / 5 kHz at 48000", Bass, 48000, 20, 8000, 5000, 8000, 2.99, 0.0, 0.1},
    {"bass 5 kHz / 30 Hz at 44100", Bass, 44100, 5000, 8000, 30, 8000, 0.0, 2.97, 0.1},
    {"bass 100 Hz midpoint at 48000", Bass, 48000, 100, 8000, 100, 8000, 1.5, 1.5, 0.1},
    {"width: side at 20 Hz", Width, 48000, 20, 8000, 20, -8000, -16.97, -16.97, 0.3},
    {"width: side at 50 Hz", Width, 48000, 50, 8000, 50, -8000, -8.91, -8.91, 0.2},
    {"width: side at 5 kHz", Width, 44100, 5000, 8000, 5000, -8000, 0.0, 0.0, 0.1},
    {"width: mid at 20 Hz", Width, 48000, 20, 8000, 20, 8000, 0.0, 0.0, 0.01},
    {"codec LC 128k at 48000: 16 kHz", CodecLc128, 48000, 16000, 1300, 1000, 1300, -3.01, 0.0, 0.1},
    {"codec LC 128k at 32000: 15.2 kHz", CodecLc128, 32000, 15200, 1300, 1000, 1300, -3.01, 0.0, 0.15},
};

TEST(FilterStagesTest, MagnitudeAtChosenFrequencies)
{
    for (const FilterCase& c : kFilterCases) {
        for (size_t blockFrames : {1u, 7u, 441u, 480u}) {
            SCOPED_TRACE(testing::Message() << c.name << ", blocks of " << blockFrames);
            ProcessingChain chain;
            ConfigureChain(chain, c.rate, 2, c.enable);
            const std::vector<int16_t> input =
                Sines(c.rate, c.rate, {c.freqL, c.freqR}, {c.ampL, c.ampR});
            std::vector<int16_t> output = input;
            RunChain(chain, output, blockFrames);
            const size_t from = c.rate / 2; // after the filters have settled
            EXPECT_NEAR(Db(ChannelRms(output, 2, 0, from) / ChannelRms(input, 2, 0, from)), c.expectDbL,
                        c.toleranceDb);
            EXPECT_NEAR(Db(ChannelRms(output, 2, 1, from) / ChannelRms(input, 2, 1, from)), c.expectDbR,
                        c.toleranceDb);
        }
    }
}

TEST(FilterStagesTest, StereoWidthLeavesIdenticalChannelsUntouched)
{
    ProcessingChain chain;
    ConfigureChain(chain, 48000, 2, Width);
    std::vector<int16_t> input = Sines(48000, 4800, {60, 60}, {20000, 20000});
    for (size_t i = 0; i < input.size(); i += 7)
        input[i | 1] = input[i & ~size_t{1}] = static_cast<int16_t>(input[i] + 3000); // still L = R
    std::vector<int16_t> output = input;
    RunChain(chain, output, 480);
    EXPECT_EQ(output, input);
    EXPECT_EQ(chain.Meters().widthActivity, 0.0f);
}

TEST(FilterStagesTest, StereoWidthIsSkippedOnMonoChains)
{
    ProcessingChain chain;
    ConfigureChain(chain, 48000, 1, Width);
    std::vector<int16_t> input = Sines(48000, 4800, {30}, {10000});
    std::vector<int16_t> output = input;
    RunChain(chain, output, 480);
    EXPECT_EQ(output, input);
}

TEST(FilterStagesTest, CodecCutoffTable)
{
    struct Row {
        uint32_t heVersion, bitrate, cutoff;
    };
    const Row rows[] = {
        {2, 16000, 11000},  {2, 24000, 11000},  {2, 24001, 12500},  {2, 32000, 12500}, {2, 32001, 14000},
        {2, 48000, 14000},  {2, 48001, 15000},  {1, 48000, 13000},  {1, 48001, 15000}, {1, 64000, 15000},
        {1, 64001, 16500},  {1, 80000, 16500},  {1, 80001, 18000},  {0, 128000, 16000}, {0, 128001, 18000},
        {0, 160000, 18000}, {0, 160001, 20000}, {7, 96000, 16000},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CodecTableCutoffHz(row.heVersion, row.bitrate), row.cutoff) << row.heVersion << " " << row.bitrate;
}

TEST(FilterStagesTest, CodecCutoffIsLimitedBelowNyquist)
{
    for (auto [rate, expected] : {std::pair{32000u, 15200.0f}, std::pair{48000u, 16000.0f}}) {
        ProcessingChain chain;
        ConfigureChain(chain, rate, 2, CodecLc128);
        std::vector<int16_t> block(960, 100);
        chain.Process(block.data(), block.size() * sizeof(int16_t));
        EXPECT_FLOAT_EQ(chain.CodecCutoffHz(), expected) << rate;
    }
}

// Switching from AAC-LC to HE-AAC v2 at the same bitrate redesigns the band limit at the
// next block and narrows the side signal by 0.707 (-3 dB).
TEST(FilterStagesTest, SwitchToHeAacV2NarrowsTheSide)
{
    ProcessingChain chain;
    ConfigureChain(chain, 48000, 2, [](ProcessingParams& p) {
        p.codecPreEnabled = true;
        p.codecHeVersion = 0;
        p.codecBitrate = 64000;
    });
    const std::vector<int16_t> side = Sines(48000, 24000, {1000, 1000}, {1300, -1300});
    std::vector<int16_t> before = side;
    RunChain(chain, before, 480);
    EXPECT_NEAR(Db(ChannelRms(before, 2, 0, 4800) / ChannelRms(side, 2, 0, 4800)), 0.0, 0.05);
    EXPECT_FLOAT_EQ(chain.CodecCutoffHz(), 16000.0f);

    chain.params.codecHeVersion = 2;
    std::vector<int16_t> after = side;
    RunChain(chain, after, 480);
    EXPECT_FLOAT_EQ(chain.CodecCutoffHz(), 15000.0f);
    EXPECT_NEAR(Db(ChannelRms(after, 2, 0, 4800) / ChannelRms(side, 2, 0, 4800)), -3.01, 0.05);
    EXPECT_NEAR(Db(ChannelRms(after, 2, 1, 4800) / ChannelRms(side, 2, 1, 4800)), -3.01, 0.05);
}

// A sudden loud onset is softened by at most 2 dB while the envelope catches up; a
// quiet one (rising by less than 5 % of full scale) passes the stage linearly, so the
// ratio of the two outputs is the softening gain.
TEST(FilterStagesTest, CodecPreconditioningSoftensOnsetsByAtMostTwoDb)
{
    std::vector<int16_t> outputs[2];
    const int16_t levels[2] = {1000, 20000};
    for (int i = 0; i < 2; ++i) {
        ProcessingChain chain;
        ConfigureChain(chain, 48000, 2, CodecLc128);
        outputs[i].assign(2 * 4800, levels[i]);
        RunChain(chain, outputs[i], 480);
    }
    double lowest = 1.0;
    for (size_t f = 0; f < 20; ++f)
        lowest = std::min(lowest, outputs[1][2 * f] / (20.0 * outputs[0][2 * f]));
    EXPECT_NEAR(lowest, 0.794, 0.01);
    EXPECT_NEAR(outputs[1][2 * 4000] / (20.0 * outputs[0][2 * 4000]), 1.0, 0.003); // one step of 1000
}

} // namespace
