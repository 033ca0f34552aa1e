#include <gtest/gtest.h>

#include "settings/DialogProcessing.h"

namespace {

// Each switch reaches its own module and no other.
TEST(DialogProcessingTest, EachSwitchEnablesOnlyItsModule)
{
    struct Case {
        bool DialogProcessingControls::*control;
        bool ProcessingParams::*module;
    };
    const Case cases[] = {
        {&DialogProcessingControls::hpf, &ProcessingParams::hpfEnabled},
        {&DialogProcessingControls::gate, &ProcessingParams::gateEnabled},
        {&DialogProcessingControls::gain, &ProcessingParams::gainEnabled},
        {&DialogProcessingControls::agc, &ProcessingParams::agcEnabled},
        {&DialogProcessingControls::comp, &ProcessingParams::compEnabled},
        {&DialogProcessingControls::boost, &ProcessingParams::boostEnabled},
        {&DialogProcessingControls::bass, &ProcessingParams::bassEnabled},
        {&DialogProcessingControls::width, &ProcessingParams::stereoWidthEnabled},
        {&DialogProcessingControls::limiter, &ProcessingParams::limiterEnabled},
        {&DialogProcessingControls::codecPre, &ProcessingParams::codecPreEnabled},
        {&DialogProcessingControls::loudness, &ProcessingParams::loudnessEnabled},
        {&DialogProcessingControls::truePeak, &ProcessingParams::truePeakEnabled},
    };
    for (size_t on = 0; on < std::size(cases); ++on) {
        DialogProcessingControls controls;
        controls.*cases[on].control = true;
        const ProcessingParams p = ProcessingFromDialog(controls);
        for (size_t i = 0; i < std::size(cases); ++i)
            EXPECT_EQ(p.*cases[i].module, i == on) << "switch " << on << ", module " << i;
    }
}

// The hidden edits' texts become the values; the compressor's timing follows the
// threshold from 30/270 ms (soft) to 5/45 ms (hard), clamped outside that range.
TEST(DialogProcessingTest, ValueTextsAndCompressorTiming)
{
    struct Case {
        const char *gain, *speed, *thresh, *ratio, *makeup;
        float gainDb, agcSpeed, threshDb, compRatio, makeupDb, attackMs, releaseMs;
    };
    const Case cases[] = {
        {"0.0", "0.0050", "-10.0", "1.3", "0.5", 0.0f, 0.005f, -10.0f, 1.3f, 0.5f, 30.0f, 270.0f},
        {"-6.0", "0.0020", "-30.0", "4.0", "15.8", -6.0f, 0.002f, -30.0f, 4.0f, 15.8f, 5.0f, 45.0f},
        {"+3.5", "0.0099", "-20.0", "2.7", "6.0", 3.5f, 0.0099f, -20.0f, 2.7f, 6.0f, 17.5f, 157.5f},
        {"1", "1", "-40.0", "8", "0", 1.0f, 1.0f, -40.0f, 8.0f, 0.0f, 5.0f, 45.0f},
        {"", "x", "0.0", "", "abc", 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 30.0f, 270.0f},
    };
    for (const Case& c : cases) {
        DialogProcessingControls controls;
        controls.gainDb = c.gain;
        controls.agcSpeed = c.speed;
        controls.compThreshDb = c.thresh;
        controls.compRatio = c.ratio;
        controls.compMakeupDb = c.makeup;
        const ProcessingParams p = ProcessingFromDialog(controls);
        EXPECT_FLOAT_EQ(p.gainDb, c.gainDb) << c.gain;
        EXPECT_FLOAT_EQ(p.agcSpeed, c.agcSpeed) << c.speed;
        EXPECT_FLOAT_EQ(p.compThreshDb, c.threshDb) << c.thresh;
        EXPECT_FLOAT_EQ(p.compRatio, c.compRatio) << c.ratio;
        EXPECT_FLOAT_EQ(p.compMakeupDb, c.makeupDb) << c.makeup;
        EXPECT_NEAR(p.compAttackMs, c.attackMs, 1e-3) << c.thresh;
        EXPECT_NEAR(p.compReleaseMs, c.releaseMs, 1e-3) << c.thresh;
    }
}

// The AGC's aim is fixed; the codec stage is told the stream's format.
TEST(DialogProcessingTest, FixedAgcAimAndStreamFormat)
{
    struct Case {
        uint32_t kbps, heVersion;
        bool mono;
    };
    for (const Case c : {Case{32, 2, false}, Case{64, 1, true}, Case{192, 0, false}}) {
        DialogProcessingControls controls;
        controls.bitrateKbps = c.kbps;
        controls.heVersion = c.heVersion;
        controls.mono = c.mono;
        const ProcessingParams p = ProcessingFromDialog(controls);
        EXPECT_EQ(p.codecBitrate, c.kbps * 1000) << c.kbps;
        EXPECT_EQ(p.codecHeVersion, c.heVersion) << c.kbps;
        EXPECT_EQ(p.mono, c.mono) << c.kbps;
        EXPECT_FLOAT_EQ(p.agcTargetDb, -16.0f);
        EXPECT_FLOAT_EQ(p.agcMaxGainDb, 12.0f);
    }
}

// Loudness mode and the true-peak limiter run with the stored target, gain range and
// ceiling, not the chain's own defaults.
TEST(DialogProcessingTest, LoudnessFiguresReachTheChain)
{
    DialogProcessingControls controls;
    controls.loudnessTarget = -23.0f;
    controls.loudnessMaxGainDb = 9.5f;
    controls.truePeakCeilingDb = -2.0f;
    const ProcessingParams p = ProcessingFromDialog(controls);
    EXPECT_FLOAT_EQ(p.loudnessTarget, -23.0f);
    EXPECT_FLOAT_EQ(p.loudnessMaxGainDb, 9.5f);
    EXPECT_FLOAT_EQ(p.truePeakCeilingDb, -2.0f);
}

} // namespace
