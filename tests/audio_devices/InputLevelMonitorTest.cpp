#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "DeviceTestSupport.h"
#include "audio/AudioStreams.h"
#include "audio/InputLevelMonitor.h"

namespace {

using namespace std::chrono_literals;

// RMS of a -12 dBFS sine, and of two of them (different frequencies) folded to mono.
const double kToneRms = std::pow(10.0, kToneDb / 20.0) / std::sqrt(2.0);
const double kFoldedRms = kToneRms / std::sqrt(2.0);

// Waits until both levels have settled near their target or timeout.
bool WaitForLevels(const InputLevelMonitor& monitor, double target, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::abs(monitor.leftLevel.load() - target) < 0.01 && std::abs(monitor.rightLevel.load() - target) < 0.01)
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// Three monitors at once: a stereo device, the same folded to mono by the chain, and a
// mono device.
TEST(InputLevelMonitor, LevelsRiseForTheToneAndAreEqualForMono)
{
    REQUIRE_TEST_DEVICES();
    const std::optional<AudioDeviceInfo> stereo = FindCaptureDevice(kStereoToneName);
    const std::optional<AudioDeviceInfo> mono = FindCaptureDevice(kMonoToneName);
    ASSERT_TRUE(stereo && mono);

    InputLevelMonitor plain;
    InputLevelMonitor folded;
    InputLevelMonitor monoDevice;
    ProcessingParams monoStream;
    monoStream.mono = true;
    folded.SetParams(monoStream);
    EXPECT_EQ(plain.leftLevel.load(), 0.0f);
    ASSERT_TRUE(plain.Start({-1, stereo->id}));
    ASSERT_TRUE(folded.Start({-1, stereo->id}));
    ASSERT_TRUE(monoDevice.Start({-1, mono->id}));

    EXPECT_TRUE(WaitForLevels(plain, kToneRms, 8s))
        << plain.leftLevel.load() << " " << plain.rightLevel.load() << " wanted " << kToneRms;
    EXPECT_TRUE(WaitForLevels(folded, kFoldedRms, 3s))
        << folded.leftLevel.load() << " " << folded.rightLevel.load() << " wanted " << kFoldedRms;
    EXPECT_TRUE(WaitForLevels(monoDevice, kToneRms, 3s));
    // Equal to the last bit: both sides see the same samples on every pass.
    EXPECT_EQ(folded.leftLevel.load(), folded.rightLevel.load());
    EXPECT_EQ(monoDevice.leftLevel.load(), monoDevice.rightLevel.load());
    EXPECT_GT(folded.Chain().MeterValue(Meter::OutputLevel), 0.0f);

    plain.Stop();
    EXPECT_FALSE(plain.Running());
    EXPECT_EQ(plain.leftLevel.load(), 0.0f);
    EXPECT_EQ(plain.rightLevel.load(), 0.0f);
}

TEST(InputLevelMonitor, UnknownIdentifierMonitorsTheDefaultDeviceAndBadPositionFails)
{
    REQUIRE_TEST_DEVICES();
    InputLevelMonitor monitor;
    EXPECT_FALSE(monitor.Start({1000, ""}));
    EXPECT_EQ(monitor.LastError(), kNoInputDeviceText);
    EXPECT_FALSE(monitor.Running());
    monitor.Stop(); // harmless when stopped
    ASSERT_TRUE(monitor.Start({-1, "{0.0.1.00000000}.{no-such-device}"}));
    EXPECT_EQ(monitor.LastError(), "");
    EXPECT_TRUE(monitor.Running());
    // The default device is the stereo tone.
    EXPECT_TRUE(WaitForLevels(monitor, kToneRms, 8s)) << monitor.leftLevel.load();
}

} // namespace
