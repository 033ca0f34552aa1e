#pragma once

#include <cstdint>
#include <string>

#include "encoder/EncoderConfig.h"
#include "icecast/IcecastConfig.h"
#include "settings/ProcessingParams.h"

// What the capture delivers: its channel count is the stream's.
struct CaptureFormat {
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;
};

// The engine's input: the stream-related part of the application's settings.
struct EngineConfig {
    CaptureFormat captureFormat;
    EncoderConfig encoder;
    IcecastConfig server;
    ProcessingParams processing;
    int32_t deviceIndex = -1;
    std::string deviceEndpointId;
};
