#include "encoder/AacEncoder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include <fdk-aac/aacenc_lib.h>

#include "base/Log.h"
#include "encoder/FrameAccumulator.h"

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

// The library's name for an error code, as its header spells it.
const char* ErrorName(AACENC_ERROR error)
{
    switch (error) {
    case AACENC_OK: return "AACENC_OK";
    case AACENC_INVALID_HANDLE: return "AACENC_INVALID_HANDLE";
    case AACENC_MEMORY_ERROR: return "AACENC_MEMORY_ERROR";
    case AACENC_UNSUPPORTED_PARAMETER: return "AACENC_UNSUPPORTED_PARAMETER";
    case AACENC_INVALID_CONFIG: return "AACENC_INVALID_CONFIG";
    case AACENC_INIT_ERROR: return "AACENC_INIT_ERROR";
    case AACENC_INIT_AAC_ERROR: return "AACENC_INIT_AAC_ERROR";
    case AACENC_INIT_SBR_ERROR: return "AACENC_INIT_SBR_ERROR";
    case AACENC_INIT_TP_ERROR: return "AACENC_INIT_TP_ERROR";
    case AACENC_INIT_META_ERROR: return "AACENC_INIT_META_ERROR";
    case AACENC_INIT_MPS_ERROR: return "AACENC_INIT_MPS_ERROR";
    case AACENC_ENCODE_ERROR: return "AACENC_ENCODE_ERROR";
    case AACENC_ENCODE_EOF: return "AACENC_ENCODE_EOF";
    }
    return "unknown error";
}

// "what refused: NAME (code)"
std::string Refusal(const std::string& what, AACENC_ERROR error)
{
    return what + " refused: " + ErrorName(error) + " (" + std::to_string(static_cast<int>(error)) + ")";
}

int AudioObjectType(AacProfile profile)
{
    switch (profile) {
    case AacProfile::HeV2:
        return AOT_PS;
    case AacProfile::HeV1:
        return AOT_SBR;
    case AacProfile::Lc:
        break;
    }
    return AOT_AAC_LC;
}

// The library encodes 1 channel (MODE_1) or 2 (MODE_2) and reads exactly that many
// interleaved samples per frame position; the frame buffer is sized to match.
uint32_t EncodedChannels(uint16_t channels)
{
    return channels == 1 ? 1 : 2;
}

} // namespace

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
    if (opened) {
        error = "The encoder is already open";
        return false;
    }
    config = newConfig;
    error.clear();

    // Parametric stereo needs two channels, and the library refuses it on one only at
    // the finalising call: a mono stream asked for HE-AAC v2 gets the same family
    // without it, which opens mono at these rates and beats AAC-LC at low bitrates.
    AacProfile profile = config.profile;
    if (profile == AacProfile::HeV2 && config.channels == 1) {
        LogEncoder("HE-AAC v2 needs two channels, using HE-AAC v1 for this mono stream");
        profile = AacProfile::HeV1;
    }
    ProfileOpening attempt = OpenProfile(profile, true);
    if (attempt.encoder == nullptr) {
        // An HE profile refused at any step falls back to AAC-LC as a whole.
        if (profile == AacProfile::Lc || !attempt.libraryOpened)
            return false;
        LogEncoder("%s refused, falling back to AAC-LC", ProfileName(profile));
        profile = AacProfile::Lc;
        attempt = OpenProfile(profile, false);
        if (attempt.encoder == nullptr)
            return false; // the reason is AAC-LC's: the HE one is in the log
    }
    HANDLE_AACENCODER encoder = attempt.encoder;

    AACENC_InfoStruct info;
    std::memset(&info, 0, sizeof info);
    const AACENC_ERROR infoError = aacEncInfo(encoder, &info);
    if (infoError != AACENC_OK || info.frameLength == 0 || info.maxOutBufBytes == 0) {
        error = infoError != AACENC_OK ? Refusal("aacEncInfo", infoError)
                                       : std::string("aacEncInfo reported no frame length or output size");
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
    error.clear(); // a refused HE attempt left its reason
    LogEncoder("FDK-AAC initialized: %s, %ukbps, frameSize=%u samples/ch", ProfileName(activeProfile),
               config.bitrate / 1000, frameLength);
    return true;
}

// Opens and configures a library instance for one profile and applies the
// configuration. On failure nothing stays open and error says why. The configuration is
// logged once, on the first attempt.
AacEncoder::ProfileOpening AacEncoder::OpenProfile(AacProfile profile, bool firstAttempt)
{
    ProfileOpening result;
    AACENCODER* encoder = nullptr;
    AACENC_ERROR status = aacEncOpen(&encoder, kModulesAacSbrPs, config.channels);
    if (status != AACENC_OK) {
        encoder = nullptr;
        status = aacEncOpen(&encoder, kAllModules, config.channels);
    }
    if (status != AACENC_OK) {
        LogEncoder("aacEncOpen failed: %d", static_cast<int>(status));
        error = Refusal("aacEncOpen with " + std::to_string(config.channels) + " channels", status);
        return result;
    }
    if (firstAttempt)
        LogEncoder("Config: rate=%u ch=%u bitrate=%u codec=%s", config.sampleRate,
                   static_cast<unsigned>(config.channels), config.bitrate, ProfileName(config.profile));
    result.libraryOpened = true;
    if (!ConfigureLibrary(encoder, profile)) {
        CloseHandle(encoder);
        return result;
    }
    // An encode call without buffers applies the parameters.
    status = aacEncEncode(encoder, nullptr, nullptr, nullptr, nullptr);
    if (status != AACENC_OK) {
        LogEncoder("Finalize failed: %d", static_cast<int>(status));
        error = Refusal(std::string(ProfileName(profile)) + " at " + std::to_string(config.sampleRate) + " Hz, " +
                            std::to_string(config.bitrate) + " bit/s, " + std::to_string(config.channels) +
                            " channel(s)",
                        status);
        CloseHandle(encoder);
        return result;
    }
    result.encoder = encoder;
    return result;
}

// Sets the parameters in the library's documented order. Only the mandatory ones (the
// object type among them: Open falls back from a refused HE one) end the configuration.
bool AacEncoder::ConfigureLibrary(AACENCODER* encoder, AacProfile profile)
{
    const int aot = AudioObjectType(profile);
    AACENC_ERROR status = aacEncoder_SetParam(encoder, AACENC_AOT, static_cast<UINT>(aot));
    if (status != AACENC_OK) {
        LogEncoder("AOT=%d failed: %d", aot, static_cast<int>(status));
        error = Refusal("AOT " + std::to_string(aot), status);
        return false;
    }

    struct Mandatory {
        AACENC_PARAM param;
        UINT value;
        const char* name;
    };
    const Mandatory mandatory[] = {
        {AACENC_SAMPLERATE, config.sampleRate, "SAMPLERATE"},
        {AACENC_CHANNELMODE, config.channels == 1 ? UINT(MODE_1) : UINT(MODE_2), "CHANNELMODE"},
        {AACENC_BITRATE, config.bitrate, "BITRATE"},
        {AACENC_TRANSMUX, UINT(TT_MP4_ADTS), "TRANSMUX"},
    };
    for (const Mandatory& m : mandatory) {
        status = aacEncoder_SetParam(encoder, m.param, m.value);
        if (status != AACENC_OK) {
            LogEncoder("%s failed: %d", m.name, static_cast<int>(status));
            error = Refusal(std::string(m.name) + " " + std::to_string(m.value), status);
            return false;
        }
    }

    if ((status = aacEncoder_SetParam(encoder, AACENC_AFTERBURNER, 1)) != AACENC_OK)
        LogEncoder("AFTERBURNER not available (%d), continuing without", static_cast<int>(status));
    if (aot == AOT_SBR || aot == AOT_PS) {
        if ((status = aacEncoder_SetParam(encoder, AACENC_SBR_MODE, 1)) != AACENC_OK)
            LogEncoder("SBR_MODE failed (%d)", static_cast<int>(status));
        // Dual-rate SBR: the core runs at half the stream rate.
        if ((status = aacEncoder_SetParam(encoder, AACENC_SBR_RATIO, 2)) != AACENC_OK)
            LogEncoder("SBR_RATIO failed (%d)", static_cast<int>(status));
        // Explicit, backward-compatible signalling, so plain AAC decoders still play the core.
        if ((status = aacEncoder_SetParam(encoder, AACENC_SIGNALING_MODE, 1)) != AACENC_OK)
            LogEncoder("SIGNALING_MODE failed (%d)", static_cast<int>(status));
    }
    if ((status = aacEncoder_SetParam(encoder, AACENC_BITRATEMODE, 0)) != AACENC_OK)
        LogEncoder("BITRATEMODE failed (%d)", static_cast<int>(status));
    return true;
}

bool AacEncoder::Encode(const int16_t* samples, uint64_t byteCount, FrameSink sink)
{
    if (!opened || finished || samples == nullptr || byteCount == 0)
        return false;
    fed = true;
    return AccumulateFrames(inputBuffer, inputFill, samples, byteCount / 2, [&] { return EncodeFrame(sink); });
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
        // -1 samples flushes; AACENC_ENCODE_EOF once everything is out.
        const LibraryResult result = CallLibrary(-1, sink);
        if (result.error != AACENC_OK || result.outBytes == 0)
            return;
    }
}

// Encodes the full input buffer as one frame; on success the buffer is empty again.
bool AacEncoder::EncodeFrame(const FrameSink& sink)
{
    if (CallLibrary(static_cast<int>(inputBuffer.size()), sink).error != AACENC_OK)
        return false;
    inputFill = 0;
    return true;
}

// One library call over the input buffer (numInSamples < 0 flushes the delay line); a
// finished frame goes to sink. The first frames fill the look-ahead and produce nothing.
AacEncoder::LibraryResult AacEncoder::CallLibrary(int numInSamples, const FrameSink& sink)
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

    const AACENC_ERROR status = aacEncEncode(handle, &inDesc, &outDesc, &inArgs, &outArgs);
    const int outBytes = status == AACENC_OK ? outArgs.numOutBytes : 0;
    if (outBytes > 0 && sink)
        sink(outputBuffer.data(), static_cast<uint64_t>(outBytes));
    return {status, outBytes};
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
    activeProfile = AacProfile::Lc;
    fed = false;
    finished = false;
    opened = false;
}
