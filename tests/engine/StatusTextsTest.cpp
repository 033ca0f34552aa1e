#include <gtest/gtest.h>

#include "engine/StatusTexts.h"

namespace {

TEST(StatusTextsTest, QualityText)
{
    EXPECT_EQ(QualityText(64000, 44100, 2, AacProfile::HeV1), "64 kbps | 44.1 kHz | Stereo | aacPlus");
    EXPECT_EQ(QualityText(128000, 32000, 1, AacProfile::Lc), "128 kbps | 32 kHz | Mono | AAC-LC");
    EXPECT_EQ(QualityText(48000, 48000, 2, AacProfile::HeV2), "48 kbps | 48 kHz | Stereo | aacPlus v2");
    // A value outside the enumeration (as a corrupt record could carry) reads as HE-AAC.
    EXPECT_EQ(QualityText(64999, 22050, 2, static_cast<AacProfile>(7)), "64 kbps | 22.1 kHz | Stereo | aacPlus");
}

TEST(StatusTextsTest, ElapsedAndDataTexts)
{
    EXPECT_EQ(ElapsedText(0), "0:00:00");
    EXPECT_EQ(ElapsedText(3725), "1:02:05");
    EXPECT_EQ(ElapsedText(360000), "100:00:00");
    EXPECT_EQ(DataSentText(0), "0.00 KB");
    EXPECT_EQ(DataSentText(1536), "1.50 KB");
    EXPECT_EQ(DataSentText(5ull * 1024 * 1024 * 1024), "5242880.00 KB");
}

TEST(StatusTextsTest, Indicators)
{
    EXPECT_EQ(InternetIndicator(InternetState::Unknown).text, "Checking...");
    EXPECT_EQ(InternetIndicator(InternetState::Reachable).text, "Stable");
    EXPECT_EQ(InternetIndicator(InternetState::Unreachable).text, "No Internet");
    EXPECT_EQ(EncoderIndicator(false, EngineState::Streaming, 0).text, "Offline");
    EXPECT_EQ(EncoderIndicator(true, EngineState::Streaming, 0).text, "Connected");
    EXPECT_EQ(EncoderIndicator(true, EngineState::Streaming, 1).text, "Buffering");
    EXPECT_EQ(EncoderIndicator(true, EngineState::Streaming, 4).text, "Buffering");
    EXPECT_EQ(EncoderIndicator(true, EngineState::Streaming, 5).text, "Dropped Frames");
    EXPECT_EQ(EncoderIndicator(true, EngineState::Error, 0).text, "Disconnected");
    EXPECT_EQ(EncoderIndicator(true, EngineState::Connecting, 0).text, "Offline");
    EXPECT_EQ(IndicatorPhase(19), 0u);
    EXPECT_EQ(IndicatorPhase(40), 2u);
    EXPECT_EQ(IndicatorPhase(80), 4u);
    EXPECT_EQ(IndicatorPhase(120), 0u);
}

// While an attempt runs the indicator says so in yellow, over whatever engine is current
// (none at a start, or a failed one kept for the next reconnection); otherwise the
// engine's own.
TEST(StatusTextsTest, LiveEncoderIndicatorShowsARunningAttempt)
{
    struct Case {
        bool attemptRunning;
        bool hasEngine;
        EngineState state;
        const char* text;
        IndicatorColour colour;
    };
    const Case cases[] = {
        {true, false, EngineState::Idle, "Connecting...", IndicatorColour::Yellow},
        {true, true, EngineState::Error, "Connecting...", IndicatorColour::Yellow},
        {false, false, EngineState::Idle, "Offline", IndicatorColour::Red},
        {false, true, EngineState::Error, "Disconnected", IndicatorColour::Red},
        {false, true, EngineState::Streaming, "Connected", IndicatorColour::Green},
    };
    for (const Case& c : cases) {
        const Indicator shown = LiveEncoderIndicator(c.attemptRunning, c.hasEngine, c.state, 0);
        EXPECT_EQ(shown.text, c.text);
        EXPECT_EQ(shown.colour, c.colour) << c.text;
    }
}

TEST(StatusTextsTest, AudioQualityHoldsThreeSecondsThenFalls)
{
    AudioQuality quality;
    EXPECT_EQ(quality.Update(0.0f, 0.0f).text, "Mute");
    Indicator shown{"", IndicatorColour::Neutral};
    for (int i = 0; i < 60; ++i)
        shown = quality.Update(0.5f, 0.2f);
    EXPECT_EQ(shown.text, "Good"); // about -6 dB
    const float held = quality.SmoothedLevel();
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(quality.Update(0.0f, 0.0f).text, "Good");
    EXPECT_FLOAT_EQ(quality.SmoothedLevel(), held);
    quality.Update(0.0f, 0.0f);
    EXPECT_NEAR(quality.SmoothedLevel(), held * 0.955f, 1e-6);
    for (int i = 0; i < 200; ++i)
        shown = quality.Update(0.0f, 0.0f);
    EXPECT_EQ(shown.text, "Mute");

    AudioQuality loud;
    for (int i = 0; i < 200; ++i)
        shown = loud.Update(1.0f, 1.0f);
    EXPECT_EQ(shown.text, "Overmod");
}

} // namespace
