#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/ArchiveRecorder.h"
#include "support/TempDir.h"

// ADTS frames of AAC-LC stereo at 48 kHz (1024 samples, 21.3 ms each) with a payload
// that tells them apart.
inline std::string AdtsFrame(uint32_t index, uint32_t payloadBytes = 100)
{
    const uint32_t length = 7 + payloadBytes;
    std::string frame(length, '\0');
    frame[0] = static_cast<char>(0xFF);
    frame[1] = static_cast<char>(0xF1);
    frame[2] = static_cast<char>((1 << 6) | (3 << 2)); // LC, 48000 Hz, channel bit 0
    frame[3] = static_cast<char>((2 << 6) | ((length >> 11) & 0x03));
    frame[4] = static_cast<char>((length >> 3) & 0xFF);
    frame[5] = static_cast<char>(((length & 0x07) << 5) | 0x1F);
    frame[6] = static_cast<char>(0xFC);
    for (uint32_t i = 7; i < length; ++i)
        frame[i] = static_cast<char>((index * 31 + i) & 0xFF);
    return frame;
}

inline void WriteFrame(ArchiveRecorder& recorder, const std::string& frame)
{
    recorder.Write(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
}

// The names of the files in folder, sorted.
inline std::vector<std::string> FolderNames(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
