#pragma once

#include <cstdint>
#include <vector>

#include "encoder/EncoderConfig.h"
#include "encoder/FrameSink.h"

struct AACENCODER; // the library's encoder instance (HANDLE_AACENCODER points to it)

// AAC-LC / HE-AAC v1 / HE-AAC v2 in ADTS over libfdk-aac. Takes interleaved 16-bit
// PCM in blocks of any size and hands out whole frames. Open and Close run before and
// after the audio thread; Encode allocates nothing.
class AacEncoder {
public:
    AacEncoder() = default;
    ~AacEncoder();
    AacEncoder(const AacEncoder&) = delete;
    AacEncoder& operator=(const AacEncoder&) = delete;

    // Configures the library and sizes the buffers. False when already open (nothing
    // changes) or when the library refuses the configuration (the handle is closed).
    bool Open(const EncoderConfig& config);

    // Appends byteCount / 2 samples (interleaved left, right) and encodes every frame
    // that becomes full, handing each non-empty result to sink in order. False when
    // closed, on null or empty input, or when the library fails on a frame; the failed
    // frame is retried first by the next call.
    bool Encode(const int16_t* samples, uint64_t byteCount, FrameSink sink);

    // Encodes a partly filled frame padded with silence; nothing when the frame is empty.
    void Flush(FrameSink sink);

    void Close();

    bool IsOpen() const { return opened; }
    const EncoderConfig& Config() const { return config; }
    uint32_t FrameLength() const { return frameLength; }       // samples per channel
    uint32_t MaxOutBytes() const { return maxOutBytes; }       // largest frame in bytes
    uint64_t BufferedSamples() const { return inputFill; }     // all channels counted

private:
    bool ConfigureLibrary(AACENCODER* encoder, int& aot);
    bool EncodeFrame(const FrameSink& sink);
    void CloseHandle(AACENCODER*& encoder);

    EncoderConfig config;
    bool opened = false;
    AACENCODER* handle = nullptr;
    uint32_t frameLength = 0;
    uint32_t maxOutBytes = 0;
    std::vector<int16_t> inputBuffer; // one frame, interleaved
    uint64_t inputFill = 0;
    std::vector<uint8_t> outputBuffer;
};

// Display name of a profile: "AAC-LC", "HE-AAC v1" or "HE-AAC v2".
const char* ProfileName(uint32_t heVersion);
