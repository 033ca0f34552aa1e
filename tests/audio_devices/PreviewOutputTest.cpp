#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "DeviceTestSupport.h"
#include "audio/AudioStreams.h"
#include "base/Platform.h"
#include "audio/PreviewOutput.h"

#if KV_OS_POSIX
#include <unistd.h>

#include "support/ShellCommand.h"
#endif

namespace {

using namespace std::chrono_literals;

bool WaitUntilStopped(const PreviewOutput& preview, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (preview.Running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    return !preview.Running();
}

// The preview plays the stereo tone with 6 dB of gain into the test output; the output's
// monitor must hear both tones 6 dB louder.
TEST(PreviewOutput, PlaysTheProcessedInputOnTheOutputDevice)
{
    REQUIRE_TEST_DEVICES();
    const std::optional<AudioDeviceInfo> tone = FindCaptureDevice(kStereoToneName);
    const std::optional<AudioDeviceInfo> outputMonitor = FindCaptureDevice(kOutputMonitorName);
    const int32_t output = FindRenderPosition(kOutputName);
    ASSERT_TRUE(tone && outputMonitor);
    ASSERT_GE(output, 0);

    PreviewOutput preview;
    // An output device that does not exist: the start fails, says why, and nothing runs.
    EXPECT_FALSE(preview.StartPreview({-1, tone->id}, 1000, ProcessingParams{}));
    EXPECT_EQ(preview.LastError(), "Preview output: No output device found");
    EXPECT_TRUE(WaitUntilStopped(preview, 5s));
    // The same for the input.
    EXPECT_FALSE(preview.StartPreview({1000, ""}, output, ProcessingParams{}));
    EXPECT_EQ(preview.LastError(), std::string("Preview input: ") + kNoInputDeviceText);
    EXPECT_FALSE(preview.Running());

    ProcessingParams params;
    params.gainEnabled = true;
    params.gainDb = 6.0f;
    ASSERT_TRUE(preview.StartPreview({-1, tone->id}, output, params)) << preview.LastError(); // again after failures
    EXPECT_EQ(preview.LastError(), "");
    // Listen once the preview has input, for a steady stretch of its output.
    const auto deadline = std::chrono::steady_clock::now() + 8s;
    while (preview.Meters().inputLevel == 0.0f && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    // Two seconds, judged by the median of 100 ms windows over the last one and a half:
    // frames the preview drops when a busy machine delays it (by design) spoil a few
    // windows, not the median. Under Wine, or beside other tests, a stall can spoil most
    // of a stretch, so up to eight stretches are heard and the first clean one counts.
    const size_t frames = 72000;
    const double gainedDb = kToneDb + 6.0;
    double left = 0.0;
    double right = 0.0;
    double leak = 0.0;
    for (int stretch = 0; stretch < 8; ++stretch) {
        Recorder heard;
        ASSERT_TRUE(heard.Open(-1, outputMonitor->id, 2));
        ASSERT_TRUE(heard.Start());
        const bool enough = WaitForFrames({&heard}, 96000, 15s);
        heard.Stop();
        ASSERT_TRUE(enough);
        left = MedianToneLevelDb(heard.samples, 2, 0, frames, 48000, 440);
        right = MedianToneLevelDb(heard.samples, 2, 1, frames, 48000, 660);
        leak = MedianToneLevelDb(heard.samples, 2, 0, frames, 48000, 660);
        if (std::abs(left - gainedDb) <= 0.2 && std::abs(right - gainedDb) <= 0.2 && leak < -60.0)
            break;
    }
    EXPECT_TRUE(preview.Running());
    const ProcessingMeters meters = preview.Meters();
    preview.StopPreview();
    EXPECT_FALSE(preview.Running());
    EXPECT_GT(meters.inputLevel, 0.0f);
    EXPECT_GT(meters.gainPosition, 0.5f);

    // 6 dB above the tone's own level, each tone on its own side.
    EXPECT_NEAR(left, gainedDb, 0.2);
    EXPECT_NEAR(right, gainedDb, 0.2);
    EXPECT_LT(leak, -60.0);
}

#if KV_OS_POSIX
// The input device goes away while the preview plays: the preview stops reporting
// that it runs.
TEST(PreviewOutput, StopsRunningWhenItsInputGoesAway)
{
    REQUIRE_TEST_DEVICES();
    const std::string source = "kv_lost_preview_" + std::to_string(static_cast<long>(getpid()));
    const std::string module =
        RunShell("pactl load-module module-remap-source source_name=" + source + " master=kv_feed_stereo.monitor");
    ASSERT_FALSE(module.empty());
    PreviewOutput preview;
    EXPECT_TRUE(preview.StartPreview({-1, source}, FindRenderPosition(kOutputName), ProcessingParams{}));
    const auto deadline = std::chrono::steady_clock::now() + 8s;
    while (preview.Meters().inputLevel == 0.0f && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    const bool playing = preview.Running() && preview.Meters().inputLevel > 0.0f;
    RunShell("pactl unload-module " + module);
    ASSERT_TRUE(playing);
    EXPECT_TRUE(WaitUntilStopped(preview, 8s));
    preview.StopPreview();
}
#endif

} // namespace
