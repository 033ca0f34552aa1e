#pragma once

#include <cstdint>
#include <optional>

// What the header of one MPEG audio (layer III) frame says: its length in bytes and the
// samples per channel it carries at sampleRate.
struct MpegFrameHeader {
    uint32_t bytes = 0;
    uint32_t samples = 0;
    uint32_t sampleRate = 0;
};

// The layer III frame header at data, or nothing when size is below 4 bytes, the sync
// word is missing, or the version, bitrate or rate index is one no frame uses.
std::optional<MpegFrameHeader> ReadMpegHeader(const uint8_t* data, uint64_t size);

// What the header of one Ogg page says: its whole length (header, segment table and
// body), whether it begins or ends a logical stream, its stream's serial number and its
// granule position.
struct OggPageHeader {
    uint32_t bytes = 0;
    bool beginsStream = false;
    bool endsStream = false;
    uint32_t serial = 0;
    int64_t granule = 0;
};

inline constexpr uint64_t kOggHeaderBytes = 27;

// The page header at data, or nothing when the capture pattern "OggS" or version 0 is
// missing, or the header and its segment table are not all in size yet.
std::optional<OggPageHeader> ReadOggPageHeader(const uint8_t* data, uint64_t size);
