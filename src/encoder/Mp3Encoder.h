#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/EncoderConfig.h"
#include "encoder/FrameSink.h"

struct lame_global_struct; // the library's encoder instance (lame_t points to it)

// MP3 (MPEG-1 layer III) at a constant bit rate over libmp3lame: mono or joint stereo,
// plain frames with no tag before or between them. Takes interleaved 16-bit PCM in
// blocks of any size and hands out one whole frame at a time.
class Mp3Encoder {
public:
    static constexpr uint32_t kMinBitrate = 32000;
    static constexpr uint32_t kMaxBitrate = 320000;
    static constexpr uint32_t kFrameLength = 1152; // samples per channel of an MPEG-1 frame

    Mp3Encoder() = default;
    ~Mp3Encoder();
    Mp3Encoder(const Mp3Encoder&) = delete;
    Mp3Encoder& operator=(const Mp3Encoder&) = delete;

    // False when already open, or when the rate is not 32, 44.1 or 48 kHz, the bit rate
    // is no MPEG-1 layer III rate from 32 to 320 kbit/s, or the library refuses;
    // LastError says which.
    bool Open(const EncoderConfig& config);
    const std::string& LastError() const { return error; }

    // Appends byteCount / 2 samples and hands every frame the library completes to sink.
    // False when closed, on null or empty input, or when the library fails.
    bool Encode(const int16_t* samples, uint64_t byteCount, FrameSink sink);
    // Ends the stream: the library's last frames, the final one padded with silence.
    // Encode refuses afterwards.
    void Flush(FrameSink sink);
    void Close();

    bool IsOpen() const { return lame != nullptr; }
    const EncoderConfig& Config() const { return config; }
    uint32_t FrameLength() const { return kFrameLength; }

private:
    // Hands out the whole frames at the front of pending and keeps the rest.
    void HandOutFrames(const FrameSink& sink);

    EncoderConfig config;
    std::string error;
    lame_global_struct* lame = nullptr;
    bool finished = false;
    std::vector<uint8_t> outputBuffer; // the library's output for one call
    std::vector<uint8_t> pending;      // bytes of a frame not yet complete
    std::vector<int16_t> left;         // one channel's samples, for a mono stream
};
