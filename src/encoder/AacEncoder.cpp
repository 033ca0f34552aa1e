#include "encoder/AacEncoder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <fdk-aac/aacenc_lib.h>

#include "base/Log.h"

namespace {

constexpr UINT kModulesAacSbrPs = 0x1 | 0x2 | 0x4;
constexpr UINT kAllModules = 0;

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void LogEncoder(const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LogLine("Encoder", text);
}

int AudioObjectType(uint32_t heVersion)
{
    if (heVersion == 2)
        return AOT_PS;
    if (heVersion == 1)
        return AOT_SBR;
    return AOT_AAC_LC;
}

// The library encodes 1 channel (MODE_1) or 2 (MODE_2) and reads exactly that many
// interleaved samples per frame position; the frame buffer is sized to match.
uint32_t EncodedChannels(uint16_t channels)
{
    return channels == 1 ? 1 : 2;
}

} // namespace

const char* ProfileName(uint32_t heVersion)
{
    if (heVersion == 2)
        return "HE-AAC v2";
    if (heVersion == 1)
        return "HE-AAC v1";
    return "AAC-LC";
}

AacEncoder::~AacEncoder()
{
    Close();
}

void AacEncoder::CloseHandle(AACENCODER*& encoder)
{
    if (encoder != nullptr)
        aacEncClose(&encoder);
    encoder = nullptr;
}

bool AacEncoder::Open(const EncoderConfig& newConfig)
{
    if (opened)
        return false;
    config = newConfig;

    // Parametric stereo needs two channels, and the library refuses it on one only at
    // the finalising call: a mono stream asked for HE-AAC v2 gets the same family
    // without it, which opens mono at these rates and beats AAC-LC at low bitrates.
    uint32_t profile = config.heVersion == 2 || config.heVersion == 1 ? config.heVersion : 0;
    if (profile == 2 && config.channels == 1) {
        LogEncoder("HE-AAC v2 needs two channels, using HE-AAC v1 for this mono stream");
        profile = 1;
    }
    HANDLE_AACENCODER encoder = nullptr;
    bool libraryOpened = false;
    if (!OpenProfile(profile, encoder, libraryOpened)) {
        // An HE profile refused at any step falls back to AAC-LC as a whole.
        if (profile == 0 || !libraryOpened)
            return false;
        LogEncoder("%s refused, falling back to AAC-LC", ProfileName(profile));
        profile = 0;
        if (!OpenProfile(profile, encoder, libraryOpened))
            return false;
    }

    AACENC_InfoStruct info;
    std::memset(&info, 0, sizeof info);
    if (aacEncInfo(encoder, &info) != AACENC_OK || info.frameLength == 0 || info.maxOutBufBytes == 0) {
        CloseHandle(encoder);
        return false;
    }

    activeProfile = profile;
    frameLength = info.frameLength;
    maxOutBytes = info.maxOutBufBytes;
    delayFrames = info.nDelay;
    inputBuffer.assign(static_cast<size_t>(EncodedChannels(config.channels)) * frameLength, 0);
    inputFill = 0;
    fed = false;
    finished = false;
    outputBuffer.assign(maxOutBytes, 0);
    handle = encoder;
    opened = true;
    LogEncoder("FDK-AAC initialized: %s, %ukbps, frameSize=%u samples/ch", ProfileName(activeProfile),
               config.bitrate / 1000, frameLength);
    return true;
}

// Opens and configures a library instance for one profile and applies the
// configuration. On failure nothing stays open; libraryOpened (false on the first
// call) tells whether the library could be opened at all: when not, no other profile
// will help.
bool AacEncoder::OpenProfile(uint32_t profile, AACENCODER*& encoder, bool& libraryOpened)
{
    encoder = nullptr;
    AACENC_ERROR error = aacEncOpen(&encoder, kModulesAacSbrPs, config.channels);
    if (error != AACENC_OK) {
        encoder = nullptr;
        error = aacEncOpen(&encoder, kAllModules, config.channels);
    }
    if (error != AACENC_OK) {
        LogEncoder("aacEncOpen failed: %d", static_cast<int>(error));
        encoder = nullptr;
        return false;
    }
    if (!libraryOpened)
        LogEncoder("Config: rate=%u ch=%u bitrate=%u codec=%s", config.sampleRate,
                   static_cast<unsigned>(config.channels), config.bitrate, ProfileName(config.heVersion));
    libraryOpened = true;
    if (!ConfigureLibrary(encoder, profile)) {
        CloseHandle(encoder);
        return false;
    }
    // An encode call without buffers applies the parameters.
    error = aacEncEncode(encoder, nullptr, nullptr, nullptr, nullptr);
    if (error != AACENC_OK) {
        LogEncoder("Finalize failed: %d", static_cast<int>(error));
        CloseHandle(encoder);
        return false;
    }
    return true;
}

// Sets the parameters in the library's documented order. Only the mandatory ones (the
// object type among them: Open falls back from a refused HE one) end the configuration.
bool AacEncoder::ConfigureLibrary(AACENCODER* encoder, uint32_t profile)
{
    const int aot = AudioObjectType(profile);
    AACENC_ERROR error = aacEncoder_SetParam(encoder, AACENC_AOT, static_cast<UINT>(aot));
    if (error != AACENC_OK) {
        LogEncoder("AOT=%d failed: %d", aot, static_cast<int>(error));
        return false;
    }

    struct Mandatory {
        AACENC_PARAM param;
        UINT value;
        const char* failure;
    };
    const Mandatory mandatory[] = {
        {AACENC_SAMPLERATE, config.sampleRate, "SAMPLERATE failed: %d"},
        {AACENC_CHANNELMODE, config.channels == 1 ? UINT(MODE_1) : UINT(MODE_2), "CHANNELMODE failed: %d"},
        {AACENC_BITRATE, config.bitrate, "BITRATE failed: %d"},
        {AACENC_TRANSMUX, UINT(TT_MP4_ADTS), "TRANSMUX failed: %d"},
    };
    for (const Mandatory& m : mandatory) {
        error = aacEncoder_SetParam(encoder, m.param, m.value);
        if (error != AACENC_OK) {
            LogEncoder(m.failure, static_cast<int>(error));
            return false;
        }
    }

    if ((error = aacEncoder_SetParam(encoder, AACENC_AFTERBURNER, 1)) != AACENC_OK)
        LogEncoder("AFTERBURNER not available (%d), continuing without", static_cast<int>(error));
    if (aot == AOT_SBR || aot == AOT_PS) {
        if ((error = aacEncoder_SetParam(encoder, AACENC_SBR_MODE, 1)) != AACENC_OK)
            LogEncoder("SBR_MODE failed (%d)", static_cast<int>(error));
        // Dual-rate SBR: the core runs at half the stream rate.
        if ((error = aacEncoder_SetParam(encoder, AACENC_SBR_RATIO, 2)) != AACENC_OK)
            LogEncoder("SBR_RATIO failed (%d)", static_cast<int>(error));
        // Explicit, backward-compatible signalling, so plain AAC decoders still play the core.
        if ((error = aacEncoder_SetParam(encoder, AACENC_SIGNALING_MODE, 1)) != AACENC_OK)
            LogEncoder("SIGNALING_MODE failed (%d)", static_cast<int>(error));
    }
    if ((error = aacEncoder_SetParam(encoder, AACENC_BITRATEMODE, 0)) != AACENC_OK)
        LogEncoder("BITRATEMODE failed (%d)", static_cast<int>(error));
    return true;
}

bool AacEncoder::Encode(const int16_t* samples, uint64_t byteCount, FrameSink sink)
{
    if (!opened || finished || samples == nullptr || byteCount == 0)
        return false;
    fed = true;
    const uint64_t frameSamples = inputBuffer.size();
    const uint64_t total = byteCount / 2;
    uint64_t consumed = 0;
    for (;;) {
        // A full buffer at entry is a frame the library failed on last time: retry it
        // before taking new samples.
        if (inputFill == frameSamples && !EncodeFrame(sink))
            return false;
        if (consumed == total)
            return true;
        const uint64_t n = std::min(total - consumed, frameSamples - inputFill);
        std::memcpy(inputBuffer.data() + inputFill, samples + consumed, static_cast<size_t>(n) * sizeof(int16_t));
        inputFill += n;
        consumed += n;
    }
}

void AacEncoder::Flush(FrameSink sink)
{
    if (!opened || finished || !fed) // samples are only ever buffered by feeding
        return;
    if (inputFill > 0) {
        std::fill(inputBuffer.begin() + static_cast<std::ptrdiff_t>(inputFill), inputBuffer.end(), int16_t{0});
        inputFill = inputBuffer.size();
        if (!EncodeFrame(sink))
            inputFill = 0; // a failed last frame is dropped, never retried
    }
    DrainDelayLine(sink);
}

// The library holds up to a few frames of look-ahead (SBR and parametric stereo more
// than AAC-LC): without draining, the last tenth of a second never comes out.
void AacEncoder::DrainDelayLine(const FrameSink& sink)
{
    finished = true;
    // A bound well past any delay line, in case the library never reports the end.
    for (int round = 0; round < 64; ++round) {
        int outBytes = 0;
        // -1 samples flushes; AACENC_ENCODE_EOF once everything is out.
        if (CallLibrary(-1, sink, outBytes) != AACENC_OK || outBytes == 0)
            return;
    }
}

// Encodes the full input buffer as one frame; on success the buffer is empty again.
bool AacEncoder::EncodeFrame(const FrameSink& sink)
{
    int outBytes = 0;
    if (CallLibrary(static_cast<int>(inputBuffer.size()), sink, outBytes) != AACENC_OK)
        return false;
    inputFill = 0;
    return true;
}

// One library call over the input buffer (numInSamples < 0 flushes the delay line); a
// finished frame goes to sink. The first frames fill the look-ahead and produce nothing.
int AacEncoder::CallLibrary(int numInSamples, const FrameSink& sink, int& outBytes)
{
    void* inPointer = inputBuffer.data();
    INT inIdentifier = IN_AUDIO_DATA;
    INT inSize = numInSamples > 0 ? static_cast<INT>(numInSamples * sizeof(int16_t)) : 0;
    INT inElementSize = sizeof(int16_t);
    AACENC_BufDesc inDesc = {1, &inPointer, &inIdentifier, &inSize, &inElementSize};

    void* outPointer = outputBuffer.data();
    INT outIdentifier = OUT_BITSTREAM_DATA;
    INT outSize = static_cast<INT>(maxOutBytes);
    INT outElementSize = 1;
    AACENC_BufDesc outDesc = {1, &outPointer, &outIdentifier, &outSize, &outElementSize};

    AACENC_InArgs inArgs;
    std::memset(&inArgs, 0, sizeof inArgs);
    inArgs.numInSamples = numInSamples;
    AACENC_OutArgs outArgs;
    std::memset(&outArgs, 0, sizeof outArgs);

    const AACENC_ERROR error = aacEncEncode(handle, &inDesc, &outDesc, &inArgs, &outArgs);
    outBytes = error == AACENC_OK ? outArgs.numOutBytes : 0;
    if (outBytes > 0 && sink)
        sink(outputBuffer.data(), static_cast<uint64_t>(outBytes));
    return error;
}

void AacEncoder::Close()
{
    CloseHandle(handle);
    std::vector<int16_t>().swap(inputBuffer);
    std::vector<uint8_t>().swap(outputBuffer);
    inputFill = 0;
    frameLength = 0;
    maxOutBytes = 0;
    delayFrames = 0;
    activeProfile = 0;
    fed = false;
    finished = false;
    opened = false;
}
