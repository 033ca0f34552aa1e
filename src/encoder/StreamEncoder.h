#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "encoder/AacEncoder.h"
#include "encoder/EncoderConfig.h"
#include "encoder/FrameSink.h"
#include "encoder/Mp3Encoder.h"
#include "encoder/OggOpusEncoder.h"

// The encoder of one stream, whichever codec its record names: AAC (AacEncoder), MP3
// (Mp3Encoder) or Opus in Ogg (OggOpusEncoder). Each unit handed to the sink stands
// alone on the wire: an ADTS frame, an MPEG audio frame or an Ogg page.
class StreamEncoder {
public:
    StreamEncoder() = default;
    StreamEncoder(const StreamEncoder&) = delete;
    StreamEncoder& operator=(const StreamEncoder&) = delete;

    bool Open(const EncoderConfig& config);
    const std::string& LastError() const;
    bool Encode(const int16_t* samples, uint64_t byteCount, FrameSink sink);
    void Flush(FrameSink sink);
    void Close();

    bool IsOpen() const;
    Codec OpenCodec() const { return codec; }
    // "MP3", "Opus", or for AAC the profile really encoded ("HE-AAC v1").
    const char* FormatName() const;
    // Samples per channel in one unit handed out.
    uint32_t FrameLength() const;
    // Whether titles travel inside the stream (Opus), rather than by the server's title
    // update.
    bool TitlesInBand() const { return codec == Codec::Opus; }
    // With titles in band: the next unit starts a new logical stream carrying title.
    // Otherwise nothing.
    void StartNewStream(const std::string& title);

private:
    Codec codec = Codec::Aac;
    std::unique_ptr<AacEncoder> aac;
    std::unique_ptr<Mp3Encoder> mp3;
    std::unique_ptr<OggOpusEncoder> opus;
    std::string error;
};

// The rate a codec runs at when the settings ask for rate (0: the device's): Opus always
// runs at 48 kHz, the others at what is asked.
uint32_t CodecStreamRate(Codec codec, uint32_t rate);
