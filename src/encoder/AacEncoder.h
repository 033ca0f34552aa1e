#pragma once

#include <cstdint>
#include <string>
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

    // Configures the library and sizes the buffers. A mono stream asked for HE-AAC v2
    // runs as HE-AAC v1; an HE profile the library refuses at any step falls back to
    // AAC-LC (both logged). False when already open (nothing changes) or when even
    // that is refused (the handle is closed); LastError then names the step and the
    // library's error.
    bool Open(const EncoderConfig& config);
    // Why the latest Open failed, as "SAMPLERATE 7000 refused: AACENC_INVALID_CONFIG (35)";
    // "" after one that succeeded.
    const std::string& LastError() const { return error; }

    // Appends byteCount / 2 samples (interleaved left, right) and encodes every frame
    // that becomes full, handing each non-empty result to sink in order. False when
    // closed, on null or empty input, or when the library fails on a frame; the failed
    // frame is retried first by the next call.
    bool Encode(const int16_t* samples, uint64_t byteCount, FrameSink sink);

    // Ends the stream: encodes a partly filled frame padded with silence, then drains
    // the library's delay line, so the last samples fed come out too. Nothing when
    // nothing was fed; Encode refuses afterwards.
    void Flush(FrameSink sink);

    void Close();

    bool IsOpen() const { return opened; }
    const EncoderConfig& Config() const { return config; }
    uint32_t FrameLength() const { return frameLength; }       // samples per channel
    uint32_t MaxOutBytes() const { return maxOutBytes; }       // largest frame in bytes
    uint64_t BufferedSamples() const { return inputFill; }     // all channels counted
    // The profile really encoded, after any fall-back.
    AacProfile ActiveProfile() const { return activeProfile; }
    // The library's delay in samples per channel: output lags input by this much.
    uint32_t DelayFrames() const { return delayFrames; }

private:
    // One library instance opened for a profile: encoder is null when that failed, and
    // libraryOpened tells whether the library opened at all (when not, no other profile
    // will help).
    struct ProfileOpening {
        AACENCODER* encoder = nullptr;
        bool libraryOpened = false;
    };
    // The library's answer to one encode call: its error code and the bytes it wrote.
    struct LibraryResult {
        int error = 0;
        int outBytes = 0;
    };

    ProfileOpening OpenProfile(AacProfile profile, bool firstAttempt);
    bool ConfigureLibrary(AACENCODER* encoder, AacProfile profile);
    bool EncodeFrame(const FrameSink& sink);
    void DrainDelayLine(const FrameSink& sink);
    LibraryResult CallLibrary(int numInSamples, const FrameSink& sink);
    void CloseHandle(AACENCODER*& encoder);

    EncoderConfig config;
    std::string error;
    bool opened = false;
    AACENCODER* handle = nullptr;
    uint32_t frameLength = 0;
    uint32_t maxOutBytes = 0;
    uint32_t delayFrames = 0;
    AacProfile activeProfile = AacProfile::Lc;
    bool fed = false;      // samples were encoded since Open
    bool finished = false; // Flush has drained the library
    std::vector<int16_t> inputBuffer; // one frame, interleaved
    uint64_t inputFill = 0;
    std::vector<uint8_t> outputBuffer;
};
