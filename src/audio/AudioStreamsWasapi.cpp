#include "audio/AudioStreams.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/PacketConversion.h"
#include "audio/WasapiEndpoint.h"

#include <mmsystem.h> // after <windows.h>

namespace {

// Shared-mode buffer durations are given in 100-ns units.
REFERENCE_TIME BufferDuration(uint32_t milliseconds)
{
    return static_cast<REFERENCE_TIME>(milliseconds) * 10000;
}

// Activates an audio client on device and initialises it in shared mode, polled (no
// event callback), with its own mix format. format receives that format.
HRESULT OpenSharedClient(IMMDevice* device, uint32_t bufferMs, ComPtr<IAudioClient>& client, StreamFormat& format)
{
    HRESULT hr = device->Activate(kIidAudioClient, CLSCTX_ALL, nullptr, client.PutVoid());
    if (FAILED(hr))
        return hr;
    WAVEFORMATEX* mix = nullptr;
    hr = client->GetMixFormat(&mix);
    if (FAILED(hr))
        return hr;
    format = {static_cast<uint32_t>(mix->nSamplesPerSec), mix->nChannels, mix->wBitsPerSample, ClassifyMixFormat(mix)};
    hr = client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, BufferDuration(bufferMs), 0, mix, nullptr);
    CoTaskMemFree(mix);
    return hr;
}

// "what: 0x%08lX" with the HRESULT, as the capture logs a device that does not open.
std::string Failure(const char* what, HRESULT hr)
{
    char text[96];
    std::snprintf(text, sizeof text, "%s: 0x%08lX", what, static_cast<unsigned long>(hr));
    return text;
}

} // namespace

// ---- session ---------------------------------------------------------------------

struct AudioSession::Impl {
    bool preciseWaits = false;
};

AudioSession::AudioSession() : impl(std::make_unique<Impl>()) {}

AudioSession::~AudioSession() = default;

bool AudioSession::Open()
{
    EnsureComApartment();
    return true;
}

void AudioSession::EnterThread()
{
    EnsureComApartment();
}

void AudioSession::Wait(uint32_t milliseconds)
{
    Sleep(milliseconds);
}

void AudioSession::BeginPreciseWaits()
{
    if (!impl->preciseWaits)
        impl->preciseWaits = timeBeginPeriod(1) == TIMERR_NOERROR;
}

void AudioSession::EndPreciseWaits()
{
    if (impl->preciseWaits)
        timeEndPeriod(1);
    impl->preciseWaits = false;
}

// ---- capture ---------------------------------------------------------------------

struct CaptureStream::Impl {
    ComPtr<IMMDevice> device;
    ComPtr<IAudioClient> client;
    ComPtr<IAudioCaptureClient> capture;
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
    EnsureComApartment();
    impl->device = OpenEndpointDevice(eCapture, device.FallbackPosition(), device.endpointId);
    if (!impl->device) {
        error = kNoInputDeviceText;
        return false;
    }
    HRESULT hr = OpenSharedClient(impl->device.Get(), bufferMs, impl->client, format);
    // An endpoint that went away may still resolve in this process without being able
    // to record: like an unknown identifier, it gives way to the default device.
    if (!device.endpointId.empty() && (hr == AUDCLNT_E_DEVICE_INVALIDATED || hr == AUDCLNT_E_ENDPOINT_CREATE_FAILED)) {
        Close();
        impl->device = OpenEndpointDevice(eCapture, -1, "");
        if (!impl->device) {
            error = kNoInputDeviceText;
            return false;
        }
        hr = OpenSharedClient(impl->device.Get(), bufferMs, impl->client, format);
    }
    if (FAILED(hr)) {
        error = Failure("Failed to initialize audio client", hr);
        Close();
        return false;
    }
    hr = impl->client->GetService(kIidAudioCaptureClient, impl->capture.PutVoid());
    if (FAILED(hr)) {
        error = Failure("Failed to get the audio capture client", hr);
        Close();
        return false;
    }
    deviceName = ReadFriendlyName(impl->device.Get());
    return true;
}

bool CaptureStream::Start()
{
    if (!impl->client) {
        error = "The capture stream is not open";
        return false;
    }
    const HRESULT hr = impl->client->Start();
    if (FAILED(hr)) {
        error = Failure("Failed to start audio capture device", hr);
        return false;
    }
    return true;
}

void CaptureStream::Stop()
{
    if (impl->client)
        impl->client->Stop();
}

void CaptureStream::Close()
{
    // Reverse order of acquisition.
    impl->capture.Reset();
    impl->client.Reset();
    impl->device.Reset();
}

void CaptureStream::WaitForPacket(uint32_t pollMs)
{
    session.Wait(pollMs);
}

std::optional<uint32_t> CaptureStream::NextPacketFrames()
{
    UINT32 next = 0;
    if (!impl->capture || FAILED(impl->capture->GetNextPacketSize(&next)))
        return std::nullopt;
    return next;
}

std::optional<CapturedPacket> CaptureStream::GetPacket()
{
    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    if (!impl->capture || FAILED(impl->capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr)))
        return std::nullopt;
    return CapturedPacket{data, frames, (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0};
}

bool CaptureStream::ReleasePacket(uint32_t frames)
{
    return impl->capture && SUCCEEDED(impl->capture->ReleaseBuffer(frames));
}

// ---- render ----------------------------------------------------------------------

struct RenderStream::Impl {
    ComPtr<IMMDevice> device;
    ComPtr<IAudioClient> client;
    ComPtr<IAudioRenderClient> render;
    UINT32 bufferFrames = 0;
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
    EnsureComApartment();
    impl->device = OpenEndpointDevice(eRender, position, "");
    if (!impl->device) {
        error = "No output device found";
        return false;
    }
    HRESULT hr = OpenSharedClient(impl->device.Get(), bufferMs, impl->client, format);
    if (FAILED(hr)) {
        error = Failure("Failed to initialize the output audio client", hr);
    } else if (FAILED(hr = impl->client->GetService(kIidAudioRenderClient, impl->render.PutVoid()))) {
        error = Failure("Failed to get the audio render client", hr);
    } else if (FAILED(hr = impl->client->GetBufferSize(&impl->bufferFrames))) {
        error = Failure("Failed to read the output buffer size", hr);
    }
    if (FAILED(hr)) {
        Close();
        return false;
    }
    return true;
}

bool RenderStream::Start()
{
    if (!impl->client) {
        error = "The output stream is not open";
        return false;
    }
    const HRESULT hr = impl->client->Start();
    if (FAILED(hr)) {
        error = Failure("Failed to start the output device", hr);
        return false;
    }
    return true;
}

void RenderStream::Stop()
{
    if (impl->client)
        impl->client->Stop();
}

void RenderStream::Close()
{
    impl->render.Reset();
    impl->client.Reset();
    impl->device.Reset();
}

std::optional<uint32_t> RenderStream::FreeFrames()
{
    UINT32 padding = 0;
    if (!impl->client || FAILED(impl->client->GetCurrentPadding(&padding)))
        return std::nullopt;
    return padding < impl->bufferFrames ? impl->bufferFrames - padding : 0;
}

bool RenderStream::Write(const int16_t* samples, uint32_t frames)
{
    BYTE* data = nullptr;
    if (!impl->render || FAILED(impl->render->GetBuffer(frames, &data)))
        return false;
    const size_t count = static_cast<size_t>(frames) * format.channels;
    DWORD flags = 0;
    if (format.kind == DeviceSampleKind::Float32) {
        impl->scratch.resize(count);
        Int16ToFloat(samples, count, impl->scratch.data());
        std::memcpy(data, impl->scratch.data(), count * sizeof(float));
    } else if (format.kind == DeviceSampleKind::Int16) {
        std::memcpy(data, samples, count * sizeof(int16_t));
    } else {
        flags = AUDCLNT_BUFFERFLAGS_SILENT; // a format this program does not write
    }
    return SUCCEEDED(impl->render->ReleaseBuffer(frames, flags));
}
