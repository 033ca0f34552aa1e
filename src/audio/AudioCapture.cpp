#include "audio/AudioCapture.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "base/Log.h"
#include "audio/AudioStreams.h"
#include "audio/PacketConversion.h"

namespace {

// Shared-mode buffer and poll interval: a 50 ms buffer drained every 5 ms where the
// device is polled (Windows); PulseAudio instead wakes the thread per fragment.
constexpr uint32_t kBufferMs = 50;
constexpr uint32_t kPollMs = 5;
// Where the server hands data over in fragments (PulseAudio), 20 ms ones: the thread
// wakes 50 times a second, and an AAC frame takes 21 to 43 ms of sound anyway.
constexpr uint32_t kFragmentMs = 20;

} // namespace

AudioCapture::AudioCapture() = default;

AudioCapture::~AudioCapture()
{
    Stop();
    ReleaseDevice();
}

bool AudioCapture::Initialize(const CaptureFormat& streamFormat)
{
    ReleaseDevice();
    captureFormat = streamFormat;
    session = std::make_unique<AudioSession>();
    stream = std::make_unique<CaptureStream>(*session);
    stream->SetFragmentDuration(kFragmentMs);
    // No sound system to talk to is no device, for the user as for the log.
    const bool opened = session->Open() && stream->Open(device, kBufferMs);
    if (!opened) {
        error = session->LastError().empty() ? stream->LastError() : kNoInputDeviceText;
        LogLine("Audio", error);
        ReleaseDevice();
        return false;
    }
    error.clear();
    const StreamFormat& format = stream->Format();
    deviceRate = format.rate;
    deviceChannels = format.channels;
    deviceBits = format.bits;
    deviceName = stream->DeviceName();
    if (!deviceName.empty())
        LogLine("Audio", "Device: " + deviceName);
    initialized = true;
    char line[96];
    std::snprintf(line, sizeof line, "Capture initialized: %uHz, %uch, %ubit", static_cast<unsigned>(deviceRate),
                  static_cast<unsigned>(deviceChannels), static_cast<unsigned>(deviceBits));
    LogLine("Audio", line);
    return true;
}

bool AudioCapture::Start(AudioSink newSink, CaptureEndedHandler ended)
{
    if (!initialized) {
        error = "Audio capture is not initialized";
        return false;
    }
    if (running.load()) {
        error = "Audio capture is already running";
        return false;
    }
    if (!stream->Start()) {
        error = stream->LastError();
        LogLine("Audio", error);
        return false;
    }
    error.clear();
    sink = std::move(newSink);
    endedHandler = std::move(ended);
    running.store(true);
    thread = std::thread(&AudioCapture::CaptureThread, this);
    return true;
}

void AudioCapture::Stop()
{
    if (!running.exchange(false))
        return;
    if (thread.joinable())
        thread.join();
    stream->Stop();
}

void AudioCapture::ReleaseDevice()
{
    // The thread reads the stream: never release it under a running capture.
    Stop();
    stream.reset();
    session.reset();
    initialized = false;
}

void AudioCapture::CaptureThread()
{
    session->EnterThread();
    session->BeginPreciseWaits();
    auto lastPacket = std::chrono::steady_clock::now();
    while (running.load()) {
        stream->WaitForPacket(kPollMs);
        bool delivered = false;
        const bool alive = stream->DrainPackets([this, &delivered](const CapturedPacket& packet) {
            delivered = true;
            Deliver(packet.data, packet.frames, packet.silent);
            return true;
        });
        if (!alive) {
            LogLine("Audio", "Capture device failed or went away");
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (delivered) {
            lastPacket = now;
        } else if (now - lastPacket > std::chrono::seconds(kStallSeconds)) {
            LogLine("Audio", "No audio from the capture device for " + std::to_string(kStallSeconds) + " s");
            break;
        }
    }
    session->EndPreciseWaits();
    // Ended by itself, not by Stop: no more audio will come.
    if (running.load() && endedHandler)
        endedHandler();
}

void AudioCapture::Deliver(const void* data, uint32_t frames, bool silent)
{
    CapturePacketToStream(data, frames, silent, stream->Format().kind, deviceChannels, captureFormat.channels,
                          deviceBuffer, convertBuffer);
    const size_t bytes = convertBuffer.size() * sizeof(int16_t);
    if (sink && bytes > 0)
        sink(reinterpret_cast<const uint8_t*>(convertBuffer.data()), bytes);
}
