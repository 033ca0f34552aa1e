#include "audio/InputLevelMonitor.h"

#include <cmath>

#include "audio/AudioStreams.h"
#include "audio/SampleConversion.h"

namespace {

// A 50 ms shared-mode buffer read every 20 ms: the meters move fifty times a second.
constexpr uint32_t kBufferMs = 50;
constexpr uint32_t kPassMs = 20;

} // namespace

void AddLevelSums(const int16_t* samples, size_t frames, uint16_t channels, LevelSums& sums)
{
    if (channels == 0)
        return;
    for (size_t f = 0; f < frames; ++f) {
        const double left = samples[f * channels] / 32768.0;
        sums.left += left * left;
        if (channels >= 2) {
            const double right = samples[f * channels + 1] / 32768.0;
            sums.right += right * right;
        }
        ++sums.frames;
    }
}

PassRms PassLevels(const LevelSums& sums, uint16_t channels)
{
    if (sums.frames == 0)
        return {};
    const double n = static_cast<double>(sums.frames);
    const float left = static_cast<float>(std::sqrt(sums.left / n));
    return {left, channels >= 2 ? static_cast<float>(std::sqrt(sums.right / n)) : left};
}

float SmoothLevel(float level, float rms)
{
    if (rms > level)
        return level + (rms - level) * 0.35f;
    return level * 0.998f;
}

InputLevelMonitor::InputLevelMonitor() = default;

InputLevelMonitor::~InputLevelMonitor()
{
    Stop();
}

bool InputLevelMonitor::Start(const DeviceChoice& choice)
{
    Stop();
    device = choice;
    return StartDevice();
}

bool InputLevelMonitor::StartDevice()
{
    session = std::make_unique<AudioSession>();
    stream = std::make_unique<CaptureStream>(*session);
    if (!session->Open()) {
        error = session->LastError();
    } else if (!stream->Open(device, kBufferMs) || !stream->Start()) {
        error = stream->LastError();
    } else {
        error.clear();
    }
    if (!error.empty()) {
        ReleaseDevice();
        return false;
    }
    const StreamFormat& format = stream->Format();
    deviceChannels = format.channels;
    deviceBits = format.bits;
    deviceRate = format.rate;
    // Configured here, not on the monitor thread: a new measurement allocates.
    loudness.Configure(deviceRate, deviceChannels);
    running.store(true);
    thread = std::thread(&InputLevelMonitor::MonitorThread, this);
    return true;
}

void InputLevelMonitor::Stop()
{
    // running stays set when the thread ended on a device error, so this still joins
    // and releases.
    if (!running.exchange(false))
        return;
    if (thread.joinable())
        thread.join();
    stream->Stop();
    ReleaseDevice();
    leftLevel.store(0.0f);
    rightLevel.store(0.0f);
}

void InputLevelMonitor::ReleaseDevice()
{
    stream.reset();
    session.reset();
}

void InputLevelMonitor::MonitorThread()
{
    session->EnterThread();
    // The monitor processes the device's own layout, so the chain's mono fold shows a
    // stereo device as the mono stream would carry it.
    chain.Configure(deviceRate, deviceChannels);
    pendingParams.TakeInto(chain.params);
    float left = leftLevel.load();
    float right = rightLevel.load();
    while (running.load()) {
        session->Wait(kPassMs);
        pendingParams.TakeInto(chain.params);
        const std::optional<LevelSums> sums = Pass();
        if (!sums)
            return; // the device failed: the meters keep their last values
        const PassRms rms = PassLevels(*sums, deviceChannels);
        left = SmoothLevel(left, rms.left);
        right = SmoothLevel(right, rms.right);
        leftLevel.store(left);
        rightLevel.store(right);
    }
}

// Drains the device through the chain and sums the processed sound; none when the
// device failed.
std::optional<LevelSums> InputLevelMonitor::Pass()
{
    LevelSums sums;
    const bool alive = stream->DrainPackets([this, &sums](const CapturedPacket& packet) {
        // Silence flagged by the device and empty packets are not counted: in silence
        // the meters fall by their decay, not at once.
        if (!packet.silent && packet.data != nullptr && packet.frames != 0 && deviceChannels != 0) {
            const size_t n = static_cast<size_t>(packet.frames) * deviceChannels;
            block.resize(n);
            DeviceSamplesToInt16(packet.data, n, stream->Format().kind, block.data());
            chain.Process(block.data(), n * 2);
            loudness.Add(block.data(), packet.frames);
            AddLevelSums(block.data(), packet.frames, deviceChannels, sums);
        }
        return true;
    });
    if (!alive)
        return std::nullopt;
    return sums;
}
