#pragma once

#include <cstdint>
#include <string>

#include "audio/CaptureFormat.h"
#include "audio/DeviceChoice.h"
#include "encoder/EncoderConfig.h"
#include "icecast/IcecastConfig.h"
#include "audio/ProcessingParams.h"

// The engine's input: the stream-related part of the application's settings.
struct EngineConfig {
    CaptureFormat captureFormat;
    EncoderConfig encoder;
    IcecastConfig server;
    ProcessingParams processing;
    DeviceChoice device;
};
