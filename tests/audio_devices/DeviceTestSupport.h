#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioCapture.h"
#include "audio/DeviceList.h"

// The test environment's PulseAudio devices, by the names both builds show. Windows
// (Wine) lists the same sources and sinks under the same descriptions.
inline constexpr const char* kStereoToneName = "Kelm Stereo Tone"; // 440 Hz left, 660 Hz right
inline constexpr const char* kMonoToneName = "Kelm Mono Tone";     // 1 kHz
inline constexpr const char* kOutputName = "Kelm Test Output";
inline constexpr const char* kOutputMonitorName = "Monitor of Kelm Test Output";
inline constexpr double kToneDb = -12.0;

// True inside the test environment (its variables are set).
bool HaveTestDevices();

#define REQUIRE_TEST_DEVICES()                                                                                   \
    if (!HaveTestDevices())                                                                                      \
    GTEST_SKIP() << "needs the test environment's PulseAudio (scripts/testenv run)"

std::optional<AudioDeviceInfo> FindCaptureDevice(const std::string& name);
int32_t FindRenderPosition(const std::string& name); // -1 when missing

// Level in dBFS (full scale 32768) of the frequency in one channel of interleaved
// samples, over frames frames from startFrame.
double ToneLevelDb(const std::vector<int16_t>& samples, uint16_t channels, uint16_t channel, size_t startFrame,
                   size_t frames, double rate, double frequency);

// The median of ToneLevelDb over consecutive windows of 4800 frames (whole cycles of
// every test tone) covering the last frames frames: a glitch in one window, as a busy
// machine may cause in real-time sound, does not decide the result.
double MedianToneLevelDb(const std::vector<int16_t>& samples, uint16_t channels, uint16_t channel, size_t frames,
                         double rate, double frequency);

// An AudioCapture whose sink keeps everything and times the blocks.
class Recorder {
public:
    bool Open(int32_t position, const std::string& endpointId, uint16_t streamChannels);
    bool Start();
    void Stop() { capture.Stop(); }

    // Frames delivered after the first block (any thread).
    size_t FramesAfterFirstBlock() const { return framesAfterFirst.load(); }
    // Frames per second from the first block after a quarter second of sound to the
    // last block (after Stop); the start of a stream may come in a burst.
    double MeasuredRate() const;

    AudioCapture capture;
    uint16_t channels = 0;
    std::vector<int16_t> samples; // read after Stop

private:
    std::atomic<size_t> framesAfterFirst{0};
    size_t blocks = 0;
    size_t markFrames = 0;
    std::chrono::steady_clock::time_point mark;
    std::chrono::steady_clock::time_point last;
};

// Waits until every recorder has delivered frames after its first block, or timeout.
bool WaitForFrames(const std::vector<Recorder*>& recorders, size_t frames, std::chrono::milliseconds timeout);
