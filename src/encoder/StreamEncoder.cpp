#include "encoder/StreamEncoder.h"

bool StreamEncoder::Open(const EncoderConfig& config)
{
    if (IsOpen()) {
        error = "The encoder is already open";
        return false;
    }
    codec = config.codec;
    error.clear();
    switch (codec) {
    case Codec::Mp3:
        if (!mp3)
            mp3 = std::make_unique<Mp3Encoder>();
        return mp3->Open(config);
    case Codec::Opus:
        if (!opus)
            opus = std::make_unique<OggOpusEncoder>();
        return opus->Open(config);
    case Codec::Aac:
        break;
    }
    if (!aac)
        aac = std::make_unique<AacEncoder>();
    return aac->Open(config);
}

const std::string& StreamEncoder::LastError() const
{
    if (codec == Codec::Mp3 && mp3)
        return mp3->LastError();
    if (codec == Codec::Opus && opus)
        return opus->LastError();
    if (codec == Codec::Aac && aac)
        return aac->LastError();
    return error;
}

bool StreamEncoder::Encode(const int16_t* samples, uint64_t byteCount, FrameSink sink)
{
    if (codec == Codec::Mp3 && mp3)
        return mp3->Encode(samples, byteCount, std::move(sink));
    if (codec == Codec::Opus && opus)
        return opus->Encode(samples, byteCount, std::move(sink));
    if (codec == Codec::Aac && aac)
        return aac->Encode(samples, byteCount, std::move(sink));
    return false;
}

void StreamEncoder::Flush(FrameSink sink)
{
    if (codec == Codec::Mp3 && mp3)
        mp3->Flush(std::move(sink));
    else if (codec == Codec::Opus && opus)
        opus->Flush(std::move(sink));
    else if (codec == Codec::Aac && aac)
        aac->Flush(std::move(sink));
}

void StreamEncoder::Close()
{
    if (aac)
        aac->Close();
    if (mp3)
        mp3->Close();
    if (opus)
        opus->Close();
}

bool StreamEncoder::IsOpen() const
{
    return (aac && aac->IsOpen()) || (mp3 && mp3->IsOpen()) || (opus && opus->IsOpen());
}

const char* StreamEncoder::FormatName() const
{
    if (codec == Codec::Aac)
        return ProfileName(aac ? aac->ActiveProfile() : AacProfile::Lc);
    return CodecName(codec);
}

uint32_t StreamEncoder::FrameLength() const
{
    if (codec == Codec::Mp3 && mp3)
        return mp3->FrameLength();
    if (codec == Codec::Opus && opus)
        return opus->FrameLength();
    return aac ? aac->FrameLength() : 0;
}

void StreamEncoder::StartNewStream(const std::string& title)
{
    if (codec == Codec::Opus && opus)
        opus->StartNewStream(SplitTitleLine(title));
}

uint32_t CodecStreamRate(Codec codec, uint32_t rate)
{
    return codec == Codec::Opus ? OggOpusEncoder::kRate : rate;
}
