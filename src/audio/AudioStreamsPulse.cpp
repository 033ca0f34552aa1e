#include "audio/AudioStreams.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "audio/DeviceList.h"
#include "audio/PacketConversion.h"
#include "audio/PulseConnection.h"

// Streams carry 32-bit float at the device's own rate and channel map, so the server
// only changes the sample format, as a WASAPI mix format would need none.

namespace {

// The longest WaitForPacket serves the connection without a fragment (a corked or
// suspended source), so the capture thread still notices a stop.
constexpr uint32_t kPacketWaitBoundMs = 100;

constexpr pa_stream_flags_t kStreamFlags =
    static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED | PA_STREAM_DONT_MOVE);

// The device chosen by the rule, or none.
std::optional<PulseDevice> ChooseDevice(PulseConnection& connection, DataFlow flow, int32_t position,
                                        const std::string& endpointId)
{
    const std::optional<PulseDefaults> defaults = connection.DefaultNames();
    if (!defaults)
        return std::nullopt;
    std::optional<std::vector<PulseDevice>> devices =
        flow == DataFlow::Capture ? connection.ListSources() : connection.ListSinks();
    if (!devices)
        return std::nullopt;
    const std::optional<size_t> chosen = ChooseEndpoint(PulseEndpoints(*devices), position, endpointId,
                                                        flow == DataFlow::Capture ? defaults->source : defaults->sink);
    if (!chosen)
        return std::nullopt;
    return std::move((*devices)[*chosen]);
}

// The reason texts name the server's error code as the Windows build names an HRESULT,
// so that both builds log the same line for a device that does not open.
std::string ClientFailure(PulseConnection& connection)
{
    char text[64];
    std::snprintf(text, sizeof text, "Failed to initialize audio client: 0x%08lX",
                  static_cast<unsigned long>(pa_context_errno(connection.Context())));
    return std::string(text) + " (" + pa_strerror(pa_context_errno(connection.Context())) + ")";
}

StreamFormat FloatFormat(const pa_sample_spec& spec)
{
    return {spec.rate, spec.channels, 32, DeviceSampleKind::Float32};
}

// A new stream in float at the device's rate and channel layout.
pa_stream* NewStream(PulseConnection& connection, const PulseDevice& device, const char* name)
{
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, device.spec.rate, device.spec.channels};
    const bool mapOk = pa_channel_map_valid(&device.map) != 0 && device.map.channels == device.spec.channels;
    return pa_stream_new(connection.Context(), name, &spec, mapOk ? &device.map : nullptr);
}

bool WaitReady(PulseConnection& connection, pa_stream* stream)
{
    connection.WaitUntil([stream] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; });
    return pa_stream_get_state(stream) == PA_STREAM_READY;
}

bool Ready(pa_stream* stream)
{
    return stream != nullptr && pa_stream_get_state(stream) == PA_STREAM_READY;
}

void Release(pa_stream*& stream)
{
    if (stream == nullptr)
        return;
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

} // namespace

// ---- session ---------------------------------------------------------------------

struct AudioSession::Impl {
    PulseConnection connection;
};

AudioSession::AudioSession() : impl(std::make_unique<Impl>()) {}
AudioSession::~AudioSession() = default;

bool AudioSession::Open()
{
    if (impl->connection.Connect())
        return true;
    error = impl->connection.LastError();
    return false;
}

void AudioSession::EnterThread() {}

void AudioSession::Wait(uint32_t milliseconds)
{
    impl->connection.Run(milliseconds);
}

void AudioSession::BeginPreciseWaits() {}
void AudioSession::EndPreciseWaits() {}

// ---- capture ---------------------------------------------------------------------

struct CaptureStream::Impl {
    pa_stream* stream = nullptr;
    size_t frameSize = 0;
    // What the server handed over, copied together; the first bytes whole frames of
    // which form the packet held until ReleasePacket.
    std::vector<uint8_t> gathered;
    size_t bytes = 0;
    bool held = false;
    // Set by the callbacks while the connection is served, so a wait needs no call into
    // the library (each costs a system call) to learn whether data came or the stream
    // ended. arrived turns true once a whole fragment is buffered: the server may send
    // it in several smaller packets, and waking for each would undo the fragments.
    bool arrived = false;
    bool failed = false;
    size_t fragmentBytes = 0;
    // No fragment can be complete before this: WaitForPacket sleeps until then without
    // serving the connection.
    std::chrono::steady_clock::time_point nextFragment;
    std::chrono::microseconds fragmentTime{0};

    static void OnRead(pa_stream*, size_t readable, void* userdata)
    {
        Impl* self = static_cast<Impl*>(userdata);
        if (readable >= self->fragmentBytes)
            self->arrived = true;
    }
    static void OnState(pa_stream* stream, void* userdata)
    {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
            static_cast<Impl*>(userdata)->failed = true;
    }
};

CaptureStream::CaptureStream(AudioSession& owner) : session(owner), impl(std::make_unique<Impl>()) {}

CaptureStream::~CaptureStream()
{
    Close();
}

bool CaptureStream::Open(const DeviceChoice& device, uint32_t bufferMs)
{
    Close();
    error.clear();
    PulseConnection& connection = session.impl->connection;
    // Without a server there is no device either.
    const std::optional<PulseDevice> source =
        connection.Connect() ? ChooseDevice(connection, DataFlow::Capture, device.FallbackPosition(), device.endpointId)
                             : std::nullopt;
    if (!source) {
        error = kNoInputDeviceText;
        return false;
    }

    format = FloatFormat(source->spec);
    deviceName = source->description;
    impl->stream = NewStream(connection, *source, "Kelm Vantoro capture");
    if (impl->stream == nullptr) {
        error = ClientFailure(connection);
        return false;
    }
    const pa_sample_spec spec = *pa_stream_get_sample_spec(impl->stream);
    impl->frameSize = pa_frame_size(&spec);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(pa_usec_to_bytes(static_cast<pa_usec_t>(bufferMs) * PA_USEC_PER_MSEC, &spec));
    // Capture data reaches the client in fragments of this length, so blocks leave the
    // capture at least this often whatever the poll interval; WaitForPacket wakes once
    // per fragment.
    const pa_usec_t fragmentUsec = static_cast<pa_usec_t>(fragmentMs) * PA_USEC_PER_MSEC;
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(fragmentUsec, &spec));
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    if (attr.maxlength < 4 * attr.fragsize)
        attr.maxlength = 4 * attr.fragsize;
    impl->arrived = impl->failed = false;
    impl->fragmentBytes = attr.fragsize;
    impl->fragmentTime = std::chrono::microseconds(fragmentUsec);
    impl->nextFragment = {};
    pa_stream_set_read_callback(impl->stream, &Impl::OnRead, impl.get());
    pa_stream_set_state_callback(impl->stream, &Impl::OnState, impl.get());
    if (pa_stream_connect_record(impl->stream, source->name.c_str(), &attr, kStreamFlags) < 0 ||
        !WaitReady(connection, impl->stream)) {
        error = ClientFailure(connection);
        Release(impl->stream);
        return false;
    }
    return true;
}

bool CaptureStream::Start()
{
    if (!Ready(impl->stream)) {
        error = "The capture stream is not open";
        return false;
    }
    if (!session.impl->connection.Complete(pa_stream_cork(impl->stream, 0, nullptr, nullptr))) {
        error = "The sound server did not start the capture stream";
        return false;
    }
    return true;
}

void CaptureStream::Stop()
{
    impl->held = false;
    impl->gathered.clear(); // a restart begins with fresh sound
    if (!Ready(impl->stream))
        return;
    PulseConnection& connection = session.impl->connection;
    connection.Complete(pa_stream_cork(impl->stream, 1, nullptr, nullptr));
    connection.Complete(pa_stream_flush(impl->stream, nullptr, nullptr));
}

void CaptureStream::Close()
{
    impl->held = false;
    impl->gathered.clear();
    if (impl->stream != nullptr) {
        // Disconnecting reports a state change; the callbacks must not outlive this.
        pa_stream_set_read_callback(impl->stream, nullptr, nullptr);
        pa_stream_set_state_callback(impl->stream, nullptr, nullptr);
    }
    Release(impl->stream);
}

void CaptureStream::WaitForPacket(uint32_t)
{
    if (impl->stream == nullptr || impl->failed)
        return;
    PulseConnection& connection = session.impl->connection;
    std::this_thread::sleep_until(impl->nextFragment);
    // Usually the fragment is already here and this does not block.
    connection.WaitForFlag(impl->arrived, kPacketWaitBoundMs);
    connection.ServeReady();
    // What arrived is drained next; anything later comes with another callback.
    impl->arrived = false;
    // A little past the next fragment's due time, so that one wake-up finds it whole.
    impl->nextFragment = std::chrono::steady_clock::now() + impl->fragmentTime + impl->fragmentTime / 8;
}

// Everything the server has handed over becomes one packet: a fragment may come in
// several pieces, and the caller should get it in one go.
std::optional<uint32_t> CaptureStream::NextPacketFrames()
{
    if (impl->stream == nullptr || impl->failed)
        return std::nullopt;
    if (!impl->held) {
        std::vector<uint8_t>& gathered = impl->gathered; // may start with part of a frame
        for (;;) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(impl->stream, &data, &bytes) < 0)
                return std::nullopt;
            if (bytes == 0)
                break; // nothing more buffered
            const size_t at = gathered.size();
            gathered.resize(at + bytes); // only grows: the buffer is reused
            if (data != nullptr)
                std::memcpy(gathered.data() + at, data, bytes);
            else
                std::memset(gathered.data() + at, 0, bytes); // a gap in the recording is silence
            pa_stream_drop(impl->stream);
        }
        impl->bytes = gathered.size() / impl->frameSize * impl->frameSize;
        impl->held = impl->bytes > 0;
    }
    return static_cast<uint32_t>(impl->bytes / impl->frameSize);
}

std::optional<CapturedPacket> CaptureStream::GetPacket()
{
    if (!impl->held)
        return std::nullopt;
    return CapturedPacket{impl->gathered.data(), static_cast<uint32_t>(impl->bytes / impl->frameSize), false};
}

bool CaptureStream::ReleasePacket(uint32_t)
{
    if (!impl->held)
        return false;
    // A part of a frame left over waits for the rest.
    std::vector<uint8_t>& gathered = impl->gathered;
    gathered.erase(gathered.begin(), gathered.begin() + static_cast<std::ptrdiff_t>(impl->bytes));
    impl->held = false;
    impl->bytes = 0;
    return true;
}

// ---- render ----------------------------------------------------------------------

struct RenderStream::Impl {
    pa_stream* stream = nullptr;
    size_t frameSize = 0;
    std::vector<float> scratch;
};

RenderStream::RenderStream(AudioSession& owner) : session(owner), impl(std::make_unique<Impl>()) {}

RenderStream::~RenderStream()
{
    Close();
}

bool RenderStream::Open(int32_t position, uint32_t bufferMs)
{
    Close();
    error.clear();
    PulseConnection& connection = session.impl->connection;
    const std::optional<PulseDevice> sink =
        connection.Connect() ? ChooseDevice(connection, DataFlow::Render, position, "") : std::nullopt;
    if (!sink) {
        error = "No output device found";
        return false;
    }
    format = FloatFormat(sink->spec);
    impl->stream = NewStream(connection, *sink, "Kelm Vantoro preview");
    if (impl->stream == nullptr) {
        error = ClientFailure(connection);
        return false;
    }
    const pa_sample_spec spec = *pa_stream_get_sample_spec(impl->stream);
    impl->frameSize = pa_frame_size(&spec);
    pa_buffer_attr attr{};
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(static_cast<pa_usec_t>(bufferMs) * PA_USEC_PER_MSEC, &spec));
    attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<uint32_t>(-1);
    if (pa_stream_connect_playback(impl->stream, sink->name.c_str(), &attr, kStreamFlags, nullptr, nullptr) < 0 ||
        !WaitReady(connection, impl->stream)) {
        error = ClientFailure(connection);
        Release(impl->stream);
        return false;
    }
    return true;
}

bool RenderStream::Start()
{
    if (!Ready(impl->stream)) {
        error = "The output stream is not open";
        return false;
    }
    if (!session.impl->connection.Complete(pa_stream_cork(impl->stream, 0, nullptr, nullptr))) {
        error = "The sound server did not start the output stream";
        return false;
    }
    return true;
}

void RenderStream::Stop()
{
    if (Ready(impl->stream))
        session.impl->connection.Complete(pa_stream_cork(impl->stream, 1, nullptr, nullptr));
}

void RenderStream::Close()
{
    Release(impl->stream);
}

std::optional<uint32_t> RenderStream::FreeFrames()
{
    if (!Ready(impl->stream))
        return std::nullopt;
    const size_t bytes = pa_stream_writable_size(impl->stream);
    if (bytes == static_cast<size_t>(-1))
        return std::nullopt;
    return static_cast<uint32_t>(bytes / impl->frameSize);
}

bool RenderStream::Write(const int16_t* samples, uint32_t frames)
{
    if (!Ready(impl->stream))
        return false;
    const size_t count = static_cast<size_t>(frames) * format.channels;
    impl->scratch.resize(count);
    Int16ToFloat(samples, count, impl->scratch.data());
    return pa_stream_write(impl->stream, impl->scratch.data(), count * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE) ==
           0;
}
