// PulseAudio capture wakes per fragment, not per poll: what that must keep true.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "DeviceTestSupport.h"
#include "audio/AudioCapture.h"
#include "audio/AudioStreams.h"

namespace {

using namespace std::chrono_literals;

// Every wake-up delivers a whole 20 ms fragment (or what the 100 ms bound found), so a
// second of sound comes in about 50 blocks, not in the 100 to 200 of per-packet or
// 5 ms wake-ups; and nothing is lost on the way.
TEST(PulseCapture, DeliversWholeFragmentsAtRealTimeRate)
{
    REQUIRE_TEST_DEVICES();
    AudioCapture capture;
    capture.SetDevice({});
    const CaptureFormat format{48000, 2, 16};
    ASSERT_TRUE(capture.Initialize(format));
    std::atomic<size_t> blocks{0};
    std::atomic<size_t> frames{0};
    ASSERT_TRUE(capture.Start([&](const uint8_t*, uint64_t size) {
        blocks += 1;
        frames += static_cast<size_t>(size / 4);
    }));
    // The start may come in a burst of what the server buffered: count from then on.
    const auto deadline = std::chrono::steady_clock::now() + 8s;
    while (frames.load() < 4800 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    const size_t blocksBefore = blocks.load();
    const size_t framesBefore = frames.load();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(2s);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const size_t delivered = frames.load() - framesBefore;
    const size_t count = blocks.load() - blocksBefore;
    capture.Stop();

    EXPECT_NEAR(static_cast<double>(delivered) / seconds, 48000.0, 4800.0);
    // Fragments of 960 frames, give or take the packets around them.
    EXPECT_LE(count, delivered / 900 + 2) << delivered << " frames in " << count << " blocks";
    EXPECT_GE(count, delivered / 4800) << delivered << " frames in " << count << " blocks";
}

// A stream that delivers nothing (never started, so corked) must not hold the capture
// thread: the wait ends after its bound and finds no packet.
TEST(PulseCapture, WaitWithoutDataEndsAfterItsBound)
{
    REQUIRE_TEST_DEVICES();
    AudioSession session;
    ASSERT_TRUE(session.Open());
    CaptureStream stream(session);
    stream.SetFragmentDuration(20);
    ASSERT_TRUE(stream.Open({}, 50)) << stream.LastError();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i)
        stream.WaitForPacket(5);
    const auto took = std::chrono::steady_clock::now() - start;
    const std::optional<uint32_t> frames = stream.NextPacketFrames();
    EXPECT_TRUE(frames.has_value());
    EXPECT_EQ(frames.value_or(1), 0u);
    EXPECT_GE(took, 250ms); // it did wait
    EXPECT_LT(took, 3s);    // and came back
}

} // namespace
