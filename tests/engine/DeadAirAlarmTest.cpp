#include <gtest/gtest.h>

#include "engine/DeadAirAlarm.h"

namespace {

using Clock = DeadAirAlarm::Clock;
using Change = DeadAirAlarm::Change;
using std::chrono::milliseconds;

// One tick of the alarm: the time, the last sound (both in ms from the start), on air,
// the configured seconds, and what the alarm must say.
struct Step {
    int64_t nowMs;
    int64_t lastSoundMs;
    bool onAir;
    int32_t seconds;
    Change change;
    bool sounding;
};

void RunSteps(const char* name, std::initializer_list<Step> steps)
{
    const Clock::time_point t0 = Clock::now();
    DeadAirAlarm alarm;
    int i = 0;
    for (const Step& s : steps) {
        const Change c = alarm.Update(t0 + milliseconds(s.nowMs), t0 + milliseconds(s.lastSoundMs), s.onAir, s.seconds);
        EXPECT_EQ(c, s.change) << name << " step " << i;
        EXPECT_EQ(alarm.Sounding(), s.sounding) << name << " step " << i;
        ++i;
    }
}

TEST(DeadAirAlarmTest, SoundsAfterTheSilenceAndEndsWithTheFirstSound)
{
    RunSteps("silence from the start", {
                                      {0, 0, true, 5, Change::None, false},
                                      {4900, 0, true, 5, Change::None, false},
                                      {5000, 0, true, 5, Change::Started, true},
                                      {9000, 0, true, 5, Change::None, true},
                                      {9100, 9050, true, 5, Change::Ended, false},
                                      {9200, 9150, true, 5, Change::None, false},
                                  });
    RunSteps("sound keeps it quiet", {
                                    {1000, 900, true, 5, Change::None, false},
                                    {6000, 5950, true, 5, Change::None, false},
                                    {10900, 5950, true, 5, Change::None, false},
                                    {11000, 5950, true, 5, Change::Started, true},
                                });
    RunSteps("off the air and off", {
                                   {60000, 0, false, 5, Change::None, false},
                                   {60000, 0, true, 0, Change::None, false},
                                   {60000, 0, true, -1, Change::None, false},
                               });
    RunSteps("stopped while sounding ends it without a back", {
                                                             {6000, 0, true, 5, Change::Started, true},
                                                             {6100, 0, false, 5, Change::None, false},
                                                             {6200, 0, true, 5, Change::Started, true},
                                                         });
}

TEST(DeadAirAlarmTest, TheSilenceLastsFromTheLastSoundToTheNextInWholeSeconds)
{
    const Clock::time_point t0 = Clock::now();
    DeadAirAlarm alarm;
    ASSERT_EQ(alarm.Update(t0 + milliseconds(20500), t0 + milliseconds(500), true, 20), Change::Started);
    ASSERT_EQ(alarm.Update(t0 + milliseconds(33000), t0 + milliseconds(32999), true, 20), Change::Ended);
    EXPECT_EQ(alarm.SilenceSeconds(), 32);
}

TEST(DeadAirAlarmTest, TextsAndThreshold)
{
    EXPECT_EQ(DeadAirStartedText(-50, 20), "Dead air: no sound above -50 dBFS for 20 s");
    EXPECT_EQ(DeadAirEndedText(12), "Sound is back after 12 s");
    EXPECT_EQ(DeadAirOnText("/live"), "Dead air on /live");
    EXPECT_EQ(DeadAirOnText("live"), "Dead air on /live");
    EXPECT_NEAR(DeadAirThreshold(-50), 0.0031623f, 1e-6f);
    EXPECT_FLOAT_EQ(DeadAirThreshold(0), 1.0f);
    // The -40 dBFS of a quiet program is above the default threshold, the -60 of hiss below.
    EXPECT_GT(DeadAirThreshold(-40), DeadAirThreshold(-50));
    EXPECT_LT(DeadAirThreshold(-60), DeadAirThreshold(-50));
}

} // namespace
