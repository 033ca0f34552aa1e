#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "audio/DeviceChoice.h"
#include "audio/SampleConversion.h"

// Shared-mode device streams as the capture, the input level monitor and the preview
// use them: Windows Core Audio (WASAPI) in the Windows build, PulseAudio in the Linux
// build. Each stream delivers or takes samples in the device's own format, rate and
// channel layout; all conversion is the caller's.

// A device's own format: on Windows the mix format, on Linux the source's or sink's
// rate and channel layout carried as 32-bit float.
struct StreamFormat {
    uint32_t rate = 0;
    uint16_t channels = 0;
    uint16_t bits = 0;
    DeviceSampleKind kind = DeviceSampleKind::Unsupported;
};

// One packet as the device handed it over; valid until ReleasePacket.
struct CapturedPacket {
    const void* data = nullptr;
    uint32_t frames = 0;
    bool silent = false; // the device marked it as silence (or, on Linux, a gap)
};

// The reason a capture stream gives when no device matches the choice; the capture
// logs it as it stands.
inline constexpr const char* kNoInputDeviceText = "No input device found. Check your microphone/line-in.";

// A thread's link to the sound system. Windows: the multithreaded COM apartment, which
// every thread using a stream joins once. Linux: the connection to the PulseAudio
// server and the main loop that serves it; Wait runs that loop, so streams opened
// through one session progress only while one thread waits on it. One thread at a time.
class AudioSession {
public:
    AudioSession();
    ~AudioSession();
    AudioSession(const AudioSession&) = delete;
    AudioSession& operator=(const AudioSession&) = delete;

    // Joins the apartment, or connects to the server. False (with LastError) when that
    // fails.
    bool Open();
    const std::string& LastError() const { return error; }
    // Called first on every thread that touches this session's streams.
    void EnterThread();
    // Sleeps for about milliseconds; on Linux the connection is served meanwhile.
    void Wait(uint32_t milliseconds);
    // A 1 ms system timer resolution for short polling waits (Windows), undone by
    // EndPreciseWaits on the same thread.
    void BeginPreciseWaits();
    void EndPreciseWaits();

private:
    friend class CaptureStream;
    friend class RenderStream;
    struct Impl;
    std::unique_ptr<Impl> impl;
    std::string error;
};

// A capture stream on the endpoint chosen by the device rule (identifier, else position,
// else the default device). Packets are taken as from a WASAPI capture client.
class CaptureStream {
public:
    explicit CaptureStream(AudioSession& session);
    ~CaptureStream();
    CaptureStream(const CaptureStream&) = delete;
    CaptureStream& operator=(const CaptureStream&) = delete;

    // Linux: the server hands capture data over in fragments of about this length
    // (default 10 ms); a longer one means fewer wake-ups, a shorter one less delay. Takes
    // effect at the next Open. Windows: no effect, the audio engine's period decides.
    void SetFragmentDuration(uint32_t milliseconds) { fragmentMs = milliseconds; }
    // bufferMs is the shared-mode buffer duration. False with LastError when no device
    // matches (kNoInputDeviceText) or the device cannot be opened ("Failed to initialize
    // audio client: 0x%08lX" with the system's code, or the client service's failure).
    bool Open(const DeviceChoice& device, uint32_t bufferMs);
    const StreamFormat& Format() const { return format; }
    // The endpoint's display name; "" when it could not be read.
    const std::string& DeviceName() const { return deviceName; }
    // Why the latest Open or Start failed.
    const std::string& LastError() const { return error; }

    bool Start();
    void Stop();
    void Close();

    // Waits until a packet is likely to be ready. Windows polls: it sleeps pollMs. Linux
    // serves the connection until the server hands over a fragment (or about 100 ms
    // pass), so a capture thread wakes once per fragment instead of once per poll.
    void WaitForPacket(uint32_t pollMs);
    // Frames in the next packet (0: none yet). None when the stream has failed, for
    // example because its device went away.
    std::optional<uint32_t> NextPacketFrames();
    // The next packet, held until ReleasePacket; none when it cannot be taken.
    std::optional<CapturedPacket> GetPacket();
    bool ReleasePacket(uint32_t frames);
    // Takes every packet the stream holds now (a device may hold several: ask again
    // after each one), hands each to take while it is held and gives it back. take
    // returns false to stop early; a packet that cannot be taken or given back ends
    // the drain. False when the stream has failed.
    template <typename Take>
    bool DrainPackets(Take&& take);

private:
    struct Impl;
    AudioSession& session;
    std::unique_ptr<Impl> impl;
    StreamFormat format;
    std::string deviceName;
    std::string error;
    uint32_t fragmentMs = 10;
};

template <typename Take>
bool CaptureStream::DrainPackets(Take&& take)
{
    std::optional<uint32_t> frames = NextPacketFrames();
    if (!frames)
        return false;
    while (*frames != 0) {
        const std::optional<CapturedPacket> packet = GetPacket();
        if (!packet)
            return true;
        const bool more = take(*packet);
        if (!ReleasePacket(packet->frames) || !more)
            return true;
        frames = NextPacketFrames();
        if (!frames)
            return false;
    }
    return true;
}

// A render stream on the output endpoint at position (-1: the default device).
class RenderStream {
public:
    explicit RenderStream(AudioSession& session);
    ~RenderStream();
    RenderStream(const RenderStream&) = delete;
    RenderStream& operator=(const RenderStream&) = delete;

    // False with LastError when there is no such device or it cannot be opened.
    bool Open(int32_t position, uint32_t bufferMs);
    const StreamFormat& Format() const { return format; }
    // Why the latest Open or Start failed.
    const std::string& LastError() const { return error; }

    bool Start();
    void Stop();
    void Close();

    // Frames that fit now: the buffer size minus what is still queued. None when the
    // stream has failed.
    std::optional<uint32_t> FreeFrames();
    // Queues frames of 16-bit samples in the device's channel layout, converted to its
    // sample format (an unsupported format receives silence).
    bool Write(const int16_t* samples, uint32_t frames);

private:
    struct Impl;
    AudioSession& session;
    std::unique_ptr<Impl> impl;
    StreamFormat format;
    std::string error;
};
