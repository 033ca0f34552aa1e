#pragma once

#include <cstdint>

// What the capture delivers: its channel count is the stream's.
struct CaptureFormat {
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;
};
