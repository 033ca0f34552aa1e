#include <gtest/gtest.h>

#include <memory>

#include "DeviceTestSupport.h"
#include "audio/AudioStreams.h"
#include "base/Platform.h"
#include "settings/AppSettings.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

// Three seconds of sound after the first block: the rate is measured over all but the
// first quarter second, long enough that a busy machine's bursty scheduling evens out;
// the last half second is analysed.
constexpr size_t kRecordFrames = 3 * 48000;
constexpr size_t kWindowFrames = 24000;

TEST(DeviceLists, NameTheTestDevices)
{
    REQUIRE_TEST_DEVICES();
    const std::vector<AudioDeviceInfo> capture = ListCaptureDevices();
    for (const char* name : {kStereoToneName, kMonoToneName, kOutputMonitorName}) {
        const std::optional<AudioDeviceInfo> device = FindCaptureDevice(name);
        ASSERT_TRUE(device.has_value()) << name;
        EXPECT_FALSE(device->id.empty()) << name;
        // The identifier finds the same endpoint again.
        const std::optional<AudioDeviceInfo> opened = OpenEndpoint(DataFlow::Capture, 7, device->id);
        ASSERT_TRUE(opened.has_value()) << name;
        EXPECT_EQ(opened->name, name);
    }
#if KV_OS_POSIX
    EXPECT_EQ(FindCaptureDevice(kStereoToneName)->id, EnvOr("KV_PULSE_STEREO_SOURCE", ""));
    EXPECT_EQ(FindCaptureDevice(kMonoToneName)->id, EnvOr("KV_PULSE_MONO_SOURCE", ""));
    // The server's default source is the stereo tone.
    EXPECT_EQ(OpenEndpoint(DataFlow::Capture, -1, "")->name, kStereoToneName);
#endif
    EXPECT_GE(FindRenderPosition(kOutputName), 0);

    // The settings name the default choice after the endpoint the default rule opens.
    SettingsStore store;
    AppSettings settings;
    ApplyStoredSettings(store, settings);
    const std::optional<AudioDeviceInfo> byDefault = OpenEndpoint(DataFlow::Capture, -1, "");
    ASSERT_TRUE(byDefault.has_value());
    EXPECT_EQ(settings.inputDeviceName, "(Default) - " + byDefault->name);

    // Positions are list positions, and past the end there is no device.
    const std::optional<AudioDeviceInfo> second = OpenEndpoint(DataFlow::Capture, 1, "");
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->id, capture.at(1).id);
    EXPECT_FALSE(OpenEndpoint(DataFlow::Capture, static_cast<int32_t>(capture.size()), "").has_value());
    EXPECT_FALSE(OpenEndpoint(DataFlow::Render, 1000, "").has_value());
    EXPECT_TRUE(OpenEndpoint(DataFlow::Render, -1, "").has_value());
}

// Several captures at once, each checked for the channels it should carry.
TEST(AudioCapture, DeliversTheDeviceTonesInTheStreamLayoutAtRealTimeRate)
{
    REQUIRE_TEST_DEVICES();
    const std::optional<AudioDeviceInfo> stereo = FindCaptureDevice(kStereoToneName);
    const std::optional<AudioDeviceInfo> mono = FindCaptureDevice(kMonoToneName);
    ASSERT_TRUE(stereo && mono);

    struct Case {
        const char* label;
        std::string id;
        uint16_t channels;
        std::vector<std::pair<double, double>> tones; // per stream channel: frequency, absent frequency
    };
    const Case cases[] = {
        {"stereo device, stereo stream", stereo->id, 2, {{440, 660}, {660, 440}}},
        {"mono device, stereo stream", mono->id, 2, {{1000, 440}, {1000, 440}}},
        {"stereo device, mono stream", stereo->id, 1, {{440, 660}}},
        {"unknown identifier: the default device", "{0.0.1.00000000}.{no-such-device}", 2, {{440, 660}, {660, 440}}},
    };
    std::vector<std::unique_ptr<Recorder>> recorders;
    std::vector<Recorder*> all;
    for (const Case& c : cases) {
        recorders.push_back(std::make_unique<Recorder>());
        ASSERT_TRUE(recorders.back()->Open(3, c.id, c.channels)) << c.label;
        EXPECT_EQ(recorders.back()->capture.DeviceRate(), 48000u) << c.label;
        all.push_back(recorders.back().get());
    }
    for (Recorder* recorder : all)
        ASSERT_TRUE(recorder->Start());
    const bool enough = WaitForFrames(all, kRecordFrames, 20s);
    for (Recorder* recorder : all)
        recorder->Stop();
    ASSERT_TRUE(enough) << "the devices delivered too little audio";

    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const Recorder& r = *recorders[i];
        EXPECT_NEAR(r.MeasuredRate(), 48000.0, 2400.0) << c.label;
        ASSERT_EQ(r.samples.size() % c.channels, 0u) << c.label;
        for (uint16_t ch = 0; ch < c.channels; ++ch) {
            const auto [present, absent] = c.tones[ch];
            EXPECT_NEAR(MedianToneLevelDb(r.samples, c.channels, ch, kWindowFrames, 48000, present), kToneDb, 0.2)
                << c.label << ", channel " << ch << ", " << present << " Hz";
            EXPECT_LT(MedianToneLevelDb(r.samples, c.channels, ch, kWindowFrames, 48000, absent), -60.0)
                << c.label << ", channel " << ch << ", " << absent << " Hz";
        }
    }
    // A mono device feeds both channels with the same samples.
    const std::vector<int16_t>& monoInStereo = recorders[1]->samples;
    size_t differing = 0;
    for (size_t f = 0; f + 1 < monoInStereo.size(); f += 2)
        differing += monoInStereo[f] != monoInStereo[f + 1];
    EXPECT_EQ(differing, 0u);
}

TEST(AudioCapture, StartsOnceAndOnlyWhenInitialized)
{
    REQUIRE_TEST_DEVICES();
    const AudioSink ignore = [](const uint8_t*, uint64_t) {};
    AudioCapture capture;
    EXPECT_FALSE(capture.Start(ignore)); // not initialized
    EXPECT_EQ(capture.LastError(), "Audio capture is not initialized");

    capture.SetDevice({1000, ""});
    const CaptureFormat format{48000, 2, 16};
    EXPECT_FALSE(capture.Initialize(format)); // no device at that position
    EXPECT_EQ(capture.LastError(), kNoInputDeviceText);

    capture.SetDevice({});
    ASSERT_TRUE(capture.Initialize(format)) << capture.LastError();
    EXPECT_EQ(capture.LastError(), "");
    EXPECT_GT(capture.DeviceRate(), 0u);
    EXPECT_GT(capture.DeviceChannels(), 0u);
    ASSERT_TRUE(capture.Start(ignore));
    EXPECT_FALSE(capture.Start(ignore)); // already running
    EXPECT_EQ(capture.LastError(), "Audio capture is already running");
    EXPECT_TRUE(capture.Running());
    capture.Stop();
    EXPECT_FALSE(capture.Running());
    EXPECT_TRUE(capture.Start(ignore)); // a stopped capture starts again
    capture.Stop();
    capture.ReleaseDevice();
    EXPECT_FALSE(capture.Start(ignore));
}

} // namespace
