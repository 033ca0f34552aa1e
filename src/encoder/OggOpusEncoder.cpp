#include "encoder/OggOpusEncoder.h"

#include <algorithm>
#include <cstring>
#include <random>

#include <ogg/ogg.h>
#include <opus/opus.h>

#include "base/Log.h"
#include "encoder/FrameAccumulator.h"

namespace {

// The largest packet libopus writes for one frame.
constexpr size_t kMaxPacketBytes = 1275 * 3 + 7;

void PutLe16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value)
{
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16);
}

void PutText(std::vector<uint8_t>& out, const std::string& text)
{
    PutLe32(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

} // namespace

OpusTitleTags SplitTitleLine(const std::string& line)
{
    const size_t separator = line.find(" - ");
    if (separator == std::string::npos || separator == 0 || separator + 3 >= line.size())
        return {line, {}};
    return {line.substr(separator + 3), line.substr(0, separator)};
}

std::vector<uint8_t> BuildOpusTags(const std::string& vendor, const OpusTitleTags& tags)
{
    std::vector<uint8_t> packet{'O', 'p', 'u', 's', 'T', 'a', 'g', 's'};
    PutText(packet, vendor);
    std::vector<std::string> comments;
    if (!tags.title.empty())
        comments.push_back("TITLE=" + tags.title);
    if (!tags.artist.empty())
        comments.push_back("ARTIST=" + tags.artist);
    PutLe32(packet, static_cast<uint32_t>(comments.size()));
    for (const std::string& comment : comments)
        PutText(packet, comment);
    return packet;
}

std::vector<uint8_t> BuildOpusHead(uint8_t channels, uint16_t preSkip, uint32_t inputRate)
{
    std::vector<uint8_t> packet{'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, channels};
    PutLe16(packet, preSkip);
    PutLe32(packet, inputRate);
    PutLe16(packet, 0); // output gain
    packet.push_back(0); // mapping family 0: mono or stereo, no table
    return packet;
}

struct OggOpusEncoder::Impl {
    OpusEncoder* encoder = nullptr;
    ogg_stream_state stream{};
    bool streamInitialised = false;

    ~Impl()
    {
        if (streamInitialised)
            ogg_stream_clear(&stream);
        if (encoder != nullptr)
            opus_encoder_destroy(encoder);
    }
};

OggOpusEncoder::OggOpusEncoder() = default;

OggOpusEncoder::~OggOpusEncoder()
{
    Close();
}

bool OggOpusEncoder::Open(const EncoderConfig& newConfig)
{
    if (opened) {
        error = "The encoder is already open";
        return false;
    }
    config = newConfig;
    error.clear();
    if (config.sampleRate != kRate) {
        error = "Opus needs a stream rate of 48000 Hz, not " + std::to_string(config.sampleRate);
        return false;
    }
    if (config.bitrate < kMinBitrate || config.bitrate > kMaxBitrate) {
        error = "Opus needs a bit rate of 6 to 256 kbit/s, not " + std::to_string(config.bitrate) + " bit/s";
        return false;
    }
    const int channels = config.channels == 1 ? 1 : 2;
    auto made = std::make_unique<Impl>();
    int status = OPUS_OK;
    made->encoder = opus_encoder_create(static_cast<opus_int32>(kRate), channels, OPUS_APPLICATION_AUDIO, &status);
    if (made->encoder == nullptr || status != OPUS_OK) {
        made->encoder = nullptr;
        error = std::string("opus_encoder_create refused: ") + opus_strerror(status);
        return false;
    }
    if ((status = opus_encoder_ctl(made->encoder, OPUS_SET_BITRATE(static_cast<opus_int32>(config.bitrate)))) != OPUS_OK) {
        error = "Opus bit rate " + std::to_string(config.bitrate) + " refused: " + opus_strerror(status);
        return false;
    }
    // Constrained VBR keeps the rate a listener's connection must carry near the setting.
    opus_encoder_ctl(made->encoder, OPUS_SET_VBR(1));
    opus_encoder_ctl(made->encoder, OPUS_SET_VBR_CONSTRAINT(1));
    opus_int32 lookahead = 0;
    opus_encoder_ctl(made->encoder, OPUS_GET_LOOKAHEAD(&lookahead));
    preSkip = static_cast<uint16_t>(std::clamp<opus_int32>(lookahead, 0, 65535));

    impl = std::move(made);
    serial = std::random_device{}();
    inputBuffer.assign(static_cast<size_t>(channels) * kFrameLength, 0);
    inputFill = 0;
    packetBuffer.assign(kMaxPacketBytes, 0);
    restartPending = false;
    streamBegun = false;
    streamPackets = 0;
    finished = false;
    opened = true;
    LogLine("Encoder", "libopus initialized: Opus, " + std::to_string(config.bitrate / 1000) + "kbps, " +
                           std::to_string(channels) + " ch, pre-skip " + std::to_string(preSkip));
    return true;
}

void OggOpusEncoder::StartNewStream(const OpusTitleTags& newTags)
{
    tags = newTags;
    // A stream that has not begun takes the tags as they are.
    if (opened && streamBegun)
        restartPending = true;
}

bool OggOpusEncoder::Encode(const int16_t* samples, uint64_t byteCount, FrameSink sink)
{
    if (!opened || finished || samples == nullptr || byteCount == 0)
        return false;
    return AccumulateFrames(inputBuffer, inputFill, samples, byteCount / 2, [&] { return EncodeFrame(sink); });
}

bool OggOpusEncoder::EncodeFrame(const FrameSink& sink)
{
    if (restartPending && streamBegun) {
        // This frame ends the old stream: decoded, its packets yield the stream's input
        // plus the look-ahead, and the last granule trims the decoder to exactly the
        // input before this frame. The new stream encodes the frame again from a reset
        // encoder, whose pre-skip hides the same look-ahead.
        if (!EncodePacket(preSkip + streamPackets * kFrameLength, true))
            return false;
        FlushPages(sink);
        opus_encoder_ctl(impl->encoder, OPUS_RESET_STATE);
        ++serial;
        streamBegun = false;
    }
    restartPending = false;
    if (!streamBegun)
        BeginStream(sink);
    if (!EncodePacket((streamPackets + 1) * kFrameLength, false))
        return false;
    if (streamPackets % kPacketsPerPage == 0)
        FlushPages(sink);
    inputFill = 0;
    return true;
}

bool OggOpusEncoder::EncodePacket(int64_t granule, bool last)
{
    const int frames = static_cast<int>(kFrameLength);
    const opus_int32 bytes = opus_encode(impl->encoder, inputBuffer.data(), frames, packetBuffer.data(),
                                         static_cast<opus_int32>(packetBuffer.size()));
    if (bytes < 0) {
        LogLine("Encoder", std::string("opus_encode failed: ") + opus_strerror(bytes));
        return false;
    }
    ogg_packet packet{};
    packet.packet = packetBuffer.data();
    packet.bytes = bytes;
    packet.e_o_s = last ? 1 : 0;
    packet.granulepos = granule;
    packet.packetno = packetNumber++;
    ogg_stream_packetin(&impl->stream, &packet);
    ++streamPackets;
    return true;
}

void OggOpusEncoder::BeginStream(const FrameSink& sink)
{
    if (impl->streamInitialised)
        ogg_stream_reset_serialno(&impl->stream, static_cast<int>(serial));
    else
        ogg_stream_init(&impl->stream, static_cast<int>(serial));
    impl->streamInitialised = true;
    streamPackets = 0;
    packetNumber = 0;
    const uint8_t channels = config.channels == 1 ? 1 : 2;
    std::vector<uint8_t> head = BuildOpusHead(channels, preSkip, kRate);
    std::vector<uint8_t> comments = BuildOpusTags(opus_get_version_string(), tags);
    // Each header on a page of its own, the first audio packet on a fresh page.
    ogg_packet packet{};
    packet.packet = head.data();
    packet.bytes = static_cast<long>(head.size());
    packet.b_o_s = 1;
    packet.packetno = packetNumber++;
    ogg_stream_packetin(&impl->stream, &packet);
    FlushPages(sink);
    packet = ogg_packet{};
    packet.packet = comments.data();
    packet.bytes = static_cast<long>(comments.size());
    packet.packetno = packetNumber++;
    ogg_stream_packetin(&impl->stream, &packet);
    FlushPages(sink);
    streamBegun = true;
}

void OggOpusEncoder::FlushPages(const FrameSink& sink)
{
    ogg_page page;
    while (ogg_stream_flush(&impl->stream, &page) != 0) {
        if (!sink)
            continue;
        // The sink takes a page as one piece: header and body together.
        const size_t headerBytes = static_cast<size_t>(page.header_len);
        const size_t bodyBytes = static_cast<size_t>(page.body_len);
        pageBuffer.resize(headerBytes + bodyBytes);
        std::memcpy(pageBuffer.data(), page.header, headerBytes);
        std::memcpy(pageBuffer.data() + headerBytes, page.body, bodyBytes);
        sink(pageBuffer.data(), pageBuffer.size());
    }
}

void OggOpusEncoder::Flush(FrameSink sink)
{
    if (!opened || finished)
        return;
    finished = true;
    if (!streamBegun && inputFill == 0)
        return;
    EndStream(sink);
}

// Pads the partial frame, then encodes silence until the look-ahead is out too.
void OggOpusEncoder::EndStream(const FrameSink& sink)
{
    if (!streamBegun)
        BeginStream(sink);
    const int64_t channels = config.channels == 1 ? 1 : 2;
    const int64_t inputSamples = streamPackets * kFrameLength + static_cast<int64_t>(inputFill) / channels;
    const int64_t end = inputSamples + preSkip;
    for (;;) {
        std::fill(inputBuffer.begin() + static_cast<std::ptrdiff_t>(inputFill), inputBuffer.end(), int16_t{0});
        inputFill = 0;
        const bool last = (streamPackets + 1) * kFrameLength >= end;
        if (!EncodePacket(last ? end : (streamPackets + 1) * kFrameLength, last) || last)
            break;
    }
    FlushPages(sink);
    streamBegun = false;
}

void OggOpusEncoder::Close()
{
    impl.reset();
    opened = false;
    finished = false;
    streamBegun = false;
    restartPending = false;
    streamPackets = 0;
    inputFill = 0;
    std::vector<int16_t>().swap(inputBuffer);
    std::vector<uint8_t>().swap(packetBuffer);
    std::vector<uint8_t>().swap(pageBuffer);
}
