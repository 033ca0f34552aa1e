#include "encoder/FrameHeaders.h"

namespace {

// Bit rates in kbit/s by index, MPEG-1 and MPEG-2/2.5 layer III; 0 marks "free" and 15
// "bad", neither of which a frame length can be read from.
constexpr uint32_t kMpeg1Kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr uint32_t kMpeg2Kbps[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr uint32_t kMpeg1Rates[3] = {44100, 48000, 32000};

} // namespace

std::optional<MpegFrameHeader> ReadMpegHeader(const uint8_t* data, uint64_t size)
{
    if (data == nullptr || size < 4)
        return std::nullopt;
    if (data[0] != 0xFF || (data[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const uint32_t version = (data[1] >> 3) & 3; // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
    const uint32_t layer = (data[1] >> 1) & 3;   // 1 layer III
    const uint32_t bitrateIndex = data[2] >> 4;
    const uint32_t rateIndex = (data[2] >> 2) & 3;
    const uint32_t padding = (data[2] >> 1) & 1;
    if (version == 1 || layer != 1 || rateIndex == 3)
        return std::nullopt;
    const bool mpeg1 = version == 3;
    const uint32_t kbps = mpeg1 ? kMpeg1Kbps[bitrateIndex] : kMpeg2Kbps[bitrateIndex];
    if (kbps == 0)
        return std::nullopt;
    uint32_t rate = kMpeg1Rates[rateIndex];
    if (version == 2)
        rate /= 2;
    else if (version == 0)
        rate /= 4;
    MpegFrameHeader header;
    header.sampleRate = rate;
    header.samples = mpeg1 ? 1152 : 576;
    header.bytes = (mpeg1 ? 144 : 72) * kbps * 1000 / rate + padding;
    return header;
}

std::optional<OggPageHeader> ReadOggPageHeader(const uint8_t* data, uint64_t size)
{
    if (data == nullptr || size < kOggHeaderBytes)
        return std::nullopt;
    if (data[0] != 'O' || data[1] != 'g' || data[2] != 'g' || data[3] != 'S' || data[4] != 0)
        return std::nullopt;
    const uint32_t segments = data[26];
    if (size < kOggHeaderBytes + segments)
        return std::nullopt;
    uint32_t body = 0;
    for (uint32_t i = 0; i < segments; ++i)
        body += data[kOggHeaderBytes + i];
    OggPageHeader header;
    header.bytes = static_cast<uint32_t>(kOggHeaderBytes) + segments + body;
    header.beginsStream = (data[5] & 0x02) != 0;
    header.endsStream = (data[5] & 0x04) != 0;
    uint64_t granule = 0;
    for (int i = 7; i >= 0; --i)
        granule = (granule << 8) | data[6 + i];
    header.granule = static_cast<int64_t>(granule);
    header.serial = static_cast<uint32_t>(data[14]) | (static_cast<uint32_t>(data[15]) << 8) |
                    (static_cast<uint32_t>(data[16]) << 16) | (static_cast<uint32_t>(data[17]) << 24);
    return header;
}
