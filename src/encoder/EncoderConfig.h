#pragma once

#include <cstdint>

#include "encoder/AacProfile.h"

// The formats a stream may be sent in: AAC in ADTS (the profile says which), MP3 as
// plain MPEG audio frames, or Opus in Ogg pages.
enum class Codec : uint8_t { Aac, Mp3, Opus };

// Display name: "AAC", "MP3" or "Opus".
const char* CodecName(Codec codec);

// The encoder's input record: stream rate, channels, codec and, for AAC, the profile.
struct EncoderConfig {
    uint32_t sampleRate = 0;
    uint16_t channels = 0;      // 1 = mono, anything else is encoded as stereo
    uint16_t bitsPerSample = 0; // not read by the encoder, its input is always 16-bit
    uint32_t bitrate = 0;       // bit/s
    AacProfile profile = AacProfile::Lc;
    Codec codec = Codec::Aac;
};
