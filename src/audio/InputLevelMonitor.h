#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/DeviceChoice.h"
#include "audio/LoudnessMeter.h"
#include "audio/PendingParams.h"
#include "audio/ProcessingChain.h"
#include "audio/ProcessingParams.h"

class AudioSession;
class CaptureStream;

// Squared sample sums of one monitor pass, on the scale where full scale is 1.
struct LevelSums {
    double left = 0.0;
    double right = 0.0;
    size_t frames = 0;
};

// Adds every frame of a block: channel 0 to left and, with two channels or more,
// channel 1 to right.
void AddLevelSums(const int16_t* block, size_t frames, uint16_t channels, LevelSums& sums);

// RMS of one pass per side, on the scale where full scale is 1.
struct PassRms {
    float left = 0.0f;
    float right = 0.0f;
};

// RMS of a pass per side (0 without frames); a mono device shows its one channel on
// both sides.
PassRms PassLevels(const LevelSums& sums, uint16_t channels);

// Meter ballistics per pass: a rise closes 35 % of the gap, a fall decays by 0.2 %.
float SmoothLevel(float level, float rms);

// Keeps two level meters alive while no stream is on air: captures the input device on
// a thread of its own, runs every packet through its own processing chain with the
// current parameters, and publishes smoothed RMS levels of the processed sound.
class InputLevelMonitor {
public:
    InputLevelMonitor();
    ~InputLevelMonitor();
    InputLevelMonitor(const InputLevelMonitor&) = delete;
    InputLevelMonitor& operator=(const InputLevelMonitor&) = delete;

    // Restart on the chosen device; an identifier no device has opens the default
    // device. False (with LastError) when it cannot be opened or started.
    bool Start(const DeviceChoice& choice);
    // Stops and releases the device; the levels drop to 0. Does nothing when stopped.
    void Stop();
    // The parameters the chain takes before its next pass.
    void SetParams(const ProcessingParams& params) { pendingParams.Set(params); }

    bool Running() const { return running.load(); }
    // The device of the latest Start.
    const DeviceChoice& Device() const { return device; }
    // Why the latest Start failed; "" after one that succeeded.
    const std::string& LastError() const { return error; }
    // The chain's stage meters, for display.
    const ProcessingChain& Chain() const { return chain; }
    // Loudness and true peak of the processed sound since the latest Start, from any
    // thread.
    LoudnessReading Loudness() const { return loudness.Reading(); }

    // In [0, 1]; written by the monitor thread, read by the display at any time.
    std::atomic<float> leftLevel{0.0f};
    std::atomic<float> rightLevel{0.0f};

private:
    bool StartDevice();
    void ReleaseDevice();
    void MonitorThread();
    std::optional<LevelSums> Pass();

    std::atomic<bool> running{false};
    std::thread thread;
    std::unique_ptr<AudioSession> session;
    std::unique_ptr<CaptureStream> stream;
    DeviceChoice device;
    std::string error;
    uint16_t deviceChannels = 0;
    uint16_t deviceBits = 0;
    uint32_t deviceRate = 0;
    ProcessingChain chain;
    LoudnessMeter loudness;
    PendingParams pendingParams;
    std::vector<int16_t> block;
};
