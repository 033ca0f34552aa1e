#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/DeviceList.h"
#include "audio/InputLevelMonitor.h"

namespace {

TEST(MonitorLevels, PassRmsPerSide)
{
    // Full scale on the left, half scale on the right, a third channel ignored.
    const std::vector<int16_t> block = {-32768, 16384, 999, -32768, -16384, 999};
    LevelSums sums;
    AddLevelSums(block.data(), 2, 3, sums);
    PassRms rms = PassLevels(sums, 3);
    EXPECT_EQ(sums.frames, 2u);
    EXPECT_FLOAT_EQ(rms.left, 1.0f);
    EXPECT_FLOAT_EQ(rms.right, 0.5f);

    // Several packets add up within one pass.
    LevelSums twoPackets;
    const std::vector<int16_t> loud = {16384, 16384};
    const std::vector<int16_t> quiet = {0, 0};
    AddLevelSums(loud.data(), 1, 2, twoPackets);
    AddLevelSums(quiet.data(), 1, 2, twoPackets);
    rms = PassLevels(twoPackets, 2);
    EXPECT_FLOAT_EQ(rms.left, static_cast<float>(std::sqrt(0.125)));
    EXPECT_FLOAT_EQ(rms.right, rms.left);
}

TEST(MonitorLevels, MonoDeviceShowsItsChannelOnBothSides)
{
    const std::vector<int16_t> block = {8192, -8192, 8192, -8192};
    LevelSums sums;
    AddLevelSums(block.data(), 4, 1, sums);
    const auto [left, right] = PassLevels(sums, 1);
    EXPECT_FLOAT_EQ(left, 0.25f);
    EXPECT_FLOAT_EQ(right, 0.25f);
}

TEST(MonitorLevels, PassWithoutFramesGivesZero)
{
    const auto [left, right] = PassLevels(LevelSums{}, 2);
    EXPECT_EQ(left, 0.0f);
    EXPECT_EQ(right, 0.0f);
}

TEST(MonitorLevels, BallisticsRiseFastAndFallSlowly)
{
    EXPECT_FLOAT_EQ(SmoothLevel(0.0f, 1.0f), 0.35f);
    EXPECT_FLOAT_EQ(SmoothLevel(0.35f, 1.0f), 0.35f + 0.65f * 0.35f);
    EXPECT_FLOAT_EQ(SmoothLevel(0.5f, 0.0f), 0.499f);
    EXPECT_FLOAT_EQ(SmoothLevel(0.5f, 0.5f), 0.499f); // equal is not a rise

    // 50 passes of silence (one second) take about 10 % off, never to 0.
    float level = 0.5f;
    for (int pass = 0; pass < 50; ++pass)
        level = SmoothLevel(level, 0.0f);
    EXPECT_NEAR(level, 0.5f * std::pow(0.998f, 50.0f), 1e-6);
    EXPECT_GT(level, 0.45f);
    EXPECT_LT(level, 0.46f);
}

TEST(EndpointChoice, IdentifierThenPositionThenDefault)
{
    const std::vector<AudioDeviceInfo> endpoints = {
        {"Microphone", "mic"},
        {"Line In", "line"},
        {"Unnamed audio device", ""},
    };
    struct Case {
        int32_t position;
        const char* id;
        const char* defaultId;
        int expected; // -1: none
    };
    const Case cases[] = {
        {-1, "line", "mic", 1},   // the identifier wins
        {0, "line", "mic", 1},    // over the position too
        {-1, "gone", "line", 1},  // an unknown identifier falls back to the default
        {0, "gone", "line", 0},   // or to the position when one is given
        {2, "", "mic", 2},        // positions count endpoints without names
        {3, "", "mic", -1},       // past the end: none
        {-1, "", "mic", 0},       // the default
        {-1, "", "", -1},         // no default device
        {-1, "", "elsewhere", -1},
    };
    for (const Case& c : cases) {
        const std::optional<size_t> chosen = ChooseEndpoint(endpoints, c.position, c.id, c.defaultId);
        const int got = chosen ? static_cast<int>(*chosen) : -1;
        EXPECT_EQ(got, c.expected) << "position " << c.position << " id '" << c.id << "'";
    }
    EXPECT_FALSE(ChooseEndpoint({}, 0, "", "x").has_value());
    EXPECT_FALSE(ChooseEndpoint({}, -1, "x", "x").has_value());
}

} // namespace
