#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "audio/DeviceChoice.h"
#include "audio/PendingParams.h"
#include "audio/ProcessingMeters.h"
#include "audio/ProcessingParams.h"

class CaptureStream;
struct CapturedPacket;
class ProcessingChain;
class RenderStream;

// Lets the presenter hear the processed sound: captures the input device by itself,
// runs it through its own processing chain with the current parameters, converts rate
// and channel layout packet by packet and plays it on an output device. One thread,
// polling every 5 ms with 20 ms buffers on both sides; frames that do not fit the
// output are dropped, so latency never builds up.
class PreviewOutput {
public:
    PreviewOutput();
    ~PreviewOutput();
    PreviewOutput(const PreviewOutput&) = delete;
    PreviewOutput& operator=(const PreviewOutput&) = delete;

    // (Re)starts on the chosen input device and the output device at outputIndex (-1:
    // the default), and returns once both play. False (with LastError, nothing running)
    // when a device cannot be opened or started.
    bool StartPreview(const DeviceChoice& input, int32_t outputIndex, const ProcessingParams& params);
    void StopPreview();
    // The parameters the chain takes before its next packet.
    void UpdatePreviewParams(const ProcessingParams& params) { pendingParams.Set(params); }

    // False once stopped, when the thread could not open its devices, or once its
    // input has gone (failed, removed, or silent for seconds).
    bool Running() const { return running.load(); }
    // The chain's twelve meters after the latest packet.
    ProcessingMeters Meters() const;
    // Why the latest StartPreview failed; "" after one that succeeded.
    const std::string& LastError() const { return error; }

private:
    struct Conversion;
    void PreviewThread(std::promise<bool> started);
    void PlayPacket(const CapturedPacket& packet, const CaptureStream& input, RenderStream& output,
                    ProcessingChain& chain, Conversion& work);

    std::atomic<bool> running{false};
    std::thread thread;
    DeviceChoice inputDevice;
    int32_t outputIndex = -1;
    PendingParams pendingParams;
    // Written by the thread only until it reports the start, read by the caller after.
    std::string error;
    std::array<std::atomic<float>, kMeterCount> meters;
};
