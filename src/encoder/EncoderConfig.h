#pragma once

#include <cstdint>

#include "encoder/AacProfile.h"

// The encoder's input record: stream rate, channels and profile.
struct EncoderConfig {
    uint32_t sampleRate = 0;
    uint16_t channels = 0;      // 1 = mono, anything else is encoded as stereo
    uint16_t bitsPerSample = 0; // not read by the encoder, its input is always 16-bit
    uint32_t bitrate = 0;       // bit/s
    AacProfile profile = AacProfile::Lc;
};
