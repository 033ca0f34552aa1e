#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "encoder/EncoderConfig.h"
#include "encoder/FrameSink.h"

// The tags of one logical Opus stream: TITLE, and ARTIST when the title line reads
// "Artist - Title" (split at the first " - ").
struct OpusTitleTags {
    std::string title;
    std::string artist;
};
OpusTitleTags SplitTitleLine(const std::string& line);

// The OpusTags header packet (RFC 7845 section 5.2): vendor, then TITLE and ARTIST when
// they are not empty.
std::vector<uint8_t> BuildOpusTags(const std::string& vendor, const OpusTitleTags& tags);
// The OpusHead header packet (RFC 7845 section 5.1), channel mapping family 0.
std::vector<uint8_t> BuildOpusHead(uint8_t channels, uint16_t preSkip, uint32_t inputRate);

// Opus in Ogg over libopus and libogg: 48 kHz, 20 ms frames, the "audio" application,
// constrained VBR at the configured bit rate. Each logical stream starts with OpusHead
// (pre-skip = the encoder's look-ahead) and OpusTags on pages of their own, and its
// granule positions follow RFC 7845. Pages go out whole, one per kPacketsPerPage frames.
//
// StartNewStream ends the current logical stream and chains a new one: the next frame is
// encoded twice, once to end the old stream (its last granule trims what the decoder
// need not play) and once, by a freshly reset encoder, as the first frame of the new
// stream, so that the decoded sound runs on without a gap or a click.
class OggOpusEncoder {
public:
    static constexpr uint32_t kRate = 48000;
    static constexpr uint32_t kFrameLength = 960; // 20 ms at 48 kHz
    static constexpr uint32_t kPacketsPerPage = 5;
    static constexpr uint32_t kMinBitrate = 6000;
    static constexpr uint32_t kMaxBitrate = 256000;

    OggOpusEncoder();
    ~OggOpusEncoder();
    OggOpusEncoder(const OggOpusEncoder&) = delete;
    OggOpusEncoder& operator=(const OggOpusEncoder&) = delete;

    // False when already open, when the rate is not 48 kHz, the bit rate is outside
    // 6..256 kbit/s, or the library refuses; LastError says which.
    bool Open(const EncoderConfig& config);
    const std::string& LastError() const { return error; }

    bool Encode(const int16_t* samples, uint64_t byteCount, FrameSink sink);
    // Ends the logical stream: the partial frame padded with silence, then as much
    // silence as the look-ahead holds back; the last granule trims the padding.
    void Flush(FrameSink sink);
    void Close();

    // The next frame begins a new logical stream whose OpusTags carry tags. Before the
    // first frame of a stream it only sets that stream's tags.
    void StartNewStream(const OpusTitleTags& tags);

    bool IsOpen() const { return opened; }
    const EncoderConfig& Config() const { return config; }
    // Samples per channel in one page, the unit handed out.
    uint32_t FrameLength() const { return kFrameLength * kPacketsPerPage; }
    uint16_t PreSkip() const { return preSkip; }

private:
    struct Impl;

    bool EncodeFrame(const FrameSink& sink);
    // One opus_encode of the frame buffer into the stream as packet granule; false
    // when the library fails.
    bool EncodePacket(int64_t granule, bool last);
    void BeginStream(const FrameSink& sink);
    void EndStream(const FrameSink& sink);
    void FlushPages(const FrameSink& sink);

    std::unique_ptr<Impl> impl;
    EncoderConfig config;
    std::string error;
    bool opened = false;
    bool finished = false;
    uint16_t preSkip = 0;
    uint32_t serial = 0;
    OpusTitleTags tags;
    bool restartPending = false;
    bool streamBegun = false;     // headers of the current stream went out
    int64_t streamPackets = 0;    // audio packets in the current stream
    int64_t packetNumber = 0;     // Ogg packet number within the stream
    std::vector<int16_t> inputBuffer; // one frame, interleaved
    uint64_t inputFill = 0;
    std::vector<uint8_t> packetBuffer;
    std::vector<uint8_t> pageBuffer; // one page, header and body together
};
