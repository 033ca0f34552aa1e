#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/CaptureFormat.h"
#include "audio/DeviceChoice.h"

class AudioSession;
class CaptureStream;

// Receives each captured block: interleaved little-endian 16-bit samples in the
// stream's channel count at the device's rate. The bytes are valid only during the call.
using AudioSink = std::function<void(const uint8_t* data, uint64_t size)>;
// Told once, on the capture thread, that the capture ended by itself.
using CaptureEndedHandler = std::function<void()>;

// Records the input device in shared mode on a polling thread of its own and hands
// every packet, converted to the stream's channel count, to one sink. No resampling:
// blocks leave at the device's rate.
class AudioCapture {
public:
    // A present device delivers packets continuously (silent ones when quiet): this
    // long without any means it is gone.
    static constexpr int kStallSeconds = 3;

    AudioCapture();
    ~AudioCapture();
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // The device to open. Not while running.
    void SetDevice(const DeviceChoice& choice) { device = choice; }

    // Chooses and opens the device, keeps the capture format. False when there is no
    // device or it cannot be opened; LastError says which, and the log has it too.
    bool Initialize(const CaptureFormat& format);
    // Starts the device and the capture thread. False (with LastError) when not
    // initialized, already running, or the device does not start; the sink is then
    // dropped. ended is
    // called on the capture thread if the device fails, goes away or delivers nothing
    // for kStallSeconds while running; no audio follows, and Stop is still needed.
    bool Start(AudioSink sink, CaptureEndedHandler ended = {});
    // Stops the thread and the device. Never from inside the sink.
    void Stop();
    void ReleaseDevice();

    uint32_t DeviceRate() const { return deviceRate; }
    uint16_t DeviceChannels() const { return deviceChannels; }
    uint16_t DeviceBits() const { return deviceBits; }
    const std::string& DeviceName() const { return deviceName; }
    bool Running() const { return running.load(); }
    // Why the latest Initialize or Start failed. Not for the capture thread's own end,
    // which only the log and ended report.
    const std::string& LastError() const { return error; }

private:
    void CaptureThread();
    void Deliver(const void* data, uint32_t frames, bool silent);

    CaptureFormat captureFormat;
    uint32_t deviceRate = 0;
    uint16_t deviceChannels = 0;
    uint16_t deviceBits = 0;
    bool initialized = false;
    std::atomic<bool> running{false};
    DeviceChoice device;
    std::string deviceName;
    std::string error;
    std::unique_ptr<AudioSession> session;
    std::unique_ptr<CaptureStream> stream;
    std::thread thread;
    AudioSink sink;
    CaptureEndedHandler endedHandler;
    std::vector<int16_t> deviceBuffer;  // a packet in the device's layout
    std::vector<int16_t> convertBuffer; // the same in the stream's channel count
};
